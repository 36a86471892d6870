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

#include <memory>

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
                      const QPointer<QTcpSocket> socket = held->socket();
                      m_handler.handle(apiRequest, [held, socket](const ApiResponse &response) {
                          if (!socket || socket->state() != QAbstractSocket::ConnectedState)
                              return;
                          toHttp(response).write(std::move(*held));
                      });
                  });
    m_http->setMissingHandler([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
        toHttp(ApiHandler::failure(404, QStringLiteral("接口不存在"))).write(std::move(responder));
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
