#include "app/application.h"
#include "dialogs/logindialog.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "resources/theme.h"
#include "support/modalscript.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"
#include "support/windowlookup.h"

#include <QColorDialog>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStyle>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/types.h>

namespace {

// Set for a child that only reports what start-up sets.
const char kPrepareProbe[] = "TAPTEMPEST_PREPARE_PROBE";

const char kDarkHead[] = "/* TapTempest 样式表 - 深色主题 (默认) */";
const char kLightHead[] = "/* TapTempest 浅色主题样式表 */";

int liveLoginDialogs()
{
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<LoginDialog *>(w))
            ++n;
    return n;
}

ModalScript::Action logInAs(const QString &user)
{
    return windowlookup::logIn(user, "pw");
}

// 300 ms after the window shows: `clicks` presses of the big button, then the player closes it.
std::function<void(MainWindow *)> clickThenClose(int clicks)
{
    return [clicks](MainWindow *window) {
        QTimer::singleShot(300, window, [window, clicks] {
            auto *button = window->findChild<QPushButton *>("clickButton");
            for (int i = 0; i < clicks; ++i)
                QTest::mouseClick(button, Qt::LeftButton);
            window->close();
        });
    };
}

} // namespace

using windowlookup::buttonWithText;
using windowlookup::visibleMainWindow;
using windowlookup::whenMainWindowShown;

class TestApplication : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedPeer> peer;
    int logins = 0;

    // Click batches are held (the test may release them); everything else is answered.
    void holdClickBatches()
    {
        peer->setHandler([this](const RecordedRequest &r) {
            if (r.action() == "click")
                return ScriptedResponse::noAnswer();
            return answer(r);
        });
    }

    ScriptedResponse answer(const RecordedRequest &request)
    {
        const QString action = request.action();
        if (action == "login") {
            ++logins;
            return ScriptedResponse::ok(
                QJsonObject{{"username", request.json().value("username")},
                            {"token", QStringLiteral("token-%1").arg(logins)}});
        }
        if (action == "click")
            return ScriptedResponse::ok(QJsonObject{{"total_clicks", 1}, {"gold", 0}});
        return ScriptedResponse::ok(QJsonObject{{"total_clicks", 0}, {"username", "alice"}});
    }

