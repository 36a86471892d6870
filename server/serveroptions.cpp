#include "serveroptions.h"

#include <QCommandLineParser>
#include <QStandardPaths>

#include "gamedatabase.h"

#include <cmath>

QString ServerOptions::defaultDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

ServerOptions::Outcome ServerOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference game server of TapTempest: HTTPS on /api/index.php."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("TCP port; 0 picks a free one (default 8443)."),
        QStringLiteral("N"), QStringLiteral("8443"));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption dataOption(
        QStringLiteral("data"),
        QStringLiteral("Folder of server.db and the generated certificate (default %1).")
            .arg(defaultDataDir()),
        QStringLiteral("DIR"));
    const QCommandLineOption certOption(
        QStringLiteral("cert"), QStringLiteral("PEM certificate (chain) to serve, with --key."),
        QStringLiteral("FILE"));
    const QCommandLineOption keyOption(QStringLiteral("key"),
                                       QStringLiteral("Unencrypted PEM private key, with --cert."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption addUserOption(
        QStringLiteral("add-user"),
        QStringLiteral("Add the account NAME with the password given as the next argument "
                       "(\"-\" reads it from standard input) and exit. Exit status 2 when the "
                       "account exists already (it is left unchanged)."),
        QStringLiteral("NAME"));
    const QCommandLineOption clickRateOption(
        QStringLiteral("click-rate"),
        QStringLiteral("Anti-cheat allowance: clicks credited per second since an account's "
                       "previous batch (default 30; 0 lifts the per-second limit)."),
        QStringLiteral("N"), QStringLiteral("30"));
    const QCommandLineOption clicksOption(
        QStringLiteral("clicks"),
        QStringLiteral("With --add-user: the new account starts with N clicks to spend (default "
                       "0). An existing account is not topped up."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption databaseOption(
        QStringLiteral("database"),
        QStringLiteral("Keep the game in a PostgreSQL database instead of the data folder's "
                       "SQLite file: postgresql://user@host:port/database. The password comes "
                       "from PGPASSWORD or ~/.pgpass, or from a URL given in the environment "
                       "variable TAPTEMPEST_DATABASE_URL instead of this option."),
        QStringLiteral("URL"));
    const QCommandLineOption workersOption(
        QStringLiteral("workers"),
        QStringLiteral("Serve with N processes on one port (SO_REUSEPORT); needs --database "
                       "(default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    QCommandLineOption workerChildOption(QStringLiteral("worker-of-pool"));
    workerChildOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption exportOption(
        QStringLiteral("export-to"),
        QStringLiteral("Copy the data folder's accounts, sessions, effects and stored replies "
                       "into the empty PostgreSQL database URL, then exit."),
        QStringLiteral("URL"));
    parser.addOptions({portOption, bindOption, dataOption, certOption, keyOption, addUserOption,
                       clicksOption, clickRateOption, databaseOption, workersOption,
                       workerChildOption, exportOption});
    parser.addPositionalArgument(QStringLiteral("PASSWORD"),
                                 QStringLiteral("Password of the account --add-user adds."),
                                 QStringLiteral("[PASSWORD]"));
    m_help = parser.helpText();

    if (!parser.parse(arguments)) {
        m_error = parser.errorText();
        return Outcome::Error;
    }
    if (parser.isSet(helpOption))
        return Outcome::ShowHelp;
    if (parser.isSet(versionOption))
        return Outcome::ShowVersion;

    bool ok = false;
    const uint portValue = parser.value(portOption).toUInt(&ok);
    if (!ok || portValue > 65535) {
        m_error = QStringLiteral("--port needs a number from 0 to 65535");
        return Outcome::Error;
    }
    port = quint16(portValue);

    if (!bindAddress.setAddress(parser.value(bindOption))) {
        m_error =
            QStringLiteral("--bind needs an IP address, not \"%1\"").arg(parser.value(bindOption));
        return Outcome::Error;
    }

    dataDir = parser.isSet(dataOption) ? parser.value(dataOption) : defaultDataDir();
    if (dataDir.isEmpty()) {
        m_error = QStringLiteral("no data folder: pass --data DIR");
        return Outcome::Error;
    }

    certFile = parser.value(certOption);
    keyFile = parser.value(keyOption);
    if (certFile.isEmpty() != keyFile.isEmpty()) {
        m_error = QStringLiteral("--cert and --key go together");
        return Outcome::Error;
    }

    clickRate = parser.value(clickRateOption).toDouble(&ok);
    if (!ok || !std::isfinite(clickRate) || clickRate < 0) {
        m_error = QStringLiteral("--click-rate needs a number of at least 0");
        return Outcome::Error;
    }

    // A command line is readable by every user of the machine.
    const auto readUrl = [&](const QCommandLineOption &option, QUrl *url) {
        *url = QUrl(parser.value(option), QUrl::StrictMode);
        if (!url->isValid() || !GameDatabase::isDatabaseUrl(parser.value(option))) {
            m_error = QStringLiteral("--%1 needs a URL such as "
                                     "postgresql://user@host:5432/taptempest")
                          .arg(option.names().first());
            return false;
        }
        if (!url->password().isEmpty()) {
            m_error = QStringLiteral("a password in --%1 would be visible to every user of "
                                     "this machine; put it in PGPASSWORD or ~/.pgpass, or the "
                                     "whole URL in TAPTEMPEST_DATABASE_URL")
                          .arg(option.names().first());
            return false;
        }
        return true;
    };
    if (parser.isSet(databaseOption)) {
        if (!readUrl(databaseOption, &this->databaseUrl))
            return Outcome::Error;
    } else if (!qEnvironmentVariableIsEmpty("TAPTEMPEST_DATABASE_URL")) {
        this->databaseUrl = QUrl(qEnvironmentVariable("TAPTEMPEST_DATABASE_URL"));
        if (!GameDatabase::isDatabaseUrl(this->databaseUrl.toString())) {
            m_error = QStringLiteral("TAPTEMPEST_DATABASE_URL is not a postgresql:// URL");
            return Outcome::Error;
        }
    }
    if (parser.isSet(exportOption)) {
        if (!readUrl(exportOption, &exportTo))
            return Outcome::Error;
        if (!this->databaseUrl.isEmpty()) {
            m_error = QStringLiteral("--export-to copies the data folder's SQLite file; leave "
                                     "out --database");
            return Outcome::Error;
        }
    }
    workers = parser.value(workersOption).toInt(&ok);
    if (!ok || workers < 1 || workers > 256) {
        m_error = QStringLiteral("--workers needs a number from 1 to 256");
        return Outcome::Error;
    }
    if (workers > 1 && this->databaseUrl.isEmpty()) {
        m_error = QStringLiteral("--workers needs --database: an SQLite data folder is served "
                                 "by one process");
        return Outcome::Error;
    }
    workerChild = parser.isSet(workerChildOption);

    const QStringList positional = parser.positionalArguments();
    addUser = parser.isSet(addUserOption);
    if (addUser) {
        if (positional.size() != 1) {
            m_error = QStringLiteral("--add-user needs a name and a password");
            return Outcome::Error;
        }
        newUserName = parser.value(addUserOption);
        newUserPassword = positional.first();
        newUserClicks = parser.value(clicksOption).toLongLong(&ok);
        if (!ok || newUserClicks < 0) {
            m_error = QStringLiteral("--clicks needs a whole number of at least 0");
            return Outcome::Error;
        }
    } else if (parser.isSet(clicksOption)) {
        m_error = QStringLiteral("--clicks goes with --add-user");
        return Outcome::Error;
    } else if (!positional.isEmpty()) {
        m_error = QStringLiteral("unexpected argument \"%1\"").arg(positional.first());
        return Outcome::Error;
    }
    return Outcome::Run;
}
