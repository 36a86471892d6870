#include "requestjournal.h"

#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

Q_LOGGING_CATEGORY(lcRequestJournal, "taptempest.server.requests")

RequestJournal::Found RequestJournal::find(qint64 userId, const QString &requestId,
                                           const QString &action, Reply *reply)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT action, success, data, message FROM request_replies"
                                 " WHERE user_id = ? AND request_id = ?"));
    query.addBindValue(userId);
    query.addBindValue(requestId);
    if (!query.exec()) {
        qCWarning(lcRequestJournal, "reading a stored reply failed: %s",
                  qPrintable(query.lastError().text()));
        return Found::Failed;
    }
    if (!query.next())
        return Found::Nothing;
    if (query.value(0).toString() != action)
        return Found::Conflict;
    reply->success = query.value(1).toBool();
    reply->data = QJsonDocument::fromJson(query.value(2).toByteArray()).object();
    reply->message = query.value(3).toString();
    return Found::Same;
}

bool RequestJournal::store(qint64 userId, const QString &requestId, const QString &action,
                           const Reply &reply, qint64 nowMs)
{
    QSqlQuery forget(m_db);
    forget.prepare(QStringLiteral("DELETE FROM request_replies WHERE created_ms < ?"));
    forget.addBindValue(nowMs - kRetentionMs);
    QSqlQuery insert(m_db);
    insert.prepare(
        QStringLiteral("INSERT INTO request_replies (user_id, request_id, action,"
                       " success, data, message, created_ms) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(userId);
    insert.addBindValue(requestId);
    insert.addBindValue(action);
    insert.addBindValue(reply.success ? 1 : 0);
    insert.addBindValue(
        QString::fromUtf8(QJsonDocument(reply.data).toJson(QJsonDocument::Compact)));
    // A null string would be bound as SQL NULL.
    insert.addBindValue(reply.message.isNull() ? QStringLiteral("") : reply.message);
    insert.addBindValue(nowMs);
    for (QSqlQuery *query : {&forget, &insert}) {
        if (!query->exec()) {
            qCWarning(lcRequestJournal, "storing a reply failed: %s",
                      qPrintable(query->lastError().text()));
            return false;
        }
    }
    return true;
}

bool RequestJournal::isValidRequestId(const QString &requestId)
{
    if (requestId.isEmpty() || requestId.size() > kMaxRequestIdLength)
        return false;
    for (const QChar c : requestId) {
        if (c.category() == QChar::Other_Control || c.isSurrogate())
            return false;
    }
    return true;
}
