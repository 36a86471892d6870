// Cost of click feedback: catalogue look-ups, switch writes, and what one click with every
// effect on does to a window, alone and under sustained clicking. Prints its figures.

#include "feedback/clickbutton.h"
#include "feedback/effectmanager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Lag
{
    double meanMs = 0;
    double maxMs = 0;
    int over50 = 0;
    int ticks = 0;
};

int liveLabels(QWidget *window)
{
    return int(window->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).size());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One click as the main window handles it: the "+1" plus every switched-on effect at the
// button's centre.
void click(ClickButton *button, EffectManager *manager)
{
    button->showFloatingText(1);
    const QPoint centre = button->mapToGlobal(button->rect().center());
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        if (manager->isEffectEnabled(id))
            manager->playEffect(id, centre);
    }
}

// Runs the event loop for `ms` while a 16 ms timer measures how late it gets to run; `onTick`
// may click.
template <typename F> Lag runAndMeasure(int ms, F onTick)
{
    Lag lag;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double total = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(16);
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const double late = double(now - last) - 16.0;
        last = now;
        total += std::max(0.0, late);
        lag.maxMs = std::max(lag.maxMs, late);
        if (late > 50)
            ++lag.over50;
        ++lag.ticks;
        onTick(now);
        if (now >= ms)
            loop.quit();
    });
    ticker.start();
    loop.exec();
    lag.meanMs = lag.ticks ? total / lag.ticks : 0;
    return lag;
}

} // namespace

int main(int argc, char **argv)
{
    // Never touch the real player's switches.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("TapTempest");
    QCoreApplication::setApplicationName("TapTempest");
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));

    // Catalogue look-ups (the stats refresh maps every owned class).
    {
        const int rounds = 20000;
        QStringList classes;
        for (int id = 1; id <= EffectManager::effectCount(); ++id)
            classes << EffectManager::effectClass(id);
        QElapsedTimer t;
        t.start();
        long sum = 0;
        for (int r = 0; r < rounds; ++r) {
            for (const QString &c : classes)
                sum += EffectManager::effectIdForClass(c);
        }
        const double ns = double(t.nsecsElapsed()) / (rounds * classes.size());
        std::printf("effectIdForClass: %.0f ns per look-up (checksum %ld)\n", ns, sum);
    }

    QMainWindow window;
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    auto *button = new ClickButton;
    button->setText("CLICK ME!");
    layout->addWidget(button, 0, Qt::AlignCenter);
    window.setCentralWidget(central);
    window.resize(900, 700);
    window.show();
    QCoreApplication::processEvents();

    auto *manager = new EffectManager(&window);

    // Switch writes: each one rewrites the whole group and syncs.
    {
        QElapsedTimer t;
        t.start();
        for (int id = 1; id <= EffectManager::effectCount(); ++id)
            manager->setEffectEnabled(id, true);
        std::printf("setEffectEnabled: %.2f ms per call (39 calls, all on)\n",
                    double(t.nsecsElapsed()) / 1e6 / 39);
    }

    // One click, all 39 effects on: creation cost, then the first paint.
    {
        std::vector<double> create, paint;
        int labels = 0;
        for (int i = 0; i < 15; ++i) {
            QElapsedTimer t;
            t.start();
            click(button, manager);
            create.push_back(double(t.nsecsElapsed()) / 1e6);
            labels = liveLabels(&window);
            t.restart();
            window.repaint();
            paint.push_back(double(t.nsecsElapsed()) / 1e6);
            // Measured each click on its own: drop its labels (their animations go with them).
            qDeleteAll(window.findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly));
            qDeleteAll(button->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly));
            runAndMeasure(400, [](qint64) {}); // the shake ends
        }
        std::printf("one click, all effects: %d labels, create %.2f ms, first repaint %.2f ms "
                    "(median of 15)\n",
                    labels, median(create), median(paint));
    }

    // Idle baseline, then sustained clicking at several rates for 5 s.
    const Lag idle = runAndMeasure(2000, [](qint64) {});
    std::printf("idle loop: lateness mean %.1f ms, max %.1f ms\n", idle.meanMs, idle.maxMs);
    for (int perSecond : {2, 5, 10}) {
        const int gap = 1000 / perSecond;
        qint64 nextClick = 0;
        int clicks = 0;
        int peak = 0;
        const Lag lag = runAndMeasure(5000, [&](qint64 now) {
            if (now >= nextClick && now < 5000) {
                click(button, manager);
                ++clicks;
                nextClick += gap;
            }
            peak = std::max(peak, liveLabels(&window));
        });
        QElapsedTimer drain;
        drain.start();
        while (liveLabels(&window) > 0 && drain.elapsed() < 20000)
            runAndMeasure(50, [](qint64) {});
        std::printf("%2d clicks/s for 5 s: %d clicks, peak %d live labels, loop lateness mean "
                    "%.1f ms, max %.1f ms, %d of %d ticks over 50 ms late; drained in %lld ms\n",
                    perSecond, clicks, peak, lag.meanMs, lag.maxMs, lag.over50, lag.ticks,
                    drain.elapsed());
    }
    return 0;
}
