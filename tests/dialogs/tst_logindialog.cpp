#include "dialogs/logindialog.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/scriptedclient.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

class TestLoginDialog : public QObject
{
    Q_OBJECT

private:
    ScriptedClient session;
    std::unique_ptr<ScriptedPeer> &peer = session.peer;
    QPointer<LoginDialog> dialog;

    QLineEdit *field(const char *name) { return dialog->findChild<QLineEdit *>(name); }
    QPushButton *loginButton() { return dialog->findChild<QPushButton *>("primaryButton"); }
    QLabel *errorLabel() { return dialog->findChild<QLabel *>("errorLabel"); }

    void fill(const QString &user, const QString &password)
    {
        field("usernameEdit")->setText(user);
        field("passwordEdit")->setText(password);
    }

private slots:
    void init()
    {
        QVERIFY(session.start());
        dialog = new LoginDialog(session.auth.get(), session.api.get());
        dialog->show();
    }

    void cleanup()
    {
        delete dialog;
        session.stop();
    }

    void englishAndAccessible()
    {
        UI_CHECK_EMPTY(uicheck::unnamedControls(dialog));
        uicheck::EnglishInterface language;
        QVERIFY(language.isInstalled());
        LoginDialog english(session.auth.get(), session.api.get());
        english.show();
        english.resize(english.minimumSize());
        UI_CHECK_EMPTY(uicheck::chineseTexts(&english));
        UI_CHECK_EMPTY(uicheck::cutTexts(&english));
        UI_CHECK_EMPTY(uicheck::shortenedTexts(&english));
        UI_CHECK_EMPTY(uicheck::unnamedControls(&english));
        QCOMPARE(english.windowTitle(), QString("TapTempest - Log in"));
    }

    void layoutAsThePlayerSeesIt()
    {
        QCOMPARE(dialog->windowTitle(), QString("TapTempest - 登录"));
        QCOMPARE(dialog->size(), QSize(380, 320));
        QCOMPARE(loginButton()->text(), QString("登录"));
        QCOMPARE(dialog->findChild<QPushButton *>("secondaryButton")->text(), QString("取消"));
        QCOMPARE(field("passwordEdit")->echoMode(), QLineEdit::Password);
        QVERIFY(!errorLabel()->isVisible());
    }

