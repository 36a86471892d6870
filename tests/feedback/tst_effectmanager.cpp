#include "feedback/effectlayer.h"
#include "feedback/effectmanager.h"
#include "support/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using Item = EffectLayer::ItemState;

int countOf(const QVector<Item> &items, EffectType family)
{
    return int(std::count_if(items.cbegin(), items.cend(),
                             [family](const Item &item) { return item.family == family; }));
}

} // namespace

class TestEffectManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void catalogueLookups();
    void catalogueIsConsistent();
    void catalogueAgreesWithTheServer();
    void switchesPersistAcrossRestarts();
    void unknownIdsAreWrittenButNotReloaded();
    void settingsAreWrittenOnlyForChanges();
    void nothingPlaysWhenSwitchedOffOrWithoutWindow();
    void allEffectsOnOneClickAndCleanUp();
    void symbolFamiliesMoveTheRightWay();
    void burstSpreadsEvenly();
    void ringsGrowAroundTheClickPoint();
    void ringCountIsLimitedByColours();
    void fallStartsInsideTheWindow();
    void streaksStayVisibleThenVanish();
    void overlappingShakesReturnHome();
    void unknownEnabledIdPlaysEmptySymbols();
    void everythingEndsWithTheLongestLife();

private:
    EffectManager *makeManager();
    EffectLayer *layer() const { return window->findChild<EffectLayer *>("effectLayer"); }
    QVector<Item> items() const { return layer() ? layer()->itemStates() : QVector<Item>(); }
    // Drops what is drawn, as if those plays had ended.
    void clearItems()
    {
        qint64 later = 1'000'000'000;
        layer()->setClock([later] { return later; });
        layer()->advance();
        layer()->setClock(nullptr);
    }
    QPoint globalCentre() const { return window->mapToGlobal(QPoint(400, 300)); }

    std::unique_ptr<QWidget> window;
};

void TestEffectManager::init()
{
    testenv::clearSettings();
    window = std::make_unique<QWidget>();
    new QVBoxLayout(window.get());
    window->resize(800, 600);
    window->move(100, 100);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestEffectManager::cleanup()
{
    window.reset();
}

EffectManager *TestEffectManager::makeManager()
{
    return new EffectManager(window.get());
}

void TestEffectManager::catalogueLookups()
{
    QCOMPARE(EffectManager::effectCount(), 39);
    QCOMPARE(EffectManager::effectIdForClass("effect-star"), 1);
    QCOMPARE(EffectManager::effectIdForClass("effect-genesis"), 39);
    QCOMPARE(EffectManager::effectIdForClass("Effect-Star"), 0);
    QCOMPARE(EffectManager::effectIdForClass("effect-star "), 0);
    QCOMPARE(EffectManager::effectIdForClass(QString()), 0);

    QCOMPARE(EffectManager::effectName(39), QStringLiteral("创世"));
    for (int id : {0, -1, 40}) {
        const EffectInfo info = EffectManager::effectInfo(id);
        QCOMPARE(info.name, QStringLiteral("未知"));
        QVERIFY(info.cssClass.isEmpty());
        QVERIFY(info.symbol.isEmpty());
        QCOMPARE(info.color.name(), QStringLiteral("#ffffff"));
        QCOMPARE(info.type, 0);
        QCOMPARE(info.count, 5);
        QCOMPARE(info.duration, 1000);
        QCOMPARE(EffectManager::effectPrice(id), 0);
    }
    QVERIFY(EffectManager::effectClass(40).isEmpty());
    QCOMPARE(EffectManager::effectPrice(39), 5000);
}

void TestEffectManager::catalogueIsConsistent()
{
    // The server names effects by class; each class must lead back to exactly its own entry,
    // and every effect the settings list shows needs a price and something visible to draw.
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        const EffectInfo info = EffectManager::effectInfo(id);
        QVERIFY2(info.cssClass.startsWith("effect-"), qPrintable(info.cssClass));
        QCOMPARE(EffectManager::effectIdForClass(info.cssClass), id);
        QVERIFY(info.color.isValid());
        QVERIFY(info.duration > 0);
        QVERIFY(EffectManager::effectPrice(id) > 0);
        const auto type = EffectType(info.type);
        if (type == EffectType::Float || type == EffectType::Fall || type == EffectType::Burst ||
            type == EffectType::BounceText) {
            QVERIFY2(!info.symbol.isEmpty(), qPrintable(info.cssClass));
        }
    }
}

