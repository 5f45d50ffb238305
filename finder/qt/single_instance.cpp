#include "finder/qt/single_instance.h"

#include <unistd.h>

#include <QLocalSocket>

namespace {
constexpr int kConnectWaitMs = 500;
}

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), key_(std::move(key)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            emit raiseRequested();
        }
    });
}

QString SingleInstance::DefaultKey() {
    QString display = qEnvironmentVariable("DISPLAY", QStringLiteral("none"));
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("solberio-finder-%1-%2").arg(getuid()).arg(display);
}

bool SingleInstance::Claim() {
    QLocalSocket first;
    first.connectToServer(key_);
    if (first.waitForConnected(kConnectWaitMs)) {
        first.write("raise\n");
        first.waitForBytesWritten(kConnectWaitMs);
        first.disconnectFromServer();
        return false;
    }
    // Nobody answers: a socket file left by a finder that crashed goes.
    QLocalServer::removeServer(key_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(key_);
}
