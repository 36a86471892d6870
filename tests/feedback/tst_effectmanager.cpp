#include "feedback/effectmanager.h"
#include "support/testenv.h"

#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>
#include <QtMath>

#include <cmath>
#include <memory>

namespace {

QList<QLabel *> effectLabels(QWidget *window)
{
    return window->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
}

QPropertyAnimation *animationOf(QLabel *label, const QByteArray &property)
{
    for (QPropertyAnimation *animation : label->findChildren<QPropertyAnimation *>()) {
        if (animation->propertyName() == property)
            return animation;
    }
    return nullptr;
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

private:
    EffectManager *makeManager();
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
    QVERIFY(effectLabels(window.get()).isEmpty());

    EffectManager detached;
    detached.setEffectEnabled(1, true);
    detached.playEffect(1, globalCentre()); // no window to draw in: must not crash
    QVERIFY(effectLabels(window.get()).isEmpty());
}

void TestEffectManager::allEffectsOnOneClickAndCleanUp()
{
    EffectManager *manager = makeManager();
    for (int id = 1; id <= 39; ++id)
        manager->setEffectEnabled(id, true);
    for (int id = 1; id <= 39; ++id)
        manager->playEffect(id, globalCentre());

    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 281);
    for (QLabel *label : labels) {
        QVERIFY(label->isVisible());
        QVERIFY(label->testAttribute(Qt::WA_TransparentForMouseEvents));
    }
    // The longest play is a falling symbol: 3000 ms plus up to 800 ms.
    QTRY_VERIFY_WITH_TIMEOUT(effectLabels(window.get()).isEmpty(), 8000);
}

void TestEffectManager::symbolFamiliesMoveTheRightWay()
{
    EffectManager *manager = makeManager();
    const QPoint centre(400, 300);

    manager->setEffectEnabled(1, true); // stars float up
    manager->playEffect(1, globalCentre());
    QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 8);
    for (QLabel *label : labels) {
        QCOMPARE(label->text(), QStringLiteral("★"));
        QVERIFY(label->styleSheet().contains("color: #ffd700; font-size: 18px"));
        const QPoint offset = label->pos() - centre;
        QVERIFY(offset.x() >= -30 && offset.x() < 30);
        QVERIFY(offset.y() >= -20 && offset.y() < 10);
        QPropertyAnimation *move = animationOf(label, "pos");
        QVERIFY(move);
        const QPoint travel = move->endValue().toPoint() - label->pos();
        QVERIFY(travel.y() <= -80 && travel.y() > -140);
        QVERIFY(move->duration() >= 1200 && move->duration() < 1600);
    }
    qDeleteAll(labels);

    manager->setEffectEnabled(3, true); // the drifting "+1"
    manager->playEffect(3, globalCentre());
    labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first()->text(), QStringLiteral("+1"));
    QCOMPARE(labels.first()->alignment(), Qt::AlignCenter);
    QCOMPARE(labels.first()->pos(), centre + QPoint(-20, -10));
    QCOMPARE(animationOf(labels.first(), "pos")->endValue().toPoint(), centre + QPoint(-20, -70));
    QPointer<QLabel> bounce = labels.first();
    QTRY_VERIFY_WITH_TIMEOUT(bounce.isNull(), 3000);
}

void TestEffectManager::burstSpreadsEvenly()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(2, true); // fireworks: 12 symbols
    manager->playEffect(2, globalCentre());
    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 12);
    for (int i = 0; i < labels.size(); ++i) {
        QCOMPARE(labels.at(i)->pos(), QPoint(400, 300));
        const QPoint offset =
            animationOf(labels.at(i), "pos")->endValue().toPoint() - QPoint(400, 300);
        const double distance = std::hypot(offset.x(), offset.y());
        QVERIFY2(distance >= 38 && distance < 100, qPrintable(QString::number(distance)));
        // Screen y grows downward, so 90 degrees points down.
        const double angle = qRadiansToDegrees(std::atan2(offset.y(), offset.x()));
        double diff = std::fmod(angle - i * 30 + 540, 360) - 180;
        QVERIFY2(std::abs(diff) <= 17, qPrintable(QString("label %1 at %2 deg").arg(i).arg(angle)));
    }
}

