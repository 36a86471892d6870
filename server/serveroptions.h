#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QUrl>

// The command line of taptempest-server.
class ServerOptions
{
public:
    enum class Outcome
    {
        Run,
        ShowHelp,
        ShowVersion,
        Error
    };

    // `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
    Outcome parse(const QStringList &arguments);
    QString errorText() const { return m_error; }
    QString helpText() const { return m_help; }

    // The per-user data folder used without --data.
    static QString defaultDataDir();

    quint16 port = 8443;
    QHostAddress bindAddress = QHostAddress(QHostAddress::LocalHost);
    QString dataDir;
    QString certFile;
    QString keyFile;
    double clickRate = 30.0;
    // Empty: the SQLite file in the data folder.
    QUrl databaseUrl;
    // Serving processes on one port; more than one needs a database server.
    int workers = 1;
    // Set in the processes --workers starts: the parent holds the data folder.
    bool workerChild = false;
    // --export-to: copy the data folder's database there and exit.
    QUrl exportTo;
    bool addUser = false;
    QString newUserName;
    QString newUserPassword;  // "-": read the password from standard input
    qint64 newUserClicks = 0; // starting clicks of the account --add-user adds

private:
    QString m_error;
    QString m_help;
};
