#include "upgrade/single_instance.h"

#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

constexpr int connect_bound_ms = 2000;

// Tells the running start to come to the front.
void ask_to_front(const QString& socket) {
    QLocalSocket peer;
    peer.connectToServer(socket);
    if (!peer.waitForConnected(connect_bound_ms)) {
        qWarning().noquote() << "The running program does not answer on" << socket << ":"
                             << peer.errorString();
        return;
    }
    peer.write("front\n");
    peer.waitForBytesWritten(connect_bound_ms);
    peer.disconnectFromServer();
}

} // namespace

QString runtime_directory() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim() {
    const QString base = runtime_directory() + QLatin1Char('/') + name_;
    lock_ = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    // Stale only when its owner is gone (a kill), however long the owner has been running.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen(base + QStringLiteral(".socket"));
        return true;
    }
    if (lock_->error() != QLockFile::LockFailedError) {
        qWarning().noquote() << "No lock for one window at a time in" << base
                             << "; starting anyway";
        return true;
    }
    ask_to_front(base + QStringLiteral(".socket"));
    return false;
}

void SingleInstance::listen(const QString& socket) {
    // A socket left by a killed start: the lock is ours, so nobody listens on it.
    QLocalServer::removeServer(socket);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socket))
        qWarning().noquote() << "Cannot listen on" << socket << ":" << server_->errorString();
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection())
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        emit asked_to_front();
    });
}
