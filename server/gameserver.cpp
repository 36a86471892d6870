#include "gameserver.h"

#include "apihandler.h"
#include "guardedsslserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <utility>

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}

QHttpServerResponse toHttp(const ApiResponse &response, bool closing)
{
    QHttpServerResponse http(response.envelope,
                             static_cast<QHttpServerResponse::StatusCode>(response.status));
    http.setHeader("Cache-Control", "no-store");
    if (closing)
        http.setHeader("Connection", "close");
    return http;
}

// The client asked to end the connection after this request.
bool wantsClose(const QHttpServerRequest &request)
{
    const QList<QByteArray> options = request.value("Connection").split(',');
    for (const QByteArray &option : options) {
        if (option.trimmed().compare("close", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// One account's guesses are counted per address; an IPv4 client on a dual-stack socket is the
// same client as on an IPv4 one.
QString addressText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

struct PendingReply
{
    std::shared_ptr<QHttpServerResponder> responder;
    ApiResponse response;
    bool closing = false;
};

// Keeps one connection's replies in the order of its requests: a pipelined click batch behind a
// login must not be answered before it. Lives as a child of the socket, so it ends with it.
class ReplyQueue : public QObject
{
public:
    static ReplyQueue *of(QTcpSocket *socket)
    {
        static const QString name = QStringLiteral("taptempest-reply-queue");
        if (QObject *existing = socket->findChild<QObject *>(name, Qt::FindDirectChildrenOnly))
            return static_cast<ReplyQueue *>(existing);
        auto *queue = new ReplyQueue(socket);
        queue->setObjectName(name);
        return queue;
    }

    quint64 takeTurn() { return m_nextTurn++; }

    void answer(quint64 turn, PendingReply reply)
    {
        m_waiting.emplace(turn, std::move(reply));
        while (!m_waiting.empty() && m_waiting.begin()->first == m_written) {
            PendingReply next = std::move(m_waiting.begin()->second);
            m_waiting.erase(m_waiting.begin());
            ++m_written;
            QTcpSocket *socket = next.responder->socket();
            if (socket->state() != QAbstractSocket::ConnectedState)
                continue;
            toHttp(next.response, next.closing).write(std::move(*next.responder));
            if (next.closing) {
                // Flushes what was written first; later requests on it go unanswered.
                socket->disconnectFromHost();
                m_waiting.clear();
                return;
            }
        }
    }

private:
    explicit ReplyQueue(QObject *socket) : QObject(socket) {}

    quint64 m_nextTurn = 0;
    quint64 m_written = 0;
    std::map<quint64, PendingReply> m_waiting;
};

} // namespace

GameServer::GameServer(ApiHandler &handler, QObject *parent) : QObject(parent), m_handler(handler)
{
}

GameServer::~GameServer()
{
    close();
}

bool GameServer::listen(const QHostAddress &address, quint16 port, const QSslConfiguration &ssl,
                        QString *error)
{
    close();
    m_http = new QHttpServer(this);
    // The responder is kept until the handler answers, which for a login is after its password
    // check on a worker thread; the connection may be gone by then.
    m_http->route(QString::fromLatin1(ApiHandler::kEndpointPath),
                  [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                      ApiRequest apiRequest;
                      apiRequest.method = methodName(request.method());
                      apiRequest.path = request.url().path();
                      apiRequest.query = request.query();
                      apiRequest.body = request.body();
                      apiRequest.clientAddress = addressText(request.remoteAddress());
                      const bool closing = wantsClose(request);
                      auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
                      const QPointer<ReplyQueue> queue = ReplyQueue::of(held->socket());
                      const quint64 turn = queue->takeTurn();
                      m_handler.handle(
                          apiRequest, [held, queue, turn, closing](const ApiResponse &response) {
                              if (queue)
                                  queue->answer(turn, PendingReply{held, response, closing});
                          });
                  });
    m_http->setMissingHandler(
        [](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
            ReplyQueue *queue = ReplyQueue::of(held->socket());
            queue->answer(queue->takeTurn(),
                          PendingReply{held, ApiHandler::failure(404, QStringLiteral("接口不存在")),
                                       wantsClose(request)});
        });

    m_listener = new GuardedSslServer(ApiHandler::kMaxBodyBytes, m_idleTimeoutMs);
    m_listener->setSslConfiguration(ssl);
    if (m_reusePort) {
        const int fd = bindReusePort(address, port, error);
        if (fd < 0 || ::listen(fd, SOMAXCONN) != 0 || !m_listener->setSocketDescriptor(fd)) {
            if (fd >= 0) {
                *error = QStringLiteral("cannot listen on %1 port %2: %3")
                             .arg(address.toString())
                             .arg(port)
                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
                ::close(fd);
            }
            delete m_listener;
            m_listener = nullptr;
            close();
            return false;
        }
        m_http->bind(m_listener);
        return true;
    }
    if (!m_listener->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_listener->errorString());
        delete m_listener;
        m_listener = nullptr;
        close();
        return false;
    }
    m_http->bind(m_listener); // takes ownership
    return true;
}

int GameServer::bindReusePort(const QHostAddress &address, quint16 port, QString *error)
{
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto fail = [&](const char *step) {
        *error = QStringLiteral("cannot %1 %2 port %3: %4")
                     .arg(QLatin1String(step), address.toString())
                     .arg(port)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    };
    if (fd < 0)
        return fail("open a socket for");
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof(on)) != 0)
        return fail("share");
    int bound = -1;
    if (v6) {
        sockaddr_in6 sa{};
        sa.sin6_family = AF_INET6;
        sa.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&sa.sin6_addr, &bytes, sizeof(bytes));
        bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof(sa));
    } else {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(address.toIPv4Address());
        bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof(sa));
    }
    if (bound != 0)
        return fail("listen on");
    return fd;
}

quint16 GameServer::boundPort(int fd)
{
    sockaddr_storage sa{};
    socklen_t length = sizeof(sa);
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &length) != 0)
        return 0;
    if (sa.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&sa)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&sa)->sin_port);
}

quint16 GameServer::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

void GameServer::close()
{
    delete m_http; // and with it the listener and every open connection
    m_http = nullptr;
    m_listener = nullptr;
}
