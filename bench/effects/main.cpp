// What click feedback costs the main window. The real main window (800 x 600, dark theme, the
// application style sheet) with all 39 effects switched on is clicked through its click button
// at 1, 5, 10, 15 and 30 clicks per second. For each rate it prints the live effect items at the
// peak, how long the event loop was blocked (gaps of a 1 ms timer), how late clicks were taken,
// the time to handle one click and to paint one frame, and the memory before, at the peak and
// some seconds after the last click.
//
//   bench_effects [--seconds N] [--after N] [--rates 1,5,10,15,30,60]
//   bench_effects --frame N      the cost of one whole frame of the window while the effects of
//                                N clicks made at 15 clicks/s are alive, on a frozen clock: the
//                                whole window, the layer alone (with 1 and 2 painting threads
//                                where the layer renders in bands) and each family alone
//   bench_effects --profile [N]  one warm click, then N clicks in a row (default 1) and their
//                                whole life, for a profiler:
//       valgrind --tool=callgrind --toggle-collect='*profiledClickLifetime*' bench_effects
//       --profile
//
// Besides the 1 ms timer, the event loop's time is split by measuring, natively, every frame
// the window paints (its UpdateRequest: painting and flushing) and every tick of the animation
// driver (all running animations advanced).
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise (QT_QPA_PLATFORM=xcb
// under xvfb-run for a real window system). The click batches go to
// an in-process loopback HTTP peer that credits them.

#include "app/application.h"
#include "bench/common/benchutil.h"
#include "bench/common/clickdriver.h"
#include "feedback/clickbutton.h"
#include "feedback/effectlayer.h"
#include "feedback/effectmanager.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/settingskeys.h"
#include "resources/theme.h"
#include "support/scriptedpeer.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

struct Options
{
    int seconds = 10;
    int after = 5;
    QList<int> rates{1, 5, 10, 15, 30};
    bool profile = false;
    int profileClicks = 1;
    int frameClicks = 0;
};

bool parseOptions(const QStringList &args, Options *options)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString next = args.value(i + 1);
        bool ok = true;
        if (arg == "--seconds") {
            options->seconds = next.toInt(&ok);
            ok = ok && options->seconds > 0;
            ++i;
        } else if (arg == "--after") {
            options->after = next.toInt(&ok);
            ok = ok && options->after >= 0;
            ++i;
        } else if (arg == "--rates") {
            options->rates.clear();
            for (const QString &part : next.split(',', Qt::SkipEmptyParts)) {
                const int rate = part.toInt(&ok);
                if (!ok || rate <= 0 || rate > 100)
                    return false;
                options->rates << rate;
            }
            ok = !options->rates.isEmpty();
            ++i;
        } else if (arg == "--frame") {
            options->frameClicks = next.toInt(&ok);
            ok = ok && options->frameClicks > 0;
            ++i;
        } else if (arg == "--profile") {
            options->profile = true;
            const int clicks = next.toInt(&ok);
            if (ok && clicks > 0) {
                options->profileClicks = clicks;
                ++i;
            }
            ok = true;
        } else {
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

using bench::liveEffectItems;
using bench::liveLabels;

using bench::sendMouse;

double timed(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

// Runs the event loop with a 1 ms timer until `tick` (given the ms since the start) returns true.
// Every gap between two ticks, the tick's own work included, goes into `gaps`.
void runLoop(std::vector<double> *gaps, const std::function<bool(double)> &tick)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1);
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (gaps)
            gaps->push_back(double(now - last) / 1e6);
        last = now;
        if (tick(double(now) / 1e6))
            loop.quit();
    });
    timer.start();
    loop.exec();
}

void idle(double ms)
{
    runLoop(nullptr, [ms](double now) { return now >= ms; });
}

// Times the window's frames and the animation driver's ticks as they happen. Both are events;
// the filter delivers them itself between two clock readings.
class LoopMeter : public QObject
{
public:
    explicit LoopMeter(QWidget *window) : window(window) {}