private slots:
    void init()
    {
        testenv::clearSettings();
        qApp->setStyleSheet(QString());
        logins = 0;
        peer = std::make_unique<ScriptedPeer>();
        peer->setHandler([this](const RecordedRequest &r) { return answer(r); });
        QVERIFY(peer->start());
        qputenv("TAPTEMPEST_SERVER_URL", peer->url().toUtf8());
    }

    void cleanup() { peer.reset(); }

    // This process had its identity set by the test main; a fresh one, started with another
    // default style, shows what start-up alone sets.
    void prepareSetsIdentityAndStyle()
    {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kPrepareProbe, "1");
        env.insert("QT_STYLE_OVERRIDE", "Windows");
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const QJsonObject seen = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
        QVERIFY2(!seen.isEmpty(), probe.readAllStandardError().constData());
        const QJsonObject before = seen.value("before").toObject();
        QCOMPARE(before.value("organization").toString(), QString());
        QCOMPARE(before.value("version").toString(), QString());
        QCOMPARE(before.value("style").toString(), QString("windows"));
        QVERIFY(before.value("quitOnLastWindowClosed").toBool());

        const QJsonObject after = seen.value("after").toObject();
        QCOMPARE(after.value("organization").toString(), QString("TapTempest"));
        QCOMPARE(after.value("application").toString(), QString("TapTempest"));
        QCOMPARE(after.value("version").toString(), QString(TAPTEMPEST_VERSION));
        QVERIFY(!after.value("quitOnLastWindowClosed").toBool());
        QCOMPARE(after.value("style").toString(), QString("fusion"));
        QVERIFY(after.value("hasIcon").toBool());
        // The desktop matches the windows to the installed entry and its icon.
        QCOMPARE(after.value("desktopFile").toString(), QString("io.github.taptempest.TapTempest"));
    }

    // Qt's own texts are in Chinese like the rest of the game, whatever the desktop's language.
    void qtsOwnTextsAreChinese()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Application::prepare(*qApp);
        Application::prepare(*qApp); // a second start-up adds no second translation
        QCOMPARE(qApp->findChildren<QTranslator *>().size(), 1);

        QMessageBox box(QMessageBox::Question, "t", "x",
                        QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
        const QString ok = box.button(QMessageBox::Ok)->text();
        QVERIFY2(ok != "OK" && ok != "&OK", qPrintable(ok));
        QCOMPARE(ok, QString("确定"));
        for (auto standard : {QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::No}) {
            // "是(&Y)": the mnemonic aside, no Latin letters.
            QString text = box.button(standard)->text();
            text.remove(QRegularExpression("\\(&.\\)"));
            QVERIFY2(!text.isEmpty() && !text.contains(QRegularExpression("[A-Za-z]")),
                     qPrintable(box.button(standard)->text()));
        }

        QColorDialog colours;
        QStringList english;
        for (QLabel *label : colours.findChildren<QLabel *>())
            if (label->text().contains("Basic colors") || label->text().contains("Custom colors"))
                english << label->text();
        for (QPushButton *button : colours.findChildren<QPushButton *>())
            if (button->text().contains("Pick Screen Color"))
                english << button->text();
        QVERIFY2(english.isEmpty(), qPrintable(english.join(", ")));
        QLocale::setDefault(QLocale::system());
    }

    void styleSheets()
    {
        Theme::apply(qApp, true);
        QVERIFY(qApp->styleSheet().startsWith(kDarkHead));
        Theme::apply(qApp, false);
        QVERIFY(qApp->styleSheet().startsWith(kLightHead));
    }

    void cancelAtFirstStartEnds()
    {
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        ModalScript script;
        auto login = script.then(ModalScript::reject());
        Application::runSessionLoop(&auth, &client, qApp);
        QCOMPARE(login->className, QString("LoginDialog"));
        QVERIFY(!visibleMainWindow());
        QCOMPARE(liveLoginDialogs(), 0);
        QVERIFY(peer->requests.isEmpty());
    }

    void savedSessionOpensTheWindowDirectly()
    {
        QSettings().setValue("auth/token", "saved");
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        bool sawLogin = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] { sawLogin |= liveLoginDialogs() > 0; });
        watch.start(10);
        whenMainWindowShown(
            [](MainWindow *window) { QTimer::singleShot(300, window, &QWidget::close); });
        Application::runSessionLoop(&auth, &client, qApp);
        QVERIFY(!sawLogin);
        // Closed while logged in: the session stays for the next start.
        QCOMPARE(auth.savedToken(), QString("saved"));
        QVERIFY(!visibleMainWindow());
        QCOMPARE(peer->requestsFor("stats").size(), 1);
    }

    void logoutReturnsToLogin()
    {
        QSettings().setValue("auth/token", "saved");
        QSettings().setValue("theme/dark", true);
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        ModalScript script;
        QPointer<MainWindow> first;
        QPointer<LoginDialog> loginDialog;
        bool loginGoneBeforeSecondWindow = false;
        QString sheetAtLogin;

        whenMainWindowShown([&](MainWindow *window) {
            first = window;
            // The window switches to the light theme; the login after logout keeps it.
            buttonWithText(window, "浅色主题")->click();
            script.then(ModalScript::press(QMessageBox::Yes));
            script.then([&](QWidget *modal) {
                loginDialog = qobject_cast<LoginDialog *>(modal);
                sheetAtLogin = qApp->styleSheet().left(40);
                logInAs("bob")(modal);
            });
            buttonWithText(window, "退出登录")->click();
            whenMainWindowShown([&](MainWindow *second) {
                loginGoneBeforeSecondWindow = !loginDialog;
                QVERIFY(second != first.data());
                QTimer::singleShot(200, second, &QWidget::close);
            });
        });
        Application::runSessionLoop(&auth, &client, qApp);

        QVERIFY(!first);
        QVERIFY(loginGoneBeforeSecondWindow);
        QVERIFY2(sheetAtLogin.startsWith(kLightHead), qPrintable(sheetAtLogin));
        QCOMPARE(auth.username(), QString("alice"));
        QCOMPARE(auth.savedToken(), QString("token-1"));
        QCOMPARE(peer->requestsFor("login").size(), 1);
        QCOMPARE(peer->requestsFor("login")[0].json().value("username").toString(), QString("bob"));
    }

    void expiredSessionShowsLoginAgain()
    {
        QSettings().setValue("auth/token", "stale");
        peer->setHandler([this](const RecordedRequest &r) {
            if (r.action() == "stats" && r.queryValue("token") == "stale")
                return ScriptedResponse::raw(401, "Unauthorized", "");
            return answer(r);
        });
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        ModalScript script;
        auto login = script.then(ModalScript::reject());
        Application::runSessionLoop(&auth, &client, qApp);
        QCOMPARE(login->className, QString("LoginDialog"));
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!visibleMainWindow());
    }

    void programWaitsForTheLastClicks()
    {
        QSettings().setValue("auth/token", "saved");
        // Click batches are answered only after a while; the program must not end before.
        holdClickBatches();
        bool answered = false;
        connect(peer.get(), &ScriptedPeer::requestReceived, this, [&](const RecordedRequest &r) {
            if (r.action() != "click")
                return;
            QTimer::singleShot(800, peer.get(), [&] {
                answered = true;
                peer->releaseHeld(ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}}));
            });
        });
        whenMainWindowShown(clickThenClose(5));
        QCOMPARE(Application::exec(*qApp), 0);
        QVERIFY(answered);
        QCOMPARE(peer->requestsFor("click").size(), 1);
        QCOMPARE(peer->requestsFor("click")[0].json().value("count").toInt(), 5);
        QCOMPARE(peer->requestsFor("click")[0].json().value("token").toString(), QString("saved"));
    }

    void stopSignalEndsTheGameLikeClosingIt()
    {
        QSettings().setValue("auth/token", "saved");
        whenMainWindowShown([](MainWindow *window) {
            QTimer::singleShot(300, window, [window] {
                auto *button = window->findChild<QPushButton *>("clickButton");
                for (int i = 0; i < 3; ++i)
                    QTest::mouseClick(button, Qt::LeftButton);
                // A question box is open when the desktop session ends.
                QTimer::singleShot(0, window, [] { std::raise(SIGTERM); });
                QMessageBox::question(window, "退出登录", "确定要退出登录吗?");
            });
        });
        QCOMPARE(Application::exec(*qApp), 0);
        QCOMPARE(peer->requestsFor("click").size(), 1);
        QCOMPARE(peer->requestsFor("click")[0].json().value("count").toInt(), 3);
        QVERIFY(!visibleMainWindow());
        // The session stays: the next start opens the game directly.
        QCOMPARE(QSettings().value("auth/token").toString(), QString("saved"));
    }

    void logoutBatchLeavesTheLoginDialogAlone()
    {
        QSettings().setValue("auth/token", "saved");
        QSettings().setValue("auth/username", "alice");
        holdClickBatches();
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        ModalScript script;
        bool errorShown = true;
        whenMainWindowShown([&](MainWindow *window) {
            auto *button = window->findChild<QPushButton *>("clickButton");
            for (int i = 0; i < 20; ++i)
                QTest::mouseClick(button, Qt::LeftButton);
            script.then(ModalScript::press(QMessageBox::Yes));
            script.then([&](QWidget *modal) {
                // The logged-out window's batch fails while the login dialog is open.
                QTRY_COMPARE(peer->heldCount(), 1);
                peer->releaseHeld(ScriptedResponse::raw(503, "Service Unavailable", ""));
                QTRY_COMPARE(client.requestsInFlight(), 0);
                errorShown = modal->findChild<QLabel *>("errorLabel")->isVisible();
                qobject_cast<QDialog *>(modal)->reject();
            });
            buttonWithText(window, "退出登录")->click();
        });
        Application::runSessionLoop(&auth, &client, qApp);
        QCOMPARE(script.remaining(), 0);
        QVERIFY(!errorShown);
        // The twenty clicks wait for alice's next login.
        ClickOutbox outbox(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
        QCOMPARE(outbox.inherited().size(), 1);
        QCOMPARE(outbox.inherited()[0].owed(), 20);
    }

    void closingOfflineLeavesTheClicksInTheOutbox()
    {
        QSettings().setValue("auth/token", "saved");
        QSettings().setValue("auth/username", "alice");
        const QString offline =
            QStringLiteral("http://127.0.0.1:%1/api/index.php").arg(ScriptedPeer::closedPort());
        qputenv("TAPTEMPEST_SERVER_URL", offline.toUtf8());
        whenMainWindowShown(clickThenClose(4));
        QCOMPARE(Application::exec(*qApp), 0);
        ClickOutbox outbox(offline, ClickOutbox::accountKey(QString(), "alice"));
        QCOMPARE(outbox.inherited().size(), 1);
        QCOMPARE(outbox.inherited()[0].owed(), 4);
    }

    void secondStopSignalEndsTheWaitAtOnce_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void secondStopSignalEndsTheWaitAtOnce()
    {
        QFETCH(int, signalNumber);
        QSettings().setValue("auth/token", "saved");
        QSettings().setValue("auth/username", "alice");
        // The server takes the last batch and never answers it.
        holdClickBatches();
        whenMainWindowShown([signalNumber](MainWindow *window) {
            QTimer::singleShot(300, window, [window, signalNumber] {
                auto *button = window->findChild<QPushButton *>("clickButton");
                for (int i = 0; i < 5; ++i)
                    QTest::mouseClick(button, Qt::LeftButton);
                std::raise(signalNumber);
            });
        });
        // Asked again once the game is waiting for that batch.
        bool askedAgain = false;
        QTimer again;
        connect(&again, &QTimer::timeout, this, [&] {
            if (!askedAgain && !visibleMainWindow() && peer->heldCount() == 1) {
                askedAgain = true;
                std::raise(signalNumber);
            }
        });
        again.start(20);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(Application::exec(*qApp), 128 + signalNumber);
        QVERIFY(askedAgain);
        // Well before the batch's own 10-second timeout.
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));

        // The five clicks wait in the outbox for the next start, and the session stays.
        ClickOutbox outbox(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
        QCOMPARE(outbox.inherited().size(), 1);
        QCOMPARE(outbox.inherited()[0].total, 5);
        QCOMPARE(outbox.inherited()[0].owed(), 5);
        QCOMPARE(QSettings().value("auth/token").toString(), QString("saved"));
    }

    void secondStopSignalEndsTheProcessAtOnce()
    {
        // The program shares this test's temporary home: its settings and its outbox.
        QSettings settings;
        settings.setValue("auth/token", "saved");
        settings.setValue("auth/username", "alice");
        settings.sync();
        const QString account = ClickOutbox::accountKey(QString(), "alice");
        ClickOutbox(peer->url(), account).record("earlier-game", 7);
        // The game sends those seven first, and never hears back.
        holdClickBatches();

        QProcess game;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TAPTEMPEST_SERVER_URL", peer->url());
        game.setProcessEnvironment(env);
        game.start(TAPTEMPEST_CLIENT_BINARY, QStringList());
        QVERIFY(game.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(peer->heldCount(), 1, 15000);
        const QString sent = peer->requestsFor("click")[0].json().value("sync_id").toString();
        QCOMPARE(sent, QString("earlier-game"));

        QVERIFY(::kill(pid_t(game.processId()), SIGTERM) == 0);
        // The first stop waits for the batch (up to its 10-second timeout)...
        QTest::qWait(700);
        QCOMPARE(game.state(), QProcess::Running);
        // ...a second one ends the program at once.
        QVERIFY(::kill(pid_t(game.processId()), SIGTERM) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(game.state(), QProcess::NotRunning, 4000);
        QCOMPARE(game.exitStatus(), QProcess::NormalExit);
        QCOMPARE(game.exitCode(), 143);

        ClickOutbox outbox(peer->url(), account);
        QCOMPARE(outbox.inherited().size(), 1);
        QCOMPARE(outbox.inherited()[0].syncId, QString("earlier-game"));
        QCOMPARE(outbox.inherited()[0].owed(), 7);
    }
};

namespace {

QJsonObject startUpState()
{
    return {{"organization", QCoreApplication::organizationName()},
            {"application", QCoreApplication::applicationName()},
            {"version", QCoreApplication::applicationVersion()},
            {"quitOnLastWindowClosed", QGuiApplication::quitOnLastWindowClosed()},
            {"style", QApplication::style()->name().toLower()},
            {"hasIcon", !QGuiApplication::windowIcon().isNull()},
            {"desktopFile", QGuiApplication::desktopFileName()}};
}

} // namespace

int main(int argc, char **argv)
{
    testenv::isolateSettings();
    if (qEnvironmentVariableIsSet(kPrepareProbe)) {
        QApplication app(argc, argv);
        const QJsonObject before = startUpState();
        Application::prepare(app);
        const QJsonObject seen{{"before", before}, {"after", startUpState()}};
        std::fputs(QJsonDocument(seen).toJson().constData(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    testenv::setAppIdentity();
    TestApplication tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_application.moc"
