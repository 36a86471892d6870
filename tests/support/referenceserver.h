#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QSqlDatabase;

// Runs the built reference game server (taptempest-server) as a child process for a test:
// HTTPS on 127.0.0.1, a free port, its data (server.db, certificate) in a temporary folder that
// lives as long as this object, so that a stop and a start find the same accounts.
//
//     ReferenceServer server;
//     QVERIFY2(server.start(), qPrintable(server.errorString()));
//     QVERIFY(server.addUser("alice", "secret"));
//     server.exportEnvironment();   // ApiClients made from now on talk to it and trust its cert
//     ApiClient::configureSsl();
//
// The server dies with the test process, also when the test crashes.
class ReferenceServer : public QObject
{
    Q_OBJECT

public:
    explicit ReferenceServer(QObject *parent = nullptr);
    ~ReferenceServer() override; // stops a running server

    // Keeps the game in this PostgreSQL database instead of the data folder's SQLite file
    // (--database), for the server, --add-user and the figures read back. Before start().
    void setDatabaseUrl(const QString &url) { m_databaseUrl = url; }
    QString databaseUrl() const { return m_databaseUrl; }

    // The server binary in the build tree.
    static QString binaryPath();

    // Starts the server on a free port (unless extraArgs holds --port) with --data dataDir(),
    // and waits until it listens. Extra arguments go on its command line, e.g.
    // {"--click-rate", "0"} to lift the anti-cheat limit. False, with errorString(), when it does
    // not come up within 30 s.
    bool start(const QStringList &extraArgs = {});
    // Stops and starts again with the same arguments, data and port.
    bool restart();
    // SIGTERM, then waits for the exit (SIGKILL after 10 s). exitCode() tells how it ended.
    void stop();
    // SIGKILL: no chance to clean up, as in a crash or power cut of the process.
    void kill();
    bool isRunning() const;
    // Process id of the running server, 0 when none runs.
    qint64 processId() const;
    // Exit status of the last stop(): 0 after a clean shutdown; -1 when it crashed or was killed.
    int exitCode() const { return m_exitCode; }

    // Endpoint URL, "https://127.0.0.1:<port>/api/index.php"; empty when not running.
    QString url() const { return m_url; }
    quint16 port() const { return m_port; }
    // PEM certificate the server presents; trust it as the only CA.
    QString caFile() const { return m_caFile; }
    QString dataDir() const;
    QString databasePath() const;
    QString errorString() const { return m_error; }
    // Everything the server printed on standard output so far.
    QString output() const { return m_output; }

    // Runs "taptempest-server --add-user"; works whether or not the server is running.
    // False when the account exists already or the name or password is refused.
    bool addUser(const QString &name, const QString &password, qint64 clicks = 0);

    // Sets TAPTEMPEST_SERVER_URL and TAPTEMPEST_CA_FILE, read by ApiClient and
    // ApiClient::configureSsl().
    void exportEnvironment() const;

    // An account's figures straight from the database file, bypassing the server.
    struct Account
    {
        bool found = false;
        qint64 id = 0;
        qint64 clicks = 0; // spendable
        qint64 lifetimeClicks = 0;
        qint64 gold = 0;
        qint64 bankBalance = 0;
        QList<int> ownedEffects; // effect ids, ascending
        int sessions = 0;        // tokens issued and not yet expired
    };
    Account account(const QString &username) const;
    // Makes every session token of the account expired, as if 30 days had passed.
    bool expireSessions(const QString &username);

private:
    bool waitForListening(int timeoutMs);
    // Runs `body` on a private connection to the server's store.
    bool withStore(const std::function<bool(QSqlDatabase &)> &body) const;

    std::unique_ptr<QTemporaryDir> m_dataDir;
    std::unique_ptr<QProcess> m_process;
    QStringList m_extraArgs;
    QString m_databaseUrl;
    QString m_url;
    QString m_caFile;
    QString m_error;
    QString m_output;
    quint16 m_port = 0;
    int m_exitCode = 0;
};
