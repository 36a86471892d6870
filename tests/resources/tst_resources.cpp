// The compiled-in theme sheets and icon, checked as the player meets them: what the sheets do
// to real widgets, and whether the icon file is one that Windows and Qt can both read.

#include "dialogs/logindialog.h"
#include "dialogs/rankingdialog.h"
#include "dialogs/settingsdialog.h"
#include "dialogs/shopdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/effectmanager.h"
#include "mainwindow/mainwindow.h"
#include "resources/theme.h"
#include "support/rendering.h"
#include "support/scriptedclient.h"
#include "support/testenv.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImageReader>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QStringDecoder>
#include <QStyleFactory>
#include <QTableWidget>
#include <QtEndian>

namespace {

const char *const kDarkPath = ":/style.qss";
const char *const kLightPath = ":/style_light.qss";
const char *const kIconPath = ":/icon.ico";

struct Declaration
{
    QString name;
    QString value;
};

struct Rule
{
    QString selector;
    QVector<Declaration> declarations;
};

QByteArray readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A small parser for the flat rule lists of the sheets: comments, then "selector { a: b; }".
// Returns false with a reason on anything it does not understand.
bool parseSheet(const QString &text, QVector<Rule> *rules, QString *error)
{
    static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QString rest = text;
    rest.remove(comment);
    rules->clear();
    int pos = 0;
    while (true) {
        const int open = rest.indexOf(QLatin1Char('{'), pos);
        if (open < 0) {
            if (!rest.mid(pos).trimmed().isEmpty()) {
                *error = QStringLiteral("text after the last rule: ") + rest.mid(pos).trimmed();
                return false;
            }
            return true;
        }
        const int close = rest.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            *error = QStringLiteral("unclosed rule after ") + rest.mid(pos, open - pos);
            return false;
        }
        Rule rule;
        rule.selector = rest.mid(pos, open - pos).simplified();
        const QString body = rest.mid(open + 1, close - open - 1);
        if (rule.selector.isEmpty() || body.contains(QLatin1Char('{'))) {
            *error = QStringLiteral("malformed rule near ") + body.left(40);
            return false;
        }
        const QStringList parts = body.split(QLatin1Char(';'));
        for (int i = 0; i < parts.size(); ++i) {
            const QString part = parts.at(i).trimmed();
            if (part.isEmpty())
                continue;
            const int colon = part.indexOf(QLatin1Char(':'));
            if (colon <= 0 || i == parts.size() - 1) { // the last one lacks its ';'
                *error = QStringLiteral("bad declaration '%1' in %2").arg(part, rule.selector);
                return false;
            }
            rule.declarations.append(
                {part.left(colon).trimmed(), part.mid(colon + 1).simplified()});
        }
        rules->append(rule);
        pos = close + 1;
    }
}

const QRegularExpression &colourPattern()
{
    static const QRegularExpression pattern(QStringLiteral("#[0-9A-Za-z]*"));
    return pattern;
}

QStringList coloursIn(const QString &value)
{
    QStringList colours;
    auto it = colourPattern().globalMatch(value);
    while (it.hasNext())
        colours << it.next().captured();
    return colours;
}

QString withoutColours(const QString &value)
{
    // The arrow images are drawn in each theme's text colour.
    static const QRegularExpression themedImage(QStringLiteral("-(dark|light)\\.xpm\\)"));
    QString masked = value;
    masked.replace(themedImage, QStringLiteral("-<theme>.xpm)"));
    return masked.replace(colourPattern(), QStringLiteral("<colour>"));
}

QString pixelAt(const QImage &image, int x, int y)
{
    return QColor(image.pixel(x, y)).name();
}

quint16 u16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

struct IconEntry
{
    int size;
    quint32 bytes;
    quint32 offset;
};

// One text as the player sees it: the colour most pixels around it have, and its ink, the pixel
// that stands out most from that.
struct Reading
{
    QString what;
    double ratio = 0;
    double needed = 4.5;
    QString background;
    QString ink;
};

Reading read(const QImage &image, const QRect &area, const QString &what, double needed)
{
    Reading reading{what, 0, needed, {}, {}};
    const QRect inside = area.intersected(image.rect());
    QHash<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixel(x, y)];
    if (counts.isEmpty())
        return reading;
    QRgb background = counts.cbegin().key();
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    QRgb ink = background;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (rendering::contrast(QColor(it.key()), QColor(background)) >
            rendering::contrast(QColor(ink), QColor(background)))
            ink = it.key();
    reading.ratio = rendering::contrast(QColor(ink), QColor(background));
    reading.background = QColor(background).name();
    reading.ink = QColor(ink).name();
    return reading;
}

