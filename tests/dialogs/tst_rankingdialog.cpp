#include "dialogs/rankingdialog.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/rendering.h"
#include "support/scriptedclient.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QComboBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <optional>

#include <memory>

namespace {

QJsonArray players(int count)
{
    QJsonArray rows;
    for (int i = 0; i < count; ++i)
        rows.append(QJsonObject{{"username", QStringLiteral("玩家%1").arg(i + 1)},
                                {"total_clicks", 100000 - i * 7}});
    return rows;
}

ScriptedResponse rankingReply(const QJsonArray &rows)
{
    return ScriptedResponse::ok(QJsonObject{{"rankings", rows}});
}

} // namespace

// Stops the test function when the reload helper failed.
#define RELOAD(dialog)                                                                             \
    do {                                                                                           \
        reloadAndWait(dialog);                                                                     \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestRankingDialog : public QObject, private ScriptedClient // peer, auth and api
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // In English, at the smallest size, and as a screen reader walks it: each row says rank,
    // name and clicks.
    void englishAndAccessible_data()
    {
        QTest::addColumn<bool>("english");
        QTest::newRow("Chinese") << false;
        QTest::newRow("English") << true;
    }
    void englishAndAccessible()
    {
        QFETCH(bool, english);
        std::optional<uicheck::EnglishInterface> language;
        if (english) {
            language.emplace();
            QVERIFY(language->isInstalled());
        }
        const QJsonArray rows{QJsonObject{{"username", "ann"}, {"total_clicks", 900}},
                              QJsonObject{{"username", "bob"}, {"total_clicks", 800}}};
        peer->setHandler([rows](const RecordedRequest &) { return rankingReply(rows); });
        RankingDialog dialog(api.get());
        dialog.show();
        auto *table = dialog.findChild<QTableWidget *>("rankingTable");
        QTRY_COMPARE(table->rowCount(), 2);
        dialog.resize(dialog.minimumSize());
        QTRY_COMPARE(dialog.size(), dialog.minimumSize());
        UI_CHECK_EMPTY(uicheck::unnamedControls(&dialog));
        UI_CHECK_EMPTY(uicheck::cutTexts(&dialog));
        UI_CHECK_EMPTY(uicheck::shortenedTexts(&dialog));
        const QString second = table->item(1, 2)->data(Qt::AccessibleDescriptionRole).toString();
        if (english) {
            UI_CHECK_EMPTY(uicheck::chineseTexts(&dialog));
            QCOMPARE(second, QString("Rank 2: bob, 800 clicks"));
        } else {
            QCOMPARE(second, QString("第 2 名: bob, 800 次点击"));
        }
    }

    void showsRowsWithRanksAndMedals();
    void countsBeyond32BitsShowInFull();
    void medalColoursShow_data();
    void medalColoursShow();
    void reloadsShowExactlyTheirRows();
    void chosenLimitIsSent();
    void failureKeepsRowsAndEnablesRefresh();
    void timeoutEnablesRefresh();
    void namesCannotReorderTheTable();
    void longNamesAreElided();
    void countsSpeakEnglishForOneAndMore_data();
    void countsSpeakEnglishForOneAndMore();

private:
    QTableWidget *table(QWidget *d) { return d->findChild<QTableWidget *>("rankingTable"); }
    QLabel *status(QWidget *d) { return d->findChild<QLabel *>("statusLabel"); }
    QComboBox *limit(QWidget *d) { return d->findChild<QComboBox *>("limitCombo"); }
    QPushButton *refresh(QWidget *d)
    {
        for (QPushButton *button : d->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("刷新"))
                return button;
        return nullptr;
    }
    QString cell(QWidget *d, int row, int column)
    {
        QTableWidgetItem *item = table(d)->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    // Presses refresh; the button stays disabled until the load has ended either way.
    void reloadAndWait(RankingDialog *d)
    {
        const int before = peer->requests.size();
        QTest::mouseClick(refresh(d), Qt::LeftButton);
        QVERIFY(!refresh(d)->isEnabled());
        QCOMPARE(status(d)->text(), QStringLiteral("加载排行榜中..."));
        QTRY_VERIFY(refresh(d)->isEnabled());
        QVERIFY(peer->requests.size() > before);
    }
};

void TestRankingDialog::init()
{
    QVERIFY(ScriptedClient::start());
}

void TestRankingDialog::cleanup()
{
    ScriptedClient::stop();
}

void TestRankingDialog::showsRowsWithRanksAndMedals()
{
    peer->enqueue(ScriptedResponse::noAnswer());
    RankingDialog dialog(api.get());
    dialog.show();

    // The first load starts at once with 100 rows asked for; refresh waits for it.
    QTRY_COMPARE(peer->heldCount(), 1);
    QCOMPARE(peer->requests.first().action(), QStringLiteral("ranking"));
    QCOMPARE(peer->requests.first().queryValue("limit"), QStringLiteral("100"));
    QCOMPARE(limit(&dialog)->currentText(), QStringLiteral("100"));
    QVERIFY(!refresh(&dialog)->isEnabled());
    QCOMPARE(refresh(&dialog)->objectName(), QStringLiteral("primaryButton"));
    QCOMPARE(status(&dialog)->text(), QStringLiteral("加载排行榜中..."));

    peer->releaseHeld(rankingReply({QJsonObject{{"username", "alice"}, {"total_clicks", 5000}},
                                    QJsonObject{{"username", "bob"}, {"total_clicks", 4200}}}));
    QTRY_VERIFY(refresh(&dialog)->isEnabled());
    QCOMPARE(status(&dialog)->text(), QStringLiteral("显示 2 条记录"));

    QTableWidget *t = table(&dialog);
    QCOMPARE(t->rowCount(), 2);
    QCOMPARE(t->columnCount(), 3);
    QCOMPARE(t->horizontalHeaderItem(0)->text(), QStringLiteral("排名"));
    QCOMPARE(t->horizontalHeaderItem(1)->text(), QStringLiteral("用户名"));
    QCOMPARE(t->horizontalHeaderItem(2)->text(), QStringLiteral("总点击数"));
    // Hovering the header tells it apart from the main window's 总点击 (clicks left to spend).
    QCOMPARE(t->model()->headerData(2, Qt::Horizontal, Qt::ToolTipRole).toString(),
             QStringLiteral("玩家累计点击的总数，兑换或存入银行的点击也算在内"));
    QCOMPARE(cell(&dialog, 0, 0), QStringLiteral("1"));
    QCOMPARE(cell(&dialog, 0, 1), QStringLiteral("alice"));
    QCOMPARE(cell(&dialog, 0, 2), QStringLiteral("5000"));
    QCOMPARE(cell(&dialog, 1, 0), QStringLiteral("2"));
    QCOMPARE(cell(&dialog, 1, 1), QStringLiteral("bob"));
    QCOMPARE(cell(&dialog, 1, 2), QStringLiteral("4200"));

    QCOMPARE(t->item(0, 0)->foreground().color(), QColor("#ffd700"));
    QCOMPARE(t->item(1, 0)->foreground().color(), QColor("#c0c0c0"));
    for (int row = 0; row < 2; ++row)
        for (int column = 1; column < 3; ++column)
            QVERIFY(!t->item(row, column)->data(Qt::ForegroundRole).isValid());
    QCOMPARE(t->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(t->item(0, 2)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
}

void TestRankingDialog::countsBeyond32BitsShowInFull()
{
    peer->enqueue(
        rankingReply({QJsonObject{{"username", "whale"}, {"total_clicks", Q_INT64_C(9000000000)}},
                      QJsonObject{{"username", "bob"}, {"total_clicks", 300001}},
                      QJsonObject{{"username", "eve"}, {"total_clicks", "12"}}}));
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(status(&dialog)->text(), QStringLiteral("显示 3 条记录"));
    QCOMPARE(cell(&dialog, 0, 2), QStringLiteral("9000000000"));
    QCOMPARE(cell(&dialog, 1, 2), QStringLiteral("300001"));
    // Not a number: 0, as for a missing count.
    QCOMPARE(cell(&dialog, 2, 2), QStringLiteral("0"));
}

void TestRankingDialog::medalColoursShow_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("gold");
    QTest::addColumn<QColor>("bronze");
    QTest::newRow("dark") << true << QColor("#ffd700") << QColor("#cd7f32");
    // On the light window the nearest readable shades (4.5:1) of the same colours.
    QTest::newRow("light") << false << QColor("#897400") << QColor("#a56628");
}

// The sheets colour every cell; the medal colours of ranks 1 to 3 must still show.
void TestRankingDialog::medalColoursShow()
{
    QFETCH(bool, dark);
    QFETCH(QColor, gold);
    QFETCH(QColor, bronze);
    rendering::applyThemeSheet(dark);
    peer->enqueue(rankingReply(players(5)));
    RankingDialog dialog(api.get());
    dialog.resize(420, 520);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTRY_COMPARE(status(&dialog)->text(), QStringLiteral("显示 5 条记录"));
    QTableWidget *t = table(&dialog);
    t->clearSelection();

    const QImage image = rendering::render(t->viewport());
    auto rankCell = [t](int row) { return t->visualItemRect(t->item(row, 0)); };
    QVERIFY(rendering::pixelsNear(image, rankCell(0), gold) > 5);
    QVERIFY(rendering::pixelsNear(image, rankCell(2), bronze) > 5);
    QCOMPARE(rendering::pixelsNear(image, rankCell(3), gold), 0);
    QCOMPARE(rendering::pixelsNear(image, rankCell(3), bronze), 0);
    // Only the rank cell: the name beside it keeps the sheet's colour.
    QCOMPARE(rendering::pixelsNear(image, t->visualItemRect(t->item(0, 1)), gold), 0);
    qApp->setStyleSheet(QString());
}

void TestRankingDialog::reloadsShowExactlyTheirRows()
{
    peer->enqueue(rankingReply(players(100)));
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(status(&dialog)->text(), QStringLiteral("显示 100 条记录"));
    QCOMPARE(table(&dialog)->rowCount(), 100);
    QCOMPARE(cell(&dialog, 99, 0), QStringLiteral("100"));
    QCOMPARE(cell(&dialog, 99, 1), QStringLiteral("玩家100"));
    QCOMPARE(table(&dialog)->item(2, 0)->foreground().color(), QColor("#cd7f32"));
    QVERIFY(!table(&dialog)->item(3, 0)->data(Qt::ForegroundRole).isValid());

    // Fewer rows: nothing of the earlier load is left behind.
    peer->enqueue(rankingReply(players(10)));
    RELOAD(&dialog);
    QCOMPARE(status(&dialog)->text(), QStringLiteral("显示 10 条记录"));
    QCOMPARE(table(&dialog)->rowCount(), 10);
    QCOMPARE(cell(&dialog, 9, 0), QStringLiteral("10"));

    // Members missing: an empty name, 0 clicks; only the rows present are coloured.
    peer->enqueue(
        rankingReply({QJsonObject{{"total_clicks", 12}}, QJsonObject{{"username", "carol"}}}));
    RELOAD(&dialog);
    QCOMPARE(table(&dialog)->rowCount(), 2);
    QCOMPARE(cell(&dialog, 0, 1), QString());
    QCOMPARE(cell(&dialog, 0, 2), QStringLiteral("12"));
    QCOMPARE(cell(&dialog, 1, 1), QStringLiteral("carol"));
    QCOMPARE(cell(&dialog, 1, 2), QStringLiteral("0"));
    QCOMPARE(table(&dialog)->item(1, 0)->foreground().color(), QColor("#c0c0c0"));

    // A reply without rows empties the table.
    peer->enqueue(rankingReply({}));
    RELOAD(&dialog);
    QCOMPARE(table(&dialog)->rowCount(), 0);
    QCOMPARE(status(&dialog)->text(), QStringLiteral("显示 0 条记录"));
}

void TestRankingDialog::chosenLimitIsSent()
{
    peer->enqueue(rankingReply(players(3)));
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_VERIFY(refresh(&dialog)->isEnabled());

    QCOMPARE(limit(&dialog)->count(), 4);
    limit(&dialog)->setCurrentIndex(limit(&dialog)->findText("50"));
    // The server may return more than asked; only the rows asked for are shown.
    peer->enqueue(rankingReply(players(60)));
    RELOAD(&dialog);
    QCOMPARE(peer->requests.last().queryValue("limit"), QStringLiteral("50"));
    QCOMPARE(table(&dialog)->rowCount(), 50);
    QCOMPARE(status(&dialog)->text(), QStringLiteral("显示 50 条记录"));
    peer->enqueue(rankingReply(players(30000)));
    RELOAD(&dialog);
    QCOMPARE(table(&dialog)->rowCount(), 50);
    QCOMPARE(cell(&dialog, 49, 1), QStringLiteral("玩家50"));

    limit(&dialog)->setCurrentIndex(limit(&dialog)->findText("10"));
    peer->enqueue(rankingReply(players(1)));
    RELOAD(&dialog);
    QCOMPARE(peer->requests.last().queryValue("limit"), QStringLiteral("10"));
    QCOMPARE(table(&dialog)->rowCount(), 1);
}

void TestRankingDialog::failureKeepsRowsAndEnablesRefresh()
{
    // The network library retries a GET once on a closed connection, so every answer of a phase
    // is the same.
    enum
    {
        Rows,
        Close,
        Refuse
    } phase = Rows;
    peer->setHandler([&phase](const RecordedRequest &) {
        if (phase == Close)
            return ScriptedResponse::close();
        if (phase == Refuse)
            return ScriptedResponse::fail(QStringLiteral("排行榜维护中"));
        return rankingReply(players(5));
    });
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(table(&dialog)->rowCount(), 5);

    // A broken transfer: the network error text gives way to the load's failure.
    QSignalSpy networkErrors(api.get(), &ApiClient::networkError);
    phase = Close;
    RELOAD(&dialog);
    QCOMPARE(networkErrors.size(), 1);
    QCOMPARE(status(&dialog)->text(),
             QStringLiteral("加载失败: ") + networkErrors.first().first().toString());
    QCOMPARE(table(&dialog)->rowCount(), 5);
    QCOMPARE(cell(&dialog, 4, 1), QStringLiteral("玩家5"));

    // A refusal from the server.
    phase = Refuse;
    RELOAD(&dialog);
    QCOMPARE(status(&dialog)->text(), QStringLiteral("加载失败: 排行榜维护中"));
    QCOMPARE(table(&dialog)->rowCount(), 5);
}

void TestRankingDialog::namesCannotReorderTheTable()
{
    peer->enqueue(rankingReply(
        {QJsonObject{{"username", QString::fromUtf8("\u202Eevil")}, {"total_clicks", 9}},
         QJsonObject{{"username", QString::fromUtf8("a\u2066b\u2069\u200F\tc\u0085")},
                     {"total_clicks", 8}},
         QJsonObject{{"username", QString::fromUtf8("王\u200D五 😀")}, {"total_clicks", 7}}}));
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(status(&dialog)->text(), QStringLiteral("显示 3 条记录"));
    QCOMPARE(cell(&dialog, 0, 1), QStringLiteral("evil"));
    QCOMPARE(cell(&dialog, 1, 1), QStringLiteral("abc"));
    // Joiners and characters beyond the basic plane are not controls.
    QCOMPARE(cell(&dialog, 2, 1), QString::fromUtf8("王\u200D五 😀"));
}

void TestRankingDialog::longNamesAreElided()
{
    const QString name(10000, QLatin1Char('w'));
    peer->enqueue(rankingReply({QJsonObject{{"username", name}, {"total_clicks", 9}},
                                QJsonObject{{"username", "bob"}, {"total_clicks", 8}}}));
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(status(&dialog)->text(), QStringLiteral("显示 2 条记录"));
    QTableWidgetItem *cut = table(&dialog)->item(0, 1);
    QVERIFY2(cut->text().size() < 100, qPrintable(QString::number(cut->text().size())));
    QVERIFY(cut->text().endsWith(QChar(0x2026)));
    QCOMPARE(cut->toolTip(), name);
    // A name that fits is shown whole, without a tool tip.
    QCOMPARE(cell(&dialog, 1, 1), QStringLiteral("bob"));
    QCOMPARE(table(&dialog)->item(1, 1)->toolTip(), QString());
    // The clicks stay inside the dialog.
    QVERIFY(table(&dialog)->horizontalHeader()->sectionViewportPosition(2) < dialog.width());
}

void TestRankingDialog::timeoutEnablesRefresh()
{
    api->setTimeout(500);
    peer->setFallback(ScriptedResponse::noAnswer());
    RankingDialog dialog(api.get());
    dialog.show();
    QTRY_COMPARE(peer->heldCount(), 1);
    QVERIFY(!refresh(&dialog)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(refresh(&dialog)->isEnabled(), api->timeout() + 5000);
    QCOMPARE(status(&dialog)->text(), QStringLiteral("加载失败: 请求超时，请检查网络连接"));
    QCOMPARE(table(&dialog)->rowCount(), 0);
}

void TestRankingDialog::countsSpeakEnglishForOneAndMore_data()
{
    QTest::addColumn<bool>("english");
    QTest::newRow("Chinese") << false;
    QTest::newRow("English") << true;
}

// "1 entry" and "2 entries", "1 click" and "2 clicks"; the Chinese texts stay as they were. A
// name that looks like a place marker is shown as it is.
void TestRankingDialog::countsSpeakEnglishForOneAndMore()
{
    QFETCH(bool, english);
    std::optional<uicheck::EnglishInterface> language;
    if (english) {
        language.emplace();
        QVERIFY(language->isInstalled());
    }
    const auto rowText = [this](QWidget *d, int row) {
        return table(d)->item(row, 1)->data(Qt::AccessibleDescriptionRole).toString();
    };
    peer->enqueue(rankingReply({QJsonObject{{"username", "%3 %1"}, {"total_clicks", 1}}}));
    peer->enqueue(rankingReply({QJsonObject{{"username", "ann"}, {"total_clicks", 2}},
                                QJsonObject{{"username", "bob"}, {"total_clicks", 1}}}));
    RankingDialog dialog(api.get());
    dialog.show();
    auto *refreshButton = dialog.findChild<QPushButton *>("primaryButton");
    QTRY_VERIFY(refreshButton->isEnabled());
    if (english) {
        QCOMPARE(status(&dialog)->text(), QString("Showing 1 entry"));
        QCOMPARE(rowText(&dialog, 0), QString("Rank 1: %3 %1, 1 click"));
    } else {
        QCOMPARE(status(&dialog)->text(), QString("显示 1 条记录"));
        QCOMPARE(rowText(&dialog, 0), QString("第 1 名: %3 %1, 1 次点击"));
    }
    QTest::mouseClick(refreshButton, Qt::LeftButton);
    QTRY_COMPARE(table(&dialog)->rowCount(), 2);
    if (english) {
        QCOMPARE(status(&dialog)->text(), QString("Showing 2 entries"));
        QCOMPARE(rowText(&dialog, 0), QString("Rank 1: ann, 2 clicks"));
        QCOMPARE(rowText(&dialog, 1), QString("Rank 2: bob, 1 click"));
    } else {
        QCOMPARE(status(&dialog)->text(), QString("显示 2 条记录"));
        QCOMPARE(rowText(&dialog, 0), QString("第 1 名: ann, 2 次点击"));
    }
}

TAPTEMPEST_TEST_MAIN(TestRankingDialog)
#include "tst_rankingdialog.moc"
