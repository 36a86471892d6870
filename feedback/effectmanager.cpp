#include "effectmanager.h"

#include "effectlayer.h"

#include "net/settingskeys.h"

#include <QCoreApplication>
#include <QPropertyAnimation>
#include <QRandomGenerator>
#include <QRect>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

struct CatalogueRow
{
    const char *name;
    const char *cssClass;
    const char *symbol;
    const char *color;
    int type;
    int count;
    int duration;
};

// Id = position + 1. The server knows effects only by their class, so the order here is local.
constexpr CatalogueRow catalogueRows[] = {
    {QT_TRANSLATE_NOOP("EffectManager", "星星"), "effect-star", "★", "#ffd700", 0, 8, 1200}, // 1
    {QT_TRANSLATE_NOOP("EffectManager", "烟花"), "effect-firework", "●", "#ff4081", 3, 12,
     1500}, // 2
    {QT_TRANSLATE_NOOP("EffectManager", "数字飘动"), "effect-bounce_text", "+1", "#ff8f00", 6, 1,
     800},                                                                                      // 3
    {QT_TRANSLATE_NOOP("EffectManager", "屏幕震动"), "effect-shake", "", "#ffffff", 5, 1, 300}, // 4
    {QT_TRANSLATE_NOOP("EffectManager", "彩虹光环"), "effect-rainbow", "", "#ff0000", 2, 7,
     800}, // 5
    {QT_TRANSLATE_NOOP("EffectManager", "金币雨"), "effect-coins", "⭐", "#ffd700", 1, 12,
     1500}, // 6
    {QT_TRANSLATE_NOOP("EffectManager", "蝴蝶"), "effect-butterfly", "✨", "#e040fb", 0, 5,
     2000},                                                                                     // 7
    {QT_TRANSLATE_NOOP("EffectManager", "闪电"), "effect-lightning", "", "#40c4ff", 4, 3, 400}, // 8
    {QT_TRANSLATE_NOOP("EffectManager", "火焰"), "effect-flame", "▲", "#ff5722", 0, 8, 1000},   // 9
    {QT_TRANSLATE_NOOP("EffectManager", "水滴"), "effect-waterdrop", "●", "#4fc3f7", 1, 6,
     1200},                                                                                   // 10
    {QT_TRANSLATE_NOOP("EffectManager", "花瓣"), "effect-petal", "✿", "#f48fb1", 1, 8, 2500}, // 11
    {QT_TRANSLATE_NOOP("EffectManager", "音符"), "effect-music", "♫", "#7e57c2", 0, 5, 1800}, // 12
    {QT_TRANSLATE_NOOP("EffectManager", "雪花"), "effect-snow", "❄", "#ffffff", 1, 10, 3000}, // 13
    {QT_TRANSLATE_NOOP("EffectManager", "气泡"), "effect-bubble", "○", "#81d4fa", 0, 10,
     2000}, // 14
    {QT_TRANSLATE_NOOP("EffectManager", "星星爆炸"), "effect-starburst", "★", "#ffeb3b", 3, 16,
     1800}, // 15
    {QT_TRANSLATE_NOOP("EffectManager", "彩虹"), "effect-rainbow2", "", "#e91e63", 2, 7,
     1200}, // 16
    {QT_TRANSLATE_NOOP("EffectManager", "黑洞"), "effect-blackhole", "●", "#212121", 2, 5,
     2000},                                                                                   // 17
    {QT_TRANSLATE_NOOP("EffectManager", "极光"), "effect-aurora", "", "#66bb6a", 2, 8, 2500}, // 18
    {QT_TRANSLATE_NOOP("EffectManager", "樱花"), "effect-sakura", "✿", "#f8bbd0", 1, 12,
     3000},                                                                                    // 19
    {QT_TRANSLATE_NOOP("EffectManager", "美元"), "effect-dollar", "$", "#4caf50", 0, 6, 1500}, // 20
    {QT_TRANSLATE_NOOP("EffectManager", "欧元"), "effect-euro", "€", "#2196f3", 0, 6, 1500},   // 21
    {QT_TRANSLATE_NOOP("EffectManager", "英镑"), "effect-pound", "£", "#3f51b5", 0, 6, 1500},  // 22
    {QT_TRANSLATE_NOOP("EffectManager", "钻石"), "effect-diamond", "◆", "#b3e5fc", 3, 10,
     1500},                                                                                    // 23
    {QT_TRANSLATE_NOOP("EffectManager", "皇冠"), "effect-crown", "♛", "#ffd700", 0, 5, 1500},  // 24
    {QT_TRANSLATE_NOOP("EffectManager", "魔法阵"), "effect-magic", "", "#ba68c8", 2, 6, 1500}, // 25
    {QT_TRANSLATE_NOOP("EffectManager", "灵魂"), "effect-soul", "☆", "#b39ddb", 0, 6, 2000},   // 26
    {QT_TRANSLATE_NOOP("EffectManager", "骷髅"), "effect-skull", "☠", "#eeeeee", 3, 8, 1500},  // 27
    {QT_TRANSLATE_NOOP("EffectManager", "天使"), "effect-angel", "♛", "#fffde7", 0, 6, 2500},  // 28
    {QT_TRANSLATE_NOOP("EffectManager", "恶魔"), "effect-demon", "♠", "#d32f2f", 3, 8, 1500},  // 29
    {QT_TRANSLATE_NOOP("EffectManager", "猫咪"), "effect-cat", "♛", "#ffccbc", 0, 5, 2000},    // 30
    {QT_TRANSLATE_NOOP("EffectManager", "狗狗"), "effect-dog", "♥", "#d7ccc8", 0, 5, 2000},    // 31
    {QT_TRANSLATE_NOOP("EffectManager", "锦鲤"), "effect-fish", "◇", "#ffab91", 0, 7, 2000},   // 32
    {QT_TRANSLATE_NOOP("EffectManager", "飞龙"), "effect-dragon", "♛", "#76ff03", 4, 4, 3000}, // 33
    {QT_TRANSLATE_NOOP("EffectManager", "凤凰"), "effect-phoenix", "★", "#ff6f00", 3, 12,
     2500}, // 34
    {QT_TRANSLATE_NOOP("EffectManager", "圣光"), "effect-holylight", "", "#fff59d", 2, 5,
     2000}, // 35
    {QT_TRANSLATE_NOOP("EffectManager", "暗黑"), "effect-darkness", "", "#1a1a2e", 2, 5,
     2000},                                                                                  // 36
    {QT_TRANSLATE_NOOP("EffectManager", "时光"), "effect-time", "⌛", "#80d8ff", 2, 6, 2000}, // 37
    {QT_TRANSLATE_NOOP("EffectManager", "星辰"), "effect-galaxy", "★", "#7c4dff", 3, 20,
     2500}, // 38
    {QT_TRANSLATE_NOOP("EffectManager", "创世"), "effect-genesis", "", "#ffffff", 2, 10,
     3000}, // 39
};

