#include "gamedatabase.h"

#include "storagefailurelog.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <unistd.h>

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

const char kSqliteHeader[] = "SQLite format 3"; // and a NUL: 16 bytes

bool isWritable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// Why opening `path` failed, in words that point at the cause.
QString openFailure(const QString &path, const QString &step, const QString &sqliteText)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path) && !isWritable(path))
        return QStringLiteral("the database file %1 is read-only; the server needs to write it")
            .arg(path);
    if (!isWritable(folder))
        return QStringLiteral("the data folder %1 is read-only; the server needs to create files "
                              "in it")
            .arg(folder);
    return QStringLiteral("cannot %1 %2: %3").arg(step, path, sqliteText);
}

void removeCreated(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

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
    const bool existed = QFileInfo::exists(path);
    if (existed && QFileInfo(path).size() > 0) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) &&
            file.read(sizeof(kSqliteHeader)) != QByteArray(kSqliteHeader, sizeof(kSqliteHeader))) {
            *error = QStringLiteral("%1 is not an SQLite database; it was left untouched (move it "
                                    "away or choose another --data folder)")
                         .arg(path);
            return false;
        }
    }
    if (!openFile(path, error)) {
        close();
        if (!existed)
            removeCreated(path);
        return false;
    }
    return true;
}

bool GameDatabase::openFile(const QString &path, QString *error)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(path);
        // Waits for a write lock held by another process instead of failing at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            *error = openFailure(path, QStringLiteral("open"), sqliteText(db.lastError()));
            return false;
        }
    }
    {
        QSqlQuery journal(connection());
        if (!journal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !journal.next() ||
            journal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            *error = openFailure(path, QStringLiteral("switch to the WAL journal"),
                                 sqliteText(journal.lastError()));
            return false;
        }
    }
    // FULL: an acknowledged batch is on disk before the reply leaves, even if the machine fails.
    if (!exec(QStringLiteral("PRAGMA synchronous=FULL"), error) ||
        !exec(QStringLiteral("PRAGMA foreign_keys=ON"), error) || !createSchema(error)) {
        *error = openFailure(path, QStringLiteral("set up"), *error);
        return false;
    }
    return true;
}

QString GameDatabase::sqliteText(const QSqlError &error)
{
    const QString own = error.databaseText().trimmed();
    return own.isEmpty() ? error.text().trimmed() : own;
}

void GameDatabase::reportFailure(const QString &action, const QSqlError &error)
{
    StorageFailureLog::shared().report(action, sqliteText(error));
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
    Transaction transaction(*this, "schema");
    if (!transaction.isActive()) {
        *error = QStringLiteral("cannot start the schema transaction: %1")
                     .arg(sqliteText(transaction.lastError()));
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
        *error =
            QStringLiteral("cannot commit the schema: %1").arg(sqliteText(transaction.lastError()));
        return false;
    }
    return true;
}

GameDatabase::Transaction::Transaction(GameDatabase &database, const char *action)
    : m_db(database.connection()), m_action(action)
{
    QSqlQuery begin(m_db);
    m_active = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
    if (!m_active) {
        m_error = begin.lastError();
        reportFailure(QStringLiteral("starting the %1 transaction").arg(QLatin1String(m_action)),
                      m_error);
    }
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
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        m_error = commit.lastError();
        reportFailure(QStringLiteral("committing the %1 transaction").arg(QLatin1String(m_action)),
                      m_error);
        return false;
    }
    m_active = false;
    return true;
}