    struct Frame
    {
        double ms;
        int labels;
        bool duringClick; // a synchronous repaint asked for by the button's press or release
    };
    std::vector<Frame> frames;
    std::vector<double> ticks;
    bool recording = false;
    bool clicking = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (inside || !recording)
            return false;
        bool frame = event->type() == QEvent::UpdateRequest && watched == window;
        // The offscreen platform exposes the whole window again whenever it moves, as the shake
        // effect makes it do; that repaint is a frame too.
        const bool expose = event->type() == QEvent::Expose && qobject_cast<QWindow *>(watched);
        frame = frame || expose;
        const bool tick =
            event->type() == QEvent::Timer && qobject_cast<QAnimationDriver *>(watched);
        if (!frame && !tick)
            return false;
        const int labels = frame ? liveEffectItems(window) : 0;
        inside = true;
        QElapsedTimer clock;
        clock.start();
        watched->event(event);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        inside = false;
        if (frame)
            frames.push_back({ms, labels, clicking});
        else
            ticks.push_back(ms);
        return true;
    }

private:
    QWidget *window;
    bool inside = false;
};

double sum(const std::vector<double> &values)
{
    double total = 0;
    for (double v : values)
        total += v;
    return total;
}

struct RateResult
{
    int rate = 0;
    int clicksDue = 0;
    int clicksMade = 0;
    int clicksOnTime = 0; // taken within a frame (17 ms) of when they were due
    double worstInputDelayMs = 0;
    int peakLabels = 0;
    int peakPlusOne = 0;
    std::vector<double> gaps;
    std::vector<double> afterReleaseGaps; // the gap that ends at the first tick after a release
    std::vector<double> pressMs;
    std::vector<double> releaseMs;
    bench::Memory before;
    bench::Memory atPeak;
    bench::Memory endOfClicking;
    bench::Memory after;
    int labelsAfter = 0;
    qint64 rssAfterTrimKb = -1;
    bool peakReset = false;
    double clickingMs = 0;
    std::vector<LoopMeter::Frame> frames;
    std::vector<double> ticks;
    int renders = -1; // times the layer rendered its items, where it counts them
};

RateResult runRate(MainWindow *window, ClickButton *button, LoopMeter *meter, int rate,
                   const Options &options)
{
    RateResult r;
    r.rate = rate;
    idle(1500);
    r.peakReset = bench::resetPeak();
    r.before = bench::readMemory();

    const double interval = 1000.0 / rate;
    // A quick click holds the button for 50 ms; a faster clicker holds it for half a click.
    const double hold = std::min(50.0, interval / 2);
    const double windowMs = options.seconds * 1000.0;
    r.clicksDue = int(std::ceil(windowMs / interval));
    int pressesMade = 0;
    double nextPress = 0;
    double pressedAt = -1;
    bool releasedLastTick = false;
    meter->frames.clear();
    meter->ticks.clear();
    meter->recording = true;
    // The button repaints itself at once on press and release; those frames belong to the click.
    const auto mouse = [&](QEvent::Type type) {
        meter->clicking = true;
        const double ms = timed([&] { sendMouse(button, type); });
        meter->clicking = false;
        return ms;
    };
#ifdef TAPTEMPEST_EFFECTLAYER_BANDS
    const auto *layer = window->findChild<EffectLayer *>("effectLayer");
    const int rendersBefore = layer ? layer->renderCount() : 0;
#endif
    QElapsedTimer clicking;
    clicking.start();
    runLoop(&r.gaps, [&](double now) {
        if (releasedLastTick) {
            r.afterReleaseGaps.push_back(r.gaps.back());
            releasedLastTick = false;
        }
        if (pressedAt >= 0) {
            if (now >= pressedAt + hold) {
                r.releaseMs.push_back(mouse(QEvent::MouseButtonRelease));
                pressedAt = -1;
                releasedLastTick = true;
                ++r.clicksMade;
                const int labels = liveEffectItems(window);
                if (labels > r.peakLabels) {
                    r.peakLabels = labels;
                    r.peakPlusOne = liveLabels(button);
                    r.atPeak = bench::readMemory();
                }
            }
            return false;
        }
        if (pressesMade < r.clicksDue && now >= nextPress) {
            // A click the loop could not take in time is taken late, as queued input would be.
            r.worstInputDelayMs = std::max(r.worstInputDelayMs, now - nextPress);
            r.clicksOnTime += now - nextPress <= 17 ? 1 : 0;
            r.pressMs.push_back(mouse(QEvent::MouseButtonPress));
            pressedAt = now;
            nextPress = ++pressesMade * interval;
            return false;
        }
        return pressesMade >= r.clicksDue;
    });
    r.clickingMs = double(clicking.nsecsElapsed()) / 1e6;
    meter->recording = false;
#ifdef TAPTEMPEST_EFFECTLAYER_BANDS
    if (layer)
        r.renders = layer->renderCount() - rendersBefore;
#endif
    r.frames = meter->frames;
    r.ticks = meter->ticks;
    r.endOfClicking = bench::readMemory();

    // Labels live at most 3.8 s; by now they should all be gone.
    runLoop(nullptr, [&](double now) { return now >= options.after * 1000.0; });
    r.after = bench::readMemory();
    r.labelsAfter = liveEffectItems(window) + liveLabels(button);
#ifdef __GLIBC__
    // What the allocator keeps for reuse, as opposed to what is still in use.
    malloc_trim(0);
    r.rssAfterTrimKb = bench::readMemory().rssKb;
#endif
    return r;
}

