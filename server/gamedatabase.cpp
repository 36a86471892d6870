#include "gamedatabase.h"

#include "storagefailurelog.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrlQuery>
#include <QVariant>

#include <QLoggingCategory>

#include <unistd.h>

namespace {

const int kSchemaVersion = 3;

// Written for both dialects; {id} and {int} are filled in per dialect (a PostgreSQL INTEGER is
// 32 bits, an SQLite one 64). Figures can never go negative: the CHECKs are a last line of
// defence behind the game rules.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS users ("
    " id {id},"
    " username TEXT NOT NULL UNIQUE,"
    " password_hash TEXT NOT NULL,"
    " clicks {int} NOT NULL DEFAULT 0 CHECK (clicks >= 0),"
    " lifetime_clicks {int} NOT NULL DEFAULT 0 CHECK (lifetime_clicks >= 0),"
    " gold {int} NOT NULL DEFAULT 0 CHECK (gold >= 0),"
    " bank_balance {int} NOT NULL DEFAULT 0 CHECK (bank_balance >= 0),"
    " last_click_ms {int} NOT NULL,"
    " created_ms {int} NOT NULL)",
    "CREATE INDEX IF NOT EXISTS users_ranking ON users (lifetime_clicks DESC, username)",
    "CREATE TABLE IF NOT EXISTS sessions ("
    " token_hash TEXT PRIMARY KEY,"
    " user_id {int} NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " created_ms {int} NOT NULL,"
    " expires_ms {int} NOT NULL)",
    "CREATE INDEX IF NOT EXISTS sessions_expiry ON sessions (expires_ms)",
    "CREATE TABLE IF NOT EXISTS owned_effects ("
    " user_id {int} NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " effect_id {int} NOT NULL,"
    " bought_ms {int} NOT NULL,"
    " PRIMARY KEY (user_id, effect_id))",
    // Per sync session of a client, the number of its clicks already credited: a batch sent
    // again after a lost reply is recognised and not credited twice.
    "CREATE TABLE IF NOT EXISTS click_syncs ("
    " user_id {int} NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " sync_id TEXT NOT NULL,"
    " total {int} NOT NULL CHECK (total >= 0),"
    " updated_ms {int} NOT NULL,"
    " PRIMARY KEY (user_id, sync_id))",
    // The reply to each exchange, deposit or purchase sent with a request id, so that a repeat
    // is answered from here instead of being applied again.
    "CREATE TABLE IF NOT EXISTS request_replies ("
    " user_id {int} NOT NULL REFERENCES users (id) ON DELETE CASCADE,"
    " request_id TEXT NOT NULL,"
    " action TEXT NOT NULL,"
    " success {int} NOT NULL,"
    " data TEXT NOT NULL,"
    " message TEXT NOT NULL,"
    " created_ms {int} NOT NULL,"
    " PRIMARY KEY (user_id, request_id))",
    "CREATE INDEX IF NOT EXISTS request_replies_age ON request_replies (created_ms)",
    // The login throttle, shared by every server process on the database: recent failed logins
    // per key, and the keys locked until a time. A key's lock row also serialises its updates.
    "CREATE TABLE IF NOT EXISTS login_failures ("
    " throttle_key TEXT NOT NULL,"
    " at_ms {int} NOT NULL)",
    "CREATE INDEX IF NOT EXISTS login_failures_key ON login_failures (throttle_key, at_ms)",
    "CREATE INDEX IF NOT EXISTS login_failures_age ON login_failures (at_ms)",
    "CREATE TABLE IF NOT EXISTS login_locks ("
    " throttle_key TEXT PRIMARY KEY,"
    " locked_until_ms {int} NOT NULL)",
    "CREATE INDEX IF NOT EXISTS login_locks_age ON login_locks (locked_until_ms)",
};

// Any constant: makes servers starting together on one database create the schema in turn.
const qint64 kSchemaLockKey = 0x7461707465;

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

Q_LOGGING_CATEGORY(lcDatabase, "taptempest.server.database")

GameDatabase::GameDatabase(const QString &connectionName) : m_connectionName(connectionName)
{
}

GameDatabase::~GameDatabase()
{
    close();
}

bool GameDatabase::isDatabaseUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) ||
           text.startsWith(QLatin1String("postgres://"));
}