// The shop sells by the server's file, the settings list shows the client's table: a class,
// name or price that differs means the player pays one price and sees another.
void TestEffectManager::catalogueAgreesWithTheServer()
{
    QFile file(testenv::sourceDir() + "/server/effects.json");
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonArray server = doc.object().value("effects").toArray();
    QCOMPARE(server.size(), EffectManager::effectCount());

    QSet<int> matched;
    for (const QJsonValue &value : server) {
        const QJsonObject entry = value.toObject();
        const QString cssClass = entry.value("css_class").toString();
        const int id = EffectManager::effectIdForClass(cssClass);
        QVERIFY2(id != 0, qPrintable(cssClass + " is unknown to the client"));
        QVERIFY2(!matched.contains(id), qPrintable(cssClass + " is listed twice"));
        matched.insert(id);
        QCOMPARE(EffectManager::effectName(id), entry.value("name").toString());
        QCOMPARE(EffectManager::effectPrice(id), entry.value("price").toInt(-1));
    }
    QCOMPARE(matched.size(), EffectManager::effectCount());
}

void TestEffectManager::switchesPersistAcrossRestarts()
{
    {
        EffectManager fresh;
        for (int id = 1; id <= 39; ++id)
            QVERIFY(!fresh.isEffectEnabled(id));
        fresh.setEffectEnabled(5, true);
        fresh.setEffectEnabled(7, true);
        fresh.setEffectEnabled(7, false);
    }
    QSettings settings;
    QCOMPARE(settings.value("effects_enabled/5").toBool(), true);
    QCOMPARE(settings.value("effects_enabled/7").toBool(), false);

    EffectManager restarted;
    QVERIFY(restarted.isEffectEnabled(5));
    QVERIFY(!restarted.isEffectEnabled(7));
    QVERIFY(!restarted.isEffectEnabled(6));
}

void TestEffectManager::unknownIdsAreWrittenButNotReloaded()
{
    {
        EffectManager manager;
        QVERIFY(!manager.isEffectEnabled(40));
        manager.setEffectEnabled(40, true);
        QVERIFY(manager.isEffectEnabled(40));
    }
    QCOMPARE(QSettings().value("effects_enabled/40").toBool(), true);
    EffectManager restarted;
    QVERIFY(!restarted.isEffectEnabled(40));
}

void TestEffectManager::settingsAreWrittenOnlyForChanges()
{
    EffectManager manager;
    QCOMPARE(manager.settingsWrites(), 0);

    // A flood of owned effects, six classes over and over: one write for all of it.
    QList<int> flood;
    for (int i = 0; i < 10000; ++i)
        flood << 1 + (i % 6) * 7;
    manager.enableEffects(flood);
    QCOMPARE(manager.settingsWrites(), 1);
    QSettings settings;
    for (int id : {1, 8, 15, 22, 29, 36})
        QVERIFY2(settings.value(QStringLiteral("effects_enabled/%1").arg(id)).toBool(),
                 qPrintable(QString::number(id)));
    QVERIFY(!settings.value("effects_enabled/2").toBool());

    // Nothing new: nothing written.
    manager.enableEffects(flood);
    manager.setEffectEnabled(8, true);
    manager.setEffectEnabled(2, false);
    manager.enableEffects({});
    QCOMPARE(manager.settingsWrites(), 1);

    // Switched off by the player, switched on again by the next list.
    manager.setEffectEnabled(8, false);
    QCOMPARE(manager.settingsWrites(), 2);
    QVERIFY(!QSettings().value("effects_enabled/8").toBool());
    manager.enableEffects(flood);
    QCOMPARE(manager.settingsWrites(), 3);
    QVERIFY(QSettings().value("effects_enabled/8").toBool());

    // An id the map does not hold yet is written even when switched off.
    manager.setEffectEnabled(41, false);
    QCOMPARE(manager.settingsWrites(), 4);
    QVERIFY(QSettings().contains("effects_enabled/41"));

    EffectManager restarted;
    QVERIFY(restarted.isEffectEnabled(36));
    QVERIFY(!restarted.isEffectEnabled(2));
}

