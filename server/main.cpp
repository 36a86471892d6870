// taptempest-server: the reference game server. See --help.

#include "apihandler.h"
#include "certificatestore.h"
#include "common/signalwatcher.h"
#include "datafolder.h"
#include "effectcatalog.h"
#include "gamedatabase.h"
#include "gameserver.h"
#include "gameservice.h"
#include "serveroptions.h"
#include "storemigration.h"
#include "workerpool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTextStream>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitCode
{
    Ok = 0,
    Failure = 1,
    AccountExists = 2,
    Usage = 64
};

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Start-up failures and refusals; what scripts read comes through say() on stdout.
Q_LOGGING_CATEGORY(lcServer, "taptempest.server")

void complain(const QString &line)
{
    qCWarning(lcServer).noquote() << line;
}

QString hostForUrl(const QHostAddress &address)
{
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4)
        return QStringLiteral("127.0.0.1");
    if (address == QHostAddress::AnyIPv6)
        return QStringLiteral("[::1]");
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QLatin1Char('[') + address.toString() + QLatin1Char(']');
    return address.toString();
}

int addUser(GameService &service, const ServerOptions &options)
{
    QString password = options.newUserPassword;
    if (password == QLatin1String("-"))
        password = QTextStream(stdin).readLine();
    switch (service.addUser(options.newUserName, password, options.newUserClicks)) {
    case GameService::AddUserResult::Added:
        say(options.newUserClicks > 0
                ? QStringLiteral("added account %1 with %2 clicks")
                      .arg(options.newUserName)
                      .arg(options.newUserClicks)
                : QStringLiteral("added account %1").arg(options.newUserName));
        return Ok;
    case GameService::AddUserResult::Exists:
        complain(QStringLiteral("the account %1 exists already; left unchanged")
                     .arg(options.newUserName));
        return AccountExists;
    case GameService::AddUserResult::InvalidName:
        complain(QStringLiteral("account names are 1 to 32 characters, without control "
                                "characters or blanks at either end"));
        return Usage;
    case GameService::AddUserResult::InvalidPassword:
        complain(QStringLiteral("passwords are 1 to 1024 characters"));
        return Usage;
    case GameService::AddUserResult::Failed:
        break;
    }
    complain(QStringLiteral("could not add the account"));
    return Failure;
}

int exportTo(GameDatabase &source, const QUrl &url)
{
    GameDatabase target(QStringLiteral("taptempest-export"));
    QString error;
    if (!target.openUrl(url, &error)) {
        complain(error);
        return Failure;
    }
    StoreMigration::Counts counts;
    if (!StoreMigration::copy(source, target, &counts, &error)) {
        complain(error);
        return Failure;
    }
    say(QStringLiteral("exported %1 accounts, %2 owned effects, %3 sessions, %4 sync sessions "
                       "and %5 stored replies to %6")
            .arg(counts.accounts)
            .arg(counts.effects)
            .arg(counts.sessions)
            .arg(counts.syncs)
            .arg(counts.replies)
            .arg(GameDatabase::displayUrl(url)));
    return Ok;
}

// The command line of each serving process of --workers.
QStringList workerArguments(const ServerOptions &options, const QString &dataDir, quint16 port,
                            const QString &certPath, const QString &keyPath)
{
    QStringList args{QStringLiteral("--worker-of-pool"),
                     QStringLiteral("--data"),
                     dataDir,
                     QStringLiteral("--bind"),
                     options.bindAddress.toString(),
                     QStringLiteral("--port"),
                     QString::number(port),
                     QStringLiteral("--cert"),
                     certPath,
                     QStringLiteral("--key"),
                     keyPath,
                     QStringLiteral("--click-rate"),
                     QString::number(options.clickRate)};
    // A URL with a password came from the environment, which the workers inherit.
    if (options.databaseUrl.password().isEmpty())
        args << QStringLiteral("--database") << options.databaseUrl.toString();
    return args;
}