// Large text (24 px, or 18.7 px bold) needs 3:1, other text 4.5:1.
double neededFor(const QFont &font)
{
    const int size = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    return size >= 24 || (font.bold() && size >= 19) ? 3.0 : 4.5;
}

// Every text of a window, read from one picture of it.
QList<Reading> readTexts(QWidget *window, const QString &name)
{
    const QImage image = window->grab().toImage();
    QList<Reading> readings;
    auto add = [&](QWidget *widget, QRect local, const QString &text, const QFont &font) {
        if (text.isEmpty() || !widget->isVisibleTo(window))
            return;
        const QRect area(widget->mapTo(window, local.topLeft()), local.size());
        readings << read(image, area, name + QStringLiteral(": ") + text, neededFor(font));
    };
    auto centred = [](QWidget *widget, const QString &text, Qt::Alignment alignment) {
        const QSize size = widget->fontMetrics().size(Qt::TextSingleLine, text) + QSize(2, 2);
        return QStyle::alignedRect(widget->layoutDirection(), alignment, size,
                                   widget->contentsRect());
    };
    if (auto *button = qobject_cast<QPushButton *>(window))
        add(button, centred(button, button->text(), Qt::AlignCenter), button->text(),
            button->font());
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (qobject_cast<ClickButton *>(label->parentWidget()))
            continue; // the "+1", read on its own
        add(label, centred(label, label->text(), label->alignment()), label->text(), label->font());
    }
    for (QPushButton *button : window->findChildren<QPushButton *>())
        add(button, centred(button, button->text(), Qt::AlignCenter), button->text(),
            button->font());
    for (QGroupBox *box : window->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        add(box,
            box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                         box),
            box->title(), box->font());
    }
    for (QComboBox *combo : window->findChildren<QComboBox *>())
        add(combo, combo->rect().adjusted(6, 4, -26, -4), combo->currentText(), combo->font());
    for (QListWidget *list : window->findChildren<QListWidget *>())
        for (int row = 0; row < list->count(); ++row)
            add(list->viewport(), list->visualItemRect(list->item(row)).adjusted(2, 2, -2, -3),
                list->item(row)->text() + (list->item(row)->isSelected() ? " (selected)" : ""),
                list->font());
    for (QTableWidget *table : window->findChildren<QTableWidget *>()) {
        for (int row = 0; row < table->rowCount(); ++row)
            for (int column = 0; column < table->columnCount(); ++column)
                if (QTableWidgetItem *item = table->item(row, column))
                    add(table->viewport(), table->visualItemRect(item).adjusted(2, 2, -2, -2),
                        QStringLiteral("row %1 ").arg(row + 1) + item->text(), table->font());
        QHeaderView *header = table->horizontalHeader();
        for (int section = 0; section < header->count(); ++section)
            add(header->viewport(),
                QRect(header->sectionViewportPosition(section), 0, header->sectionSize(section),
                      header->height())
                    .adjusted(3, 3, -3, -3),
                table->horizontalHeaderItem(section)->text(), header->font());
    }
    return readings;
}

// How many pixels around and inside `widget` changed between two pictures by at least 3:1.
int pixelsChangedBy3(const QImage &before, const QImage &after, QWidget *window, QWidget *widget)
{
    const QRect area =
        QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()).adjusted(-3, -3, 3, 3);
    int changed = 0;
    for (int y = qMax(0, area.top()); y <= qMin(before.height() - 1, area.bottom()); ++y)
        for (int x = qMax(0, area.left()); x <= qMin(before.width() - 1, area.right()); ++x)
            if (rendering::contrast(QColor(before.pixel(x, y)), QColor(after.pixel(x, y))) >= 3)
                ++changed;
    return changed;
}

// Focuses every control of `window` that takes focus by Tab in turn; a control whose focus does
// not change a ring of pixels around or along its edge by at least 3:1 is added to `weak`.
// Returns how many were checked.
int checkFocusRings(QWidget *window, QStringList &weak)
{
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window)) {
        weak << window->windowTitle() + QStringLiteral(": never became active");
        return 0;
    }
    int checked = 0;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(window) || !widget->isEnabled() ||
            !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        // A spin box's editor is measured as part of the spin box.
        if (qobject_cast<QAbstractSpinBox *>(widget->parentWidget()))
            continue;
        // Scrolled into view, as Tab would.
        for (QWidget *up = widget->parentWidget(); up && up != window; up = up->parentWidget())
            if (auto *area = qobject_cast<QScrollArea *>(up))
                area->ensureWidgetVisible(widget);
        if (QWidget *focused = QApplication::focusWidget())
            focused->clearFocus();
        const QImage before = window->grab().toImage();
        widget->setFocus(Qt::TabFocusReason);
        if (!QTest::qWaitFor([widget] { return widget->hasFocus(); })) {
            weak << window->windowTitle() + QStringLiteral(": cannot focus ") +
                        widget->metaObject()->className();
            continue;
        }
        const QImage after = window->grab().toImage();
        const int changed = pixelsChangedBy3(before, after, window, widget);
        // A check box wider than its text shows its focus around the indicator and text.
        const int width = qobject_cast<QCheckBox *>(widget)
                              ? qMin(widget->width(), widget->sizeHint().width())
                              : widget->width();
        const int ring = 2 * (width + widget->height());
        ++checked;
        if (changed < ring)
            weak << QStringLiteral("%1 %2#%3 \"%4\": %5 pixels changed by 3:1, a ring is %6")
                        .arg(window->windowTitle(), widget->metaObject()->className(),
                             widget->objectName(), widget->property("text").toString())
                        .arg(changed)
                        .arg(ring);
    }
    return checked;
}

