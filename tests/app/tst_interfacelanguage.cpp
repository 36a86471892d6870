#include "app/interfacelanguage.h"
#include "net/appsettings.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtEndian>
#include <QtTest>

namespace {

// Warnings of the language category, counted while a check runs.
QStringList languageWarnings;
QtMessageHandler previousHandler = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "taptempest.language") == 0)
        languageWarnings << text;
    else if (previousHandler)
        previousHandler(type, context, text);
}

QString shown(const char *context, const char *source)
{
    return QCoreApplication::translate(context, source);
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%[\\dn]"));
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

QString committedCatalogue()
{
    return testenv::sourceDir() + QStringLiteral("/translations/taptempest_en.ts");
}

// Reads a .ts file; the message says which file and why when it cannot.
bool readCatalogue(const QString &path, QDomDocument &document, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("%1: %2 (TAPTEMPEST_SOURCE_DIR names the source folder)")
                  .arg(path, file.errorString());
        return false;
    }
    const auto parsed = document.setContent(&file);
    if (!parsed) {
        why = QStringLiteral("%1 is not well-formed XML").arg(path);
        return false;
    }
    return true;
}

// Each message as lupdate tells them apart: context, source text, disambiguation, and whether
// it counts.
QSet<QString> messageKeys(const QDomDocument &document)
{
    QSet<QString> keys;
    const QDomNodeList contexts = document.elementsByTagName("context");
    for (int c = 0; c < contexts.size(); ++c) {
        const QDomElement context = contexts.at(c).toElement();
        const QString name = context.firstChildElement("name").text();
        for (QDomElement message = context.firstChildElement("message"); !message.isNull();
             message = message.nextSiblingElement("message")) {
            QString key = name + QStringLiteral(" | ") + message.firstChildElement("source").text();
            const QString comment = message.firstChildElement("comment").text();
            if (!comment.isEmpty())
                key += QStringLiteral(" | ") + comment;
            if (message.attribute("numerus") == QLatin1String("yes"))
                key += QStringLiteral(" (counted)");
            keys.insert(key);
        }
    }
    return keys;
}

QByteArray builtCatalogue()
{
    QFile file(InterfaceLanguage::englishTranslation());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The catalogue's blocks, each a tag byte and a big-endian length, after its 16-byte header.
enum Block : quint8
{
    Hashes = 0x42,
    Messages = 0x69
};

// `qm` with the contents of its `tag` block garbled from `from` (a share of the block) on and
// its frame kept, so that the file still looks well-formed.
QByteArray garbled(QByteArray qm, quint8 tag, double from = 0)
{
    qsizetype at = 16;
    while (at + 5 <= qm.size()) {
        const quint8 found = quint8(qm.at(at));
        const quint32 length = qFromBigEndian<quint32>(qm.constData() + at + 1);
        at += 5;
        const qsizetype end = qMin<qsizetype>(at + length, qm.size());
        for (qsizetype i = at + qsizetype(length * from); found == tag && i < end; ++i)
            qm[i] = char(qm.at(i) ^ 0x5a);
        at += length;
    }
    return qm;
}

// Every (context, source) of the committed catalogue.
QList<QPair<QByteArray, QByteArray>> catalogueTexts()
{
    QList<QPair<QByteArray, QByteArray>> texts;
    QFile file(committedCatalogue());
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return texts;
    const QDomNodeList messages = document.elementsByTagName("message");
    for (int i = 0; i < messages.size(); ++i) {
        const QDomElement message = messages.at(i).toElement();
        const QString context = message.parentNode().toElement().firstChildElement("name").text();
        texts.append({context.toUtf8(), message.firstChildElement("source").text().toUtf8()});
    }
    return texts;
}

QStringList sorted(const QSet<QString> &set)
{
    QStringList list(set.cbegin(), set.cend());
    list.sort();
    return list;
}

} // namespace

class TestInterfaceLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        testenv::clearSettings();
        qunsetenv("TAPTEMPEST_LANG");
        languageWarnings.clear();
        previousHandler = qInstallMessageHandler(countWarnings);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
        qunsetenv("TAPTEMPEST_LANG");
        InterfaceLanguage::install(*qApp, QStringLiteral("zh_CN"));
    }

    void choice_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("warnings");
        QTest::newRow("nothing stored") << QString() << QString() << "zh_CN" << 0;
        QTest::newRow("stored English") << "en" << QString() << "en" << 0;
        QTest::newRow("stored Chinese") << "zh_CN" << QString() << "zh_CN" << 0;
        QTest::newRow("environment wins") << "zh_CN"
                                          << "en"
                                          << "en" << 0;
        QTest::newRow("environment back to Chinese") << "en"
                                                     << "zh_CN"
                                                     << "zh_CN" << 0;
        QTest::newRow("unknown stored") << "fr" << QString() << "zh_CN" << 1;
        QTest::newRow("unknown environment") << "en"
                                             << "klingon"
                                             << "zh_CN" << 1;
        QTest::newRow("wrong case") << "EN" << QString() << "zh_CN" << 1;
    }

    void choice()
    {
        QFETCH(QString, stored);
        QFETCH(QString, environment);
        QFETCH(QString, expected);
        QFETCH(int, warnings);
        if (!stored.isEmpty())
            AppSettings::setLanguage(stored);
        if (!environment.isEmpty())
            qputenv("TAPTEMPEST_LANG", environment.toUtf8());
        QCOMPARE(InterfaceLanguage::chosen(), expected);
        QCOMPARE(languageWarnings.size(), warnings);
        // The environment is for one run: the stored choice stays as it was.
        if (!stored.isEmpty())
            QCOMPARE(AppSettings::language(), stored);
    }

    void englishAndBack()
    {
        QCOMPARE(InterfaceLanguage::install(*qApp, "en"), QString("en"));
        QCOMPARE(shown("MainWindow", "退出登录"), QString("Log out"));
        QCOMPARE(shown("ApiError", "请求超时，请检查网络连接"),
                 QString("The request timed out; please check the network connection"));
        QCOMPARE(shown("EffectManager", "金币雨"), QString("Coin rain"));
        // Qt's own buttons speak the same language.
        QCOMPARE(shown("QPlatformTheme", "Cancel"), QString("Cancel"));

        QCOMPARE(InterfaceLanguage::install(*qApp, "zh_CN"), QString("zh_CN"));
        QCOMPARE(shown("MainWindow", "退出登录"), QString("退出登录"));
        QCOMPARE(shown("QPlatformTheme", "Cancel"), QString("取消"));
        QVERIFY(languageWarnings.isEmpty());
    }

    void unusableTranslationFallsBackToChinese_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("damaged") << QByteArray("\x3c\xb8\x64\x18 not a catalogue", 20);
        QTest::newRow("empty file") << QByteArray("");
        // Real catalogues with a valid header, as a disk or a download leaves them.
        const QByteArray qm = builtCatalogue();
        QVERIFY(qm.size() > 1000);
        QTest::newRow("header only") << qm.left(16);
        QTest::newRow("cut in half") << qm.left(qm.size() / 2);
        QTest::newRow("last byte missing") << qm.chopped(1);
        QByteArray overwritten = qm;
        overwritten.replace(16, qm.size() - 16, QByteArray(qm.size() - 16, '\xff'));
        QTest::newRow("body overwritten") << overwritten;
        QTest::newRow("messages garbled") << garbled(qm, Messages);
        QTest::newRow("index garbled") << garbled(qm, Hashes);
    }

    void unusableTranslationFallsBackToChinese()
    {
        QFETCH(QByteArray, content);
        QString path = QStringLiteral("/nonexistent/taptempest_en.qm");
        QTemporaryFile file;
        if (!content.isNull()) {
            QVERIFY(file.open());
            file.write(content);
            file.close();
            path = file.fileName();
        }
        QCOMPARE(InterfaceLanguage::install(*qApp, "en", path), QString("zh_CN"));
        QCOMPARE(languageWarnings.size(), 1);
        // Never an empty text: the Chinese source texts and Qt's Chinese buttons.
        QCOMPARE(shown("MainWindow", "退出登录"), QString("退出登录"));
        QCOMPARE(shown("QPlatformTheme", "Cancel"), QString("取消"));
        const auto texts = catalogueTexts();
        QVERIFY(texts.size() > 150);
        for (const auto &[context, source] : texts)
            QCOMPARE(shown(context, source), QString::fromUtf8(source));
    }

    // Damage the catalogue's own check cannot see: each text either has its English or keeps its
    // Chinese source, none is empty or garbled into something else.
    void partlyDamagedTranslationShowsEveryText_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray qm = builtCatalogue();
        QVERIFY(qm.size() > 1000);
        QTest::newRow("end of the messages garbled") << garbled(qm, Messages, 0.5);
        QTest::newRow("end of the index garbled") << garbled(qm, Hashes, 0.5);
    }

    void partlyDamagedTranslationShowsEveryText()
    {
        QFETCH(QByteArray, content);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(content);
        file.close();
        InterfaceLanguage::install(*qApp, "en", file.fileName());
        QTranslator intact;
        QVERIFY(intact.load(InterfaceLanguage::englishTranslation()));
        const auto texts = catalogueTexts();
        QVERIFY(texts.size() > 150);
        for (const auto &[context, source] : texts) {
            const QString text = shown(context, source);
            if (text != intact.translate(context, source))
                QCOMPARE(text, QString::fromUtf8(source));
        }
    }

    // Every text of the program has a finished English translation with the same place
    // markers; a new text run through lupdate comes in unfinished and fails here.
    void translationFileIsComplete()
    {
        QDomDocument document;
        QString why;
        QVERIFY2(readCatalogue(committedCatalogue(), document, why), qPrintable(why));
        const QDomNodeList messages = document.elementsByTagName("message");
        QVERIFY(messages.size() > 150);
        QStringList faults;
        static const QRegularExpression han(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
        for (int i = 0; i < messages.size(); ++i) {
            const QDomElement message = messages.at(i).toElement();
            const QString source = message.firstChildElement("source").text();
            const QDomElement translation = message.firstChildElement("translation");
            const QString type = translation.attribute("type");
            // A counted text has one form per number class, each of which must be whole.
            QStringList forms;
            if (message.attribute("numerus") == QLatin1String("yes")) {
                for (QDomElement form = translation.firstChildElement("numerusform");
                     !form.isNull(); form = form.nextSiblingElement("numerusform"))
                    forms << form.text();
                if (forms.size() != 2)
                    faults << QStringLiteral("%1 plural forms, English has 2: %2")
                                  .arg(forms.size())
                                  .arg(source);
            } else {
                forms << translation.text();
            }
            if (!type.isEmpty()) {
                faults << QStringLiteral("%1: %2").arg(type, source);
                continue;
            }
            for (const QString &text : std::as_const(forms)) {
                if (text.trimmed().isEmpty())
                    faults << QStringLiteral("empty: %1").arg(source);
                else if (text.contains(han))
                    faults << QStringLiteral("still Chinese: %1").arg(source);
                else if (placeholders(text) != placeholders(source))
                    faults << QStringLiteral("place markers differ: %1").arg(source);
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        // And that catalogue is what the program carries.
        QTranslator embedded;
        QVERIFY(embedded.load(InterfaceLanguage::englishTranslation()));
        QCOMPARE(embedded.translate("SettingsDialog", "重启后生效"),
                 QString("Takes effect at the next start"));
    }

    // The catalogue holds the texts the sources hold now: lupdate run over them afresh finds
    // none the catalogue lacks and none it keeps that the sources dropped.
    void catalogueMatchesTheSources()
    {
        QDomDocument committed;
        QString why;
        QVERIFY2(readCatalogue(committedCatalogue(), committed, why), qPrintable(why));
        const QString sourceList = QStringLiteral(TAPTEMPEST_TRANSLATED_SOURCES);
        QVERIFY2(QFile::exists(sourceList),
                 qPrintable(sourceList + " is missing: configure the build again"));

        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString freshPath = scratch.filePath("fresh.ts");
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(TAPTEMPEST_LUPDATE),
                      {'@' + sourceList, "-no-obsolete", "-locations", "none", "-ts", freshPath});
        QVERIFY2(lupdate.waitForStarted(),
                 qPrintable(TAPTEMPEST_LUPDATE + QString(": ") + lupdate.errorString()));
        QVERIFY(lupdate.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(lupdate.readAll());
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 qPrintable(output));
        QDomDocument fresh;
        QVERIFY2(readCatalogue(freshPath, fresh, why), qPrintable(why));

        const QSet<QString> inSources = messageKeys(fresh);
        const QSet<QString> inCatalogue = messageKeys(committed);
        QVERIFY2(inSources.size() > 150, qPrintable(output));
        QStringList faults;
        for (const QString &key : sorted(inSources - inCatalogue))
            faults << QStringLiteral("not in the catalogue: ") + key;
        for (const QString &key : sorted(inCatalogue - inSources))
            faults << QStringLiteral("no longer in the sources: ") + key;
        if (!faults.isEmpty())
            faults << QStringLiteral("run: cmake --build build --target update_translations, "
                                     "then translate what came in unfinished");
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

TAPTEMPEST_TEST_MAIN(TestInterfaceLanguage)
#include "tst_interfacelanguage.moc"
