// One running desktop program per settings root: a lock file says whether one runs, and a local
// socket lets a second start hand its command line to it.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>
#include <string>

namespace tessaly::shell {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // The lock file "Tessaly.mutex" and the socket live beside the settings root's files.
    explicit SingleInstance(QObject* parent = nullptr);

    // true when this process is the one instance (the lock is held and the socket listens).
    bool acquire();
    // In a second instance: writes the command line for the running one and wakes it. true
    // when it was handed over.
    bool hand_over(const std::string& command_line);

  signals:
    // The running instance: a second start handed a command line over (in the "cmdline" file).
    void handed_over();

  private:
    QString socket_name() const;

    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace tessaly::shell
