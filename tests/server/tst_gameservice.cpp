// The game rules of the reference server, driven in-process with a controlled clock, on a real
// database file or, in the PostgreSQL variant, on a fresh database of the test cluster.

#include "scratchdatabase.h"
#include "server/effectcatalog.h"
#include "server/gamedatabase.h"
#include "server/gameservice.h"
#include "server/passwordhasher.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {
const qint64 kStart = 1700000000000; // a fixed "now" for the clock
const qint64 kDay = 24LL * 60 * 60 * 1000;
} // namespace

class TestGameService : public QObject
{
    Q_OBJECT

private:
    void makeService(GameService::Settings settings = GameService::Settings())
    {
        settings.passwordCost = PasswordHasher::kCheapestCost; // the cost is not under test
        service = std::make_unique<GameService>(*db, catalog, settings, [this] { return now; });
    }

    qint64 addAndLogin(const QString &name, const QString &password = QStringLiteral("pw"))
    {
        if (service->addUser(name, password) != GameService::AddUserResult::Added)
            return 0;
        const ServiceResult login = service->login(name, password);
        return service->userForToken(login.data.value(QStringLiteral("token")).toString());
    }

    // Credits `count` clicks, waiting on the clock long enough for the anti-cheat allowance.
    void earnClicks(qint64 user, qint64 count)
    {
        now += count * 1000 / 30 + 1000;
        const ServiceResult result = service->click(user, count);
        QCOMPARE(result.status, ServiceResult::Status::Ok);
        QCOMPARE(result.data.value(QStringLiteral("credited")).toInteger(), count);
    }

    QJsonObject stats(qint64 user)
    {
        const ServiceResult result = service->stats(user);
        if (result.status != ServiceResult::Status::Ok)
            return QJsonObject();
        return result.data;
    }

    // Opens the store under test: the file in `dir`, or the scratch database.
    bool openStore(GameDatabase &database, QString *error)
    {
        if (scratch)
            return database.openUrl(scratch->url(), error);
        return database.open(dir->filePath(QStringLiteral("server.db")), error);
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScratchDatabase> scratch;
    std::unique_ptr<GameDatabase> db;
    EffectCatalog catalog;
    std::unique_ptr<GameService> service;
    qint64 now = kStart;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(catalog.loadBuiltIn(&error), qPrintable(error));
    }

    void init()
    {
        now = kStart;
        dir = std::make_unique<QTemporaryDir>();
        QString error;
        if (ScratchDatabase::wanted()) {
            if (!ScratchDatabase::unavailableReason().isEmpty())
                QSKIP(ScratchDatabase::skipMessage().constData());
            scratch = std::make_unique<ScratchDatabase>();
            QVERIFY2(scratch->create(&error), qPrintable(error));
        }
        db = std::make_unique<GameDatabase>();
        QVERIFY2(openStore(*db, &error), qPrintable(error));
        makeService();
    }

    void cleanup()
    {
        service.reset();
        db.reset();
        scratch.reset();
        dir.reset();
    }