void TestEffectManager::nothingPlaysWhenSwitchedOffOrWithoutWindow()
{
    EffectManager *manager = makeManager();
    for (int id = 1; id <= 39; ++id)
        manager->playEffect(id, globalCentre());
    manager->setEffectEnabled(0, true);
    manager->playEffect(0, globalCentre());
    QVERIFY(layer());
    QCOMPARE(layer()->itemCount(), 0);
    QVERIFY(!layer()->isTicking());

    // No window to draw in: it must not crash, nor draw into or move some other window.
    const QPoint windowAt = window->pos();
    const int widgetsBefore = QApplication::allWidgets().size();
    EffectManager detached;
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        detached.setEffectEnabled(id, true);
        detached.playEffect(id, globalCentre());
    }
    QVERIFY(!detached.effectLayer());
    QCOMPARE(layer()->itemCount(), 0);
    QCOMPARE(QApplication::allWidgets().size(), widgetsBefore);
    for (QWidget *widget : QApplication::allWidgets())
        if (auto *anyLayer = qobject_cast<EffectLayer *>(widget))
            QCOMPARE(anyLayer->itemCount(), 0);
    QTest::qWait(50); // a shake would have begun to move the window by now
    QCOMPARE(window->pos(), windowAt);
}

void TestEffectManager::allEffectsOnOneClickAndCleanUp()
{
    EffectManager *manager = makeManager();
    for (int id = 1; id <= 39; ++id)
        manager->setEffectEnabled(id, true);
    for (int id = 1; id <= 39; ++id)
        manager->playEffect(id, globalCentre());

    // Counted per family, so that two wrong counts cannot make up for each other.
    const QVector<Item> drawn = items();
    QCOMPARE(countOf(drawn, EffectType::Float), 88);
    QCOMPARE(countOf(drawn, EffectType::Fall), 48);
    QCOMPARE(countOf(drawn, EffectType::Ring), 51);
    QCOMPARE(countOf(drawn, EffectType::Burst), 86);
    QCOMPARE(countOf(drawn, EffectType::Streak), 7);
    QCOMPARE(countOf(drawn, EffectType::BounceText), 1);
    QCOMPARE(drawn.size(), 281);
    QVERIFY(layer()->isVisible());
    QVERIFY(layer()->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(layer()->geometry(), window->rect());
    // The longest play is a falling symbol: 3000 ms plus up to 800 ms.
    QTRY_COMPARE_WITH_TIMEOUT(layer()->itemCount(), 0, 8000);
    QVERIFY(!layer()->isTicking());
}

void TestEffectManager::symbolFamiliesMoveTheRightWay()
{
    EffectManager *manager = makeManager();
    const QPoint centre(400, 300);

    manager->setEffectEnabled(1, true); // stars float up
    manager->playEffect(1, globalCentre());
    QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 8);
    for (const Item &item : drawn) {
        QCOMPARE(item.text, QStringLiteral("★"));
        QCOMPARE(item.color.name(), QStringLiteral("#ffd700"));
        QCOMPARE(item.pixelSize, 18);
        QVERIFY(!item.bold);
        QCOMPARE(item.placement, EffectLayer::Placement::Left);
        QCOMPARE(item.from.size(), QSize(100, 30));
        const QPoint offset = item.from.topLeft() - centre;
        QVERIFY(offset.x() >= -30 && offset.x() < 30);
        QVERIFY(offset.y() >= -20 && offset.y() < 10);
        const QPoint travel = item.to.topLeft() - item.from.topLeft();
        QVERIFY(travel.y() <= -80 && travel.y() > -140);
        QVERIFY(item.duration >= 1200 && item.duration < 1600);
        QCOMPARE(item.easing, QEasingCurve::OutCubic);
    }
    clearItems();

    manager->setEffectEnabled(3, true); // the drifting "+1"
    manager->playEffect(3, globalCentre());
    drawn = items();
    QCOMPARE(drawn.size(), 1);
    QCOMPARE(drawn.first().text, QStringLiteral("+1"));
    QCOMPARE(drawn.first().placement, EffectLayer::Placement::Centre);
    QCOMPARE(drawn.first().pixelSize, 20);
    QVERIFY(drawn.first().bold);
    QCOMPARE(drawn.first().from.topLeft(), centre + QPoint(-20, -10));
    QCOMPARE(drawn.first().to.topLeft(), centre + QPoint(-20, -70));
    QTRY_COMPARE_WITH_TIMEOUT(layer()->itemCount(), 0, 3000);
}

