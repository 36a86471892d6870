#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

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
    bool addUser = false;
    QString newUserName;
    QString newUserPassword;  // "-": read the password from standard input
    qint64 newUserClicks = 0; // starting clicks of the account --add-user adds

private:
    QString m_error;
    QString m_help;
};