    void accountNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one letter") << QStringLiteral("a") << true;
        QTest::newRow("32 Chinese characters") << QString(32, QChar(0x73A9)) << true;
        QTest::newRow("33 characters") << QString(33, QLatin1Char('x')) << false;
        QTest::newRow("32 characters beyond the BMP")
            << QString::fromUcs4(std::u32string(32, U'\U0001F600').c_str()) << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("leading blank") << QStringLiteral(" bob") << false;
        QTest::newRow("trailing blank") << QStringLiteral("bob ") << false;
        QTest::newRow("inner blank") << QStringLiteral("bob smith") << true;
        QTest::newRow("newline") << QStringLiteral("bob\nadmin") << false;
        QTest::newRow("NUL") << QStringLiteral("bob") + QChar(0) << false;
    }

    void accountNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QCOMPARE(service->addUser(name, QStringLiteral("pw")) == GameService::AddUserResult::Added,
                 accepted);
        QCOMPARE(service->login(name, QStringLiteral("pw")).status == ServiceResult::Status::Ok,
                 accepted);
    }

    void addingAnExistingNameChangesNothing()
    {
        QCOMPARE(service->addUser(QStringLiteral("bob"), QStringLiteral("first")),
                 GameService::AddUserResult::Added);
        QCOMPARE(service->addUser(QStringLiteral("bob"), QStringLiteral("second")),
                 GameService::AddUserResult::Exists);
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("first")).status,
                 ServiceResult::Status::Ok);
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("second")).status,
                 ServiceResult::Status::Refused);
        QCOMPARE(service->addUser(QStringLiteral("carol"), QString()),
                 GameService::AddUserResult::InvalidPassword);
    }

    void startingClicksOnlyForANewAccount()
    {
        QCOMPARE(service->addUser(QStringLiteral("demo"), QStringLiteral("pw"), 20000),
                 GameService::AddUserResult::Added);
        const ServiceResult login = service->login(QStringLiteral("demo"), QStringLiteral("pw"));
        QCOMPARE(login.status, ServiceResult::Status::Ok);
        const qint64 user =
            service->userForToken(login.data.value(QStringLiteral("token")).toString());
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), 20000);

        // Enough to buy: the balance is real clicks to spend.
        QCOMPARE(service->exchange(user, 5000).status, ServiceResult::Status::Ok);
        QCOMPARE(stats(user).value(QStringLiteral("gold")).toInteger(), 50);
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), 15000);

        // Adding it again tops nothing up.
        QCOMPARE(service->addUser(QStringLiteral("demo"), QStringLiteral("pw"), 20000),
                 GameService::AddUserResult::Exists);
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), 15000);
        QCOMPARE(service->addUser(QStringLiteral("debt"), QStringLiteral("pw"), -1),
                 GameService::AddUserResult::Failed);
        QCOMPARE(service->login(QStringLiteral("debt"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Refused);
    }

    void passwordsAreStoredAsSaltedHashes()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("hunter2-secret"));
        service->addUser(QStringLiteral("eve"), QStringLiteral("hunter2-secret"));
        QSqlQuery query(db->connection());
        QVERIFY(query.exec(QStringLiteral("SELECT password_hash FROM users ORDER BY username")));
        QStringList hashes;
        while (query.next())
            hashes << query.value(0).toString();
        QCOMPARE(hashes.size(), 2);
        for (const QString &hash : hashes) {
            QVERIFY(!hash.contains(QLatin1String("hunter2")));
            // New hashes are Argon2id with the configured cost (8 KiB, one pass here).
            QVERIFY2(hash.startsWith(QLatin1String("$argon2id$v=19$m=8,t=1,p=1$")),
                     qPrintable(hash));
        }
        QVERIFY(hashes.at(0) != hashes.at(1)); // same password, different salt
    }

    void loginIssuesIndependentSessions()
    {
        QCOMPARE(service->addUser(QStringLiteral("bob"), QStringLiteral("pw")),
                 GameService::AddUserResult::Added);
        const ServiceResult first = service->login(QStringLiteral("bob"), QStringLiteral("pw"));
        const ServiceResult second = service->login(QStringLiteral("bob"), QStringLiteral("pw"));
        QCOMPARE(first.status, ServiceResult::Status::Ok);
        const QString token1 = first.data.value(QStringLiteral("token")).toString();
        const QString token2 = second.data.value(QStringLiteral("token")).toString();
        QCOMPARE(token1.size(), 64); // 256 random bits in hex
        QVERIFY(token1 != token2);
        const qint64 user = service->userForToken(token1);
        QVERIFY(user > 0);
        QCOMPARE(service->userForToken(token2), user);
        QCOMPARE(first.data.value(QStringLiteral("user_id")).toString(), QString::number(user));
        QCOMPARE(first.data.value(QStringLiteral("username")).toString(), QStringLiteral("bob"));
        QCOMPARE(service->userForToken(token1.left(63) + QLatin1Char('0')) == user,
                 token1.endsWith(QLatin1Char('0')));
        QCOMPARE(service->userForToken(QString()), 0);
        // Tokens are stored hashed: the database alone does not open a session.
        QSqlQuery query(db->connection());
        QVERIFY(query.exec(QStringLiteral("SELECT token_hash FROM sessions")));
        while (query.next())
            QVERIFY(query.value(0).toString() != token1 && query.value(0).toString() != token2);
    }

    void sessionsLastThirtyDays()
    {
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        QVERIFY(user > 0);
        const QString token = service->login(QStringLiteral("bob"), QStringLiteral("pw"))
                                  .data.value("token")
                                  .toString();
        now += 30 * kDay - 1;
        QCOMPARE(service->userForToken(token), user);
        now += 1;
        QCOMPARE(service->userForToken(token), 0);
    }

    void wrongCredentialsGiveOneAnswer()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        const ServiceResult wrongPassword =
            service->login(QStringLiteral("bob"), QStringLiteral("x"));
        const ServiceResult unknownName =
            service->login(QStringLiteral("nobody"), QStringLiteral("pw"));
        const ServiceResult otherCase = service->login(QStringLiteral("BOB"), QStringLiteral("pw"));
        for (const ServiceResult &result : {wrongPassword, unknownName, otherCase}) {
            QCOMPARE(result.status, ServiceResult::Status::Refused);
            QCOMPARE(result.message, QStringLiteral("用户名或密码错误"));
            QVERIFY(result.data.isEmpty());
        }
    }

    void repeatedFailuresLockTheNameForAMinute()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        service->addUser(QStringLiteral("amy"), QStringLiteral("pw"));
        for (int i = 0; i < 5; ++i) {
            now += 1000;
            QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("guess")).message,
                     QStringLiteral("用户名或密码错误"));
        }
        // Sixth try within the minute: refused without looking at the password.
        now += 1000;
        const ServiceResult locked = service->login(QStringLiteral("bob"), QStringLiteral("pw"));
        QCOMPARE(locked.status, ServiceResult::Status::Refused);
        QVERIFY2(locked.message.contains(QStringLiteral("次数过多")), qPrintable(locked.message));
        QVERIFY2(locked.message.contains(QStringLiteral("59 秒")), qPrintable(locked.message));
        // Other names are not affected.
        QCOMPARE(service->login(QStringLiteral("amy"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Ok);
        now += 58000;
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Refused);
        now += 1000;
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Ok);
    }

    void failuresSpreadOverMoreThanAMinuteDoNotLock()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        for (int i = 0; i < 8; ++i) {
            now += 15000; // four failures per minute at most
            service->login(QStringLiteral("bob"), QStringLiteral("guess"));
        }
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Ok);
        // A success clears the count.
        for (int i = 0; i < 4; ++i)
            service->login(QStringLiteral("bob"), QStringLiteral("guess"));
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Ok);
        for (int i = 0; i < 4; ++i)
            service->login(QStringLiteral("bob"), QStringLiteral("guess"));
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw")).status,
                 ServiceResult::Status::Ok);
    }

    void guessesCountPerAddressAndLooselyPerName()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        const QString stranger = QStringLiteral("203.0.113.7");
        const QString owner = QStringLiteral("198.51.100.2");
        for (int i = 0; i < 5; ++i)
            service->login(QStringLiteral("bob"), QStringLiteral("guess"), stranger);
        const ServiceResult locked =
            service->login(QStringLiteral("bob"), QStringLiteral("pw"), stranger);
        QVERIFY2(locked.message.contains(QStringLiteral("次数过多")), qPrintable(locked.message));
        // The owner, elsewhere, is not kept out by the stranger's guesses.
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw"), owner).status,
                 ServiceResult::Status::Ok);

        // Guesses spread over many addresses, four each, lock the name for everyone at 20.
        now += 61000;
        for (int i = 0; i < 20; ++i) {
            const QString address = QStringLiteral("192.0.2.%1").arg(i / 4);
            QCOMPARE(
                service->login(QStringLiteral("bob"), QStringLiteral("guess"), address).message,
                QStringLiteral("用户名或密码错误"));
        }
        const ServiceResult everyone =
            service->login(QStringLiteral("bob"), QStringLiteral("pw"), owner);
        QVERIFY2(everyone.message.contains(QStringLiteral("60 秒")), qPrintable(everyone.message));
        now += 60000;
        QCOMPARE(service->login(QStringLiteral("bob"), QStringLiteral("pw"), owner).status,
                 ServiceResult::Status::Ok);
    }

    void theThrottleHoldsForEveryServerOnTheStore()
    {
        // A second server on the same store, as a second process would be.
        GameDatabase otherDb(QStringLiteral("second-server"));
        QString error;
        QVERIFY2(openStore(otherDb, &error), qPrintable(error));
        GameService::Settings settings;
        settings.passwordCost = PasswordHasher::kCheapestCost;
        GameService other(otherDb, catalog, settings, [this] { return now; });
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        const QString address = QStringLiteral("203.0.113.9");
        for (int i = 0; i < 5; ++i) {
            GameService &target = i % 2 ? other : *service;
            QCOMPARE(target.login(QStringLiteral("bob"), QStringLiteral("guess"), address).message,
                     QStringLiteral("用户名或密码错误"));
        }
        for (GameService *target : {service.get(), &other}) {
            const ServiceResult locked =
                target->login(QStringLiteral("bob"), QStringLiteral("pw"), address);
            QVERIFY2(locked.message.contains(QStringLiteral("次数过多")),
                     qPrintable(locked.message));
        }
        // A restart forgets nothing now.
        service.reset();
        makeService();
        QVERIFY(service->login(QStringLiteral("bob"), QStringLiteral("pw"), address)
                    .message.contains(QStringLiteral("次数过多")));
        now += 60000;
        QCOMPARE(other.login(QStringLiteral("bob"), QStringLiteral("pw"), address).status,
                 ServiceResult::Status::Ok);
    }

    void aLostDatabaseConnectionFailsOnceAndReconnects()
    {
        if (!scratch)
            QSKIP("a database server connection");
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        earnClicks(user, 10);
        QString error;
        QVERIFY2(scratch->dropConnections(&error), qPrintable(error));
        // The batch in flight is refused, not reported as done; the loss is told once.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^storage failure while .*")));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^lost the connection to the "
                                                               "database .*")));
        now += 10000;
        QCOMPARE(service->click(user, 5).status, ServiceResult::Status::Failed);
        // The next request reconnects and is served.
        now += 10000;
        const ServiceResult again = service->click(user, 5);
        QCOMPARE(again.status, ServiceResult::Status::Ok);
        QCOMPARE(again.data.value(QStringLiteral("total_clicks")).toInteger(), 15);
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), 15);
    }

    void aFullLoginQueueAnswersBusyAtOnce()
    {
        GameService::Settings settings;
        settings.maxWaitingLogins = 3;
        settings.passwordThreads = 1;
        // Checks slow enough that the busy answers cannot come after them.
        settings.passwordCost = {4, 32 * 1024 * 1024};
        service = std::make_unique<GameService>(*db, catalog, settings, [this] { return now; });
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        service->addUser(QStringLiteral("amy"), QStringLiteral("pw"));
        QStringList answers;
        const auto record = [&answers](const ServiceResult &result) {
            answers << (result.status == ServiceResult::Status::Ok ? QStringLiteral("ok")
                                                                   : result.message);
        };
        // Three wait (two names), the two past the limit are refused without a check.
        for (const char *name : {"bob", "amy", "bob", "amy", "bob"})
            service->loginAsync(QString::fromLatin1(name), QStringLiteral("pw"), record);
        QTRY_COMPARE(answers.size(), 5);
        QCOMPARE(answers.count(QStringLiteral("ok")), 3);
        QCOMPARE(answers.count(QStringLiteral("服务器繁忙，请稍后再试")), 2);
        // The busy ones came first: nothing had to be checked for them.
        QCOMPARE(answers.mid(0, 2), QStringList(2, QStringLiteral("服务器繁忙，请稍后再试")));
        // Once the queue is short again, logins are taken again, and busy refusals were no
        // guesses for the throttle.
        answers.clear();
        for (int i = 0; i < 3; ++i)
            service->loginAsync(QStringLiteral("bob"), QStringLiteral("pw"), record);
        QTRY_COMPARE(answers.size(), 3);
        QCOMPARE(answers, QStringList(3, QStringLiteral("ok")));
    }

    void clickAllowanceFollowsWallTime()
    {
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        QVERIFY(user > 0);
        struct Step
        {
            qint64 waitMs;
            qint64 count;
            qint64 credited;
        };
        const Step steps[] = {
            {10000, 1000, 300},       // 30 a second since the account was made
            {0, 50, 20},              // at once: the floor of one batch
            {0, 15, 15},              // under the floor: all of it
            {2500, 100, 75},          // 2.5 s
            {100, 7, 7},              // small batches pass
            {kDay, 10000000, 100000}, // a day offline: the ceiling of one batch
            {1000, 30, 30},
        };
        qint64 total = 0;
        for (const Step &step : steps) {
            now += step.waitMs;
            const ServiceResult result = service->click(user, step.count);
            QCOMPARE(result.status, ServiceResult::Status::Ok);
            total += step.credited;
            QCOMPARE(result.data.value(QStringLiteral("credited")).toInteger(), step.credited);
            QCOMPARE(result.data.value(QStringLiteral("total_clicks")).toInteger(), total);
            QCOMPARE(result.data.value(QStringLiteral("gold")).toInteger(), 0);
        }
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), total);
        QCOMPARE(stats(user).value(QStringLiteral("lifetime_clicks")).toInteger(), total);
    }

    void clickRateZeroLiftsThePerSecondLimit()
    {
        GameService::Settings settings;
        settings.clickRate = 0;
        makeService(settings);
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        QCOMPARE(service->click(user, 5000).data.value(QStringLiteral("credited")).toInteger(),
                 5000);
        QCOMPARE(service->click(user, 5000).data.value(QStringLiteral("credited")).toInteger(),
                 5000);
        QCOMPARE(service->click(user, 200000).data.value(QStringLiteral("credited")).toInteger(),
                 100000);
    }

    void resentBatchesAreCreditedOnce()
    {
        GameService::Settings settings;
        settings.clickRate = 0;
        makeService(settings);
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        auto credit = [&](qint64 count, const QString &sync, qint64 total) {
            const ServiceResult r = service->click(user, count, sync, total);
            return r.status == ServiceResult::Status::Ok
                       ? r.data.value(QStringLiteral("credited")).toInteger()
                       : -1;
        };
        // 20 credited, the reply lost; the client resends them with one more click.
        QCOMPARE(credit(20, "s1", 20), 20);
        QCOMPARE(credit(21, "s1", 21), 1);
        // The very same batch again brings nothing.
        QCOMPARE(credit(21, "s1", 21), 0);
        // A final batch overtaking the one in flight: it credits both, the late one nothing.
        QCOMPARE(credit(4, "s1", 45), 24);
        QCOMPARE(credit(20, "s1", 41), 0);
        // Another window of the same player is a sync session of its own.
        QCOMPARE(credit(5, "s2", 5), 5);
        // Without sync members every batch counts.
        QCOMPARE(credit(3, QString(), 0), 3);
        QCOMPARE(credit(3, QString(), 0), 3);
        QCOMPARE(stats(user).value(QStringLiteral("lifetime_clicks")).toInteger(), 56);
        QCOMPARE(credit(3, "s3", 0), -1);
    }

    void nonPositiveClickCountsAreRefused()
    {
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        now += 60000;
        for (const qint64 count : {qint64(0), qint64(-5)}) {
            const ServiceResult result = service->click(user, count);
            QCOMPARE(result.status, ServiceResult::Status::Refused);
            QVERIFY(!result.message.isEmpty());
        }
        // A refused batch does not use up the allowance earned so far.
        QCOMPARE(service->click(user, 1800).data.value(QStringLiteral("credited")).toInteger(),
                 1800);
    }

    void rankingNeverListsMoreThan200()
    {
        GameService::Settings settings;
        settings.passwordCost = PasswordHasher::kCheapestCost;
        makeService(settings);
        for (int i = 0; i < 205; ++i)
            QCOMPARE(service->addUser(QStringLiteral("p%1").arg(i), QStringLiteral("pw")),
                     GameService::AddUserResult::Added);
        QCOMPARE(service->ranking(1000).data.value(QStringLiteral("rankings")).toArray().size(),
                 200);
        QCOMPARE(service->ranking(150).data.value(QStringLiteral("rankings")).toArray().size(),
                 150);
    }

    void aDeletedAccountEndsItsSessions()
    {
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        const QString token = service->login(QStringLiteral("bob"), QStringLiteral("pw"))
                                  .data.value("token")
                                  .toString();
        QSqlQuery query(db->connection());
        QVERIFY(query.exec(QStringLiteral("DELETE FROM users WHERE username = 'bob'")));
        QCOMPARE(service->userForToken(token), 0);
        QCOMPARE(service->click(user, 5).status, ServiceResult::Status::Unauthorized);
        QCOMPARE(service->stats(user).status, ServiceResult::Status::Unauthorized);
    }

    void passwordHashesRejectTampering()
    {
        const QString hash = PasswordHasher::pbkdf2Hash(QStringLiteral("pässwörd"), 500);
        QVERIFY(PasswordHasher::verify(QStringLiteral("pässwörd"), hash));
        QVERIFY(!PasswordHasher::verify(QStringLiteral("passwörd"), hash));
        QVERIFY(!PasswordHasher::verify(QString(), hash));
        const QStringList parts = hash.split(QLatin1Char('$'));
        QCOMPARE(parts.size(), 4);
        QStringList otherCount = parts;
        otherCount[1] = QStringLiteral("501");
        const QStringList tampered = {
            otherCount.join(QLatin1Char('$')),
            QStringList(parts.mid(0, 3)).join(QLatin1Char('$')),
            QString(hash).replace(QStringLiteral("sha256"), QStringLiteral("sha1")),
            hash + QStringLiteral("$x"),
            QString(),
            QStringLiteral("pbkdf2-sha256$0$%1$%2").arg(parts.at(2), parts.at(3)),
        };
        for (const QString &bad : tampered)
            QVERIFY2(!PasswordHasher::verify(QStringLiteral("pässwörd"), bad), qPrintable(bad));

        QElapsedTimer timer;
        timer.start();
        PasswordHasher::verify(QStringLiteral("x"), PasswordHasher::hash(QStringLiteral("x")));
        qInfo("default password hash and check: %lld ms", timer.elapsed());
    }

    void argon2HashesRejectTampering()
    {
        const QString hash =
            PasswordHasher::hash(QStringLiteral("pässwörd"), PasswordHasher::kCheapestCost);
        QVERIFY2(hash.startsWith(QLatin1String("$argon2id$")), qPrintable(hash));
        QVERIFY(PasswordHasher::verify(QStringLiteral("pässwörd"), hash));
        QVERIFY(!PasswordHasher::verify(QStringLiteral("passwörd"), hash));
        QVERIFY(!PasswordHasher::verify(QString(), hash));
        QString flipped = hash;
        flipped[flipped.size() - 2] = flipped.at(flipped.size() - 2) == QLatin1Char('A')
                                          ? QLatin1Char('B')
                                          : QLatin1Char('A');
        // A damaged row asking for a huge cost is refused instead of stalling the server.
        QString huge = hash;
        huge.replace(QStringLiteral("m=8,"), QStringLiteral("m=99999999,"));
        for (const QString &bad : {flipped, huge, hash.left(hash.size() - 10), hash + "x"})
            QVERIFY2(!PasswordHasher::verify(QStringLiteral("pässwörd"), bad), qPrintable(bad));

        QVERIFY(!PasswordHasher::needsRehash(hash, PasswordHasher::kCheapestCost));
        QVERIFY(PasswordHasher::needsRehash(hash, PasswordHasher::kDefaultCost));
        QVERIFY(PasswordHasher::needsRehash(PasswordHasher::pbkdf2Hash(QStringLiteral("x"), 10),
                                            PasswordHasher::kCheapestCost));
    }

    void oldPbkdf2AccountsAreUpgradedAtLogin()
    {
        QCOMPARE(service->addUser(QStringLiteral("old"), QStringLiteral("placeholder")),
                 GameService::AddUserResult::Added);
        const QString oldHash = PasswordHasher::pbkdf2Hash(QStringLiteral("timer"), 1000);
        const auto storedHash = [this] {
            QSqlQuery query(db->connection());
            query.exec(QStringLiteral("SELECT password_hash FROM users WHERE username = 'old'"));
            return query.next() ? query.value(0).toString() : QString();
        };
        {
            QSqlQuery query(db->connection());
            query.prepare(QStringLiteral("UPDATE users SET password_hash = ? WHERE username = ?"));
            query.addBindValue(oldHash);
            query.addBindValue(QStringLiteral("old"));
            QVERIFY(query.exec());
        }
        // A wrong password upgrades nothing.
        QCOMPARE(service->login(QStringLiteral("old"), QStringLiteral("timex")).status,
                 ServiceResult::Status::Refused);
        QCOMPARE(storedHash(), oldHash);

        QCOMPARE(service->login(QStringLiteral("old"), QStringLiteral("timer")).status,
                 ServiceResult::Status::Ok);
        const QString upgraded = storedHash();
        QVERIFY2(upgraded.startsWith(QLatin1String("$argon2id$")), qPrintable(upgraded));
        QVERIFY(!upgraded.contains(QLatin1String("timer")));
        // The new hash carries the account from now on, and is not replaced again.
        QCOMPARE(service->login(QStringLiteral("old"), QStringLiteral("timer")).status,
                 ServiceResult::Status::Ok);
        QCOMPARE(storedHash(), upgraded);
        QCOMPARE(service->login(QStringLiteral("old"), QStringLiteral("timex")).status,
                 ServiceResult::Status::Refused);
    }

    void loginsInFlightStillCountTowardsTheLock()
    {
        service->addUser(QStringLiteral("bob"), QStringLiteral("pw"));
        QStringList answers;
        // Six guesses and then the right password, all sent before any check has finished.
        for (int i = 0; i < 7; ++i) {
            service->loginAsync(
                QStringLiteral("bob"), i < 6 ? QStringLiteral("guess") : QStringLiteral("pw"),
                [&answers](const ServiceResult &result) {
                    answers << (result.status == ServiceResult::Status::Ok ? QStringLiteral("ok")
                                                                           : result.message);
                });
        }
        QVERIFY(answers.isEmpty()); // never answered from inside the call
        bool amyAnswered = false;
        service->addUser(QStringLiteral("amy"), QStringLiteral("pw"));
        service->loginAsync(QStringLiteral("amy"), QStringLiteral("pw"),
                            [&amyAnswered](const ServiceResult &result) {
                                amyAnswered = result.status == ServiceResult::Status::Ok;
                            });
        QTRY_COMPARE(answers.size(), 7);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(answers.at(i), QStringLiteral("用户名或密码错误"));
        QVERIFY2(answers.at(5).contains(QStringLiteral("次数过多")), qPrintable(answers.at(5)));
        QVERIFY2(answers.at(6).contains(QStringLiteral("次数过多")), qPrintable(answers.at(6)));
        QTRY_VERIFY(amyAnswered);
    }

    void requestIdsApplyAnActionOnce()
    {
        const qint64 bob = addAndLogin(QStringLiteral("bob"));
        earnClicks(bob, 4000);
        const QString id = QStringLiteral("0b7f3c2e-5a4d-4e61-9a0f-2d8c1e6b7a90");
        const ServiceResult first = service->exchange(bob, 3300, id);
        QCOMPARE(first.status, ServiceResult::Status::Ok);
        const ServiceResult again = service->exchange(bob, 3300, id);
        QCOMPARE(again.status, ServiceResult::Status::Ok);
        QCOMPARE(again.data, first.data);
        QCOMPARE(stats(bob).value(QStringLiteral("total_clicks")).toInteger(), 700);
        QCOMPARE(stats(bob).value(QStringLiteral("gold")).toInteger(), 33);

        // The same id with another amount or for another action changes nothing.
        for (const ServiceResult &reuse :
             {service->exchange(bob, 400, id), service->deposit(bob, 3300, id),
              service->buyEffect(bob, 3, id)}) {
            QCOMPARE(reuse.status, ServiceResult::Status::Conflict);
            QVERIFY2(reuse.message.contains(QStringLiteral("request_id")),
                     qPrintable(reuse.message));
        }
        QCOMPARE(stats(bob).value(QStringLiteral("total_clicks")).toInteger(), 700);
        QCOMPARE(stats(bob).value(QStringLiteral("gold")).toInteger(), 33);

        QCOMPARE(service->deposit(bob, 50, QStringLiteral("d1")).status, ServiceResult::Status::Ok);
        QCOMPARE(service->deposit(bob, 50, QStringLiteral("d1")).status, ServiceResult::Status::Ok);
        QCOMPARE(service->buyEffect(bob, 3, QStringLiteral("b1")).status,
                 ServiceResult::Status::Ok);
        QCOMPARE(
            service->buyEffect(bob, 3, QStringLiteral("b1")).data.value("new_gold").toInteger(), 3);
        QJsonObject figures = stats(bob);
        QCOMPARE(figures.value(QStringLiteral("total_clicks")).toInteger(), 650);
        QCOMPARE(figures.value(QStringLiteral("balance")).toDouble(), 500.0);
        QCOMPARE(figures.value(QStringLiteral("gold")).toInteger(), 3);

        // A refusal is the answer too: the repeat stays refused once the clicks would suffice.
        const ServiceResult refused = service->exchange(bob, 5000, QStringLiteral("big"));
        QCOMPARE(refused.status, ServiceResult::Status::Refused);
        earnClicks(bob, 5000);
        const ServiceResult refusedAgain = service->exchange(bob, 5000, QStringLiteral("big"));
        QCOMPARE(refusedAgain.status, ServiceResult::Status::Refused);
        QCOMPARE(refusedAgain.message, refused.message);
        QCOMPARE(stats(bob).value(QStringLiteral("total_clicks")).toInteger(), 5650);

        // Replies are kept for a day at least; a stale id is then a new request.
        now += kDay - 60000;
        QCOMPARE(service->exchange(bob, 3300, id).data, first.data);
        QCOMPARE(stats(bob).value(QStringLiteral("total_clicks")).toInteger(), 5650);
        now += 2 * kDay;
        QCOMPARE(service->deposit(bob, 10, QStringLiteral("d2")).status, ServiceResult::Status::Ok);
        QCOMPARE(service->exchange(bob, 3300, id).status, ServiceResult::Status::Ok);
        QCOMPARE(stats(bob).value(QStringLiteral("total_clicks")).toInteger(), 5650 - 10 - 3300);

        // Ids belong to one account; without an id every request counts, as before.
        const qint64 amy = addAndLogin(QStringLiteral("amy"));
        earnClicks(amy, 300);
        QCOMPARE(service->deposit(amy, 50, QStringLiteral("d1")).status, ServiceResult::Status::Ok);
        QCOMPARE(service->deposit(amy, 50).status, ServiceResult::Status::Ok);
        QCOMPARE(service->deposit(amy, 50).status, ServiceResult::Status::Ok);
        QCOMPARE(stats(amy).value(QStringLiteral("total_clicks")).toInteger(), 150);
    }

    void racingRepeatsFromTwoConnectionsApplyOnce()
    {
        const qint64 bob = addAndLogin(QStringLiteral("bob"));
        earnClicks(bob, 3000);
        const int kRequests = 40;
        // Two connections to one file, as two server processes would have, send the same
        // requests at the same moment; the write lock decides who applies and who repeats.
        std::atomic<int> ready{0};
        QList<QJsonObject> replies[2];
        const auto racer = [&](int which) {
            GameDatabase own(QStringLiteral("racer%1").arg(which));
            QString error;
            if (!openStore(own, &error))
                return;
            GameService::Settings settings;
            settings.passwordCost = PasswordHasher::kCheapestCost;
            GameService racing(own, catalog, settings);
            ++ready;
            while (ready.load() < 2) {
            }
            for (int i = 0; i < kRequests; ++i) {
                const ServiceResult result =
                    racing.deposit(bob, 10, QStringLiteral("race-%1").arg(i));
                replies[which] << (result.status == ServiceResult::Status::Ok ? result.data
                                                                              : QJsonObject());
            }
        };
        std::thread one(racer, 0);
        std::thread two(racer, 1);
        one.join();
        two.join();
        QCOMPARE(replies[0].size(), kRequests);
        QCOMPARE(replies[1].size(), kRequests);
        for (int i = 0; i < kRequests; ++i) {
            QVERIFY(!replies[0].at(i).isEmpty());
            QCOMPARE(replies[0].at(i), replies[1].at(i));
        }
        const QJsonObject figures = stats(bob);
        QCOMPARE(figures.value(QStringLiteral("total_clicks")).toInteger(), 3000 - kRequests * 10);
        QCOMPARE(figures.value(QStringLiteral("balance")).toDouble(), kRequests * 100.0);
    }

    void catalogueDocumentsAreChecked_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not an object") << QByteArray("[]");
        QTest::newRow("no effects") << QByteArray(R"({"effects": []})");
        QTest::newRow("id gap") << QByteArray(
            R"({"effects": [{"id": 2, "css_class": "effect-a", "name": "A", "price": 1}]})");
        QTest::newRow("repeated class") << QByteArray(
            R"({"effects": [{"id": 1, "css_class": "effect-a", "name": "A", "price": 1},)"
            R"({"id": 2, "css_class": "effect-a", "name": "B", "price": 1}]})");
        QTest::newRow("free effect") << QByteArray(
            R"({"effects": [{"id": 1, "css_class": "effect-a", "name": "A", "price": 0}]})");
        QTest::newRow("fractional price") << QByteArray(
            R"({"effects": [{"id": 1, "css_class": "effect-a", "name": "A", "price": 1.5}]})");
    }

    void catalogueDocumentsAreChecked()
    {
        QFETCH(QByteArray, json);
        EffectCatalog broken;
        QString error;
        QVERIFY(!broken.load(json, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(broken.count(), 0);
    }

    void dataOutlivesTheConnection()
    {
        const qint64 user = addAndLogin(QStringLiteral("bob"));
        earnClicks(user, 420);
        service.reset();
        db->close();
        QString error;
        QVERIFY2(openStore(*db, &error), qPrintable(error));
        makeService();
        QCOMPARE(stats(user).value(QStringLiteral("total_clicks")).toInteger(), 420);
        if (scratch)
            return;
        QSqlQuery mode(db->connection());
        QVERIFY(mode.exec(QStringLiteral("PRAGMA journal_mode")) && mode.next());
        QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    }

    void aFailedWriteLogsSqlitesText()
    {
        if (scratch)
            QSKIP("SQLite's own write lock");
        const qint64 user = addAndLogin(QStringLiteral("dana"));
        QVERIFY(user > 0);
        // Another process holds the write lock, and this one gives up at once.
        QSqlQuery(db->connection()).exec(QStringLiteral("PRAGMA busy_timeout=0"));
        const QString other = QStringLiteral("lock-holder");
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
            holder.setDatabaseName(dir->filePath(QStringLiteral("server.db")));
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));

            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral(
                                     "^storage failure while starting the click transaction: "
                                     "database is locked$")));
            now += 10000;
            const ServiceResult result = service->click(user, 5);
            QCOMPARE(result.status, ServiceResult::Status::Failed);
            // The same failure again within the second: refused as well, but not logged again.
            QTest::failOnWarning(QRegularExpression(QStringLiteral("storage failure")));
            QCOMPARE(service->click(user, 5).status, ServiceResult::Status::Failed);
            QSqlQuery(holder).exec(QStringLiteral("ROLLBACK"));
            holder.close();
        }
        QSqlDatabase::removeDatabase(other);
        now += 10000;
        QCOMPARE(service->click(user, 5).status, ServiceResult::Status::Ok);
    }
};

TAPTEMPEST_TEST_MAIN(TestGameService)
#include "tst_gameservice.moc"
