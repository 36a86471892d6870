// Start-up time and session memory of the client, measured on fresh processes.
//
// 1. Start-up: the program starts itself again (--child-startup) several times with a saved
//    session. The child runs the program's own start-up (Application::exec: identity, style,
//    session store, client, theme, session loop, main window) and reports when the main window
//    was shown, exposed and its first frame painted, on CLOCK_MONOTONIC, which the parent also
//    reads just before it starts the child. It closes the window at once after that frame.
// 2. Session memory: one child (--child-session) runs the same start-up and then clicks the
//    click button at the given rate with all 39 effects on, waits until the server has
//    confirmed every click, and reports its peak resident memory (VmHWM).
//
// The children talk to the reference game server (HTTPS on 127.0.0.1, its own certificate
// pinned) that this program starts; HOME and XDG_CONFIG_HOME point at a temporary folder.
//
//   bench_startup [--runs N] [--session-seconds N] [--rate N] [--platform NAME]
//                 [--skip-startup] [--skip-session]

#include "app/application.h"
#include "bench/common/benchutil.h"
#include "bench/common/clickdriver.h"
#include "feedback/clickbutton.h"
#include "feedback/effectmanager.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/settingskeys.h"
#include "resources/theme.h"
#include "support/referenceserver.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QMouseEvent>
#include <QPair>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const char *const childStartupFlag = "--child-startup";
const char *const childSessionFlag = "--child-session";

// Milliseconds from this process's start (as /proc/self/stat gives it, in clock ticks since
// boot) to now on the boot-time clock. Coarse: one tick is 10 ms on most systems.
double msSinceProcessStart()
{
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // The command name in parentheses may hold blanks; the fields after it are plain.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // Field 22 (starttime) of the whole line is the 20th after the name.
    const qint64 startTicks = fields.value(19).toLongLong();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
    return nowMs - double(startTicks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void report(const QString &key, const QString &value)
{
    std::printf("%s=%s\n", qPrintable(key), qPrintable(value));
}

void report(const QString &key, qint64 value)
{
    report(key, QString::number(value));
}

// Notes when the first main window is shown, exposed and painted, and runs `onFirstFrame` once
// that frame has been handed to the platform.
class FirstFrameWatcher : public QObject
{
public:
    std::function<void(MainWindow *)> onFirstFrame;
    QPointer<MainWindow> window;
    qint64 showNs = 0;
    qint64 exposeNs = 0;
    qint64 paintNs = 0;
    qint64 frameNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
            if (!window) {
                if (auto *mainWindow = qobject_cast<MainWindow *>(watched)) {
                    window = mainWindow;
                    showNs = bench::monotonicNs();
                }
            }
            break;
        case QEvent::Expose:
            if (window && exposeNs == 0 && watched == window->windowHandle() &&
                window->windowHandle()->isExposed())
                exposeNs = bench::monotonicNs();
            break;
        case QEvent::Paint:
            if (window && paintNs == 0 && watched == window) {
                paintNs = bench::monotonicNs();
                // Runs once the whole repaint, children and flush included, has returned.
                QTimer::singleShot(0, this, [this] {
                    frameNs = bench::monotonicNs();
                    if (onFirstFrame && window)
                        onFirstFrame(window);
                });
            }
            break;
        default:
            break;
        }
        return false;
    }
};

void reportFrame(const FirstFrameWatcher &watcher, qint64 mainNs, qint64 appNs, double procMs)
{
    report("main_ns", mainNs);
    report("app_ns", appNs);
    report("show_ns", watcher.showNs);
    report("expose_ns", watcher.exposeNs);
    report("paint_ns", watcher.paintNs);
    report("frame_ns", watcher.frameNs);
    report("proc_ms", QString::number(procMs, 'f', 1));
}

// The start-up steps of Application::exec one by one, each timed, up to the first frame.
void startupInStages(QApplication &app)
{
    QList<QPair<QString, qint64>> marks;
    const auto mark = [&marks](const char *name) { marks.append({name, bench::monotonicNs()}); };
    mark("begin");
    Application::prepareWithTlsInBackground(app); // as Application::exec does
    mark("prepare");
    AuthManager authManager;
    mark("session_store");
    ApiClient apiClient;
    apiClient.setAuthManager(&authManager);
    mark("client");
    Theme::apply(
        &app, QSettings().value(SettingsKeys::themeDark, SettingsKeys::defaultThemeDark).toBool());
    mark("style_sheet");
    auto *window = new MainWindow(&authManager, &apiClient);
    window->setAttribute(Qt::WA_DeleteOnClose);
    mark("main_window");
    window->show();
    mark("show");
    Application::finishTlsSetup();
    mark("tls_wait");
    app.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (int i = 1; i < marks.size(); ++i)
        report("stage_" + marks.at(i).first + "_ns", marks.at(i).second - marks.at(i - 1).second);
}

