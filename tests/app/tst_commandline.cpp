#include "app/commandline.h"
#include "support/testenv.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

namespace {

struct Run
{
    bool finished = false;
    int status = -1;
    QString out;
    QString err;
};

// The real program with no display at all: a window, or even a GUI application object, would
// fail to find one.
Run runWithoutDisplay(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert("HOME", testenv::homeDir());
    env.insert("XDG_CONFIG_HOME", testenv::homeDir() + "/.config");
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TAPTEMPEST_CLIENT_BINARY), arguments);
    Run run;
    run.finished = process.waitForFinished(20000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answersAndExitsWithoutADisplay_data();
    void answersAndExitsWithoutADisplay();
    void withoutTheseOptionsTheGameNeedsADisplay();
    void otherArgumentsStartTheGame_data();
    void otherArgumentsStartTheGame();
};

void TestCommandLine::answersAndExitsWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    const QStringList help{
        "Usage:",   "--help", "--version", "TAPTEMPEST_SERVER_URL", "TAPTEMPEST_CA_FILE",
        "-platform"};
    const QStringList version{QStringLiteral("taptempest " TAPTEMPEST_VERSION "\n")};
    QTest::newRow("--help") << QStringList{"--help"} << help;
    QTest::newRow("-h") << QStringList{"-h"} << help;
    QTest::newRow("--help-all") << QStringList{"--help-all"} << help;
    QTest::newRow("--version") << QStringList{"--version"} << version;
    QTest::newRow("-v") << QStringList{"-v"} << version;
    QTest::newRow("after Qt's own option")
        << QStringList{"-style", "Fusion", "--version"} << version;
}

void TestCommandLine::answersAndExitsWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    const Run run = runWithoutDisplay(arguments);
    QVERIFY2(run.finished, "the program did not end");
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    if (expected.size() == 1 && expected[0].startsWith("taptempest "))
        QCOMPARE(run.out, expected[0]);
    for (const QString &part : expected)
        QVERIFY2(run.out.contains(part), qPrintable(part + " missing from:\n" + run.out));
}

void TestCommandLine::withoutTheseOptionsTheGameNeedsADisplay()
{
    // The other side of the case above: the same environment does stop the game itself, so
    // the answers above were given before any display was asked for.
    const Run run = runWithoutDisplay({});
    QVERIFY2(run.finished, "the game started without a display");
    QVERIFY(run.status != 0);
    QVERIFY2(run.err.contains("display", Qt::CaseInsensitive), qPrintable(run.err));
    QCOMPARE(run.out, QString());
}

void TestCommandLine::otherArgumentsStartTheGame_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList{"taptempest"};
    QTest::newRow("Qt's options") << QStringList{"taptempest", "-style", "Fusion", "-platform",
                                                 "offscreen"};
    QTest::newRow("unknown option") << QStringList{"taptempest", "--fullscreen"};
    QTest::newRow("a word") << QStringList{"taptempest", "version"};
}

void TestCommandLine::otherArgumentsStartTheGame()
{
    QFETCH(QStringList, arguments);
    QVERIFY(!CommandLine::answerFor(arguments));
}

TAPTEMPEST_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
