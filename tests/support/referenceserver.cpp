#include "referenceserver.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

void preparedChild()
{
#ifdef Q_OS_LINUX
    // A crashed test must not leave servers behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
}

} // namespace

bool ReferenceServer::withStore(const std::function<bool(QSqlDatabase &)> &body) const
{
    const QString name = QStringLiteral("referenceserver-") + QUuid::createUuid().toString();
    bool result = false;
    {
        bool opened = false;
        QSqlDatabase db;
        if (m_databaseUrl.isEmpty()) {
            const QString path = databasePath();
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            opened = QFileInfo::exists(path) && db.open();
        } else {
            // The password, if any, comes from PGPASSWORD or ~/.pgpass.
            const QUrl url(m_databaseUrl);
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(url.host());
            db.setPort(url.port(5432));
            db.setUserName(url.userName());
            db.setDatabaseName(url.path().mid(1));
            opened = db.open();
        }
        if (opened)
            result = body(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

ReferenceServer::ReferenceServer(QObject *parent) : QObject(parent)
{
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

QString ReferenceServer::binaryPath()
{
    // CTest names the build folder; a test binary copied elsewhere still finds the server.
    const QString fromBuild = qEnvironmentVariable("TAPTEMPEST_BINARY_DIR");
    if (!fromBuild.isEmpty()) {
        const QString path = fromBuild + QStringLiteral("/server/taptempest-server");
        if (QFileInfo(path).isExecutable())
            return path;
    }
#ifdef TAPTEMPEST_SERVER_BINARY
    return QStringLiteral(TAPTEMPEST_SERVER_BINARY);
#else
    return QString();
#endif
}

QString ReferenceServer::dataDir() const
{
    return m_dataDir ? m_dataDir->path() : QString();
}

QString ReferenceServer::databasePath() const
{
    return m_dataDir ? m_dataDir->filePath(QStringLiteral("server.db")) : QString();
}

bool ReferenceServer::start(const QStringList &extraArgs)
{
    stop();
    m_error.clear();
    m_extraArgs = extraArgs;
    const QString binary = binaryPath();
    if (binary.isEmpty() || !QFileInfo(binary).isExecutable()) {
        m_error = QStringLiteral("no server binary (looked for %1)").arg(binary);
        return false;
    }
    if (!m_dataDir) {
        m_dataDir = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                    QStringLiteral("/taptempest-server-XXXXXX"));
        if (!m_dataDir->isValid()) {
            m_error = QStringLiteral("cannot make a data folder");
            m_dataDir.reset();
            return false;
        }
    }
    QStringList args{QStringLiteral("--data"), dataDir()};
    if (!m_databaseUrl.isEmpty())
        args << QStringLiteral("--database") << m_databaseUrl;
    if (!extraArgs.contains(QStringLiteral("--port")))
        args << QStringLiteral("--port") << QStringLiteral("0");
    args << extraArgs;

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(binary);
    m_process->setArguments(args);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setChildProcessModifier(preparedChild);
    m_output.clear();
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(binary, m_process->errorString());
        m_process.reset();
        return false;
    }
    if (!waitForListening(30000)) {
        kill();
        return false;
    }
    return true;
}

bool ReferenceServer::waitForListening(int timeoutMs)
{
    static const QRegularExpression listening(
        QStringLiteral("^listening on (https://[^\\s]+:(\\d+)/api/index\\.php)$"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression certificate(QStringLiteral("^certificate: (.+)$"),
                                                QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_output += QString::fromLocal8Bit(m_process->readAllStandardOutput());
        const QRegularExpressionMatch match = listening.match(m_output);
        if (match.hasMatch()) {
            m_url = match.captured(1);
            m_port = quint16(match.captured(2).toUInt());
            m_caFile = certificate.match(m_output).captured(1).trimmed();
            return true;
        }
        if (m_process->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("the server exited (status %1) before listening: %2")
                          .arg(m_process->exitCode())
                          .arg(m_output);
            return false;
        }
        m_process->waitForReadyRead(int(qMin<qint64>(200, deadline.remainingTime())));
    }
    m_error = QStringLiteral("the server did not report its port in time: %1").arg(m_output);
    return false;
}

bool ReferenceServer::restart()
{
    const quint16 port = m_port;
    QStringList args = m_extraArgs;
    if (!args.contains(QStringLiteral("--port")) && port != 0)
        args << QStringLiteral("--port") << QString::number(port);
    stop();
    const QStringList kept = m_extraArgs;
    const bool started = start(args);
    m_extraArgs = kept;
    return started;
}

void ReferenceServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_output += QString::fromLocal8Bit(m_process->readAllStandardOutput());
    m_exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    m_process.reset();
    m_url.clear();
}

void ReferenceServer::kill()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_exitCode = -1;
    m_process.reset();
    m_url.clear();
}

bool ReferenceServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 ReferenceServer::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

bool ReferenceServer::addUser(const QString &name, const QString &password, qint64 clicks)
{
    if (!m_dataDir) {
        m_dataDir = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                    QStringLiteral("/taptempest-server-XXXXXX"));
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--data"), dataDir(), QStringLiteral("--add-user"), name};
    if (!m_databaseUrl.isEmpty())
        arguments << QStringLiteral("--database") << m_databaseUrl;
    if (clicks != 0)
        arguments << QStringLiteral("--clicks") << QString::number(clicks);
    arguments << QStringLiteral("--") << password;
    process.start(binaryPath(), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        m_error = QStringLiteral("--add-user did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error =
            QStringLiteral("--add-user %1 failed with status %2").arg(name).arg(process.exitCode());
        return false;
    }
    return true;
}

void ReferenceServer::exportEnvironment() const
{
    qputenv("TAPTEMPEST_SERVER_URL", m_url.toUtf8());
    qputenv("TAPTEMPEST_CA_FILE", QFile::encodeName(m_caFile));
}

ReferenceServer::Account ReferenceServer::account(const QString &username) const
{
    Account account;
    withStore([&](QSqlDatabase &db) {
        QSqlQuery user(db);
        user.prepare(QStringLiteral("SELECT id, clicks, lifetime_clicks, gold, bank_balance"
                                    " FROM users WHERE username = ?"));
        user.addBindValue(username);
        if (!user.exec() || !user.next())
            return false;
        account.found = true;
        account.id = user.value(0).toLongLong();
        account.clicks = user.value(1).toLongLong();
        account.lifetimeClicks = user.value(2).toLongLong();
        account.gold = user.value(3).toLongLong();
        account.bankBalance = user.value(4).toLongLong();
        user.finish();

        QSqlQuery effects(db);
        effects.prepare(QStringLiteral("SELECT effect_id FROM owned_effects WHERE user_id = ?"
                                       " ORDER BY effect_id"));
        effects.addBindValue(account.id);
        effects.exec();
        while (effects.next())
            account.ownedEffects << effects.value(0).toInt();

        QSqlQuery sessions(db);
        sessions.prepare(
            QStringLiteral("SELECT COUNT(*) FROM sessions WHERE user_id = ? AND expires_ms > ?"));
        sessions.addBindValue(account.id);
        sessions.addBindValue(QDateTime::currentMSecsSinceEpoch());
        if (sessions.exec() && sessions.next())
            account.sessions = sessions.value(0).toInt();
        return true;
    });
    return account;
}

bool ReferenceServer::expireSessions(const QString &username)
{
    return withStore([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("UPDATE sessions SET expires_ms = ? WHERE user_id ="
                                     " (SELECT id FROM users WHERE username = ?)"));
        query.addBindValue(QDateTime::currentMSecsSinceEpoch() - 1000);
        query.addBindValue(username);
        return query.exec() && query.numRowsAffected() > 0;
    });
}
