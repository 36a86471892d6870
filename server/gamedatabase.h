#pragma once

#include <QSqlDatabase>
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

    // Opens or creates the file and brings its schema up to date.
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
        explicit Transaction(GameDatabase &database);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;

        bool isActive() const { return m_active; }
        bool commit();

    private:
        QSqlDatabase m_db;
        bool m_active = false;
    };

private:
    bool exec(const QString &statement, QString *error);
    bool createSchema(QString *error);

    QString m_connectionName;
};
