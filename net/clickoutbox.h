#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QMap>
#include <QString>
#include <QStringList>

Q_DECLARE_LOGGING_CATEGORY(lcOutbox)

// Clicks the server has not confirmed yet, kept on disk per account and server so that a close,
// a crash, an expiry or a lost reply does not lose them. Each entry is one sync session: the
// clicks it made (`sync_total`) and how many of them are still owed. Sending an entry again is
// safe: the server credits a session only up to a `sync_total` it has not seen.
//
// The file is rewritten only when what is owed changes, and removed once nothing is owed. Between
// rewrites, clicks go to a journal beside it: one short line appended per write, without waiting
// for the disk, which a killed process does not lose. The journal is synced to disk when asked
// (at each tick) and folded into the file, then removed, whenever the file is written.
class ClickOutbox
{
public:
    struct Entry
    {
        QString syncId;
        qint64 total = 0;     // clicks the session made
        qint64 confirmed = 0; // of those, the server confirmed this many
        qint64 owed() const { return total - confirmed; }
    };

    // Opens the outbox of `account` on `server` and reads what an earlier window left owed.
    ClickOutbox(const QString &server, const QString &account);
    ~ClickOutbox();
    ClickOutbox(const ClickOutbox &) = delete;
    ClickOutbox &operator=(const ClickOutbox &) = delete;

    // The account part of the outbox's identity: the user id, or the name when there is none.
    static QString accountKey(const QString &userId, const QString &username);
    // Where the outbox of `account` on `server` lives.
    static QString filePath(const QString &server, const QString &account);
    // Writes every open outbox now (the program is about to end abruptly).
    static void saveAll();

    QString path() const { return m_path; }
    // The sessions that were owed when the outbox was opened, in the order they were written.
    QList<Entry> inherited() const { return m_inherited; }

    // The first `total` clicks of session `syncId` are made and owed unless confirmed. Writes the
    // file when that adds to what it holds.
    void record(const QString &syncId, qint64 total);
    // The server confirmed session `syncId` up to `total`. Writes the file only when it held the
    // session, dropping it once it is fully confirmed.
    void confirm(const QString &syncId, qint64 total);
    // The first `total` clicks of session `syncId` are made: appended to the journal only.
    void journal(const QString &syncId, qint64 total);
    // Asks the disk to keep what the journal holds so far.
    void syncJournal();
    // Writes what is owed (or removes the file when nothing is) and folds the journals in.
    // False when it cannot be written.
    bool save();
    // Where session `syncId` of this outbox journals its clicks.
    QString journalPath(const QString &syncId) const;

private:
    struct Stored
    {
        qint64 total = 0;
        qint64 owed = 0;
        bool operator==(const Stored &o) const { return total == o.total && owed == o.owed; }
    };
    enum class FileState
    {
        Missing,
        Read,
        Unusable // unreadable, or corrupt and moved aside
    };
    FileState load(QMap<QString, Stored> *out, QList<QString> *order);
    // Journals of this outbox left by sessions that did not fold them in, as entries.
    QList<Entry> readJournals(QStringList *files) const;
    Entry &entry(const QString &syncId);

    QString m_path;
    QString m_server;
    QString m_account;
    QMap<QString, Entry> m_entries;
    QList<QString> m_order;
    QList<Entry> m_inherited;
    QMap<QString, Stored> m_written; // what the file holds as far as this outbox knows
    QStringList m_journals;          // journal files to remove once the file holds them
};