QString GameDatabase::displayUrl(const QUrl &url)
{
    return url.toString(QUrl::RemovePassword);
}

QString GameDatabase::description() const
{
    if (m_dialect == Dialect::Postgres)
        return displayUrl(m_url);
    return QSqlDatabase::database(m_connectionName, false).databaseName();
}

bool GameDatabase::open(const QString &path, QString *error)
{
    close();
    m_dialect = Dialect::Sqlite;
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
            *error = openFailure(path, QStringLiteral("open"), databaseText(db.lastError()));
            return false;
        }
    }
    {
        QSqlQuery journal(connection());
        if (!journal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !journal.next() ||
            journal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            *error = openFailure(path, QStringLiteral("switch to the WAL journal"),
                                 databaseText(journal.lastError()));
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

bool GameDatabase::openUrl(const QUrl &url, QString *error)
{
    close();
    m_dialect = Dialect::Postgres;
    m_url = url;
    if (!url.isValid() || !isDatabaseUrl(url.toString()) || url.path().size() < 2) {
        *error = QStringLiteral("%1 is not a database URL; the form is "
                                "postgresql://user@host:port/database")
                     .arg(displayUrl(url));
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *error = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed; on Debian it "
                                "is the package libqt6sql6-psql");
        return false;
    }
    if (!connectServer(error) || !createSchema(error)) {
        *error = QStringLiteral("cannot use the database %1: %2").arg(displayUrl(url), *error);
        close();
        return false;
    }
    return true;
}

bool GameDatabase::connectServer(QString *error)
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    db.setHostName(m_url.host());
    if (m_url.port() > 0)
        db.setPort(m_url.port());
    db.setUserName(m_url.userName(QUrl::FullyDecoded));
    db.setPassword(m_url.password(QUrl::FullyDecoded));
    db.setDatabaseName(m_url.path(QUrl::FullyDecoded).mid(1));
    // libpq options from the query (sslmode, sslrootcert, ...); a dead server is noticed in time.
    QStringList options{QStringLiteral("connect_timeout=5")};
    for (const auto &item : QUrlQuery(m_url).queryItems(QUrl::FullyDecoded))
        options << item.first + QLatin1Char('=') + item.second;
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!db.open()) {
        *error = databaseText(db.lastError());
        return false;
    }
    QSqlQuery quiet(db);
    quiet.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    return true;
}

QString GameDatabase::databaseText(const QSqlError &error)
{
    const QString own = error.databaseText().trimmed();
    return own.isEmpty() ? error.text().trimmed() : own;
}

void GameDatabase::reportFailure(const QString &action, const QSqlError &error)
{
    StorageFailureLog::shared().report(action, databaseText(error));
}

void GameDatabase::fail(const QString &action, const QSqlError &error)
{
    reportFailure(action, error);
    checkConnection();
}

// A statement failed: is the server still there? If not, the next request reconnects; until
// then every request gets the storage failure reply.
void GameDatabase::checkConnection()
{
    if (m_dialect != Dialect::Postgres || m_lost || !QSqlDatabase::contains(m_connectionName))
        return;
    QSqlQuery probe(QSqlDatabase::database(m_connectionName, false));
    if (probe.exec(QStringLiteral("SELECT 1")))
        return;
    m_lost = true;
    qCWarning(lcDatabase).noquote()
        << QStringLiteral("lost the connection to the database %1 (%2); reconnecting with the "
                          "next request")
               .arg(displayUrl(m_url), databaseText(probe.lastError()));
}

void GameDatabase::setBeforeClose(const void *owner, std::function<void()> hook)
{
    m_hookOwner = owner;
    m_beforeClose = std::move(hook);
}

void GameDatabase::releaseBeforeClose(const void *owner)
{
    if (m_hookOwner != owner)
        return;
    m_hookOwner = nullptr;
    m_beforeClose = nullptr;
}