int childStartup(int argc, char **argv, bool stages)
{
    const qint64 mainNs = bench::monotonicNs();
    QApplication app(argc, argv);
    const qint64 appNs = bench::monotonicNs();

    FirstFrameWatcher watcher;
    double procMs = -1;
    bench::Memory memory;
    watcher.onFirstFrame = [&](MainWindow *window) {
        procMs = msSinceProcessStart();
        memory = bench::readMemory();
        window->close();
    };
    app.installEventFilter(&watcher);
    if (stages)
        startupInStages(app);
    else
        Application::exec(app);
    app.removeEventFilter(&watcher);

    reportFrame(watcher, mainNs, appNs, procMs);
    report("platform", QGuiApplication::platformName());
    report("hwm_kb", memory.hwmKb);
    report("rss_kb", memory.rssKb);
    return watcher.frameNs > 0 ? 0 : 1;
}

using bench::sendMouse;

using bench::liveEffectItems;

// Clicks the main window's button at a steady rate, then waits until the server has confirmed
// every click and closes the window.
class SessionDriver : public QObject
{
public:
    SessionDriver(MainWindow *window, int seconds, int rate)
        : window(window), button(window->findChild<ClickButton *>("clickButton")),
          windowMs(seconds * 1000.0), interval(1000.0 / rate)
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &SessionDriver::onTick);
        startMemory = bench::readMemory();
        clock.start();
        timer.start();
    }

    int clicksMade = 0;
    int clicksDue = 0;
    int peakItems = 0;
    qint64 maxSampledRssKb = 0;
    double worstInputDelayMs = 0;
    double drainMs = 0;
    double clickingMs = 0; // clicks the loop could not take in time are taken late
    bool confirmed = false;
    bench::Memory startMemory;

private:
    void onTick()
    {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        if (!window || !button) {
            timer.stop();
            return;
        }
        if (now >= nextSample) {
            maxSampledRssKb = std::max(maxSampledRssKb, bench::readMemory().rssKb);
            nextSample += 500;
        }
        if (pressedAt >= 0) {
            if (now >= pressedAt + 50) {
                sendMouse(button, QEvent::MouseButtonRelease);
                pressedAt = -1;
                lastRelease = now;
                ++clicksMade;
                peakItems = std::max(peakItems, liveEffectItems(window));
            }
            return;
        }
        if (nextPress < windowMs) {
            if (now >= nextPress) {
                worstInputDelayMs = std::max(worstInputDelayMs, now - nextPress);
                ++clicksDue;
                sendMouse(button, QEvent::MouseButtonPress);
                pressedAt = now;
                nextPress += interval;
            }
            return;
        }
        // Clicking is over: the window sends what is pending on its 3 s timer.
        confirmed = window->unconfirmedClickCount() == 0 && window->pendingClickCount() == 0 &&
                    !window->isSyncing();
        if (confirmed || now >= lastRelease + 30000) {
            clickingMs = lastRelease;
            drainMs = now - lastRelease;
            timer.stop();
            window->close();
        }
    }

    QPointer<MainWindow> window;
    QPointer<ClickButton> button;
    const double windowMs;
    const double interval;
    QTimer timer;
    QElapsedTimer clock;
    double nextPress = 0;
    double pressedAt = -1;
    double lastRelease = 0;
    double nextSample = 0;
};