void printResult(const RateResult &r)
{
    std::printf("\n== %d click(s)/s: %d clicks made of %d due in %.1f s, %d on time, worst input "
                "delay %.1f ms\n",
                r.rate, r.clicksMade, r.clicksDue, r.clickingMs / 1000.0, r.clicksOnTime,
                r.worstInputDelayMs);
    std::printf("  live effect items at the peak: %d (plus %d \"+1\" labels)\n", r.peakLabels,
                r.peakPlusOne);
    int over50 = 0;
    for (double g : r.gaps)
        over50 += g > 50 ? 1 : 0;
    std::printf("  1 ms timer gaps: max %.1f ms, p99 %.1f ms, median %.2f ms; %d of %zu gaps "
                "over 50 ms\n",
                bench::maximum(r.gaps), bench::percentile(r.gaps, 99), bench::median(r.gaps),
                over50, r.gaps.size());
    std::printf("  loop blocked right after a click (release to next tick): median %.1f ms, "
                "max %.1f ms\n",
                bench::median(r.afterReleaseGaps), bench::maximum(r.afterReleaseGaps));
    std::printf("  one click: press (\"+1\", shrink) median %.2f ms, max %.2f ms; release "
                "(all effects played) median %.2f ms, max %.2f ms\n",
                bench::median(r.pressMs), bench::maximum(r.pressMs), bench::median(r.releaseMs),
                bench::maximum(r.releaseMs));
    std::vector<double> frameMs;
    std::vector<double> perLabelUs;
    double clickRepaintMs = 0;
    for (const LoopMeter::Frame &f : r.frames) {
        if (f.labels >= 50)
            perLabelUs.push_back(f.ms * 1000.0 / f.labels);
        if (f.duringClick)
            clickRepaintMs += f.ms; // already inside the click's own time
        else
            frameMs.push_back(f.ms);
    }
    const double clickMs = sum(r.pressMs) + sum(r.releaseMs);
    const double paintMs = sum(frameMs);
    const double tickMs = sum(r.ticks);
    std::printf("  where the %.1f s of clicking went: click handling %.0f%% (of which the "
                "button's synchronous repaints %.0f%%), painting %.0f%% (%zu frames, median %.1f "
                "ms, max %.1f ms), animation ticks %.0f%% (%zu, median %.2f ms), the rest "
                "%.0f%%\n",
                r.clickingMs / 1000.0, 100.0 * clickMs / r.clickingMs,
                100.0 * clickRepaintMs / r.clickingMs, 100.0 * paintMs / r.clickingMs,
                frameMs.size(), bench::median(frameMs), bench::maximum(frameMs),
                100.0 * tickMs / r.clickingMs, r.ticks.size(), bench::median(r.ticks),
                100.0 * (r.clickingMs - clickMs - paintMs - tickMs) / r.clickingMs);
    std::printf("  frame cost per live item (frames with 50 or more): median %.1f us\n",
                bench::median(perLabelUs));
    if (r.renders >= 0)
        std::printf("  the layer rendered its items %d times for %zu frames and %zu animation "
                    "ticks\n",
                    r.renders, r.frames.size(), r.ticks.size());
    std::printf("  memory MiB (RSS / HWM): before %s / %s, at the peak %s / %s, end of clicking "
                "%s / %s, after %s / %s (items left %d)",
                qPrintable(bench::mib(r.before.rssKb)), qPrintable(bench::mib(r.before.hwmKb)),
                qPrintable(bench::mib(r.atPeak.rssKb)), qPrintable(bench::mib(r.atPeak.hwmKb)),
                qPrintable(bench::mib(r.endOfClicking.rssKb)),
                qPrintable(bench::mib(r.endOfClicking.hwmKb)),
                qPrintable(bench::mib(r.after.rssKb)), qPrintable(bench::mib(r.after.hwmKb)),
                r.labelsAfter);
    if (r.rssAfterTrimKb >= 0)
        std::printf(", RSS after malloc_trim %s", qPrintable(bench::mib(r.rssAfterTrimKb)));
    std::printf("%s\n", r.peakReset ? "" : " [HWM not reset between rates]");
    std::fflush(stdout);
}

