#include "scratchdatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

QUrl adminUrl()
{
    return QUrl(qEnvironmentVariable("TAPTEMPEST_TEST_PG_URL"));
}

} // namespace

bool ScratchDatabase::wanted()
{
    return qEnvironmentVariable("TAPTEMPEST_TEST_STORE") == QLatin1String("postgresql");
}

QString ScratchDatabase::unavailableReason()
{
    if (!qEnvironmentVariableIsEmpty("TAPTEMPEST_TEST_PG_URL")) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return QStringLiteral("Qt's QPSQL driver is not installed (libqt6sql6-psql)");
        return QString();
    }
    const QString why = qEnvironmentVariable("TAPTEMPEST_TEST_PG_SKIP");
    return why.isEmpty() ? QStringLiteral("no test cluster; scripts/test starts one") : why;
}

QByteArray ScratchDatabase::skipMessage()
{
    return ("PostgreSQL unavailable: " + unavailableReason()).toUtf8();
}

ScratchDatabase::~ScratchDatabase()
{
    if (m_name.isEmpty())
        return;
    QString error;
    if (!runAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name), &error))
        qWarning("could not drop the test database %s: %s", qPrintable(m_name), qPrintable(error));
}

bool ScratchDatabase::runAdmin(const QString &statement, QString *error)
{
    const QString connection = QStringLiteral("scratch-admin-") + QUuid::createUuid().toString();
    bool ok = false;
    {
        const QUrl url = adminUrl();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            ok = query.exec(statement);
            if (!ok)
                *error = query.lastError().text();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

bool ScratchDatabase::create(QString *error)
{
    const QString name =
        QStringLiteral("tt_") + QUuid::createUuid().toString(QUuid::Id128).left(20);
    if (!runAdmin(QStringLiteral("CREATE DATABASE %1").arg(name), error))
        return false;
    m_name = name;
    m_url = adminUrl();
    m_url.setPath(QLatin1Char('/') + name);
    return true;
}

bool ScratchDatabase::dropConnections(QString *error)
{
    return runAdmin(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                   " WHERE datname = '%1' AND pid <> pg_backend_pid()")
                        .arg(m_name),
                    error);
}
