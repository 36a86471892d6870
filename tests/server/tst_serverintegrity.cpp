// The reference server keeps every acknowledged click: under concurrent load on one account,
// across a clean restart and across a crash.

#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/referenceserver.h"
#include "support/testenv.h"

#include <QFile>
#include <QJsonObject>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/prctl.h>
#endif
#include <memory>
#include <vector>

namespace {

const char kName[] = "tester";
const char kPassword[] = "many-hands";

// One client sending its batches one after the other, as the game does: the next batch leaves
// when the previous one is acknowledged.
struct Player
{
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<ApiClient> api;
    int batchesLeft = 0;
    qint64 sent = 0;
    qint64 lastTotal = -1;
    bool totalsGrew = true;
    QStringList errors;
};

// How one run of the server binary ended, when it was expected to end by itself.
struct Exit
{
    bool ended = false;
    int code = -1;
    QString errors;
};

Exit runServer(const QStringList &args, const std::function<void()> &inChild = {})
{
    QProcess process;
    process.setProgram(ReferenceServer::binaryPath());
    process.setArguments(args);
    process.setChildProcessModifier([inChild] {
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        if (inChild)
            inChild();
    });
    process.start();
    Exit exit;
    exit.ended = process.waitForFinished(30000);
    if (!exit.ended) {
        process.kill();
        process.waitForFinished();
    }
    exit.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    exit.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return exit;
}

// Runs in the child before exec: even root must meet file permissions there, as any user does.
void obeyFilePermissions()
{
#ifdef Q_OS_LINUX
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    ::prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0);
#endif
}