void TestEffectManager::burstSpreadsEvenly()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(2, true); // fireworks: 12 symbols
    manager->playEffect(2, globalCentre());
    const QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 12);
    for (int i = 0; i < drawn.size(); ++i) {
        QCOMPARE(drawn.at(i).from.topLeft(), QPoint(400, 300));
        QCOMPARE(drawn.at(i).pixelSize, 14);
        const QPoint offset = drawn.at(i).to.topLeft() - QPoint(400, 300);
        const double distance = std::hypot(offset.x(), offset.y());
        QVERIFY2(distance >= 38 && distance < 100, qPrintable(QString::number(distance)));
        // Screen y grows downward, so 90 degrees points down.
        const double angle = qRadiansToDegrees(std::atan2(offset.y(), offset.x()));
        double diff = std::fmod(angle - i * 30 + 540, 360) - 180;
        QVERIFY2(std::abs(diff) <= 17, qPrintable(QString("label %1 at %2 deg").arg(i).arg(angle)));
    }
    clearItems();

    // A burst of one heads right (between -15 and +14 degrees).
    EffectInfo single = EffectManager::effectInfo(2);
    single.count = 1;
    for (int round = 0; round < 40; ++round)
        manager->playBurst(single, QPoint(400, 300));
    QCOMPARE(layer()->itemCount(), 40);
    for (const Item &item : items()) {
        const QPoint offset = item.to.topLeft() - QPoint(400, 300);
        const double angle = qRadiansToDegrees(std::atan2(offset.y(), offset.x()));
        QVERIFY2(angle >= -15.5 && angle <= 14.5, qPrintable(QString::number(angle)));
        QVERIFY(offset.x() > 0);
    }
}

void TestEffectManager::ringsGrowAroundTheClickPoint()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(5, true); // rainbow halo: 7 rings, 800 ms
    qint64 now = 0;
    layer()->setClock([&now] { return now; });
    manager->playEffect(5, globalCentre());
    QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 7);
    const QStringList rainbow = {"#ff0000", "#ff7f00", "#ffff00", "#00ff00",
                                 "#0000ff", "#4b0082", "#9400d3"};
    for (int k = 0; k < 7; ++k) {
        const int size = 20 + 12 * k;
        QCOMPARE(drawn.at(k).from, QRect(400 - size / 2, 300 - size / 2, size, size));
        QCOMPARE(drawn.at(k).to.size(), QSize(size + 60, size + 60));
        QCOMPARE(drawn.at(k).to.center(), drawn.at(k).from.center());
        QCOMPARE(drawn.at(k).color.name(), rainbow.at(k));
        QCOMPARE(drawn.at(k).duration, 800);
    }
    // The rings really widen and fade, staying square and centred on the click.
    for (now = 0; now < 800; now += 50) {
        layer()->advance();
        drawn = items();
        QCOMPARE(drawn.size(), 7);
        for (int k = 0; k < 7; ++k) {
            const QRect box = drawn.at(k).geometry;
            QCOMPARE(box.width(), box.height());
            QVERIFY(std::abs(box.center().x() - 400) <= 1 && std::abs(box.center().y() - 300) <= 1);
            QCOMPARE(drawn.at(k).opacity, 1.0 - now / 800.0);
        }
    }
    QVERIFY2(drawn.first().geometry.width() >= 78,
             qPrintable(QString::number(drawn.first().geometry.width())));
    QVERIFY(std::abs(drawn.last().geometry.width() - drawn.first().geometry.width() - 72) <= 1);
    now = 800;
    layer()->advance();
    QCOMPARE(layer()->itemCount(), 0);
}

