#include "net/clickoutbox.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace {

const QString kServer = QStringLiteral("https://127.0.0.1:1/api/index.php");
const QString kAccount = QStringLiteral("id:42");

// The owed sessions as the file holds them: sync id -> (sync_total, clicks).
QMap<QString, QPair<qint64, qint64>> onDisk()
{
    QFile file(ClickOutbox::filePath(kServer, kAccount));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QPair<qint64, qint64>> out;
    for (const QJsonValue &v : QJsonDocument::fromJson(file.readAll())["sessions"].toArray())
        out.insert(v["sync_id"].toString(), {v["sync_total"].toInteger(), v["clicks"].toInteger()});
    return out;
}

QPair<qint64, qint64> owes(qint64 total, qint64 clicks)
{
    return {total, clicks};
}

} // namespace

class TestClickOutbox : public QObject
{
    Q_OBJECT

private:
    QString path() const { return ClickOutbox::filePath(kServer, kAccount); }

private slots:
    void init() { QDir(QFileInfo(path()).absolutePath()).removeRecursively(); }

    void writesOnlyWhatIsOwedAndWhenItChanges()
    {
        ClickOutbox outbox(kServer, kAccount);
        QVERIFY(outbox.inherited().isEmpty());
        // A session confirmed before it was ever written leaves no file.
        outbox.confirm("quick", 5);
        QVERIFY(!QFile::exists(path()));

        outbox.record("s", 30);
        QCOMPARE(onDisk(), (QMap<QString, QPair<qint64, qint64>>{{"s", owes(30, 30)}}));
        // Nothing new: no write (a removed file stays removed).
        QFile::remove(path());
        outbox.record("s", 30);
        outbox.record("s", 12);
        QVERIFY(!QFile::exists(path()));
        outbox.record("s", 31);
        QCOMPARE(onDisk().value("s"), owes(31, 31));

        // Partly confirmed: the rest is still owed, also to the next window.
        outbox.confirm("s", 20);
        QCOMPARE(onDisk().value("s"), owes(31, 11));
        {
            ClickOutbox next(kServer, kAccount);
            QCOMPARE(next.inherited().size(), 1);
            QCOMPARE(next.inherited()[0].syncId, QString("s"));
            QCOMPARE(next.inherited()[0].total, 31);
            QCOMPARE(next.inherited()[0].owed(), 11);
        }
        outbox.confirm("s", 31);
        QVERIFY(!QFile::exists(path()));
    }

    void outboxesOfOtherAccountsAndServersAreSeparate()
    {
        QVERIFY(ClickOutbox::filePath(kServer, "id:42") != ClickOutbox::filePath(kServer, "id:43"));
        QVERIFY(ClickOutbox::filePath(kServer, "id:42") !=
                ClickOutbox::filePath("https://127.0.0.1:2/api/index.php", "id:42"));
        QVERIFY(ClickOutbox::accountKey("7", "bob") != ClickOutbox::accountKey(QString(), "7"));
        ClickOutbox other(kServer, "id:43");
        other.record("theirs", 3);
        QVERIFY(ClickOutbox(kServer, kAccount).inherited().isEmpty());
    }

    void twoWindowsShareOneFile()
    {
        auto a = std::make_unique<ClickOutbox>(kServer, kAccount);
        ClickOutbox b(kServer, kAccount);
        a->record("a", 3);
        b.record("b", 4);
        QCOMPARE(onDisk(),
                 (QMap<QString, QPair<qint64, qint64>>{{"a", owes(3, 3)}, {"b", owes(4, 4)}}));

        // A third window inherits "a"; once the first sees it confirmed, the third must not
        // bring it back when it writes its own session.
        ClickOutbox c(kServer, kAccount);
        QCOMPARE(c.inherited().size(), 2);
        a->confirm("a", 3);
        QCOMPARE(onDisk().keys(), QStringList{"b"});
        c.record("c", 2);
        QCOMPARE(onDisk().keys(), (QStringList{"b", "c"}));

        // A window that goes away forgets nothing that is on disk.
        a.reset();
        b.confirm("b", 4);
        QCOMPARE(onDisk().keys(), QStringList{"c"});
    }

    void unusableFilesAreMovedAside_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const auto doc = [](const QJsonObject &session, const QString &account = kAccount) {
            return QJsonDocument(QJsonObject{{"version", 1},
                                             {"server", kServer},
                                             {"account", account},
                                             {"sessions", QJsonArray{session}}})
                .toJson();
        };
        const QJsonObject good{{"sync_id", "s"}, {"sync_total", 5}, {"clicks", 5}};
        QTest::newRow("truncated") << doc(good).left(50);
        QTest::newRow("array") << QByteArray("[1, 2]");
        QTest::newRow("other account") << doc(good, "id:43");
        QTest::newRow("more owed than made")
            << doc(QJsonObject{{"sync_id", "s"}, {"sync_total", 5}, {"clicks", 6}});
        QTest::newRow("fractional")
            << doc(QJsonObject{{"sync_id", "s"}, {"sync_total", 5.5}, {"clicks", 1}});
        QTest::newRow("no id") << doc(QJsonObject{{"sync_total", 5}, {"clicks", 1}});
    }

    void unusableFilesAreMovedAside()
    {
        QFETCH(QByteArray, bytes);
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("click outbox .* is corrupt"));
        ClickOutbox outbox(kServer, kAccount);
        QVERIFY(outbox.inherited().isEmpty());
        QVERIFY(!QFile::exists(path()));
        const QFileInfo info(path());
        QCOMPARE(info.dir().entryList({info.fileName() + ".corrupt-*"}, QDir::Files).size(), 1);
        // And it works as a fresh one.
        outbox.record("fresh", 2);
        QCOMPARE(onDisk().value("fresh"), owes(2, 2));
    }
};

TAPTEMPEST_TEST_MAIN(TestClickOutbox)
#include "tst_clickoutbox.moc"
