// What a click costs on its way to disk: the session's count, one journal line (written for
// every click at most once per journal period) and the tick's sync to disk. Prints figures.
#include "game/gamesession.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

namespace {

double microsPer(qint64 nanos, int count)
{
    return double(nanos) / 1000.0 / count;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    // Nothing listens there: no batch is ever answered.
    qputenv("TAPTEMPEST_SERVER_URL", "http://127.0.0.1:9/api/index.php");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("TapTempest");
    QCoreApplication::setApplicationName("TapTempest");

    const int journalWrites = 2000;
    ClickOutbox outbox(QStringLiteral("http://127.0.0.1:9/api/index.php"), "id:1");
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= journalWrites; ++i)
        outbox.journal(id, i);
    const qint64 journalNs = clock.nsecsElapsed();
    clock.restart();
    const int syncs = 20;
    for (int i = 0; i < syncs; ++i)
        outbox.syncJournal();
    const qint64 syncNs = clock.nsecsElapsed();

    AuthManager auth;
    auth.handleLoginResponse(QJsonObject{{"username", "bench"}, {"token", "t"}});
    ApiClient api;
    api.setAuthManager(&auth);
    GameSession::Intervals intervals;
    intervals.syncMs = 3600 * 1000;
    GameSession session(&auth, &api, intervals);
    // Below the batch threshold, so that no request is made while counting.
    const int clicks = 19;
    const int rounds = 5000;
    qint64 clickNs = 0;
    for (int r = 0; r < rounds; ++r) {
        clock.restart();
        for (int i = 0; i < clicks; ++i)
            session.click();
        clickNs += clock.nsecsElapsed();
        session.forceSync();
        QCoreApplication::processEvents();
    }

    const double click = microsPer(clickNs, clicks * rounds);
    const double line = microsPer(journalNs, journalWrites);
    const double sync = microsPer(syncNs, syncs);
    // At 30 clicks/s: at most one line per 50 ms journal period (20 a second) and one sync per
    // 3-s tick.
    const double perClickAt30 = click + line * 20.0 / 30.0 + sync / (3.0 * 30.0);
    std::printf("session click (count only): %.2f us\n", click);
    std::printf("journal line: %.2f us\n", line);
    std::printf("journal sync to disk: %.2f us\n", sync);
    std::printf("cost per click at 30 clicks/s: %.2f us (%.1f journal lines/s)\n", perClickAt30,
                20.0);
    return 0;
}
