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

QHttpServerResponse toHttp(const ApiResponse &response)
{
    QHttpServerResponse http(response.envelope,
                             static_cast<QHttpServerResponse::StatusCode>(response.status));
    http.setHeader("Cache-Control", "no-store");
    return http;
}

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

    void answer(quint64 turn, std::shared_ptr<QHttpServerResponder> responder,
                const ApiResponse &response)
    {
        m_waiting.emplace(turn, std::make_pair(std::move(responder), response));
        while (!m_waiting.empty() && m_waiting.begin()->first == m_written) {
            auto next = std::move(m_waiting.begin()->second);
            m_waiting.erase(m_waiting.begin());
            ++m_written;
            QTcpSocket *socket = next.first->socket();
            if (socket->state() == QAbstractSocket::ConnectedState)
                toHttp(next.second).write(std::move(*next.first));
        }
    }

private:
    explicit ReplyQueue(QObject *socket) : QObject(socket) {}

    quint64 m_nextTurn = 0;
    quint64 m_written = 0;
    std::map<quint64, std::pair<std::shared_ptr<QHttpServerResponder>, ApiResponse>> m_waiting;
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
                      auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
                      const QPointer<ReplyQueue> queue = ReplyQueue::of(held->socket());
                      const quint64 turn = queue->takeTurn();
                      m_handler.handle(apiRequest,
                                       [held, queue, turn](const ApiResponse &response) {
                                           if (queue)
                                               queue->answer(turn, held, response);
                                       });
                  });
    m_http->setMissingHandler([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
        auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
        ReplyQueue *queue = ReplyQueue::of(held->socket());
        queue->answer(queue->takeTurn(), held,
                      ApiHandler::failure(404, QStringLiteral("接口不存在")));
    });

    m_listener = new GuardedSslServer(ApiHandler::kMaxBodyBytes, m_idleTimeoutMs);
    m_listener->setSslConfiguration(ssl);
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
