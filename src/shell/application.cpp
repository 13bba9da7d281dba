#include "shell/application.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QStandardPaths>

namespace tessaly::shell {

void prepare_application() {
    QApplication::setApplicationName("Tessaly");
    QStringList paths = QIcon::themeSearchPaths();
    QStringList data =
        QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS")).split(':', Qt::SkipEmptyParts);
    if (data.isEmpty()) data = {"/usr/local/share", "/usr/share"};
    data.prepend(QDir::homePath() + "/.local/share");
    for (const QString& folder : data) {
        const QString icons = folder + "/icons";
        if (!paths.contains(icons) && QDir(icons).exists()) paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == "hicolor") QIcon::setThemeName("Adwaita");
}

}  // namespace tessaly::shell