int childSession(int argc, char **argv, int seconds, int rate)
{
    const qint64 mainNs = bench::monotonicNs();
    QApplication app(argc, argv);
    const qint64 appNs = bench::monotonicNs();

    FirstFrameWatcher watcher;
    std::unique_ptr<SessionDriver> driver;
    int effectsOn = 0;
    double procMs = -1;
    watcher.onFirstFrame = [&](MainWindow *window) {
        procMs = msSinceProcessStart();
        if (const auto *manager = window->findChild<EffectManager *>()) {
            for (int id = 1; id <= EffectManager::effectCount(); ++id)
                effectsOn += manager->isEffectEnabled(id) ? 1 : 0;
        }
        driver = std::make_unique<SessionDriver>(window, seconds, rate);
    };
    app.installEventFilter(&watcher);
    Application::exec(app);
    app.removeEventFilter(&watcher);

    const bench::Memory end = bench::readMemory();
    reportFrame(watcher, mainNs, appNs, procMs);
    report("platform", QGuiApplication::platformName());
    report("effects_on", effectsOn);
    if (!driver)
        return 1;
    report("clicks_made", driver->clicksMade);
    report("clicks_due", driver->clicksDue);
    report("peak_items", driver->peakItems);
    report("worst_input_delay_ms", QString::number(driver->worstInputDelayMs, 'f', 1));
    report("drain_ms", QString::number(driver->drainMs, 'f', 0));
    report("clicking_ms", QString::number(driver->clickingMs, 'f', 0));
    report("confirmed", driver->confirmed ? 1 : 0);
    report("start_rss_kb", driver->startMemory.rssKb);
    report("start_hwm_kb", driver->startMemory.hwmKb);
    report("max_sampled_rss_kb", driver->maxSampledRssKb);
    report("hwm_kb", end.hwmKb);
    report("end_rss_kb", end.rssKb);
    return 0;
}

// ---- Parent ------------------------------------------------------------------------------------

struct Options
{
    int runs = 10;
    int sessionSeconds = 60;
    int rate = 5;
    QString platform = QStringLiteral("offscreen");
    bool startup = true;
    bool session = true;
};

bool parseOptions(const QStringList &args, Options *options)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        bool ok = true;
        if (arg == "--runs") {
            options->runs = args.value(++i).toInt(&ok);
            ok = ok && options->runs > 0;
        } else if (arg == "--session-seconds") {
            options->sessionSeconds = args.value(++i).toInt(&ok);
            ok = ok && options->sessionSeconds > 0;
        } else if (arg == "--rate") {
            options->rate = args.value(++i).toInt(&ok);
            ok = ok && options->rate > 0 && options->rate <= 20;
        } else if (arg == "--platform") {
            options->platform = args.value(++i);
            ok = !options->platform.isEmpty();
        } else if (arg == "--skip-startup") {
            options->startup = false;
        } else if (arg == "--skip-session") {
            options->session = false;
        } else {
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

struct ChildRun
{
    qint64 spawnNs = 0;
    QMap<QString, QString> values;
    bool ok = false;

    qint64 ns(const QString &key) const { return values.value(key).toLongLong(); }
    double msFromSpawn(const QString &key) const { return double(ns(key) - spawnNs) / 1e6; }
    double msBetween(const QString &from, const QString &to) const
    {
        return double(ns(to) - ns(from)) / 1e6;
    }
};

ChildRun runChild(const QStringList &arguments, int timeoutMs)
{
    ChildRun run;
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(arguments);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.spawnNs = bench::monotonicNs();
    child.start();
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(5000);
        std::fprintf(stderr, "child %s did not finish in time\n", qPrintable(arguments.join(' ')));
        return run;
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            run.values.insert(QString::fromUtf8(line.left(equals)),
                              QString::fromUtf8(line.mid(equals + 1)));
    }
    run.ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
             run.ns("frame_ns") > 0;
    if (!run.ok)
        std::fprintf(stderr, "child %s failed (exit %d)\n", qPrintable(arguments.join(' ')),
                     child.exitCode());
    return run;
}

// A saved session for the children: an account on the server, logged in once here.
bool saveSession(ReferenceServer *server)
{
    const QString user = QStringLiteral("bench");
    const QString password = QStringLiteral("bench-password-1");
    // Enough clicks to buy the whole catalogue: only owned effects play.
    qint64 gold = 0;
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        gold += EffectManager::effectPrice(id);
    if (!server->addUser(user, password, gold * 100)) {
        std::fprintf(stderr, "cannot add the account\n");
        return false;
    }
    server->exportEnvironment(); // inherited by the children too
    ApiClient::configureSsl();

    AuthManager authManager;
    ApiClient apiClient;
    apiClient.setAuthManager(&authManager);
    bool done = false;
    QString error;
    QEventLoop loop;
    apiClient.login(user, password,
                    [&](bool success, const QJsonObject &data, const QString &text) {
                        if (success)
                            authManager.handleLoginResponse(data);
                        error = text;
                        done = true;
                        loop.quit();
                    });
    if (!done)
        loop.exec();
    if (!authManager.isLoggedIn() || authManager.savedToken().isEmpty()) {
        std::fprintf(stderr, "login failed: %s\n", qPrintable(error));
        return false;
    }

    // Waits for one call; false with the server's text when it failed.
    auto call = [&](const char *what, const std::function<void(ApiCallback)> &send) {
        bool ok = false;
        bool answered = false;
        QEventLoop wait;
        send([&](bool success, const QJsonObject &, const ApiError &failure) {
            ok = success;
            error = failure;
            answered = true;
            wait.quit();
        });
        if (!answered)
            wait.exec();
        if (!ok)
            std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(error));
        return ok;
    };
    if (!call("exchange",
              [&](ApiCallback done) { apiClient.exchangeGold(int(gold * 100), std::move(done)); }))
        return false;
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        if (!call("purchase", [&](ApiCallback done) { apiClient.buyEffect(id, std::move(done)); }))
            return false;

    return bench::switchOnEveryEffect();
}