void TestEffectManager::ringCountIsLimitedByColours()
{
    EffectManager *manager = makeManager();
    const QList<QPair<QString, int>> cases = {
        {"effect-aurora", 5}, {"effect-genesis", 7}, {"effect-magic", 5}, {"effect-time", 5}};
    for (const auto &[cssClass, rings] : cases) {
        const int id = EffectManager::effectIdForClass(cssClass);
        manager->setEffectEnabled(id, true);
        manager->playEffect(id, globalCentre());
        const QVector<Item> drawn = items();
        QVERIFY2(drawn.size() == rings, qPrintable(cssClass));
        QVERIFY(countOf(drawn, EffectType::Ring) == rings);
        QVERIFY(drawn.first().text.isEmpty());
        clearItems();
        manager->setEffectEnabled(id, false);
    }
    // Without a colour list of its own, a ring set is made from the effect's colour.
    const int magic = EffectManager::effectIdForClass("effect-magic");
    manager->setEffectEnabled(magic, true);
    manager->playEffect(magic, globalCentre());
    QCOMPARE(items().first().color.name(), QStringLiteral("#ba68c8"));
}

void TestEffectManager::fallStartsInsideTheWindow()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(13, true); // snow: 10 flakes
    manager->playEffect(13, window->mapToGlobal(QPoint(400, 10)));
    const QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 10);
    for (const Item &item : drawn) {
        QCOMPARE(item.from.y(), 0);
        QCOMPARE(item.to.y(), 600 + 20);
        QCOMPARE(item.pixelSize, 16);
        QCOMPARE(item.easing, QEasingCurve::InQuad);
    }
    QTRY_VERIFY(layer()->itemCount() > 0 && layer()->itemStates().first().geometry.y() > 100);
}

void TestEffectManager::streaksStayVisibleThenVanish()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(8, true); // lightning: 3 streaks, 400 ms
    manager->playEffect(8, globalCentre());
    const QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 3);
    for (const Item &item : drawn) {
        QCOMPARE(item.geometry.height(), 3);
        QVERIFY(item.geometry.width() >= 80 && item.geometry.width() < 180);
        const QPoint offset = item.geometry.topLeft() - QPoint(400, 300);
        QVERIFY(offset.x() >= -40 && offset.x() < 40 && offset.y() >= -30 && offset.y() < 30);
        QCOMPARE(item.opacity, 1.0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(layer()->itemCount(), 0, 2000);
}

void TestEffectManager::overlappingShakesReturnHome()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(4, true);
    const QPoint home = window->pos();

    manager->playEffect(4, globalCentre());
    QTRY_VERIFY(window->pos() != home);
    QCOMPARE(window->pos().y(), home.y());
    QVERIFY(std::abs(window->pos().x() - home.x()) <= 6);
    // A second shake while displaced must not adopt the displaced spot as its home.
    manager->playEffect(4, window->mapToGlobal(QPoint(400, 300)));
    manager->playEffect(4, window->mapToGlobal(QPoint(400, 300)));
    QTRY_VERIFY_WITH_TIMEOUT(
        window->findChildren<QPropertyAnimation *>(Qt::FindDirectChildrenOnly).isEmpty(), 2000);
    // A top-level move reaches pos() through the window system, a moment later.
    QTRY_COMPARE(window->pos(), home);
}

void TestEffectManager::unknownEnabledIdPlaysEmptySymbols()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(40, true);
    manager->playEffect(40, globalCentre());
    const QVector<Item> drawn = items();
    QCOMPARE(drawn.size(), 5);
    for (const Item &item : drawn) {
        QVERIFY(item.text.isEmpty());
        QVERIFY(item.duration >= 1000 && item.duration < 1400);
    }
}

void TestEffectManager::everythingEndsWithTheLongestLife()
{
    EffectManager *manager = makeManager();
    qint64 now = 0;
    layer()->setClock([&now] { return now; });
    for (int id = 1; id <= 39; ++id)
        manager->setEffectEnabled(id, true);
    for (int click = 0; click < 3; ++click)
        for (int id = 1; id <= 39; ++id)
            manager->playEffect(id, globalCentre());
    QCOMPARE(layer()->itemCount(), 3 * 281);
    QVERIFY(layer()->isTicking());

    // Snow and cherry blossom fall for 3000 ms plus up to 800 ms.
    now = 3000;
    layer()->advance();
    QVERIFY(layer()->itemCount() > 0);
    now = 3800;
    layer()->advance();
    QCOMPARE(layer()->itemCount(), 0);
    QVERIFY(!layer()->isTicking());
}

TAPTEMPEST_TEST_MAIN(TestEffectManager)
#include "tst_effectmanager.moc"
