#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// The server's SQLite file: accounts, sessions and owned effects. WAL journal, so that another
// process (an --add-user run, a test reading figures) can read and write while the server runs.
class GameDatabase
{
public:
    // Each instance has its own Qt SQL connection, named after `connectionName`.
    explicit GameDatabase(const QString &connectionName = QStringLiteral("taptempest-server"));
    ~GameDatabase();
    GameDatabase(const GameDatabase &) = delete;
    GameDatabase &operator=(const GameDatabase &) = delete;

    // Opens or creates the file and brings its schema up to date. A file that is not a database
    // is left untouched; a file this call created is removed again when it fails.
    bool open(const QString &path, QString *error);
    void close();
    bool isOpen() const;
    QSqlDatabase connection() const;

    // One write transaction. It takes the write lock at once (BEGIN IMMEDIATE), so that a read
    // followed by an update can never interleave with another writer; it rolls back unless
    // commit() succeeded.
    class Transaction
    {
    public:
        // `action` names the operation in the log when starting or committing fails.
        explicit Transaction(GameDatabase &database, const char *action = "write");
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;

        bool isActive() const { return m_active; }
        bool commit();
        // Why starting or committing failed.
        QSqlError lastError() const { return m_error; }

    private:
        QSqlDatabase m_db;
        const char *m_action;
        bool m_active = false;
        QSqlError m_error;
    };

    // Logs a failed storage action with SQLite's own text, rate-limited (StorageFailureLog).
    static void reportFailure(const QString &action, const QSqlError &error);

private:
    bool openFile(const QString &path, QString *error);
    static QString sqliteText(const QSqlError &error);
    bool exec(const QString &statement, QString *error);
    bool createSchema(QString *error);

    QString m_connectionName;
};
