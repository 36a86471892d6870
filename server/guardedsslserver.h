#pragma once

#include <QSslServer>

// A TLS listener that puts a ConnectionGuard on every connection before handing it on, so that
// oversized requests and idle connections are dealt with before the HTTP server sees them.
class GuardedSslServer : public QSslServer
{
    Q_OBJECT

public:
    explicit GuardedSslServer(qint64 maxBodyBytes, int idleTimeoutMs, QObject *parent = nullptr);

    QTcpSocket *nextPendingConnection() override;

private:
    qint64 m_maxBodyBytes;
    int m_idleTimeoutMs;
};