// The layer's items drawn alone into an image, every item, as one frame draws them. Where the
// layer renders in bands, `threads` painting threads; otherwise the painter, as a paint does.
double layerFrameMs(EffectLayer *layer, QImage *image, int threads)
{
#ifdef TAPTEMPEST_EFFECTLAYER_BANDS
    Q_UNUSED(image);
    return timed([&] { layer->renderFrame(threads); });
#else
    Q_UNUSED(threads);
    return timed([&] {
        image->fill(Qt::transparent);
        layer->render(image, QPoint(), QRegion(), QWidget::DrawChildren);
    });
#endif
}

// The effects of `clicks` clicks at 15 clicks/s of the effects `ids`, frozen at the last one.
void playFrozen(EffectLayer *layer, EffectManager *manager, const QPoint &centre, qint64 *now,
                int clicks, const QList<int> &ids)
{
    *now += 100000; // whatever was alive is over
    layer->advance();
    const qint64 base = *now;
    for (int click = 0; click < clicks; ++click) {
        *now = base + click * 1000 / 15;
        for (int id : ids)
            manager->playEffect(id, centre);
        layer->advance();
    }
}

struct FrameCost
{
    double median = 0;
    double max = 0;
};

FrameCost layerFrames(EffectLayer *layer, QImage *image, int threads, int repeats)
{
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i)
        ms.push_back(layerFrameMs(layer, image, threads));
    return {bench::median(ms), bench::maximum(ms)};
}