const QVector<EffectInfo> &catalogue()
{
    static const QVector<EffectInfo> entries = [] {
        QVector<EffectInfo> list;
        list.reserve(int(std::size(catalogueRows)));
        for (const CatalogueRow &row : catalogueRows) {
            list.append({QString::fromUtf8(row.name), QString::fromUtf8(row.cssClass),
                         QString::fromUtf8(row.symbol), QColor::fromString(row.color), row.type,
                         row.count, row.duration});
        }
        return list;
    }();
    return entries;
}

const QMap<int, int> &priceTable()
{
    static const QMap<int, int> prices = {
        {1, 50},    {2, 100},   {3, 30},    {4, 80},    {5, 150},   {6, 200},   {7, 150},
        {8, 180},   {9, 160},   {10, 40},   {11, 90},   {12, 110},  {13, 70},   {14, 55},
        {15, 250},  {16, 300},  {17, 500},  {18, 800},  {19, 140},  {20, 75},   {21, 75},
        {22, 75},   {23, 400},  {24, 350},  {25, 600},  {26, 220},  {27, 170},  {28, 450},
        {29, 450},  {30, 95},   {31, 95},   {32, 130},  {33, 1000}, {34, 1200}, {35, 1500},
        {36, 1500}, {37, 2000}, {38, 2500}, {39, 5000},
    };
    return prices;
}

