#pragma once

#include <QJsonValue>
#include <QMetaType>
#include <QString>

// Why a request to the game server failed, as the code decides on it: a kind, the HTTP status
// (0 without one) and the server's own message (empty unless the server sent one). The text
// shown to the player is made from these here and nowhere else.
class ApiError
{
public:
    enum class Kind
    {
        None,            // no failure
        Timeout,         // the client gave up waiting
        NoReply,         // the connection closed before any reply: applied or not, nobody knows
        Unreachable,     // no connection: name unknown, refused, network down
        Tls,             // the secure channel could not be set up
        HttpStatus,      // the server answered with an error status
        TooLarge,        // the reply was cut off for its size
        RedirectRefused, // the server pointed elsewhere and the client did not follow
        Transfer,        // any other failure of the transfer
        BadReply,        // the reply is no envelope, or holds figures that cannot be true
        Refused,         // the server answered and refused: `serverMessage` says why
    };

    ApiError() = default;

    // A transfer that failed. `code` is QNetworkReply's error code; `reason` and `errorString`
    // are the network library's texts. Only POST requests have their own text for a connection
    // the server closed.
    static ApiError transfer(int code, int httpStatus, const QString &reason,
                             const QString &errorString, bool isPost);
    static ApiError tooLarge(qint64 limitBytes);
    static ApiError redirectRefused(int httpStatus, const QString &where);
    // The body of a completed transfer is no JSON object; `body` as received.
    static ApiError badReply(int httpStatus, const QByteArray &body);
    // The envelope is well formed but its figures are not (negative, fractional, too large).
    static ApiError badFigures();
    // The envelope says `success` is not true; `message` is its "message" member.
    static ApiError refused(const QJsonValue &message, int httpStatus = 0);

    Kind kind() const { return m_kind; }
    int httpStatus() const { return m_status; }
    QString serverMessage() const { return m_serverMessage; }
    bool isError() const { return m_kind != Kind::None; }
    // The request went out and nothing came back: the server may have applied it.
    bool isNoReply() const { return m_kind == Kind::Timeout || m_kind == Kind::NoReply; }
    // The server no longer accepts the session's token.
    bool isSessionExpired() const { return m_kind == Kind::HttpStatus && m_status == 401; }

    // What the player reads, word for word as the windows have always shown it.
    QString text() const { return m_text; }
    // Lets callers that only show the failure take it as its text.
    operator QString() const { return m_text; }

private:
    ApiError(Kind kind, int status, const QString &serverMessage, const QString &text)
        : m_kind(kind), m_status(status), m_serverMessage(serverMessage), m_text(text)
    {
    }

    Kind m_kind = Kind::None;
    int m_status = 0;
    QString m_serverMessage;
    QString m_text;
};

Q_DECLARE_METATYPE(ApiError)