// Every item of `clicks` clicks at 15 clicks/s, frozen at the moment of the last one, then the
// whole window repainted again and again: what one frame costs with that many items alive. Then
// the layer alone, and each family alone (its effects only, played the same way).
Q_NEVER_INLINE void measureFrames(MainWindow *window, int clicks)
{
    auto *layer = window->findChild<EffectLayer *>("effectLayer");
    auto *manager = window->findChild<EffectManager *>();
    if (!layer || !manager)
        return;
    qint64 now = 0;
    layer->setClock([&now] { return now; });
    const QPoint centre = window->mapToGlobal(window->rect().center());
    QList<int> all;
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        all << id;
    playFrozen(layer, manager, centre, &now, clicks, all);
    idle(400); // the shakes settle
    std::vector<double> whole;
    QImage image(window->size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < 60; ++i) {
        // advance() on the frozen clock marks every item as changed: the frame draws them all.
        whole.push_back(timed([&] {
            layer->advance();
            window->repaint();
        }));
    }
    const int items = layer->itemCount();
    std::printf("%d clicks alive: %d items; whole window repaint median %.2f ms, max %.2f ms\n",
                clicks, items, bench::median(whole), bench::maximum(whole));
#ifdef TAPTEMPEST_EFFECTLAYER_BANDS
    const QList<int> threadCounts{1, 2};
    std::printf("  the layer alone, rendered in bands (the layer's default: %d threads on %d "
                "cores):\n",
                layer->paintThreads(), QThread::idealThreadCount());
#else
    const QList<int> threadCounts{1};
    std::printf("  the layer alone, painted by the painter on one thread:\n");
#endif
    for (int threads : threadCounts) {
        const FrameCost cost = layerFrames(layer, &image, threads, 60);
        std::printf("    %d thread(s): median %.2f ms, max %.2f ms (%.2f us an item)\n", threads,
                    cost.median, cost.max, 1000 * cost.median / std::max(1, items));
    }

    std::printf("  by family, the same %d clicks of that family's effects only:\n", clicks);
    const char *const names[] = {"Float", "Fall", "Ring", "Burst", "Streak", "Shake", "BounceText"};
    for (int family = 0; family <= int(EffectType::BounceText); ++family) {
        if (family == int(EffectType::Shake))
            continue;
        QList<int> ids;
        for (int id : all)
            if (EffectManager::effectInfo(id).type == family)
                ids << id;
        playFrozen(layer, manager, centre, &now, clicks, ids);
        std::printf("    %-10s %6d items:", names[family], layer->itemCount());
        for (int threads : threadCounts) {
            const FrameCost cost = layerFrames(layer, &image, threads, 30);
            std::printf(" %d thread(s) median %.2f ms, max %.2f ms;", threads, cost.median,
                        cost.max);
        }
        std::printf("\n");
    }
    now += 100000;
    layer->advance();
    layer->setClock(nullptr);
}

// One click, press to release; named so that a profiler can collect just this.
Q_NEVER_INLINE void profiledClick(ClickButton *button)
{
    sendMouse(button, QEvent::MouseButtonPress);
    idle(50);
    sendMouse(button, QEvent::MouseButtonRelease);
}

// Clicks in a row and everything they cause until the last label is gone.
Q_NEVER_INLINE void profiledClickLifetime(MainWindow *window, ClickButton *button, int clicks)
{
    for (int i = 0; i < clicks; ++i)
        profiledClick(button);
    runLoop(nullptr, [&](double now) {
        return now >= 4500 && liveEffectItems(window) == 0 && liveLabels(button) == 0;
    });
}

} // namespace

