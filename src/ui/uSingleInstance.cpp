#include "ui/uSingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>

namespace {
constexpr const char* kBringForward = "raise\n";
}

TSingleInstance::TSingleInstance(const QString& executablePath, const QString& socketDir) {
    // Paths compare exactly here: on this platform file names keep their letter case.
    const QByteArray key =
        QCryptographicHash::hash(executablePath.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
    FSocketPath = QDir(socketDir).filePath(QStringLiteral("instance-%1.sock").arg(QString::fromLatin1(key)));
    connect(&FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = FServer.nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (client->readAll().startsWith(QByteArray(kBringForward).trimmed()) && OnBringForward)
                    OnBringForward();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}

TSingleInstance::~TSingleInstance() {
    FServer.close();
}

bool TSingleInstance::Register() {
    QLockFile lock(FSocketPath + QStringLiteral(".lock"));
    lock.tryLock(3000);
    QLocalSocket probe;
    probe.connectToServer(FSocketPath);
    if (probe.waitForConnected(1000)) {
        probe.write(kBringForward);
        probe.waitForBytesWritten(1000);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answers: a socket left by a copy that died is removed and this copy takes over.
    QLocalServer::removeServer(FSocketPath);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    FServer.listen(FSocketPath);
    return true;
}