// The main window, the shop and the ranking in one theme, against a scripted server.
struct Windows
{
    ScriptedClient client;
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<ShopDialog> shop;
    std::unique_ptr<RankingDialog> ranking;
    std::unique_ptr<LoginDialog> login;
    EffectManager effects;
    std::unique_ptr<SettingsDialog> settings;

    ~Windows()
    {
        settings.reset();
        login.reset();
        ranking.reset();
        shop.reset();
        main.reset();
        client.stop();
    }

    QPushButton *button(QWidget *window, const QString &text)
    {
        for (QPushButton *b : window->findChildren<QPushButton *>())
            if (b->text() == text)
                return b;
        qFatal("no button %s", qPrintable(text));
    }

    bool open(bool dark)
    {
        if (!client.start())
            return false;
        client.peer->setHandler([](const RecordedRequest &request) {
            if (request.action() == "stats")
                return ScriptedResponse::ok(QJsonObject{
                    {"total_clicks", 1000}, {"gold", 7}, {"balance", 120}, {"username", "alice"}});
            if (request.action() == "effects/list") {
                auto effect = [](int id, const char *css, const char *name, bool owned) {
                    return QJsonObject{{"id", id},
                                       {"css_class", css},
                                       {"name", name},
                                       {"price", 10},
                                       {"owned", owned}};
                };
                return ScriptedResponse::ok(
                    QJsonObject{{"effects", QJsonArray{effect(1, "effect-star", "星星", true),
                                                       effect(2, "effect-heart", "爱心", false),
                                                       effect(3, "effect-snow", "雪花", false)}}});
            }
            if (request.action() == "ranking") {
                QJsonArray rows;
                for (int i = 0; i < 5; ++i)
                    rows.append(QJsonObject{{"username", QStringLiteral("player%1").arg(i + 1)},
                                            {"total_clicks", 5000 - 100 * i}});
                return ScriptedResponse::ok(QJsonObject{{"rankings", rows}});
            }
            return ScriptedResponse::noAnswer();
        });
        client.auth->handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", "tok"}});
        QSettings().setValue("theme/dark", dark);
        main = std::make_unique<MainWindow>(client.auth.get(), client.api.get());
        main->show();
        if (!QTest::qWaitForWindowExposed(main.get()))
            return false;
        auto *gold = main->findChild<QLabel *>("goldLabel");
        if (!QTest::qWaitFor([gold] { return gold->text() == "7"; }))
            return false;

        shop = std::make_unique<ShopDialog>(client.auth.get(), client.api.get());
        shop->show();
        auto *list = shop->findChild<QListWidget *>("effectList");
        if (!QTest::qWaitForWindowExposed(shop.get()) ||
            !QTest::qWaitFor([list] { return list->count() == 3; }))
            return false;
        list->setCurrentRow(2); // white on the selection

        ranking = std::make_unique<RankingDialog>(client.api.get());
        ranking->show();
        auto *table = ranking->findChild<QTableWidget *>("rankingTable");
        QPushButton *refresh = button(ranking.get(), "刷新");
        if (!QTest::qWaitForWindowExposed(ranking.get()) || !QTest::qWaitFor([table, refresh] {
                return table->rowCount() == 5 && refresh->isEnabled();
            }))
            return false;
        table->selectRow(4);
        return true;
    }

    // The log-in and settings dialogs, for the checks that cover every window.
    bool openDialogs()
    {
        login = std::make_unique<LoginDialog>(client.auth.get(), client.api.get());
        login->show();
        // As after a refused log-in.
        auto *error = login->findChild<QLabel *>("errorLabel");
        error->setText(QStringLiteral("用户名或密码错误"));
        error->show();
        settings = std::make_unique<SettingsDialog>(client.auth.get(), &effects);
        settings->show();
        return QTest::qWaitForWindowExposed(login.get()) &&
               QTest::qWaitForWindowExposed(settings.get());
    }
};

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private:
    QVector<Rule> parsed(const char *path)
    {
        QVector<Rule> rules;
        QString error;
        if (!parseSheet(QString::fromUtf8(readResource(path)), &rules, &error))
            qWarning("%s: %s", path, qPrintable(error));
        return rules;
    }

    void applySheet(bool dark)
    {
        qApp->setStyleSheet(QString::fromUtf8(readResource(dark ? kDarkPath : kLightPath)));
    }