int main(int argc, char **argv)
{
    // Never read or write the real player's settings.
    QTemporaryDir home;
    if (!bench::useAsHome(home)) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(QCoreApplication::arguments(), &options)) {
        std::fprintf(stderr,
                     "usage: bench_effects [--seconds N] [--after N] [--rates 1,5,10,15,30] "
                     "[--profile [N]]\n");
        return 2;
    }
    Application::prepare(app);

    // A saved session, and every effect switched on.
    {
        QSettings settings;
        settings.setValue(SettingsKeys::authToken, "bench-token");
        settings.setValue(SettingsKeys::authUsername, "bench");
        settings.setValue(SettingsKeys::authUserId, "1");
        settings.sync();
        bench::switchOnEveryEffect();
    }

    ScriptedPeer peer;
    int credited = 0;
    peer.setHandler([&credited](const RecordedRequest &request) {
        if (request.action() == "click") {
            credited += request.json().value("count").toInt();
            return ScriptedResponse::ok({{"total_clicks", credited}, {"gold", credited / 100}});
        }
        if (request.action() == "stats") {
            return ScriptedResponse::ok({{"username", "bench"},
                                         {"total_clicks", credited},
                                         {"gold", credited / 100},
                                         {"balance", 0},
                                         {"effects", bench::everyEffectOwned()}});
        }
        return ScriptedResponse::ok();
    });
    if (!peer.start()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    qputenv("TAPTEMPEST_SERVER_URL", peer.url().toUtf8());

    AuthManager authManager;
    ApiClient apiClient;
    apiClient.setAuthManager(&authManager);
    Theme::apply(&app, true);

    auto *window = new MainWindow(&authManager, &apiClient);
    window->show();
    auto *button = window->findChild<ClickButton *>("clickButton");
    if (!button) {
        std::fprintf(stderr, "the main window has no click button\n");
        return 1;
    }
    // The first statistics load and the first frames.
    idle(1000);

    int enabled = 0;
    const EffectManager *manager = window->findChild<EffectManager *>();
    for (int id = 1; manager && id <= EffectManager::effectCount(); ++id)
        enabled += manager->isEffectEnabled(id) ? 1 : 0;
    std::printf("platform %s, window %dx%d, %d of %d effects on, load average %s\n",
                qPrintable(QGuiApplication::platformName()), window->width(), window->height(),
                enabled, EffectManager::effectCount(), qPrintable(bench::loadAverage()));
    std::fflush(stdout);

    LoopMeter meter(window);
    app.installEventFilter(&meter);

    if (options.frameClicks > 0) {
        measureFrames(window, options.frameClicks);
    } else if (options.profile) {
        profiledClick(button); // fonts, style sheet caches and the like are loaded once
        runLoop(nullptr, [&](double now) {
            return now >= 4500 && liveEffectItems(window) == 0 && liveLabels(button) == 0;
        });
        const bench::Memory before = bench::readMemory();
        QElapsedTimer clock;
        clock.start();
        profiledClickLifetime(window, button, options.profileClicks);
        std::printf("profiled %d click(s) and their whole life: %lld ms, RSS %s MiB before, HWM "
                    "%s MiB\n",
                    options.profileClicks, clock.elapsed(), qPrintable(bench::mib(before.rssKb)),
                    qPrintable(bench::mib(bench::readMemory().hwmKb)));
    } else {
        std::printf("clicking for %d s per rate, memory read %d s after the last click\n",
                    options.seconds, options.after);
        std::vector<RateResult> results;
        for (int rate : options.rates) {
            results.push_back(runRate(window, button, &meter, rate, options));
            printResult(results.back());
        }

        std::printf("\n| clicks/s | on time | worst input delay ms | peak items | gap max ms | "
                    "gap p99 ms | frame median ms | frame max ms | click median ms | click max "
                    "ms | RSS before MiB | RSS peak MiB | RSS +%ds MiB |\n",
                    options.after);
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const RateResult &r : results) {
            std::vector<double> clickMs;
            for (size_t i = 0; i < r.releaseMs.size(); ++i)
                clickMs.push_back(r.pressMs[i] + r.releaseMs[i]);
            std::vector<double> frameMs;
            for (const LoopMeter::Frame &f : r.frames)
                if (!f.duringClick)
                    frameMs.push_back(f.ms);
            std::printf("| %d | %d/%d | %.1f | %d | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f | %s | "
                        "%s | %s |\n",
                        r.rate, r.clicksOnTime, r.clicksDue, r.worstInputDelayMs, r.peakLabels,
                        bench::maximum(r.gaps), bench::percentile(r.gaps, 99),
                        bench::median(frameMs), bench::maximum(frameMs), bench::median(clickMs),
                        bench::maximum(clickMs), qPrintable(bench::mib(r.before.rssKb)),
                        qPrintable(bench::mib(r.atPeak.rssKb)),
                        qPrintable(bench::mib(r.after.rssKb)));
        }
        std::printf("server credited %d clicks; load average %s\n", credited,
                    qPrintable(bench::loadAverage()));
    }

    window->close();
    delete window;
    return 0;
}