int randomBelow(int n)
{
    return int(QRandomGenerator::global()->bounded(n));
}

QStringList ringColors(const EffectInfo &info);

} // namespace

EffectManager::EffectManager(QWidget *parent) : QObject(parent), parentWidget(parent)
{
    loadSettings();
    if (parentWidget) {
        layer = new EffectLayer(parentWidget);
        // Once the window is up, the images of the switched-on effects are drawn ahead, so that
        // the first click does not stall the loop; after the first frame, not before it.
        QTimer::singleShot(250, this, &EffectManager::prepareImages);
    }
}

void EffectManager::prepareImages()
{
    if (!layer)
        return;
    for (int id = 1; id <= effectCount(); ++id) {
        if (!isEffectEnabled(id))
            continue;
        const EffectInfo info = effectInfo(id);
        switch (info.type) {
        case int(EffectType::Float):
            layer->prepareSymbol(info.symbol, info.color, 18, false, EffectLayer::Placement::Left);
            break;
        case int(EffectType::Fall):
            layer->prepareSymbol(info.symbol, info.color, 16, false, EffectLayer::Placement::Left);
            break;
        case int(EffectType::Burst):
            layer->prepareSymbol(info.symbol, info.color, 14, false, EffectLayer::Placement::Left);
            break;
        case int(EffectType::BounceText):
            layer->prepareSymbol(info.symbol, info.color, 20, true, EffectLayer::Placement::Centre);
            break;
        case int(EffectType::Ring): {
            const QStringList colors = ringColors(info);
            const int n = std::min(info.count, int(colors.size()));
            for (int k = 0; k < n; ++k)
                layer->prepareRing(QColor::fromString(colors.at(k)), (20 + 12 * k) / 2);
            break;
        }
        default:
            break;
        }
    }
}

EffectLayer *EffectManager::effectLayer() const
{
    return layer;
}

bool EffectManager::isEffectEnabled(int effectId) const
{
    return enabledEffects.value(effectId, false);
}

void EffectManager::setEffectEnabled(int effectId, bool enabled)
{
    switchEffects({effectId}, enabled);
}

void EffectManager::enableEffects(const QList<int> &effectIds)
{
    switchEffects(effectIds, true);
}

void EffectManager::switchEffects(const QList<int> &effectIds, bool enabled)
{
    bool changed = !storeInStep;
    for (int id : effectIds) {
        const auto it = enabledEffects.constFind(id);
        if (it != enabledEffects.cend() && it.value() == enabled)
            continue;
        enabledEffects.insert(id, enabled);
        changed = true;
    }
    if (changed)
        saveSettings();
}

void EffectManager::playEffect(int effectId, const QPoint &globalPos)
{
    if (effectId == 0 || !parentWidget || !layer || !enabledEffects.value(effectId, false))
        return;
    startEffect(effectId, globalPos);
}

int EffectManager::effectCount()
{
    return int(catalogue().size());
}

EffectInfo EffectManager::effectInfo(int effectId)
{
    if (effectId >= 1 && effectId <= effectCount())
        return catalogue().at(effectId - 1);
    EffectInfo unknown;
    unknown.name = QString::fromUtf8(QT_TRANSLATE_NOOP("EffectManager", "未知"));
    unknown.color = QColor::fromString("#ffffff");
    unknown.type = int(EffectType::Float);
    unknown.count = 5;
    unknown.duration = 1000;
    return unknown;
}

