#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTcpServer>
#include <QUrlQuery>

#include <functional>

class QTcpSocket;

// One HTTP request as the peer received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray target; // path and query as sent
    QByteArray path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QJsonObject json() const;
    QString queryValue(const QString &key) const
    {
        return query.queryItemValue(key, QUrl::FullyDecoded);
    }
    QString action() const { return queryValue(QStringLiteral("action")); }
};

// What the peer does with one request.
struct ScriptedResponse
{
    // Forward: pass the request on to the upstream server (see ScriptedPeer::setUpstream) and
    // hand its answer back, or spoil it as `afterForward` says.
    enum Kind
    {
        Reply,
        Close,
        NoAnswer,
        Forward
    };
    enum Spoil
    {
        Intact,
        CutMidReply,
        Stall
    };
    Kind kind = Reply;
    int status = 200;
    QByteArray reason = "OK";
    QByteArray body;
    QByteArray contentType = "application/json";
    QByteArray rawBytes; // when set, written as they are instead of a formed reply
    Spoil afterForward = Intact;

    static ScriptedResponse json(const QJsonObject &object, int status = 200);
    static ScriptedResponse ok(const QJsonObject &data = QJsonObject());
    static ScriptedResponse fail(const QString &message);
    static ScriptedResponse raw(int status, const QByteArray &reason, const QByteArray &body,
                                const QByteArray &contentType = "text/plain");
    static ScriptedResponse garbage(const QByteArray &bytes);
    static ScriptedResponse close();
    static ScriptedResponse noAnswer();
    static ScriptedResponse forward(Spoil spoil = Intact);
};

// A loopback HTTP(S) server answering from a script: a handler function, or else a queue of
// responses, or else the fallback. Records every request.
class ScriptedPeer : public QTcpServer
{
    Q_OBJECT

public:
    explicit ScriptedPeer(bool tls = false, QObject *parent = nullptr);
    ~ScriptedPeer() override;

    bool start();
    quint16 port() const { return serverPort(); }
    // http(s)://127.0.0.1:<port>/api/index.php
    QString url() const;
    bool isTls() const { return m_tls; }
    // PEM of the peer's self-signed certificate (TLS only).
    static QString certificateFile();

    using Handler = std::function<ScriptedResponse(const RecordedRequest &)>;
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void enqueue(const ScriptedResponse &response) { m_queue.enqueue(response); }
    void setFallback(const ScriptedResponse &response) { m_fallback = response; }

    // Answers every held (NoAnswer) request now with this response.
    void releaseHeld(const ScriptedResponse &response);
    int heldCount() const { return m_held.size(); }

    QList<RecordedRequest> requests;
    QList<RecordedRequest> requestsFor(const QString &action) const;

    // Where Forward responses send their request: the upstream endpoint URL (its scheme, host
    // and port are used; path and query come from the request).
    void setUpstream(const QString &url) { m_upstream = url; }
    // Requests forwarded and not yet answered by the upstream server.
    int forwardsInFlight() const { return m_forwarding; }

    // A loopback port with nothing listening on it.
    static quint16 closedPort();

signals:
    void requestReceived(const RecordedRequest &request);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const ScriptedResponse &response);
    void forward(QTcpSocket *socket, const RecordedRequest &request, ScriptedResponse::Spoil spoil);

    bool m_tls;
    Handler m_handler;
    QQueue<ScriptedResponse> m_queue;
    ScriptedResponse m_fallback;
    QMap<QTcpSocket *, QByteArray> m_buffers;
    QList<QTcpSocket *> m_held;
    QString m_upstream;
    class QNetworkAccessManager *m_network = nullptr;
    int m_forwarding = 0;
};