void runStartup(const Options &options)
{
    std::printf("\n== start-up with a saved session, platform %s, %d runs after one warm-up "
                "(load average %s)\n",
                qPrintable(options.platform), options.runs, qPrintable(bench::loadAverage()));
    std::vector<double> total, toMain, toApp, toShow, toExpose, toFrame, proc, hwm;
    for (int i = -1; i < options.runs; ++i) {
        const ChildRun run = runChild({childStartupFlag}, 60000);
        if (!run.ok)
            continue;
        if (i < 0)
            continue; // the warm-up fills the page cache
        total.push_back(run.msFromSpawn("frame_ns"));
        toMain.push_back(run.msFromSpawn("main_ns"));
        toApp.push_back(run.msBetween("main_ns", "app_ns"));
        toShow.push_back(run.msBetween("app_ns", "show_ns"));
        toExpose.push_back(run.msBetween("show_ns", "expose_ns"));
        toFrame.push_back(run.msBetween("expose_ns", "frame_ns"));
        proc.push_back(run.values.value("proc_ms").toDouble());
        hwm.push_back(run.values.value("hwm_kb").toDouble() / 1024.0);
        std::printf("run %2d: first frame %.1f ms after spawn (main() %.1f, QApplication %.1f, "
                    "shown %.1f, exposed %.1f); /proc start-based %.0f ms; VmHWM %.1f MiB; %s\n",
                    i + 1, total.back(), toMain.back(), run.msFromSpawn("app_ns"),
                    run.msFromSpawn("show_ns"), run.msFromSpawn("expose_ns"), proc.back(),
                    hwm.back(), qPrintable(run.values.value("platform")));
        std::fflush(stdout);
    }
    if (total.empty()) {
        std::printf("no run succeeded\n");
        return;
    }

    std::printf("spawn to first frame of the main window: median %.1f ms, min %.1f, max %.1f "
                "(%zu runs)\n",
                bench::median(total), bench::minimum(total), bench::maximum(total), total.size());
    std::printf("  stages (medians): spawn to main() %.1f ms, QApplication %.1f ms, start-up to "
                "show() %.1f ms, show to expose %.1f ms, expose to frame done %.1f ms\n",
                bench::median(toMain), bench::median(toApp), bench::median(toShow),
                bench::median(toExpose), bench::median(toFrame));
    std::printf("  cross-check from /proc/self/stat starttime (10 ms ticks): median %.0f ms, "
                "min %.0f, max %.0f\n",
                bench::median(proc), bench::minimum(proc), bench::maximum(proc));
    std::printf("  VmHWM at the first frame: median %.1f MiB\n", bench::median(hwm));

    // Where the time between QApplication and show() goes: the same steps, timed one by one,
    // medians of as many runs.
    const QStringList stageNames{"prepare",     "session_store", "client",  "style_sheet",
                                 "main_window", "show",          "tls_wait"};
    QMap<QString, std::vector<double>> stageMs;
    std::vector<double> toFirstFrame;
    for (int i = 0; i < options.runs; ++i) {
        const ChildRun staged = runChild({childStartupFlag, "--stages"}, 60000);
        if (!staged.ok)
            continue;
        for (const QString &name : stageNames)
            stageMs[name].push_back(double(staged.ns("stage_" + name + "_ns")) / 1e6);
        toFirstFrame.push_back(staged.msBetween("show_ns", "frame_ns"));
    }
    if (!toFirstFrame.empty()) {
        std::printf("  start-up steps (medians of %zu runs timing the steps of the program's "
                    "start-up one by one):",
                    toFirstFrame.size());
        for (const QString &name : stageNames)
            std::printf(" %s %.1f ms;", qPrintable(name), bench::median(stageMs.value(name)));
        std::printf(" then to the first frame %.1f ms\n", bench::median(toFirstFrame));
    }
    std::printf("| platform | runs | median ms | min ms | max ms | VmHWM MiB |\n");
    std::printf("| %s | %zu | %.1f | %.1f | %.1f | %.1f |\n", qPrintable(options.platform),
                total.size(), bench::median(total), bench::minimum(total), bench::maximum(total),
                bench::median(hwm));
    std::fflush(stdout);
}