private slots:
    void initTestCase() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }

    void init()
    {
        // Qt reports sheets it cannot parse only as a warning; here that is a failure.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("[Cc]ould not parse")));
    }

    void cleanup() { qApp->setStyleSheet(QString()); }

    void sheetsAreUtf8WithTheirHeading_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("heading");
        QTest::newRow("dark") << kDarkPath
                              << QStringLiteral("/* TapTempest 样式表 - 深色主题 (默认) */");
        QTest::newRow("light") << kLightPath << QStringLiteral("/* TapTempest 浅色主题样式表 */");
    }

    void sheetsAreUtf8WithTheirHeading()
    {
        QFETCH(QString, path);
        QFETCH(QString, heading);
        const QByteArray bytes = readResource(path);
        QVERIFY2(!bytes.isEmpty(), "resource missing from the executable");
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF")); // a BOM would end up in the first selector

        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder(bytes);
        QVERIFY2(!decoder.hasError(), "not valid UTF-8");
        QCOMPARE(text.section(QLatin1Char('\n'), 0, 0), heading);

        static const QRegularExpression section(QStringLiteral("^/\\* ={20} \\S+ ={20} \\*/$"),
                                                QRegularExpression::MultilineOption);
        QVERIFY2(text.count(section) >= 10, "rules are not divided into headed sections");

        QVector<Rule> rules;
        QString error;
        QVERIFY2(parseSheet(text, &rules, &error), qPrintable(error));
        QVERIFY(!rules.isEmpty());
        // Both themes style the same 91 selectors; a rule lost in an edit shows here.
        QCOMPARE(rules.size(), 91);
    }

    void sheetsStyleEveryObjectName()
    {
        static const char *const names[] = {"#clickButton",   "#funcButton",      "#dangerButton",
                                            "#primaryButton", "#secondaryButton", "#usernameLabel",
                                            "#clicksLabel",   "#goldLabel",       "#bankLabel",
                                            "#toastLabel",    "#infoLabel",       "#welcomeLabel",
                                            "#hintLabel",     "#errorLabel"};
        for (const char *path : {kDarkPath, kLightPath}) {
            QSet<QString> selectors;
            for (const Rule &rule : parsed(path))
                selectors.insert(rule.selector);
            for (const char *name : names) {
                const QString wanted = QString::fromLatin1(name);
                const bool found =
                    std::any_of(selectors.cbegin(), selectors.cend(),
                                [&](const QString &s) { return s.endsWith(wanted); });
                QVERIFY2(found,
                         qPrintable(QStringLiteral("%1 has no rule for %2").arg(path, wanted)));
            }
        }
    }

    // The themes must only recolour: same rules, same geometry and fonts, the one planned
    // exception being where the QWidget rule stands.
    void themesDifferOnlyInColourAndTheGlobalRulePlace()
    {
        QVector<Rule> dark = parsed(kDarkPath);
        QVector<Rule> light = parsed(kLightPath);
        QVERIFY(!dark.isEmpty());
        QCOMPARE(dark.size(), light.size());

        QCOMPARE(dark.first().selector, QStringLiteral("QWidget"));
        QVERIFY(light.size() > 13);
        QCOMPARE(light.at(12).selector, QStringLiteral("QWidget"));
        QCOMPARE(light.at(11).selector.section(QLatin1Char(','), 0, 0),
                 QStringLiteral("QInputDialog QSpinBox:focus"));
        QCOMPARE(light.at(13).selector, QStringLiteral("QMainWindow"));
        light.move(12, 0);

        for (int i = 0; i < dark.size(); ++i) {
            const Rule &d = dark.at(i);
            const Rule &l = light.at(i);
            QCOMPARE(l.selector, d.selector);
            QCOMPARE(l.declarations.size(), d.declarations.size());
            for (int j = 0; j < d.declarations.size(); ++j) {
                const QString where = d.selector + QLatin1String(" / ") + d.declarations[j].name;
                QCOMPARE(l.declarations[j].name, d.declarations[j].name);
                QVERIFY2(withoutColours(l.declarations[j].value) ==
                             withoutColours(d.declarations[j].value),
                         qPrintable(where));

                // A colour stands in the same places in both themes.
                QCOMPARE(coloursIn(l.declarations[j].value).size(),
                         coloursIn(d.declarations[j].value).size());
            }
        }
    }

    void everyColourIsWellFormed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("dark") << kDarkPath;
        QTest::newRow("light") << kLightPath;
    }

    // Qt draws a colour it cannot read as black, without a warning.
    void everyColourIsWellFormed()
    {
        QFETCH(QString, path);
        static const QRegularExpression colourFunction(QStringLiteral("\\b(rgba?|hsva?|hsla?)\\("));
        static const QRegularExpression hex(QStringLiteral("^#[0-9a-f]{6}$"));
        int colours = 0;
        for (const Rule &rule : parsed(qPrintable(path))) {
            for (const Declaration &decl : rule.declarations) {
                QVERIFY2(!decl.value.contains(colourFunction),
                         qPrintable(rule.selector + QLatin1String(": ") + decl.value));
                for (const QString &colour : coloursIn(decl.value)) {
                    ++colours;
                    QVERIFY2(
                        hex.match(colour).hasMatch() && QColor(colour).isValid(),
                        qPrintable(
                            QStringLiteral("%1 { %2: %3 }").arg(rule.selector, decl.name, colour)));
                }
            }
        }
        QVERIFY(colours > 0);
    }

    void widgetsTakeTheThemeLook_data()
    {
        // What the player sees of a few colour roles: role, dark, light.
        static const char *const seen[][3] = {
            {"Text", "#c9d1d9", "#24292f"},           {"Window", "#0d1117", "#fcfcfd"},
            {"Surface", "#161b22", "#f6f8fa"},        {"Control", "#21262d", "#f6f8fa"},
            {"TextDisabled", "#484f58", "#8c959f"},   {"Accent", "#00b4d8", "#007399"},
            {"White", "#ffffff", "#ffffff"},          {"AccentFace", "#00819b", "#0080a9"},
            {"PrimaryPressed", "#006b8e", "#006b8f"}, {"Danger", "#f85149", "#cf222e"},
            {"DangerPressed", "#ec1309", "#cf222e"},  {"Clicks", "#ff8f00", "#ac5e05"},
            {"Toast", "#ff8f00", "#ab5e05"},          {"Gold", "#ffd700", "#906d10"}};
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QVariantMap>("colours");
        for (const bool dark : {true, false}) {
            QVariantMap colours;
            for (const auto &role : seen)
                colours.insert(QLatin1String(role[0]), QLatin1String(role[dark ? 1 : 2]));
            QTest::newRow(dark ? "dark" : "light") << dark << colours;
        }
    }

    void widgetsTakeTheThemeLook()
    {
        QFETCH(bool, dark);
        QFETCH(QVariantMap, colours);
        applySheet(dark);
        auto colour = [&colours](const char *role) {
            const QString value = colours.value(QLatin1String(role)).toString();
            if (value.isEmpty())
                qFatal("no expected colour for %s", role);
            return value;
        };

        QDialog host;
        auto *layout = new QHBoxLayout(&host);
        auto button = [&](const char *name) {
            auto *b = new QPushButton(QStringLiteral("按钮"), &host);
            b->setObjectName(QString::fromLatin1(name));
            layout->addWidget(b);
            return b;
        };
        auto label = [&](const char *name) {
            auto *l = new QLabel(QStringLiteral("123"), &host);
            l->setObjectName(QString::fromLatin1(name));
            layout->addWidget(l);
            return l;
        };
        QPushButton *plain = button("");
        QPushButton *func = button("funcButton");
        QPushButton *danger = button("dangerButton");
        QPushButton *primary = button("primaryButton");
        QPushButton *secondary = button("secondaryButton");
        QPushButton *click = button("clickButton");
        QPushButton *disabled = button("");
        disabled->setEnabled(false);
        auto *box = new QDialogButtonBox(QDialogButtonBox::Ok, &host);
        layout->addWidget(box);
        QLabel *plainLabel = label("");
        QLabel *username = label("usernameLabel");
        QLabel *clicks = label("clicksLabel");
        QLabel *gold = label("goldLabel");
        QLabel *bank = label("bankLabel");
        QLabel *toast = label("toastLabel");
        auto *edit = new QLineEdit(&host);
        layout->addWidget(edit);
        QMessageBox messageBox;
        QPushButton *messageButton = messageBox.addButton(QMessageBox::Ok);

        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        messageBox.ensurePolished();

        // Font sizes: the one place where the themes differ in more than colour.
        const int unnamedSize = dark ? 14 : 13;
        QCOMPARE(plain->font().pixelSize(), unnamedSize);
        QCOMPARE(box->button(QDialogButtonBox::Ok)->font().pixelSize(), unnamedSize);
        QCOMPARE(messageButton->font().pixelSize(), unnamedSize);
        for (QPushButton *b : {func, danger, primary, secondary}) {
            QCOMPARE(b->font().pixelSize(), 14);
            QVERIFY(b->font().bold());
        }
        QCOMPARE(click->font().pixelSize(), 24);
        QVERIFY(click->minimumWidth() >= 200);
        QVERIFY(click->minimumHeight() >= 100);
        QCOMPARE(plainLabel->font().pixelSize(), 13);
        QVERIFY(plainLabel->font().families().contains(QStringLiteral("Segoe UI")));
        QVERIFY(plainLabel->font().families().contains(QStringLiteral("Microsoft YaHei")));
        for (QLabel *l : {username, clicks, gold, bank}) {
            QCOMPARE(l->font().pixelSize(), 16);
            QVERIFY(l->font().bold());
        }
        QCOMPARE(toast->font().pixelSize(), 14);

        // Text colours.
        auto text = [](QWidget *w, QPalette::ColorRole role = QPalette::WindowText) {
            return w->palette().color(QPalette::Active, role).name();
        };
        QCOMPARE(text(plainLabel), colour("Text"));
        QCOMPARE(text(username), colour("Accent"));
        QCOMPARE(text(clicks), colour("Clicks"));
        QCOMPARE(text(gold), colour("Gold"));
        QCOMPARE(text(bank), colour("Accent"));
        QCOMPARE(text(toast), colour("Toast"));
        QCOMPARE(text(func, QPalette::ButtonText), colour("Text"));
        QCOMPARE(text(danger, QPalette::ButtonText), colour("Danger"));
        QCOMPARE(text(primary, QPalette::ButtonText), colour("White"));
        QCOMPARE(text(edit, QPalette::Text), colour("Text"));
        QCOMPARE(text(&host, QPalette::Window), colour("Window"));
        QCOMPARE(disabled->palette().color(QPalette::Disabled, QPalette::ButtonText).name(),
                 colour("TextDisabled"));

        // Button faces as drawn: sample inside the border, left of the text.
        auto face = [](QPushButton *b) {
            const QImage image = b->grab().toImage();
            return pixelAt(image, 4 * image.width() / b->width(), image.height() / 2);
        };
        QCOMPARE(face(plain), colour("Control"));
        QCOMPARE(face(func), colour("Control"));
        QCOMPARE(face(danger), colour("Control"));
        QCOMPARE(face(primary), colour("AccentFace"));
        QCOMPARE(face(disabled), colour("Surface"));
        func->setDown(true);
        QCOMPARE(face(func), colour("AccentFace"));
        danger->setDown(true);
        QCOMPARE(face(danger), colour("DangerPressed"));
        primary->setDown(true);
        QCOMPARE(face(primary), colour("PrimaryPressed"));

        // Readable in both themes: body text on the window and on a function button.
        func->setDown(false);
        QVERIFY(rendering::contrast(QColor(text(plainLabel)),
                                    QColor(text(&host, QPalette::Window))) >= 7);
        QVERIFY(rendering::contrast(QColor(text(func, QPalette::ButtonText)), QColor(face(func))) >=
                4.5);
    }

    // A theme switch restyles widgets that already exist, including the font-size cascade.
    void switchingThemeRestylesOpenWidgets()
    {
        applySheet(true);
        QWidget host;
        auto *layout = new QHBoxLayout(&host);
        auto *plain = new QPushButton(QStringLiteral("确定"), &host);
        auto *func = new QPushButton(QStringLiteral("设置"), &host);
        func->setObjectName(QStringLiteral("funcButton"));
        auto *clicks = new QLabel(QStringLiteral("0"), &host);
        clicks->setObjectName(QStringLiteral("clicksLabel"));
        layout->addWidget(plain);
        layout->addWidget(func);
        layout->addWidget(clicks);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(plain->font().pixelSize(), 14);
        QCOMPARE(clicks->palette().color(QPalette::WindowText).name(), QStringLiteral("#ff8f00"));

        applySheet(false);
        QTRY_COMPARE(plain->font().pixelSize(), 13);
        QCOMPARE(func->font().pixelSize(), 14);
        QCOMPARE(clicks->palette().color(QPalette::WindowText).name(), QStringLiteral("#ac5e05"));

        applySheet(true);
        QTRY_COMPARE(plain->font().pixelSize(), 14);
    }

    void themesData()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark") << true;
        QTest::newRow("light") << false;
    }

    void everyTextIsReadable_data() { themesData(); }

    // Main window, shop and ranking as drawn, text by text: 4.5:1 against what is behind it, 3:1
    // for large text and the "+1".
    void everyTextIsReadable()
    {
        QFETCH(bool, dark);
        Windows windows;
        QVERIFY(windows.open(dark));
        QList<Reading> readings;
        readings << readTexts(windows.main.get(), "main window");
        // Pressed faces carry white text.
        for (const char *text : {"兑换金币", "退出登录"}) {
            QPushButton *button = windows.button(windows.main.get(), text);
            button->setDown(true);
            readings << readTexts(button, QStringLiteral("main window, pressed"));
            button->setDown(false);
        }
        auto *click = windows.main->findChild<ClickButton *>("clickButton");
        QTest::mousePress(click, Qt::LeftButton);
        const QList<QLabel *> floating = click->findChildren<QLabel *>();
        QCOMPARE(floating.size(), 1);
        readings << read(click->grab().toImage(),
                         floating[0]->geometry().intersected(click->rect().adjusted(4, 4, -4, -4)),
                         "main window: +1", 3.0);
        QTest::mouseRelease(click, Qt::LeftButton);

        // A message in the status bar, as after a sync.
        auto *toast = windows.main->findChild<QLabel *>("toastLabel");
        toast->setText(QStringLiteral("已同步到服务器"));
        toast->show();
        readings << readTexts(windows.main->statusBar(), "main window, status bar");
        toast->hide();

        readings << readTexts(windows.shop.get(), "shop");
        QPushButton *refresh = windows.button(windows.ranking.get(), "刷新");
        readings << readTexts(windows.ranking.get(), "ranking");
        refresh->setDown(true);
        readings << readTexts(refresh, "ranking, pressed");
        refresh->setDown(false);
        QVERIFY(windows.openDialogs());
        readings << readTexts(windows.login.get(), "log-in");
        readings << readTexts(windows.settings.get(), "settings");

        QStringList failing;
        for (const Reading &r : std::as_const(readings)) {
            const QString line = QStringLiteral("%1: %2 on %3, %4:1 (needs %5:1)")
                                     .arg(r.what, r.ink, r.background)
                                     .arg(r.ratio, 0, 'f', 2)
                                     .arg(r.needed);
            qInfo("%s", qPrintable(line));
            if (r.ratio < r.needed)
                failing << r.what;
        }
        QVERIFY(readings.size() > 40);
        QVERIFY2(failing.isEmpty(), qPrintable(failing.join('\n')));
    }

    void focusIsVisibleOnEveryFocusableWidget_data() { themesData(); }

    // Focusing any control changes a ring of pixels around or along its edge by at least 3:1.
    void focusIsVisibleOnEveryFocusableWidget()
    {
        QFETCH(bool, dark);
        Windows windows;
        QVERIFY(windows.open(dark));
        QStringList weak;
        int checked = 0;
        for (QWidget *window : {static_cast<QWidget *>(windows.main.get()),
                                static_cast<QWidget *>(windows.shop.get()),
                                static_cast<QWidget *>(windows.ranking.get())})
            checked += checkFocusRings(window, weak);
        // 7 function buttons and the click button, list and close, combo, refresh, table, close.
        QCOMPARE(checked, 14);
        QVERIFY2(weak.isEmpty(), qPrintable(weak.join('\n')));
    }

    void focusIsVisibleInTheLoginAndSettingsDialogs_data() { themesData(); }

    void focusIsVisibleInTheLoginAndSettingsDialogs()
    {
        QFETCH(bool, dark);
        ScriptedClient client;
        QVERIFY(client.start());
        QVERIFY(Theme::apply(qApp, dark));
        QStringList weak;
        LoginDialog login(client.auth.get(), client.api.get());
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        // User name, password, log in.
        QVERIFY(checkFocusRings(&login, weak) >= 3);
        login.hide();

        EffectManager effects;
        SettingsDialog settings(client.auth.get(), &effects);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QStringList settingsWeak;
        // The size and colour controls, the switches, the effect boxes and the buttons.
        QVERIFY(checkFocusRings(&settings, settingsWeak) >= 10);
        settings.hide();
        client.stop();
        QVERIFY2(weak.isEmpty(), qPrintable(weak.join('\n')));

        QVERIFY2(settingsWeak.isEmpty(), qPrintable(settingsWeak.join('\n')));
    }

    // The directory and entries as Windows reads them, byte by byte.
    void iconFileHasTheTenImages()
    {
        const QByteArray ico = readResource(kIconPath);
        QVERIFY2(ico.size() > 6, "icon missing from the executable");
        QCOMPARE(u16(ico, 0), quint16(0));
        QCOMPARE(u16(ico, 2), quint16(1)); // icon, not cursor
        const int count = u16(ico, 4);
        QCOMPARE(count, 10);
        QVERIFY(ico.size() >= 6 + 16 * count);

        QVector<IconEntry> entries;
        for (int i = 0; i < count; ++i) {
            const qsizetype at = 6 + 16 * i;
            const int width = quint8(ico[at]) == 0 ? 256 : quint8(ico[at]);
            const int height = quint8(ico[at + 1]) == 0 ? 256 : quint8(ico[at + 1]);
            QCOMPARE(height, width);
            QCOMPARE(u16(ico, at + 4), quint16(1));  // planes
            QCOMPARE(u16(ico, at + 6), quint16(32)); // bits per pixel
            entries.append({width, u32(ico, at + 8), u32(ico, at + 12)});
        }
        QList<int> sizes;
        for (const IconEntry &e : entries)
            sizes << e.size;
        QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 72, 80, 96, 128, 256}));

        // Image data lies inside the file, after the directory, without overlaps.
        QVector<IconEntry> byOffset = entries;
        std::sort(byOffset.begin(), byOffset.end(),
                  [](const IconEntry &a, const IconEntry &b) { return a.offset < b.offset; });
        quint64 end = 6 + 16 * quint64(count);
        for (const IconEntry &e : byOffset) {
            QVERIFY(e.offset >= end);
            end = quint64(e.offset) + e.bytes;
            QVERIFY(end <= quint64(ico.size()));
        }

        for (const IconEntry &e : entries) {
            const QByteArray data = ico.mid(e.offset, e.bytes);
            if (e.size == 256) {
                QVERIFY(data.startsWith("\x89PNG\r\n\x1a\n"));
                const QImage png = QImage::fromData(data, "PNG");
                QCOMPARE(png.size(), QSize(256, 256));
                QVERIFY(png.hasAlphaChannel());
                continue;
            }
            QVERIFY2(!data.startsWith("\x89PNG"), qPrintable(QString::number(e.size)));
            const int n = e.size;
            const int maskStride = ((n + 31) / 32) * 4;
            QCOMPARE(u32(data, 0), quint32(40)); // BITMAPINFOHEADER
            QCOMPARE(qint32(u32(data, 4)), n);
            QCOMPARE(qint32(u32(data, 8)), 2 * n); // colour rows plus mask rows
            QCOMPARE(u16(data, 12), quint16(1));
            QCOMPARE(u16(data, 14), quint16(32));
            QCOMPARE(u32(data, 16), quint32(0)); // uncompressed
            QCOMPARE(qsizetype(e.bytes), qsizetype(40 + n * n * 4 + maskStride * n));

            // Viewers that ignore alpha use the mask: it must hide exactly the clear pixels.
            int hidden = 0;
            for (int row = 0; row < n; ++row) {
                for (int x = 0; x < n; ++x) {
                    const quint8 alpha = quint8(data[40 + (row * n + x) * 4 + 3]);
                    const quint8 maskByte = quint8(data[40 + n * n * 4 + row * maskStride + x / 8]);
                    const bool masked = maskByte & (0x80 >> (x % 8));
                    if (alpha == 0)
                        QVERIFY2(
                            masked,
                            qPrintable(QStringLiteral("%1px at %2,%3").arg(n).arg(x).arg(row)));
                    else if (alpha == 255)
                        QVERIFY2(
                            !masked,
                            qPrintable(QStringLiteral("%1px at %2,%3").arg(n).arg(x).arg(row)));
                    hidden += masked;
                }
            }
            QVERIFY(hidden > 0);
        }
    }

    // What Qt makes of it: the window icon in every size, each a real picture.
    void iconLoadsInEverySize()
    {
        QImageReader reader(QString::fromLatin1(kIconPath));
        QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
        QCOMPARE(reader.imageCount(), 10);
        QSet<int> seen;
        for (int i = 0; i < reader.imageCount(); ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.width(), image.height());
            seen.insert(image.width());

            // Rounded corners are see-through, the middle is solid and not one flat colour.
            const int n = image.width();
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(n - 1, n - 1)), 0);
            QCOMPARE(qAlpha(image.pixel(n / 2, n / 2)), 255);
            QSet<QRgb> colours;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    if (qAlpha(image.pixel(x, y)) == 255)
                        colours.insert(image.pixel(x, y));
            QVERIFY2(colours.size() > 2, qPrintable(QString::number(n)));
        }
        QCOMPARE(seen, (QSet<int>{16, 24, 32, 48, 64, 72, 80, 96, 128, 256}));

        const QIcon icon(QString::fromLatin1(kIconPath));
        QVERIFY(!icon.isNull());
        const QList<QSize> available = icon.availableSizes();
        for (int n : seen)
            QVERIFY2(available.contains(QSize(n, n)), qPrintable(QString::number(n)));
    }
};

TAPTEMPEST_TEST_MAIN(TestResources)
#include "tst_resources.moc"
