#include "scriptedpeer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

struct CertFiles
{
    QString cert;
    QString key;
};

// One self-signed certificate per test process, made with the openssl command.
const CertFiles &certFiles()
{
    static QTemporaryDir dir(QDir::tempPath() + "/taptempest-peer-XXXXXX");
    static CertFiles files;
    if (files.cert.isEmpty()) {
        const QString cert = dir.filePath("peer.pem");
        const QString key = dir.filePath("peer.key");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                  "-out", cert, "-days", "3", "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1,DNS:localhost"});
        openssl.waitForFinished(60000);
        if (openssl.exitCode() != 0)
            qWarning("openssl failed: %s", openssl.readAllStandardError().constData());
        files = {cert, key};
    }
    return files;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QJsonObject RecordedRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

ScriptedResponse ScriptedResponse::json(const QJsonObject &object, int status)
{
    ScriptedResponse r;
    r.status = status;
    r.reason = status == 200 ? "OK" : "Scripted";
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

ScriptedResponse ScriptedResponse::ok(const QJsonObject &data)
{
    return json(QJsonObject{{"success", true}, {"data", data}, {"message", "ok"}});
}

ScriptedResponse ScriptedResponse::fail(const QString &message)
{
    return json(QJsonObject{{"success", false}, {"message", message}});
}

ScriptedResponse ScriptedResponse::raw(int status, const QByteArray &reason, const QByteArray &body,
                                       const QByteArray &contentType)
{
    ScriptedResponse r;
    r.status = status;
    r.reason = reason;
    r.body = body;
    r.contentType = contentType;
    return r;
}

ScriptedResponse ScriptedResponse::garbage(const QByteArray &bytes)
{
    ScriptedResponse r;
    r.rawBytes = bytes;
    return r;
}

ScriptedResponse ScriptedResponse::close()
{
    ScriptedResponse r;
    r.kind = Close;
    return r;
}

ScriptedResponse ScriptedResponse::forward(Spoil spoil)
{
    ScriptedResponse r;
    r.kind = Forward;
    r.afterForward = spoil;
    return r;
}

ScriptedResponse ScriptedResponse::noAnswer()
{
    ScriptedResponse r;
    r.kind = NoAnswer;
    return r;
}

ScriptedPeer::ScriptedPeer(bool tls, QObject *parent)
    : QTcpServer(parent), m_tls(tls), m_fallback(ScriptedResponse::ok())
{
}

ScriptedPeer::~ScriptedPeer()
{
    close();
}

bool ScriptedPeer::start()
{
    if (m_tls)
        certFiles();
    return listen(QHostAddress::LocalHost, 0);
}

QString ScriptedPeer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2/api/index.php")
        .arg(m_tls ? "https" : "http")
        .arg(serverPort());
}

QString ScriptedPeer::certificateFile()
{
    return certFiles().cert;
}

QList<RecordedRequest> ScriptedPeer::requestsFor(const QString &action) const
{
    QList<RecordedRequest> out;
    for (const RecordedRequest &r : requests)
        if (r.action() == action)
            out << r;
    return out;
}

quint16 ScriptedPeer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void ScriptedPeer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_tls) {
        auto *ssl = new QSslSocket(this);
        if (!ssl->setSocketDescriptor(descriptor)) {
            delete ssl;
            return;
        }
        ssl->setLocalCertificate(QSslCertificate(readFile(certFiles().cert), QSsl::Pem));
        ssl->setPrivateKey(QSslKey(readFile(certFiles().key), QSsl::Rsa, QSsl::Pem));
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
        m_buffers.remove(socket);
        m_held.removeAll(socket);
        socket->deleteLater();
    });
}

void ScriptedPeer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        const int q = request.target.indexOf('?');
        request.path = q < 0 ? request.target : request.target.left(q);
        request.query =
            QUrlQuery(QString::fromUtf8(q < 0 ? QByteArray() : request.target.mid(q + 1)));
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);

        ScriptedResponse response = m_fallback;
        if (m_handler)
            response = m_handler(request);
        else if (!m_queue.isEmpty())
            response = m_queue.dequeue();
        requests << request;
        QPointer<QTcpSocket> guard(socket);
        emit requestReceived(request);
        if (!guard)
            return;
        if (response.kind == ScriptedResponse::Forward) {
            forward(socket, request, response.afterForward);
            return;
        }
        answer(socket, response);
        if (response.kind != ScriptedResponse::Reply)
            return;
    }
}

void ScriptedPeer::answer(QTcpSocket *socket, const ScriptedResponse &response)
{
    switch (response.kind) {
    case ScriptedResponse::Close:
        socket->abort();
        return;
    case ScriptedResponse::NoAnswer:
    case ScriptedResponse::Forward:
        m_held << socket;
        return;
    case ScriptedResponse::Reply:
        break;
    }
    if (!response.rawBytes.isEmpty()) {
        socket->write(response.rawBytes);
        socket->disconnectFromHost();
        return;
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                     "\r\nConnection: keep-alive\r\n\r\n" + response.body;
    socket->write(out);
}

void ScriptedPeer::releaseHeld(const ScriptedResponse &response)
{
    const QList<QTcpSocket *> held = m_held;
    m_held.clear();
    for (QTcpSocket *socket : held)
        answer(socket, response);
}

void ScriptedPeer::forward(QTcpSocket *socket, const RecordedRequest &request,
                           ScriptedResponse::Spoil spoil)
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QUrl url(m_upstream);
    url.setPath(QString::fromUtf8(request.path));
    url.setQuery(request.query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    QNetworkRequest upstream(url);
    if (request.headers.contains("content-type"))
        upstream.setRawHeader("Content-Type", request.headers.value("content-type"));
    QNetworkReply *reply = request.method == "POST" ? m_network->post(upstream, request.body)
                                                    : m_network->get(upstream);
    ++m_forwarding;
    QPointer<QTcpSocket> guard(socket);
    connect(reply, &QNetworkReply::finished, this, [this, reply, guard, spoil]() {
        --m_forwarding;
        reply->deleteLater();
        if (!guard)
            return;
        ScriptedResponse answerToClient;
        answerToClient.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answerToClient.reason =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
        answerToClient.body = reply->readAll();
        if (answerToClient.status == 0) {
            guard->abort();
            return;
        }
        switch (spoil) {
        case ScriptedResponse::Intact:
            answer(guard, answerToClient);
            break;
        case ScriptedResponse::CutMidReply: {
            // Headers and half the body, then the connection dies: the server has done the work,
            // the client never learns it.
            const QByteArray whole =
                "HTTP/1.1 " + QByteArray::number(answerToClient.status) + ' ' +
                answerToClient.reason + "\r\nContent-Type: application/json\r\nContent-Length: " +
                QByteArray::number(answerToClient.body.size()) + "\r\n\r\n" + answerToClient.body;
            guard->write(whole.left(whole.size() - answerToClient.body.size() / 2 - 1));
            guard->waitForBytesWritten(1000);
            guard->abort();
            break;
        }
        case ScriptedResponse::Stall:
            m_held << guard.data();
            break;
        }
    });
}
