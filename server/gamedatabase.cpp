#include "gamedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

const int kSchemaVersion = 2;

// Figures can never go negative: the CHECKs are a last line of defence behind the game rules.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS users ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " username TEXT NOT NULL UNIQUE,"
    " password_hash TEXT NOT NULL,"
    " clicks INTEGER NOT NULL DEFAULT 0 CHECK (clicks >= 0),"
    " lifetime_clicks INTEGER NOT NULL DEFAULT 0 CHECK (lifetime_clicks >= 0),"
    " gold INTEGER NOT NULL DEFAULT 0 CHECK (gold >= 0),"
    " bank_balance INTEGER NOT NULL DEFAULT 0 CHECK (bank_balance >= 0),"
    " last_click_ms INTEGER NOT NULL,"
    " created_ms INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS users_ranking ON users (lifetime_clicks DESC, username)",
    "CREATE TABLE IF NOT EXISTS sessions ("
    " token_hash TEXT PRIMARY KEY,"
    " user_id INTEGER NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " created_ms INTEGER NOT NULL,"
    " expires_ms INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS sessions_expiry ON sessions (expires_ms)",
    "CREATE TABLE IF NOT EXISTS owned_effects ("
    " user_id INTEGER NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " effect_id INTEGER NOT NULL,"
    " bought_ms INTEGER NOT NULL,"
    " PRIMARY KEY (user_id, effect_id))",
    // Per sync session of a client, the number of its clicks already credited: a batch sent
    // again after a lost reply is recognised and not credited twice.
    "CREATE TABLE IF NOT EXISTS click_syncs ("
    " user_id INTEGER NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " sync_id TEXT NOT NULL,"
    " total INTEGER NOT NULL CHECK (total >= 0),"
    " updated_ms INTEGER NOT NULL,"
    " PRIMARY KEY (user_id, sync_id))",
    // The reply to each exchange, deposit or purchase sent with a request id, so that a repeat
    // is answered from here instead of being applied again.
    "CREATE TABLE IF NOT EXISTS request_replies ("
    " user_id INTEGER NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " request_id TEXT NOT NULL,"
    " action TEXT NOT NULL,"
    " success INTEGER NOT NULL,"
    " data TEXT NOT NULL,"
    " message TEXT NOT NULL,"
    " created_ms INTEGER NOT NULL,"
    " PRIMARY KEY (user_id, request_id))",
    "CREATE INDEX IF NOT EXISTS request_replies_age ON request_replies (created_ms)",
};

} // namespace

GameDatabase::GameDatabase(const QString &connectionName) : m_connectionName(connectionName)
{
}

GameDatabase::~GameDatabase()
{
    close();
}

bool GameDatabase::open(const QString &path, QString *error)
{
    close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(path);
        // Waits for a write lock held by another process instead of failing at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            *error = QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text());
            db = QSqlDatabase();
            close();
            return false;
        }
    }
    QSqlQuery journal(connection());
    if (!journal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !journal.next() ||
        journal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        *error = QStringLiteral("cannot switch %1 to the WAL journal").arg(path);
        journal = QSqlQuery();
        close();
        return false;
    }
    journal = QSqlQuery();
    // FULL: an acknowledged batch is on disk before the reply leaves, even if the machine fails.
    if (!exec(QStringLiteral("PRAGMA synchronous=FULL"), error) ||
        !exec(QStringLiteral("PRAGMA foreign_keys=ON"), error) || !createSchema(error)) {
        close();
        return false;
    }
    return true;
}

void GameDatabase::close()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool GameDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) &&
           QSqlDatabase::database(m_connectionName, false).isOpen();
}

QSqlDatabase GameDatabase::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool GameDatabase::exec(const QString &statement, QString *error)
{
    QSqlQuery query(connection());
    if (!query.exec(statement)) {
        *error = QStringLiteral("%1: %2").arg(statement, query.lastError().text());
        return false;
    }
    return true;
}

bool GameDatabase::createSchema(QString *error)
{
    Transaction transaction(*this);
    if (!transaction.isActive()) {
        *error = QStringLiteral("cannot start the schema transaction: %1")
                     .arg(connection().lastError().text());
        return false;
    }
    QSqlQuery version(connection());
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
        *error = QStringLiteral("cannot read the schema version");
        return false;
    }
    const int found = version.value(0).toInt();
    if (found > kSchemaVersion) {
        *error =
            QStringLiteral("the database was written by a newer server (schema %1)").arg(found);
        return false;
    }
    for (const char *statement : kSchema) {
        if (!exec(QString::fromLatin1(statement), error))
            return false;
    }
    if (!exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion), error))
        return false;
    if (!transaction.commit()) {
        *error = QStringLiteral("cannot commit the schema");
        return false;
    }
    return true;
}

GameDatabase::Transaction::Transaction(GameDatabase &database) : m_db(database.connection())
{
    QSqlQuery begin(m_db);
    m_active = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
}

GameDatabase::Transaction::~Transaction()
{
    if (m_active) {
        QSqlQuery rollback(m_db);
        rollback.exec(QStringLiteral("ROLLBACK"));
    }
}

bool GameDatabase::Transaction::commit()
{
    if (!m_active)
        return false;
    QSqlQuery commit(m_db);
    if (!commit.exec(QStringLiteral("COMMIT")))
        return false;
    m_active = false;
    return true;
}