// --workers: the processes serve, this one holds the port and the data folder and starts a
// worker again when one dies.
int superviseWorkers(QCoreApplication &app, const ServerOptions &options, const QString &dataDir,
                     const QString &certPath, const QString &keyPath)
{
    QString error;
    // Holds the port, also when 0 picked it, until the workers listen on it.
    const int held = GameServer::bindReusePort(options.bindAddress, options.port, &error);
    if (held < 0) {
        complain(error);
        return Failure;
    }
    const quint16 port = GameServer::boundPort(held);
    WorkerPool pool(QCoreApplication::applicationFilePath(),
                    workerArguments(options, dataDir, port, certPath, keyPath), options.workers);
    int status = Ok;
    QObject::connect(&pool, &WorkerPool::listening, &app, [&] {
        ::close(held);
        say(QStringLiteral("certificate: %1").arg(QFileInfo(certPath).absoluteFilePath()));
        QStringList ids;
        for (const qint64 id : pool.processIds())
            ids << QString::number(id);
        say(QStringLiteral("workers: %1").arg(ids.join(QLatin1Char(' '))));
        say(QStringLiteral("listening on https://%1:%2%3")
                .arg(hostForUrl(options.bindAddress))
                .arg(port)
                .arg(QLatin1String(ApiHandler::kEndpointPath)));
    });
    QObject::connect(&pool, &WorkerPool::failed, &app, [&](const QString &reason) {
        complain(reason);
        status = Failure;
        QCoreApplication::exit(Failure);
    });
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::stopRequested, &app,
                     [](int) { QCoreApplication::quit(); });
    pool.start();
    const int result = app.exec();
    pool.stop();
    say(QStringLiteral("stopped"));
    return status != Ok ? status : result;
}

} // namespace

int main(int argc, char **argv)
{
    // Database, key and certificate are for this user's eyes only.
    ::umask(077);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TapTempest"));
    QCoreApplication::setApplicationName(QStringLiteral("taptempest-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAPTEMPEST_VERSION));

    ServerOptions options;
    switch (options.parse(QCoreApplication::arguments())) {
    case ServerOptions::Outcome::ShowHelp:
        say(options.helpText());
        return Ok;
    case ServerOptions::Outcome::ShowVersion:
        say(QStringLiteral("taptempest-server %1").arg(QCoreApplication::applicationVersion()));
        return Ok;
    case ServerOptions::Outcome::Error:
        complain(options.errorText());
        return Usage;
    case ServerOptions::Outcome::Run:
        break;
    }

    // Declared before everything that writes into the folder, so that it is released last.
    // --add-user runs beside a serving server and so takes no lock, nor do the workers of a
    // --workers server, whose parent holds it.
    DataFolder folder;
    QString error;
    if (!folder.open(options.dataDir, !options.addUser && !options.workerChild, &error)) {
        complain(error);
        return Failure;
    }
    const QString dataDir = folder.path();

    EffectCatalog catalog;
    if (!catalog.loadBuiltIn(&error)) {
        complain(error);
        return Failure;
    }
    GameDatabase database;
    const bool opened = options.databaseUrl.isEmpty()
                            ? database.open(dataDir + QStringLiteral("/server.db"), &error)
                            : database.openUrl(options.databaseUrl, &error);
    if (!opened) {
        complain(error);
        return Failure;
    }
    if (!options.exportTo.isEmpty()) {
        folder.keep();
        return exportTo(database, options.exportTo);
    }
    GameService::Settings settings;
    settings.clickRate = options.clickRate;
    GameService service(database, catalog, settings);

    if (options.addUser) {
        folder.keep();
        return addUser(service, options);
    }

    if (!QSslSocket::supportsSsl()) {
        complain(QStringLiteral("no TLS backend available"));
        return Failure;
    }
    QString certPath = options.certFile;
    QString keyPath = options.keyFile;
    if (certPath.isEmpty() &&
        !CertificateStore::ensureSelfSigned(dataDir, &certPath, &keyPath, &error)) {
        complain(error);
        return Failure;
    }
    QSslConfiguration ssl;
    if (!CertificateStore::load(certPath, keyPath, &ssl, &error)) {
        complain(error);
        return Failure;
    }

    if (options.workers > 1) {
        database.close();
        folder.keep();
        return superviseWorkers(app, options, dataDir, certPath, keyPath);
    }

    ApiHandler handler(service);
    GameServer server(handler);
    server.setReusePort(options.workerChild);
    if (!server.listen(options.bindAddress, options.port, ssl, &error)) {
        complain(error);
        return Failure;
    }

    folder.keep();

    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::stopRequested, &app,
                     [](int) { QCoreApplication::quit(); });

    say(QStringLiteral("certificate: %1").arg(QFileInfo(certPath).absoluteFilePath()));
    say(QStringLiteral("listening on https://%1:%2%3")
            .arg(hostForUrl(options.bindAddress))
            .arg(server.port())
            .arg(QLatin1String(ApiHandler::kEndpointPath)));

    const int status = app.exec();
    server.close();
    database.close();
    say(QStringLiteral("stopped"));
    return status;
}
