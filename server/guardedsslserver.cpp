#include "guardedsslserver.h"

#include "connectionguard.h"

GuardedSslServer::GuardedSslServer(qint64 maxBodyBytes, int idleTimeoutMs, QObject *parent)
    : QSslServer(parent), m_maxBodyBytes(maxBodyBytes), m_idleTimeoutMs(idleTimeoutMs)
{
}

QTcpSocket *GuardedSslServer::nextPendingConnection()
{
    QTcpSocket *socket = QSslServer::nextPendingConnection();
    if (socket)
        new ConnectionGuard(socket, m_maxBodyBytes, m_idleTimeoutMs);
    return socket;
}