    void emptyFieldsSendNothing_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("both empty") << ""
                                    << "";
        QTest::newRow("no password") << "alice"
                                     << "";
        QTest::newRow("blank user") << "   "
                                    << "secret";
    }

    void emptyFieldsSendNothing()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        fill(user, password);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QVERIFY(errorLabel()->isVisible());
        QCOMPARE(errorLabel()->text(), QString("用户名和密码不能为空"));
        QVERIFY(loginButton()->isEnabled());
        QTest::qWait(100);
        QVERIFY(peer->requests.isEmpty());
    }

    void successfulLogin()
    {
        peer->setFallback(ScriptedResponse::noAnswer());
        fill("  alice ", "   ");
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        // Pending: the button says so and can't be pressed again.
        QVERIFY(!loginButton()->isEnabled());
        QCOMPARE(loginButton()->text(), QString("登录中..."));
        QTRY_COMPARE(peer->heldCount(), 1);
        // User name trimmed, a password of blanks sent as typed.
        QCOMPARE(peer->requests[0].json().value("username").toString(), QString("alice"));
        QCOMPARE(peer->requests[0].json().value("password").toString(), QString("   "));

        peer->releaseHeld(ScriptedResponse::ok(
            QJsonObject{{"username", "alice"}, {"token", "t0k"}, {"user_id", "3"}, {"gold", 2}}));
        QTRY_COMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(session.auth->isLoggedIn());
        QCOMPARE(session.auth->gold(), 2);
        QCOMPARE(QSettings().value("auth/token").toString(), QString("t0k"));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("server text") << "用户名或密码错误"
                                     << "用户名或密码错误";
        QTest::newRow("empty text") << ""
                                    << "登录失败，请检查用户名和密码";
        QTest::newRow("name that reorders")
            << QString::fromUtf8("用户 \u202Eevil\u202C 不存在") << "用户 evil 不存在";
        QTest::newRow("controls only")
            << QString::fromUtf8("\u2067\n") << "登录失败，请检查用户名和密码";
    }

    void refusals()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        peer->setFallback(ScriptedResponse::fail(message));
        fill("alice", "wrong");
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_VERIFY(errorLabel()->isVisible());
        QCOMPARE(errorLabel()->text(), shown);
        QVERIFY(loginButton()->isEnabled());
        QCOMPARE(loginButton()->text(), QString("登录"));
        QVERIFY(dialog->isVisible());
        QVERIFY(!session.auth->isLoggedIn());
        QCOMPARE(field("passwordEdit")->text(), QString("wrong"));
    }

    void networkFailureShowsTheClientText()
    {
        peer->setFallback(ScriptedResponse::raw(500, "Internal Server Error", "{}"));
        fill("alice", "pw");
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        // networkError shows the prefixed text, then the callback leaves the bare text.
        QTRY_COMPARE(errorLabel()->text(), QString("服务器错误 (HTTP 500) Internal Server Error"));
        QVERIFY(loginButton()->isEnabled());
        QCOMPARE(loginButton()->text(), QString("登录"));
    }

    void networkErrorOfAnotherRequest()
    {
        peer->setFallback(ScriptedResponse::close());
        session.api->sendClicks(1, [](bool, const QJsonObject &, const QString &) {});
        QTRY_COMPARE(errorLabel()->text(), QString("网络错误: 服务器已关闭连接"));
        QVERIFY(errorLabel()->isVisible());
    }

    void returnInPasswordFieldSubmits()
    {
        peer->setFallback(ScriptedResponse::noAnswer());
        fill("alice", "pw");
        QTest::keyClick(field("passwordEdit"), Qt::Key_Return);
        QTRY_COMPARE(peer->requests.size(), 1);
        // The field never saw the key; pressing Enter again while pending sends another.
        QCOMPARE(field("passwordEdit")->text(), QString("pw"));
        QTest::keyClick(field("passwordEdit"), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(peer->requests.size(), 2);
        QVERIFY(dialog->isVisible());
    }

    // Keys as a player types them: the dialog is the active window and the key goes where the
    // focus is.
    void returnInTheNameFieldNeverCancels()
    {
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        field("usernameEdit")->setFocus();
        QSignalSpy rejected(dialog.data(), &QDialog::rejected);
        QTest::keyClicks(QApplication::focusWidget(), "alice");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QCOMPARE(rejected.count(), 0);
        // With the password still empty, Return went on to the password field.
        QCOMPARE(QApplication::focusWidget(), field("passwordEdit"));
        QVERIFY(peer->requests.isEmpty());

        peer->setFallback(ScriptedResponse::noAnswer());
        QTest::keyClicks(QApplication::focusWidget(), "pw");
        field("usernameEdit")->setFocus();
        // Both filled: Return in the name field logs in, keypad Enter too.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(peer->requests.size(), 1);
        QCOMPARE(peer->requests[0].json().value("username").toString(), QString("alice"));
        QCOMPARE(peer->requests[0].json().value("password").toString(), QString("pw"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(peer->requests.size(), 2);
        QVERIFY(dialog->isVisible());
        QCOMPARE(field("usernameEdit")->text(), QString("alice"));
    }

    void escapeAndTheCloseButtonStillCancel()
    {
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QSignalSpy rejected(dialog.data(), &QDialog::rejected);
        field("usernameEdit")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(rejected.count(), 1);

        dialog->show();
        QVERIFY(dialog->close());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(rejected.count(), 2);
    }

    void cancelRejects()
    {
        QTest::mouseClick(dialog->findChild<QPushButton *>("secondaryButton"), Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
    }

    void replyAfterTheDialogIsGoneTouchesNothing()
    {
        peer->setFallback(ScriptedResponse::noAnswer());
        fill("alice", "pw");
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QTRY_COMPARE(peer->heldCount(), 1);
        delete dialog;
        peer->releaseHeld(ScriptedResponse::ok(QJsonObject{{"token", "late"}}));
        QTRY_COMPARE(session.api->requestsInFlight(), 0);
        QVERIFY(!session.auth->isLoggedIn());
        QCOMPARE(session.auth->savedToken(), QString());
    }
};

TAPTEMPEST_TEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
