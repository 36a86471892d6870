#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// Watches the raw bytes of one HTTP connection before the HTTP server parses them, because the
// HTTP server would otherwise buffer a request of any size in memory. It follows the request
// framing (header block, then Content-Length bytes of body) and answers at once, then closes the
// connection, when:
//   - a declared body is larger than the limit (413),
//   - the header block grows past 16 KiB (431),
//   - a body comes without Content-Length, e.g. chunked (411), or the length is garbled (400).
// It also closes connections that stay idle for longer than the idle timeout.
// It must see the socket before anyone else connects to readyRead.
class ConnectionGuard : public QObject
{
    Q_OBJECT

public:
    static const int kMaxHeaderBytes = 16 * 1024;

    ConnectionGuard(QTcpSocket *socket, qint64 maxBodyBytes, int idleTimeoutMs);

private:
    void onReadyRead();
    void inspect(const QByteArray &bytes);
    bool takeHeaderBlock(const QByteArray &block);
    void refuse(int status, const QByteArray &reason, const QString &message);
    void discard();

    enum class State
    {
        Headers,
        Body,
        Refused
    };

    QTcpSocket *m_socket;
    qint64 m_maxBodyBytes;
    State m_state = State::Headers;
    QByteArray m_head;
    qint64 m_bodyLeft = 0;
    qint64 m_discarded = 0;
    QTimer m_idleTimer;
};