// Runs in the child before exec: a disk that is full after the first two kilobytes of a file.
void fillDiskEarly()
{
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 2048;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestServerIntegrity : public QObject
{
    Q_OBJECT

private:
    ReferenceServer server;
    QJsonObject session; // the login reply, shared by every client

    std::unique_ptr<ApiClient> newClient(AuthManager *auth)
    {
        server.exportEnvironment();
        auto api = std::make_unique<ApiClient>();
        api->setAuthManager(auth);
        return api;
    }

    QJsonObject fetchStats(ApiClient &api)
    {
        bool done = false;
        QJsonObject result;
        api.fetchStats([&](bool success, const QJsonObject &data, const QString &error) {
            done = true;
            result = success ? data : QJsonObject{{"error", error}};
        });
        (void)QTest::qWaitFor([&] { return done; }, 15000);
        return result;
    }

    static void sendNext(Player &player, int index)
    {
        if (player.batchesLeft == 0)
            return;
        const int count = 1 + (index * 7 + player.batchesLeft * 13) % 61;
        player.api->sendClicks(count, [&player, index, count](bool success, const QJsonObject &data,
                                                              const QString &error) {
            if (!success) {
                player.errors << error;
                player.batchesLeft = 0;
                return;
            }
            player.sent += count;
            const qint64 total = data.value(QStringLiteral("total_clicks")).toInteger();
            player.totalsGrew = player.totalsGrew && total >= player.lastTotal + count;
            player.lastTotal = total;
            --player.batchesLeft;
            sendNext(player, index);
        });
    }

private slots:
    void initTestCase()
    {
        // The test clicks far faster than a person: lift the per-second allowance.
        QVERIFY2(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}),
                 qPrintable(server.errorString()));
        QVERIFY(server.addUser(QString::fromLatin1(kName), QString::fromLatin1(kPassword)));
        server.exportEnvironment();
        ApiClient::configureSsl();

        AuthManager auth;
        const std::unique_ptr<ApiClient> api = newClient(&auth);
        bool done = false;
        api->login(QString::fromLatin1(kName), QString::fromLatin1(kPassword),
                   [&](bool success, const QJsonObject &data, const QString &error) {
                       QVERIFY2(success, qPrintable(error));
                       session = data;
                       done = true;
                   });
        QTRY_VERIFY_WITH_TIMEOUT(done, 15000);
        QVERIFY(!session.value(QStringLiteral("token")).toString().isEmpty());
    }

    void concurrentBatchesAreAllCredited()
    {
        const int kPlayers = 8;
        const int kBatches = 50;
        std::vector<Player> players(kPlayers);
        for (int i = 0; i < kPlayers; ++i) {
            players[i].auth = std::make_unique<AuthManager>();
            players[i].auth->handleLoginResponse(session);
            players[i].api = newClient(players[i].auth.get());
            players[i].batchesLeft = kBatches;
        }
        for (int i = 0; i < kPlayers; ++i)
            sendNext(players[i], i);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(players.begin(), players.end(),
                                             [](const Player &p) { return p.batchesLeft == 0; }),
                                 60000);
        qint64 sent = 0;
        for (const Player &player : players) {
            QVERIFY2(player.errors.isEmpty(), qPrintable(player.errors.join(QLatin1Char('\n'))));
            QVERIFY(player.totalsGrew);
            sent += player.sent;
        }
        QVERIFY(sent > kPlayers * kBatches);

        const ReferenceServer::Account account = server.account(QString::fromLatin1(kName));
        QCOMPARE(account.clicks, sent);
        QCOMPARE(account.lifetimeClicks, sent);
        AuthManager auth;
        auth.handleLoginResponse(session);
        QCOMPARE(fetchStats(*newClient(&auth)).value(QStringLiteral("total_clicks")).toInteger(),
                 sent);
    }

    void aCleanRestartKeepsEverything()
    {
        const ReferenceServer::Account before = server.account(QString::fromLatin1(kName));
        QVERIFY(before.clicks > 0);
        QFile cert(server.caFile());
        QVERIFY(cert.open(QIODevice::ReadOnly));
        const QByteArray certBytes = cert.readAll();
        cert.close();

        server.stop();
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(server.output().contains(QLatin1String("stopped")));
        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        QVERIFY(cert.open(QIODevice::ReadOnly));
        QCOMPARE(cert.readAll(), certBytes); // the client's trust still holds

        // The old session is still good and the figures are those from before.
        AuthManager auth;
        auth.handleLoginResponse(session);
        const QJsonObject stats = fetchStats(*newClient(&auth));
        QCOMPARE(stats.value(QStringLiteral("total_clicks")).toInteger(), before.clicks);

        // SIGINT stops it as cleanly as SIGTERM.
        QVERIFY(::kill(pid_t(server.processId()), SIGINT) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!server.isRunning(), 10000);
        server.stop();
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
    }

    void aCrashRightAfterTheAcknowledgementKeepsTheBatch()
    {
        const qint64 before = server.account(QString::fromLatin1(kName)).clicks;
        AuthManager auth;
        auth.handleLoginResponse(session);
        std::unique_ptr<ApiClient> api = newClient(&auth);
        bool acknowledged = false;
        api->sendClicks(77, [&](bool success, const QJsonObject &, const QString &error) {
            QVERIFY2(success, qPrintable(error));
            server.kill(); // SIGKILL the moment the reply is in
            acknowledged = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(acknowledged, 15000);
        QVERIFY(!server.isRunning());

        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        QCOMPARE(server.account(QString::fromLatin1(kName)).clicks, before + 77);
        api = newClient(&auth);
        QCOMPARE(fetchStats(*api).value(QStringLiteral("total_clicks")).toInteger(), before + 77);
    }

    void aSecondServerOnTheFolderIsRefused()
    {
        ReferenceServer first;
        QVERIFY2(first.start(), qPrintable(first.errorString()));
        QVERIFY(QFileInfo::exists(first.dataDir() + QStringLiteral("/server.lock")));
        // Owner only: read and write.
        QCOMPARE(QFileInfo(first.dataDir() + QStringLiteral("/key.pem")).permissions() &
                     (QFile::Permissions(0x7777) & ~(QFile::ReadUser | QFile::WriteUser)),
                 QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray cert = contents(first.caFile());

        const Exit second =
            runServer({QStringLiteral("--data"), first.dataDir(), QStringLiteral("--port"), "0"});
        QVERIFY(second.ended);
        QCOMPARE(second.code, 1);
        QVERIFY2(
            second.errors.contains(
                QStringLiteral("is in use by another server (process %1 ").arg(first.processId())),
            qPrintable(second.errors));
        // The refused one touched nothing of the running one's.
        QVERIFY(first.isRunning());
        QCOMPARE(contents(first.caFile()), cert);
        QVERIFY(QFileInfo::exists(first.databasePath()));

        // A server killed outright leaves its lock behind; the next one takes it over.
        const qint64 killed = first.processId();
        first.kill();
        QVERIFY(QFileInfo::exists(first.dataDir() + QStringLiteral("/server.lock")));
        QVERIFY2(first.start(), qPrintable(first.errorString()));
        QVERIFY(first.processId() != killed);
        const Exit third =
            runServer({QStringLiteral("--data"), first.dataDir(), QStringLiteral("--port"), "0"});
        QCOMPARE(third.code, 1);
        QVERIFY2(third.errors.contains(QStringLiteral("(process %1 ").arg(first.processId())),
                 qPrintable(third.errors));
        QCOMPARE(contents(first.caFile()), cert);

        // An account can still be added beside the running server.
        QVERIFY(first.addUser(QStringLiteral("beside"), QStringLiteral("pw")));
        first.stop();
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(first.dataDir() + QStringLiteral("/server.lock")));
    }

    void twoServersStartingTogetherOnANewFolder()
    {
        QTemporaryDir base;
        const QString folder = base.filePath(QStringLiteral("shared"));
        std::vector<std::unique_ptr<QProcess>> servers;
        for (int i = 0; i < 2; ++i) {
            auto process = std::make_unique<QProcess>();
            process->setProgram(ReferenceServer::binaryPath());
            process->setArguments(
                {QStringLiteral("--data"), folder, QStringLiteral("--port"), QStringLiteral("0")});
            process->setChildProcessModifier([] {
#ifdef Q_OS_LINUX
                ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
            });
            servers.push_back(std::move(process));
        }
        for (auto &process : servers)
            process->start();
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (auto &process : servers)
                    output += QString::fromLocal8Bit(process->readAllStandardOutput());
                return output.contains(QLatin1String("listening on")) &&
                       (servers[0]->state() == QProcess::NotRunning ||
                        servers[1]->state() == QProcess::NotRunning);
            }(),
            30000);
        const int loser = servers[0]->state() == QProcess::NotRunning ? 0 : 1;
        QCOMPARE(servers[loser]->exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(servers[loser]->readAllStandardError())
                    .contains(QLatin1String("is in use by another server")));
        QCOMPARE(servers[1 - loser]->state(), QProcess::Running);
        QVERIFY(!contents(folder + QStringLiteral("/cert.pem")).isEmpty());
        QVERIFY(!contents(folder + QStringLiteral("/key.pem")).isEmpty());
        servers[1 - loser]->terminate();
        QVERIFY(servers[1 - loser]->waitForFinished(10000));
        QCOMPARE(servers[1 - loser]->exitCode(), 0);
    }

    // The version is the project's. Refusals go through the "taptempest.server" category, which
    // an operator can silence; standard output keeps only what scripts read.
    void commandLineVersionAndMessages()
    {
        QProcess version;
        version.start(ReferenceServer::binaryPath(), {"--version"});
        QVERIFY(version.waitForFinished(30000));
        QCOMPARE(version.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(version.readAllStandardOutput()).trimmed(),
                 QStringLiteral("taptempest-server " TAPTEMPEST_VERSION));

        const Exit refused = runServer({"--port", "http"});
        QCOMPARE(refused.code, 64);
        QVERIFY2(refused.errors.contains("taptempest.server: --port needs a number"),
                 qPrintable(refused.errors));

        QProcess quiet;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_LOGGING_RULES", "taptempest.server.warning=false");
        quiet.setProcessEnvironment(env);
        quiet.start(ReferenceServer::binaryPath(), {"--port", "http"});
        QVERIFY(quiet.waitForFinished(30000));
        QCOMPARE(quiet.exitCode(), 64);
        QCOMPARE(quiet.readAllStandardError(), QByteArray());
        QCOMPARE(quiet.readAllStandardOutput(), QByteArray());
    }

    void startUpSaysWhatIsWrong_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("read-only folder") << "read-only folder";
        QTest::newRow("read-only database file") << "read-only file";
        QTest::newRow("file that is not a database") << "garbage";
        QTest::newRow("disk full on a new folder") << "disk full";
    }

    void startUpSaysWhatIsWrong()
    {
        QFETCH(QString, situation);
        QTemporaryDir base;
        const QString folder = base.filePath(QStringLiteral("data"));
        const QString db = folder + QStringLiteral("/server.db");
        const QStringList args{QStringLiteral("--data"), folder, QStringLiteral("--port"), "0"};
        std::function<void()> inChild = obeyFilePermissions;
        QString expected;
        QByteArray garbage;
        if (situation == "disk full") {
            inChild = fillDiskEarly;
        } else {
            QVERIFY(QDir().mkpath(folder));
        }
        if (situation == "read-only folder") {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            expected = QStringLiteral("the data folder %1 is read-only").arg(folder);
        } else if (situation == "read-only file") {
            const Exit added = runServer(
                {QStringLiteral("--data"), folder, QStringLiteral("--add-user"), "ro", "pw"});
            QCOMPARE(added.code, 0);
            QVERIFY(QFile::setPermissions(db, QFile::ReadOwner));
            expected = QStringLiteral("the database file %1 is read-only").arg(db);
        } else if (situation == "garbage") {
            garbage.resize(8192);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(garbage.data()),
                                                  garbage.size() / 4);
            QFile file(db);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
            file.close();
            expected =
                QStringLiteral("%1 is not an SQLite database; it was left untouched").arg(db);
        } else {
            expected = QStringLiteral("cannot set up %1: ").arg(db);
        }

        const Exit exit = runServer(args, inChild);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(exit.ended);
        QCOMPARE(exit.code, 1);
        QVERIFY2(exit.errors.contains(expected), qPrintable(exit.errors));
        QVERIFY2(!exit.errors.contains(QLatin1String("WAL journal")), qPrintable(exit.errors));

        if (situation == "garbage") {
            QCOMPARE(contents(db), garbage);
            QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList{"server.db"});
        } else if (situation == "disk full") {
            // SQLite's own reason is in the output, and nothing of the failed start is left.
            QVERIFY2(exit.errors.contains(QLatin1String("disk I/O error")) ||
                         exit.errors.contains(QLatin1String("full")),
                     qPrintable(exit.errors));
            QVERIFY2(!QFileInfo::exists(folder),
                     qPrintable(QDir(folder).entryList(QDir::NoDotAndDotDot).join(' ')));
        } else if (situation == "read-only file") {
            QVERIFY(QFileInfo::exists(db));
        }
    }
};

TAPTEMPEST_TEST_MAIN(TestServerIntegrity)
#include "tst_serverintegrity.moc"
