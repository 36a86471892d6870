#include "connectionguard.h"

#include "apihandler.h"

#include <QJsonDocument>
#include <QList>
#include <QTcpSocket>

namespace {

// After a refusal the rest of the request is read and dropped for a while, so that the client
// gets to read the answer instead of a connection reset.
const qint64 kMaxDiscardBytes = 1024 * 1024;
const int kDiscardMs = 2000;

} // namespace

ConnectionGuard::ConnectionGuard(QTcpSocket *socket, qint64 maxBodyBytes, int idleTimeoutMs)
    : QObject(socket), m_socket(socket), m_maxBodyBytes(maxBodyBytes)
{
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, m_socket, &QAbstractSocket::disconnectFromHost);
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::onReadyRead);
    connect(m_socket, &QIODevice::bytesWritten, this, [this] {
        if (m_state != State::Refused)
            m_idleTimer.start();
    });
    m_idleTimer.start();
    // Bytes may be buffered already when the listener hands the connection over.
    if (m_socket->bytesAvailable() > 0)
        inspect(m_socket->peek(m_socket->bytesAvailable()));
}

void ConnectionGuard::onReadyRead()
{
    if (m_state == State::Refused) {
        discard();
        return;
    }
    m_idleTimer.start();
    // Peek only: the HTTP server reads the same bytes right after this slot.
    inspect(m_socket->peek(m_socket->bytesAvailable()));
}

void ConnectionGuard::inspect(const QByteArray &bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size() && m_state != State::Refused) {
        if (m_state == State::Body) {
            const qint64 take = qMin<qint64>(m_bodyLeft, bytes.size() - pos);
            m_bodyLeft -= take;
            pos += take;
            if (m_bodyLeft == 0)
                m_state = State::Headers;
            continue;
        }
        // Empty lines between requests are allowed and skipped.
        if (m_head.isEmpty() && (bytes.at(pos) == '\r' || bytes.at(pos) == '\n')) {
            ++pos;
            continue;
        }
        const qsizetype before = m_head.size();
        m_head.append(bytes.constData() + pos, bytes.size() - pos);
        // Search from a little before the new bytes: the blank line may straddle two reads.
        qsizetype end = m_head.indexOf("\r\n\r\n", qMax<qsizetype>(0, before - 3));
        qsizetype endLength = 4;
        const qsizetype bareEnd = m_head.indexOf("\n\n", qMax<qsizetype>(0, before - 1));
        if (bareEnd >= 0 && (end < 0 || bareEnd < end)) {
            end = bareEnd;
            endLength = 2;
        }
        if (end < 0) {
            if (m_head.size() > kMaxHeaderBytes)
                refuse(431, "Request Header Fields Too Large", QStringLiteral("请求头过大"));
            return;
        }
        const QByteArray block = m_head.left(end + endLength);
        pos += block.size() - before;
        m_head.clear();
        if (block.size() > kMaxHeaderBytes) {
            refuse(431, "Request Header Fields Too Large", QStringLiteral("请求头过大"));
            return;
        }
        if (!takeHeaderBlock(block))
            return;
    }
}

bool ConnectionGuard::takeHeaderBlock(const QByteArray &block)
{
    qint64 length = -1;
    const QList<QByteArray> lines = block.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "transfer-encoding") {
            refuse(411, "Length Required", QStringLiteral("请求内容必须带有 Content-Length"));
            return false;
        }
        if (name != "content-length")
            continue;
        bool ok = !value.isEmpty();
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 parsed = ok ? value.toLongLong(&ok) : -1;
        if (!ok || (length >= 0 && parsed != length)) {
            refuse(400, "Bad Request", QStringLiteral("Content-Length 无效"));
            return false;
        }
        length = parsed;
    }
    if (length > m_maxBodyBytes) {
        m_bodyLeft = length;
        refuse(413, "Payload Too Large", QStringLiteral("请求内容超过 64 KiB"));
        return false;
    }
    m_bodyLeft = qMax<qint64>(0, length);
    m_state = m_bodyLeft > 0 ? State::Body : State::Headers;
    return true;
}

void ConnectionGuard::refuse(int status, const QByteArray &reason, const QString &message)
{
    m_state = State::Refused;
    // From here on nobody else may read this connection: the HTTP server would buffer the body.
    disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::discard);

    const QByteArray body = QJsonDocument(ApiHandler::envelope(false, QJsonObject(), message))
                                .toJson(QJsonDocument::Compact);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    response += "Content-Type: application/json\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += body;
    m_socket->write(response);

    m_idleTimer.disconnect();
    m_idleTimer.setInterval(kDiscardMs);
    connect(&m_idleTimer, &QTimer::timeout, m_socket, &QAbstractSocket::abort);
    m_idleTimer.start();
    discard();
}

void ConnectionGuard::discard()
{
    const QByteArray dropped = m_socket->readAll();
    m_discarded += dropped.size();
    // Declared body over and answered, or too much: close (after the answer is sent).
    if (m_bodyLeft <= m_discarded || m_discarded > kMaxDiscardBytes)
        m_socket->disconnectFromHost();
}
