#include "server/storagefailurelog.h"
#include "support/testenv.h"

#include <QStringList>

namespace {

QStringList *captured = nullptr;

void capture(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (captured && QLatin1String(context.category) == QLatin1String("taptempest.server.storage"))
        captured->append(message);
}

} // namespace

class TestStorageFailureLog : public QObject
{
    Q_OBJECT

private:
    QStringList lines;
    qint64 now = 0;
    QtMessageHandler previous = nullptr;

private slots:
    void init()
    {
        lines.clear();
        now = 5000;
        captured = &lines;
        previous = qInstallMessageHandler(capture);
    }

    void cleanup()
    {
        qInstallMessageHandler(previous);
        captured = nullptr;
    }

    void repeatsAreToldOnceASecondWithTheirCount()
    {
        StorageFailureLog log([this] { return now; });
        QVERIFY(log.report("committing the click transaction", "database or disk is full"));
        QCOMPARE(lines, QStringList{"storage failure while committing the click transaction: "
                                    "database or disk is full"});

        // A flood of the same failure within the second says nothing more.
        for (int i = 0; i < 500; ++i) {
            now += 1;
            QVERIFY(!log.report("committing the click transaction", "database or disk is full"));
        }
        QCOMPARE(lines.size(), 1);

        // Another action or another reason is news and is told at once.
        QVERIFY(log.report("committing the deposit transaction", "database or disk is full"));
        QVERIFY(log.report("committing the click transaction", "disk I/O error"));
        QCOMPARE(lines.size(), 3);

        // A second after the first line, the repeat is told with what was left out.
        now = 5000 + StorageFailureLog::kRepeatIntervalMs;
        QVERIFY(log.report("committing the click transaction", "database or disk is full"));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.last(), QString("storage failure while committing the click transaction: "
                                       "database or disk is full (500 more since the last "
                                       "report)"));
        QVERIFY(!log.report("committing the click transaction", "database or disk is full"));
        now += StorageFailureLog::kRepeatIntervalMs;
        QVERIFY(log.report("committing the click transaction", "database or disk is full"));
        QCOMPARE(lines.last(), QString("storage failure while committing the click transaction: "
                                       "database or disk is full (1 more since the last report)"));
    }

    void manyDistinctFailuresStayBounded()
    {
        StorageFailureLog log([this] { return now; });
        for (int i = 0; i < 2000; ++i)
            QVERIFY(log.report("reading an account", QString("error %1").arg(i)));
        QCOMPARE(lines.size(), 2000);
        // Still rate-limited after forgetting old entries.
        QVERIFY(!log.report("reading an account", "error 1999"));
    }
};

TAPTEMPEST_TEST_MAIN(TestStorageFailureLog)
#include "tst_storagefailurelog.moc"