void GameDatabase::close()
{
    if (m_beforeClose)
        m_beforeClose();
    m_lost = false;
    ++m_generation;
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

QSqlDatabase GameDatabase::connection()
{
    if (m_lost) {
        if (m_beforeClose)
            m_beforeClose();
        ++m_generation;
        QSqlDatabase::database(m_connectionName, false).close();
        QString error;
        if (connectServer(&error)) {
            m_lost = false;
            qCInfo(lcDatabase).noquote()
                << QStringLiteral("connected to the database %1 again").arg(displayUrl(m_url));
        } else {
            reportFailure(QStringLiteral("reconnecting to the database"), QSqlError(error));
        }
    }
    return QSqlDatabase::database(m_connectionName, false);
}

QString GameDatabase::forUpdate() const
{
    return m_dialect == Dialect::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
}

QString GameDatabase::keyLockStatement() const
{
    return m_dialect == Dialect::Postgres
               ? QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))")
               : QString();
}

bool GameDatabase::exec(const QString &statement, QString *error)
{
    QSqlQuery query(connection());
    if (!query.exec(statement)) {
        *error = QStringLiteral("%1: %2").arg(statement, databaseText(query.lastError()));
        return false;
    }
    return true;
}

bool GameDatabase::readVersion(int *version, QString *error)
{
    QSqlQuery query(connection());
    if (m_dialect == Dialect::Sqlite) {
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
            *error = QStringLiteral("cannot read the schema version");
            return false;
        }
        *version = query.value(0).toInt();
        return true;
    }
    if (!exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey), error) ||
        !exec(
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
            error))
        return false;
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        *error = QStringLiteral("cannot read the schema version: %1")
                     .arg(databaseText(query.lastError()));
        return false;
    }
    *version = query.value(0).toInt();
    return true;
}

bool GameDatabase::writeVersion(int version, QString *error)
{
    if (m_dialect == Dialect::Sqlite)
        return exec(QStringLiteral("PRAGMA user_version=%1").arg(version), error);
    return exec(QStringLiteral("DELETE FROM schema_version"), error) &&
           exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(version),
                error);
}

bool GameDatabase::createSchema(QString *error)
{
    Transaction transaction(*this, "schema");
    if (!transaction.isActive()) {
        *error = QStringLiteral("cannot start the schema transaction: %1")
                     .arg(databaseText(transaction.lastError()));
        return false;
    }
    int found = 0;
    if (!readVersion(&found, error))
        return false;
    if (found > kSchemaVersion) {
        *error =
            QStringLiteral("the database was written by a newer server (schema %1)").arg(found);
        return false;
    }
    const bool postgres = m_dialect == Dialect::Postgres;
    for (const char *statement : kSchema) {
        QString text = QString::fromLatin1(statement);
        text.replace(QLatin1String("{id}"), postgres ? QLatin1String("BIGSERIAL PRIMARY KEY")
                                                     : QLatin1String("INTEGER PRIMARY KEY "
                                                                     "AUTOINCREMENT"));
        text.replace(QLatin1String("{int}"),
                     postgres ? QLatin1String("BIGINT") : QLatin1String("INTEGER"));
        if (!exec(text, error))
            return false;
    }
    // Written at every start: a store that cannot be written is found out here, not at the first
    // click.
    if (!writeVersion(kSchemaVersion, error))
        return false;
    if (!transaction.commit()) {
        *error = QStringLiteral("cannot commit the schema: %1")
                     .arg(databaseText(transaction.lastError()));
        return false;
    }
    return true;
}

GameDatabase::Transaction::Transaction(GameDatabase &database, const char *action)
    : m_database(database), m_db(database.connection()), m_action(action)
{
    QSqlQuery begin(m_db);
    m_active = begin.exec(database.dialect() == Dialect::Sqlite ? QStringLiteral("BEGIN IMMEDIATE")
                                                                : QStringLiteral("BEGIN"));
    if (!m_active) {
        m_error = begin.lastError();
        m_database.fail(QStringLiteral("starting the %1 transaction").arg(QLatin1String(m_action)),
                        m_error);
    }
}

GameDatabase::Transaction::~Transaction()
{
    if (m_active) {
        QSqlQuery rollback(m_db);
        if (!rollback.exec(QStringLiteral("ROLLBACK")))
            m_database.checkConnection();
    }
}

bool GameDatabase::Transaction::commit()
{
    if (!m_active)
        return false;
    QSqlQuery commit(m_db);
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        m_error = commit.lastError();
        m_database.fail(
            QStringLiteral("committing the %1 transaction").arg(QLatin1String(m_action)), m_error);
        return false;
    }
    m_active = false;
    return true;
}
