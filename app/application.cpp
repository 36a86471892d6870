#include "application.h"

#include "net/apiclient.h"
#include "net/authmanager.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QSettings>
#include <QStyleFactory>
#include <QTextStream>

int Application::run(int &argc, char **argv)
{
    QApplication app(argc, argv);
    prepare(app);

    AuthManager authManager;
    ApiClient apiClient;
    apiClient.setAuthManager(&authManager);

    {
        QSettings settings;
        const bool startupDark = settings.value("theme/dark", true).toBool();
        applyStyleSheet(&app, startupDark);

        runSessionLoop(&authManager, &apiClient, &app, startupDark);
    }
    // Clicks handed to the server on the way out still need their answer.
    apiClient.waitForRequests();
    return 0;
}

void Application::prepare(QApplication &app)
{
    QCoreApplication::setApplicationName("TapTempest");
    QCoreApplication::setApplicationVersion("1.0.0");
    QCoreApplication::setOrganizationName("TapTempest");
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QGuiApplication::setWindowIcon(QIcon(":/icon.ico"));
    ApiClient::configureSsl();
    Q_UNUSED(app);
}

void Application::applyStyleSheet(QApplication *app, bool dark)
{
    QFile file(dark ? ":/style.qss" : ":/style_light.qss");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream stream(&file);
    app->setStyleSheet(stream.readAll());
    file.close();
}

void Application::runSessionLoop(AuthManager *authManager, ApiClient *apiClient, QApplication *app,
                                 bool startupDark)
{
    Q_UNUSED(authManager);
    Q_UNUSED(apiClient);
    Q_UNUSED(app);
    Q_UNUSED(startupDark);
}