void TestEffectManager::ringsGrowAroundTheClickPoint()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(5, true); // rainbow halo: 7 rings, 800 ms
    manager->playEffect(5, globalCentre());
    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 7);
    const QStringList rainbow = {"#ff0000", "#ff7f00", "#ffff00", "#00ff00",
                                 "#0000ff", "#4b0082", "#9400d3"};
    for (int k = 0; k < 7; ++k) {
        const int size = 20 + 12 * k;
        QCOMPARE(labels.at(k)->size(), QSize(size, size));
        QCOMPARE(labels.at(k)->geometry().center(),
                 QRect(400 - size / 2, 300 - size / 2, size, size).center());
        QVERIFY(labels.at(k)->styleSheet().contains(QString("3px solid %1").arg(rainbow.at(k))));
    }
    // The rings must really widen, staying centred on the click: watch every resize, so that a
    // busy machine skipping frames cannot hide it.
    struct Watch : QObject
    {
        int widest = 0;
        bool centred = true;
        bool square = true;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
                auto *label = static_cast<QLabel *>(watched);
                widest = qMax(widest, label->width());
                centred &= std::abs(label->geometry().center().x() - 400) <= 1 &&
                           std::abs(label->geometry().center().y() - 300) <= 1;
                square &= label->width() == label->height();
            }
            return false;
        }
    } watch;
    labels.first()->installEventFilter(&watch);
    QTRY_VERIFY_WITH_TIMEOUT(effectLabels(window.get()).isEmpty(), 5000);
    QVERIFY2(watch.widest >= 60, qPrintable(QString::number(watch.widest)));
    QVERIFY(watch.centred);
    QVERIFY(watch.square);
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
        const QList<QLabel *> labels = effectLabels(window.get());
        QVERIFY2(labels.size() == rings, qPrintable(cssClass));
        QVERIFY(labels.first()->text().isEmpty());
        qDeleteAll(labels);
        manager->setEffectEnabled(id, false);
    }
    // Without a colour list of its own, a ring set is made from the effect's colour.
    const int magic = EffectManager::effectIdForClass("effect-magic");
    manager->setEffectEnabled(magic, true);
    manager->playEffect(magic, globalCentre());
    QVERIFY(effectLabels(window.get()).first()->styleSheet().contains("solid #ba68c8"));
}

void TestEffectManager::fallStartsInsideTheWindow()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(13, true); // snow: 10 flakes
    manager->playEffect(13, window->mapToGlobal(QPoint(400, 10)));
    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 10);
    for (QLabel *label : labels) {
        QCOMPARE(label->y(), 0);
        QCOMPARE(animationOf(label, "pos")->endValue().toPoint().y(), 600 + 20);
    }
    QPointer<QLabel> flake = labels.first();
    QTRY_VERIFY(flake && flake->y() > 100);
}

void TestEffectManager::streaksStayVisibleThenVanish()
{
    EffectManager *manager = makeManager();
    manager->setEffectEnabled(8, true); // lightning: 3 streaks, 400 ms
    manager->playEffect(8, globalCentre());
    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 3);
    for (QLabel *label : labels) {
        QCOMPARE(label->height(), 3);
        QVERIFY(label->width() >= 80 && label->width() < 180);
        QVERIFY(!label->graphicsEffect());
    }
    QTRY_VERIFY_WITH_TIMEOUT(effectLabels(window.get()).isEmpty(), 2000);
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
    const QList<QLabel *> labels = effectLabels(window.get());
    QCOMPARE(labels.size(), 5);
    for (QLabel *label : labels)
        QVERIFY(label->text().isEmpty());
}

TAPTEMPEST_TEST_MAIN(TestEffectManager)
#include "tst_effectmanager.moc"
