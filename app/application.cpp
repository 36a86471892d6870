#include "application.h"

#include "app/interfacelanguage.h"
#include "common/signalwatcher.h"
#include "dialogs/logindialog.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "resources/theme.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>
#include <QThread>

#include <memory>

int Application::run(int &argc, char **argv)
{
    QApplication app(argc, argv);
    return exec(app);
}

int Application::exec(QApplication &app)
{
    prepareWithTlsInBackground(app);

    AuthManager authManager;
    ApiClient apiClient;
    apiClient.setAuthManager(&authManager);

    // Being told to stop (logout of the desktop, Ctrl+C) ends the game as closing it would, so
    // that pending clicks still reach the server.
    SignalWatcher stopWatcher;
    int stops = 0;
    int status = 0;
    QObject::connect(&stopWatcher, &SignalWatcher::stopRequested, &app, [&](int signalNumber) {
        if (++stops == 1) {
            closeAllWindows();
            return;
        }
        // Asked again while ending: the player does not want to wait for the server. What is
        // unconfirmed stays in the outbox for the next start.
        ClickOutbox::saveAll();
        status = 128 + signalNumber;
        closeAllWindows();
        apiClient.stopWaiting();
    });

    Theme::applySaved(&app);
    runSessionLoop(&authManager, &apiClient, &app);
    // Clicks handed to the server on the way out still need their answer.
    if (status == 0)
        apiClient.waitForClickRequests();
    return status;
}

void Application::closeAllWindows()
{
    // Dialogs first (the login dialog, a message box over the main window), then the main
    // window, whose close handler sends the pending clicks and ends the event loop.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
    for (QWidget *window : windows)
        if (qobject_cast<MainWindow *>(window) && window->isVisible())
            window->close();
}

namespace {

std::unique_ptr<QThread> tlsSetup;

void prepareSteps(QApplication &app, bool tlsInBackground)
{
    QCoreApplication::setApplicationName("TapTempest");
    QCoreApplication::setApplicationVersion(QStringLiteral(TAPTEMPEST_VERSION));
    QCoreApplication::setOrganizationName("TapTempest");
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.taptempest.TapTempest"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QGuiApplication::setWindowIcon(QIcon(":/icon.ico"));
    if (tlsInBackground && !tlsSetup) {
        tlsSetup.reset(QThread::create([] { ApiClient::configureSsl(); }));
        tlsSetup->start();
    } else {
        Application::finishTlsSetup();
        ApiClient::configureSsl();
    }
    InterfaceLanguage::install(app, InterfaceLanguage::chosen());
}

} // namespace

void Application::prepare(QApplication &app)
{
    prepareSteps(app, false);
}

void Application::prepareWithTlsInBackground(QApplication &app)
{
    prepareSteps(app, true);
}

void Application::finishTlsSetup()
{
    if (!tlsSetup)
        return;
    tlsSetup->wait();
    tlsSetup.reset();
}

void Application::runSessionLoop(AuthManager *authManager, ApiClient *apiClient, QApplication *app)
{
    for (;;) {
        if (!authManager->savedToken().isEmpty() && authManager->hasToken()) {
            auto *window = new MainWindow(authManager, apiClient, nullptr);
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->show();
        } else {
            auto *dialog = new LoginDialog(authManager, apiClient, nullptr);
            finishTlsSetup();
            const int result = dialog->exec();
            delete dialog;
            if (result != QDialog::Accepted || !authManager->isLoggedIn())
                break;
            auto *window = new MainWindow(authManager, apiClient, nullptr);
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->show();
            window->raise();
        }

        finishTlsSetup(); // before the event loop runs the window's first request
        app->exec();
        // The closed window deletes itself later; make that happen before anything else opens.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        if (authManager->isLoggedIn())
            break;
        // The login dialog wears the theme the player last chose, not the one of start-up.
        Theme::applySaved(app);
    }
}
