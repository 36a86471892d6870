// What a start-up leaves in the data folder, whether it succeeds, fails or meets another server.

#include "server/datafolder.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

void touch(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("x");
}

QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    names.sort();
    return names;
}

} // namespace

class TestDataFolder : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> base;
    QString path(const QString &name) const { return base->filePath(name); }

private slots:
    void init() { base = std::make_unique<QTemporaryDir>(); }
    void cleanup() { base.reset(); }

    void aFailedStartRemovesOnlyWhatItCreated()
    {
        const QString folder = path("data");
        QVERIFY(QDir().mkpath(folder));
        touch(folder + "/server.db");
        touch(folder + "/notes.txt");
        {
            DataFolder data;
            QString error;
            QVERIFY2(data.open(folder, true, &error), qPrintable(error));
            QCOMPARE(data.path(), QDir(folder).absolutePath());
            QVERIFY(QFileInfo::exists(folder + "/server.lock"));
            for (const char *name : {"server.db-wal", "server.db-shm", "cert.pem", "key.pem"})
                touch(folder + '/' + QLatin1String(name));
        }
        QCOMPARE(entries(folder), (QStringList{"notes.txt", "server.db"}));
    }

    void aNewFolderGoesWithAFailedStart()
    {
        const QString folder = path("new/data");
        {
            DataFolder data;
            QString error;
            QVERIFY2(data.open(folder, true, &error), qPrintable(error));
            QVERIFY(QFileInfo(folder).isDir());
            touch(folder + "/server.db");
            touch(folder + "/server.db-journal");
        }
        QVERIFY(!QFileInfo::exists(folder));
    }

    void aSuccessfulStartKeepsEverything()
    {
        const QString folder = path("data");
        {
            DataFolder data;
            QString error;
            QVERIFY2(data.open(folder, true, &error), qPrintable(error));
            touch(folder + "/server.db");
            touch(folder + "/cert.pem");
            touch(folder + "/key.pem");
            data.keep();
        }
        QCOMPARE(entries(folder), (QStringList{"cert.pem", "key.pem", "server.db"}));
    }

    void aHeldFolderIsRefusedAndLeftAlone()
    {
        const QString folder = path("data");
        DataFolder holder;
        QString error;
        QVERIFY2(holder.open(folder, true, &error), qPrintable(error));
        {
            DataFolder second;
            QVERIFY(!second.open(folder, true, &error));
            QVERIFY2(error.contains(
                         QStringLiteral("(process %1 ").arg(QCoreApplication::applicationPid())),
                     qPrintable(error));
            // What the holder writes meanwhile is not the refused one's to clean up.
            touch(folder + "/server.db");
            touch(folder + "/cert.pem");
        }
        QCOMPARE(entries(folder), (QStringList{"cert.pem", "server.db", "server.lock"}));
        DataFolder third;
        QVERIFY(!third.open(folder, true, &error));
        holder.keep();
    }

    void withoutTheLockNothingIsCleanedUp()
    {
        // An account added beside a running server must not undo that server's files.
        const QString folder = path("data");
        {
            DataFolder data;
            QString error;
            QVERIFY2(data.open(folder, false, &error), qPrintable(error));
            QVERIFY(!QFileInfo::exists(folder + "/server.lock"));
            touch(folder + "/server.db");
        }
        QCOMPARE(entries(folder), QStringList{"server.db"});
    }
};

TAPTEMPEST_TEST_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