void runSession(const Options &options, ReferenceServer *server)
{
    std::printf("\n== session: %d s at %d clicks/s with every effect on, platform %s (load "
                "average %s)\n",
                options.sessionSeconds, options.rate, qPrintable(options.platform),
                qPrintable(bench::loadAverage()));
    std::fflush(stdout);
    const qint64 before = server->account("bench").lifetimeClicks;
    const ChildRun run = runChild(
        {childSessionFlag, QString::number(options.sessionSeconds), QString::number(options.rate)},
        (options.sessionSeconds * 10 + 120) * 1000);
    if (!run.ok) {
        std::printf("the session did not complete\n");
        return;
    }
    const auto kb = [&](const QString &key) { return run.values.value(key).toLongLong(); };
    const qint64 credited = server->account("bench").lifetimeClicks - before;
    std::printf("effects on: %s of %d; clicks made %s of %s due, worst input delay %s ms; peak "
                "%s live effect items\n",
                qPrintable(run.values.value("effects_on")), EffectManager::effectCount(),
                qPrintable(run.values.value("clicks_made")),
                qPrintable(run.values.value("clicks_due")),
                qPrintable(run.values.value("worst_input_delay_ms")),
                qPrintable(run.values.value("peak_items")));
    std::printf("clicking took %.1f s; server credited %lld clicks (%s); all confirmed %s ms "
                "after the last click\n",
                run.values.value("clicking_ms").toDouble() / 1000.0, credited,
                credited == kb("clicks_made") ? "every click, once" : "MISMATCH",
                qPrintable(run.values.value("drain_ms")));
    std::printf("memory MiB: at the first frame RSS %s (HWM %s); highest RSS sampled every "
                "0.5 s %s; VmHWM of the whole session %s; RSS at the end %s\n",
                qPrintable(bench::mib(kb("start_rss_kb"))),
                qPrintable(bench::mib(kb("start_hwm_kb"))),
                qPrintable(bench::mib(kb("max_sampled_rss_kb"))),
                qPrintable(bench::mib(kb("hwm_kb"))), qPrintable(bench::mib(kb("end_rss_kb"))));
    std::printf("| platform | seconds | clicks/s | clicks | peak items | VmHWM MiB |\n");
    std::printf("| %s | %d | %d | %s | %s | %s |\n", qPrintable(options.platform),
                options.sessionSeconds, options.rate, qPrintable(run.values.value("clicks_made")),
                qPrintable(run.values.value("peak_items")), qPrintable(bench::mib(kb("hwm_kb"))));
    std::fflush(stdout);
}

int runParent(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(QCoreApplication::arguments(), &options)) {
        std::fprintf(stderr, "usage: bench_startup [--runs N] [--session-seconds N] [--rate N] "
                             "[--platform NAME] [--skip-startup] [--skip-session]\n");
        return 2;
    }

    // The children inherit this folder as their home: the real player's settings stay untouched.
    QTemporaryDir home;
    if (!bench::useAsHome(home)) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", options.platform.toLocal8Bit());
    QCoreApplication::setOrganizationName("TapTempest");
    QCoreApplication::setApplicationName("TapTempest");

    ReferenceServer server;
    if (!server.start()) {
        std::fprintf(stderr, "reference server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    if (!saveSession(&server))
        return 1;
    std::printf("reference server at %s; %ld cores\n", qPrintable(server.url()),
                sysconf(_SC_NPROCESSORS_ONLN));

    if (options.startup)
        runStartup(options);
    if (options.session)
        runSession(options, &server);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], childStartupFlag) == 0)
        return childStartup(argc, argv, argc >= 3 && qstrcmp(argv[2], "--stages") == 0);
    if (argc >= 4 && qstrcmp(argv[1], childSessionFlag) == 0)
        return childSession(argc, argv, std::max(1, atoi(argv[2])), std::max(1, atoi(argv[3])));
    return runParent(argc, argv);
}
