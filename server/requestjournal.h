#pragma once

#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>

// The replies to player actions that carry a request id, kept per account and id, so that an
// action sent again (a lost reply, a resend by the network stack) is answered without being
// applied twice. Works inside the caller's write transaction: the reply is stored in the same
// commit as the change it describes, so a crash can never keep one without the other.
class RequestJournal
{
public:
    // Replies are kept at least this long.
    static const qint64 kRetentionMs = 24LL * 60 * 60 * 1000;
    static const int kMaxRequestIdLength = 64;

    struct Reply
    {
        bool success = false;
        QJsonObject data;
        QString message;
    };

    enum class Found
    {
        Nothing,  // a new id: apply the action
        Same,     // the same action again: answer with `reply`
        Conflict, // the id was used for another action or other parameters
        Failed    // the database could not be read
    };

    explicit RequestJournal(const QSqlDatabase &db) : m_db(db) {}

    // `action` names the action and its parameters, e.g. "exchange 300".
    Found find(qint64 userId, const QString &requestId, const QString &action, Reply *reply);
    // Also forgets replies older than the retention time.
    bool store(qint64 userId, const QString &requestId, const QString &action, const Reply &reply,
               qint64 nowMs);

    // A usable id: 1 to kMaxRequestIdLength characters, no control characters.
    static bool isValidRequestId(const QString &requestId);

private:
    QSqlDatabase m_db;
};