QString EffectManager::effectName(int effectId)
{
    // The catalogue keeps the Chinese names; the shown name follows the interface language.
    return QCoreApplication::translate("EffectManager", effectInfo(effectId).name.toUtf8());
}

QString EffectManager::effectClass(int effectId)
{
    return effectInfo(effectId).cssClass;
}

int EffectManager::effectIdForClass(const QString &cssClass)
{
    const QVector<EffectInfo> &entries = catalogue();
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).cssClass == cssClass)
            return i + 1;
    }
    return 0;
}

int EffectManager::effectPrice(int effectId)
{
    return priceTable().value(effectId, 0);
}

void EffectManager::startEffect(int effectId, const QPoint &globalPos)
{
    const EffectInfo info = effectInfo(effectId);
    const QPoint pos = parentWidget->mapFromGlobal(globalPos);
    switch (info.type) {
    case int(EffectType::Float):
        playFloat(info, pos);
        break;
    case int(EffectType::Fall):
        playFall(info, pos);
        break;
    case int(EffectType::Ring):
        playRings(info, pos);
        break;
    case int(EffectType::Burst):
        playBurst(info, pos);
        break;
    case int(EffectType::Streak):
        playStreaks(info, pos);
        break;
    case int(EffectType::Shake):
        shakeWindow();
        break;
    case int(EffectType::BounceText):
        playBounceText(info, pos);
        break;
    default:
        break;
    }
}

void EffectManager::saveSettings()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::effectSwitchGroup);
    for (auto it = enabledEffects.cbegin(); it != enabledEffects.cend(); ++it)
        settings.setValue(QString::number(it.key()), it.value());
    settings.endGroup();
    settings.sync();
    ++writes;
    storeInStep = settings.status() == QSettings::NoError;
}

void EffectManager::loadSettings()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::effectSwitchGroup);
    for (int id = 1; id <= effectCount(); ++id)
        enabledEffects.insert(
            id, settings.value(QString::number(id), SettingsKeys::defaultEffectSwitch).toBool());
    settings.endGroup();
}

void EffectManager::playSymbolLabel(const EffectInfo &info, int pixelSize, bool bold,
                                    const QPoint &start, const QPoint &end, int duration,
                                    QEasingCurve::Type easing, bool centred)
{
    layer->addSymbol(EffectType(info.type), info.symbol, info.color, pixelSize, bold,
                     centred ? EffectLayer::Placement::Centre : EffectLayer::Placement::Left, start,
                     end, duration, easing);
}

void EffectManager::playFloat(const EffectInfo &info, const QPoint &p)
{
    for (int i = 0; i < info.count; ++i) {
        const int sx = randomBelow(60) - 30;
        const int sy = randomBelow(30) - 20;
        const QPoint start = p + QPoint(sx, sy);
        const int ex = randomBelow(80) - 40;
        const int ey = -80 - randomBelow(60);
        const QPoint end = start + QPoint(ex, ey);
        const int duration = info.duration + randomBelow(400);
        playSymbolLabel(info, 18, false, start, end, duration, QEasingCurve::OutCubic, false);
    }
}

void EffectManager::playFall(const EffectInfo &info, const QPoint &p)
{
    const int height = parentWidget->height();
    for (int i = 0; i < info.count; ++i) {
        const int sx = p.x() + randomBelow(120) - 60;
        const int sy = std::max(0, p.y() - 50 - randomBelow(100));
        const QPoint start(sx, sy);
        const QPoint end(start.x() + randomBelow(60) - 30, height + 20);
        const int duration = info.duration + randomBelow(800);
        playSymbolLabel(info, 16, false, start, end, duration, QEasingCurve::InQuad, false);
    }
}

void EffectManager::playBurst(const EffectInfo &info, const QPoint &p)
{
    for (int i = 0; i < info.count; ++i) {
        const int base = i * 360 / info.count;
        const int angle = base + randomBelow(30) - 15;
        const double a = angle * 0.017453292519943295;
        const int r = 40 + randomBelow(60);
        const QPoint end = p + QPoint(int(std::cos(a) * r), int(std::sin(a) * r));
        playSymbolLabel(info, 14, false, p, end, info.duration, QEasingCurve::OutCubic, false);
    }
}

