#pragma once

class QApplication;
class AuthManager;
class ApiClient;

// Start-up, theme loading and the loop between the login dialog and the main window.
class Application
{
public:
    // The whole program: start-up, session loop, teardown. Returns 0, or 128 + the signal number
    // when a second stop signal cut the wait for the last click batches short.
    static int run(int &argc, char **argv);
    // Everything after the application object exists; returns once the last click batch ended.
    static int exec(QApplication &app);

    // Identity, quit policy, widget style, icon, TLS default and the interface language, in that
    // order. Must run before any other settings store is opened.
    static void prepare(QApplication &app);
    // The same, but the TLS default is set up on a second thread (loading the TLS backend is the
    // costliest step of start-up) while the first window is built; finishTlsSetup() waits for it
    // and must run before any request is made. The session loop calls it before it runs the
    // event loop or a dialog.
    static void prepareWithTlsInBackground(QApplication &app);
    static void finishTlsSetup();

    // What a request to stop the program does: open dialogs are cancelled and the main window
    // is closed, as if the player had done it.
    static void closeAllWindows();

    // Login dialog and main window, alternating until the player closes the window while logged
    // in or leaves the login dialog without logging in.
    static void runSessionLoop(AuthManager *authManager, ApiClient *apiClient, QApplication *app);
};
