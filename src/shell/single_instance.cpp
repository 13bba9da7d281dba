#include "shell/single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include "framework/settings_files.h"
#include "workspace/startup.h"

namespace tessaly::shell {

namespace {
constexpr const char* wake_word = "cmdline\n";
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("cmdline")) emit handed_over();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

// One name per settings root, so that portable copies and tests with their own roots do not
// see each other.
QString SingleInstance::socket_name() const {
    const QByteArray root = QByteArray::fromStdString(settings_root());
    return "Tessaly-" +
           QString::fromLatin1(
               QCryptographicHash::hash(root, QCryptographicHash::Sha1).toHex().left(16));
}

bool SingleInstance::acquire() {
    lock_ = std::make_unique<QLockFile>(QString::fromStdString(settings_root() + "/Tessaly.mutex"));
    lock_->setStaleLockTime(0);  // a lock of a process that is gone is taken over
    if (!lock_->tryLock(0)) return false;
    // A socket left by a program that was killed would refuse the name.
    QLocalServer::removeServer(socket_name());
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(socket_name());
}

bool SingleInstance::hand_over(const std::string& command_line) {
    if (!command_line.empty() && hand_over_command_line(command_line)) return false;
    QLocalSocket socket;
    socket.connectToServer(socket_name());
    if (!socket.waitForConnected(2000)) return false;
    socket.write(wake_word);
    socket.waitForBytesWritten(2000);
    socket.waitForDisconnected(2000);
    return true;
}

}  // namespace tessaly::shell