void EffectManager::playBounceText(const EffectInfo &info, const QPoint &p)
{
    const QPoint start = p + QPoint(-20, -10);
    playSymbolLabel(info, 20, true, start, start + QPoint(0, -60), info.duration,
                    QEasingCurve::OutCubic, true);
}

namespace {

// The ring colours of an entry, innermost first.
QStringList ringColors(const EffectInfo &info)
{
    QStringList colors;
    if (info.cssClass == QLatin1String("effect-rainbow") ||
        info.cssClass == QLatin1String("effect-rainbow2")) {
        colors = {"#ff0000", "#ff7f00", "#ffff00", "#00ff00", "#0000ff", "#4b0082", "#9400d3"};
    } else if (info.cssClass == QLatin1String("effect-aurora")) {
        colors = {"#00e676", "#00b0ff", "#e040fb", "#69f0ae", "#18ffff"};
    } else if (info.cssClass == QLatin1String("effect-genesis")) {
        colors = {"#ffffff", "#ffd700", "#ff69b4", "#00ffff", "#ff4500", "#9400d3", "#32cd32"};
    } else if (info.cssClass == QLatin1String("effect-holylight")) {
        colors = {"#fff9c4", "#fff176", "#ffee58", "#fff59d", "#fffde7"};
    } else if (info.cssClass == QLatin1String("effect-darkness")) {
        colors = {"#1a1a2e", "#16213e", "#0f3460", "#533483", "#2c2c54"};
    } else if (info.cssClass == QLatin1String("effect-blackhole")) {
        colors = {"#000000", "#1a1a1a", "#333333", "#4a148c", "#6a1b9a"};
    } else {
        colors = {info.color.name(), info.color.lighter(120).name(), info.color.darker(120).name(),
                  info.color.lighter(140).name(), info.color.darker(140).name()};
    }
    return colors;
}

} // namespace

void EffectManager::playRings(const EffectInfo &info, const QPoint &p)
{
    const QStringList colors = ringColors(info);
    const int n = std::min(info.count, int(colors.size()));
    for (int k = 0; k < n; ++k) {
        const int size = 20 + 12 * k;
        const QPoint topLeft = p - QPoint(size / 2, size / 2);
        const int grown = size + 60;
        layer->addRing(QColor::fromString(colors.at(k)), size / 2,
                       QRect(topLeft.x(), topLeft.y(), size, size),
                       QRect(p.x() - grown / 2, p.y() - grown / 2, grown, grown), info.duration);
    }
}

void EffectManager::playStreaks(const EffectInfo &info, const QPoint &p)
{
    for (int i = 0; i < info.count; ++i) {
        const int width = 80 + randomBelow(100);
        const int dx = randomBelow(80) - 40;
        const int dy = randomBelow(60) - 30;
        layer->addStreak(info.color, QRect(p + QPoint(dx, dy), QSize(width, 3)), info.duration);
    }
}

void EffectManager::shakeWindow()
{
    if (!parentWidget)
        return;
    QPoint home = parentWidget->pos();
    if (shakeAnimation && shakeAnimation->state() == QAbstractAnimation::Running) {
        home = shakeHome;
        shakeAnimation->stop(); // deletes itself
    }
    shakeHome = home;

    auto *shake = new QPropertyAnimation(parentWidget, "pos", parentWidget);
    shake->setDuration(300);
    const int offsets[] = {0, -6, 6, -6, 6, -6, 6, -3, 3, 0, 0};
    for (int i = 0; i <= 10; ++i)
        shake->setKeyValueAt(i / 10.0, home + QPoint(offsets[i], 0));
    shakeAnimation = shake;
    shake->start(QAbstractAnimation::DeleteWhenStopped);
}
