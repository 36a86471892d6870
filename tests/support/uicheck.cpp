#include "uicheck.h"

#include "app/interfacelanguage.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>

namespace uicheck {

EnglishInterface::EnglishInterface()
{
    installed = InterfaceLanguage::install(*qApp, QStringLiteral("en")) == QLatin1String("en");
}

EnglishInterface::~EnglishInterface()
{
    InterfaceLanguage::install(*qApp, QStringLiteral("zh_CN"));
}

QStringList textsShown(QWidget *window)
{
    QStringList texts{window->windowTitle()};
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *w : std::as_const(widgets)) {
        texts << w->toolTip() << w->accessibleName() << w->accessibleDescription();
        if (auto *label = qobject_cast<QLabel *>(w))
            texts << label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            texts << button->text();
        else if (auto *group = qobject_cast<QGroupBox *>(w))
            texts << group->title();
        else if (auto *edit = qobject_cast<QLineEdit *>(w))
            texts << edit->placeholderText();
        else if (auto *spin = qobject_cast<QSpinBox *>(w))
            texts << spin->prefix() << spin->suffix();
        else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        } else if (auto *list = qobject_cast<QListWidget *>(w)) {
            for (int i = 0; i < list->count(); ++i)
                texts << list->item(i)->text() << list->item(i)->toolTip();
        } else if (auto *table = qobject_cast<QTableWidget *>(w)) {
            for (int c = 0; c < table->columnCount(); ++c) {
                if (QTableWidgetItem *header = table->horizontalHeaderItem(c))
                    texts << header->text() << header->toolTip();
                for (int r = 0; r < table->rowCount(); ++r)
                    if (QTableWidgetItem *item = table->item(r, c))
                        texts << item->text() << item->toolTip();
            }
        }
    }
    texts.removeAll(QString());
    return texts;
}

QStringList chineseTexts(QWidget *window, const QStringList &names)
{
    static const QRegularExpression han(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}"
                                                       "\\x{ff00}-\\x{ffef}]"));
    QStringList found;
    for (QString text : textsShown(window)) {
        const QString original = text;
        for (const QString &name : names)
            text.remove(name);
        if (text.contains(han))
            found << original;
    }
    found.removeDuplicates();
    return found;
}

namespace {

bool isInteractive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::EditableText:
    case QAccessible::List:
    case QAccessible::ListItem:
    case QAccessible::Table:
    case QAccessible::Cell:
    case QAccessible::Slider:
        return true;
    default:
        return false;
    }
}

// Why a screen reader would not tell what `iface` is, or an empty text when it would.
QString unnamedBecause(QAccessibleInterface *iface)
{
    const QString name = iface->text(QAccessible::Name).trimmed();
    if (isInteractive(iface->role()))
        return name.isEmpty() ? QStringLiteral("no name") : QString();
    if (iface->role() != QAccessible::StaticText)
        return QString();
    // Empty labels and pictures (a message box's icon) are decoration. A figure read on its own
    // ("1000") does not say what it counts; its caption must be in its name. A label whose words
    // are its text is named by them.
    static const QRegularExpression letter(QStringLiteral("\\p{L}"));
    static const QRegularExpression digit(QStringLiteral("\\d"));
    if (name.contains(digit) && !name.contains(letter))
        return QStringLiteral("a figure without its caption: \"%1\"").arg(name);
    return QString();
}

void collectUnnamed(QAccessibleInterface *iface, const QString &path, QStringList &out, int depth)
{
    if (!iface || !iface->isValid() || depth > 40)
        return;
    const QAccessible::State state = iface->state();
    if (state.invisible)
        return;
    const QString here =
        path + QLatin1Char('/') +
        (iface->object() ? QString::fromLatin1(iface->object()->metaObject()->className()) +
                               QLatin1Char('#') + iface->object()->objectName()
                         : QStringLiteral("role%1").arg(int(iface->role())));
    const QString why = unnamedBecause(iface);
    if (!why.isEmpty())
        out << here + QStringLiteral(": ") + why;
    // A table's cells have no object of their own: each is walked as a child of the table.
    for (int i = 0; i < iface->childCount(); ++i)
        collectUnnamed(iface->child(i), here, out, depth + 1);
}

// Text that elision code shortened: Qt marks the cut with "…", which no text of the program
// holds, and whoever cuts by hand keeps the whole text as the tool tip.
bool shortened(const QString &text, const QString &toolTip)
{
    const bool marked = text.contains(QChar(0x2026)) || text.contains(QLatin1String("..."));
    if (!marked)
        return false;
    return text.contains(QChar(0x2026)) || (!toolTip.isEmpty() && toolTip != text);
}

} // namespace

QStringList unnamedControls(QWidget *window)
{
    QStringList out;
    collectUnnamed(QAccessible::queryAccessibleInterface(window), QString(), out, 0);
    return out;
}

namespace {

// The text a label, button or group box shows, and how wide it must be to show all of it (0: it
// wraps instead).
QString textOf(QWidget *w, int *needed)
{
    if (auto *label = qobject_cast<QLabel *>(w)) {
        *needed = label->wordWrap() ? 0 : label->sizeHint().width();
        return label->text();
    }
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        *needed = button->sizeHint().width();
        return button->text();
    }
    if (auto *group = qobject_cast<QGroupBox *>(w)) {
        // The group's smallest size makes room for its whole title.
        *needed = group->minimumSizeHint().width();
        return group->title();
    }
    *needed = 0;
    return QString();
}

QList<QWidget *> visibleWidgets(QWidget *window)
{
    QList<QWidget *> widgets{window};
    for (QWidget *w : window->findChildren<QWidget *>())
        if (w->isVisibleTo(window))
            widgets << w;
    return widgets;
}

} // namespace

QStringList cutTexts(QWidget *window)
{
    QStringList cut;
    for (QWidget *w : visibleWidgets(window)) {
        int needed = 0;
        const QString text = textOf(w, &needed);
        if (!text.isEmpty() && w->width() < needed)
            cut << QStringLiteral("%1: %2 < %3").arg(text).arg(w->width()).arg(needed);
    }
    return cut;
}

QStringList shortenedTexts(QWidget *window)
{
    QStringList cut;
    const auto report = [&cut](const QString &text, const QString &toolTip) {
        if (shortened(text, toolTip))
            cut << QStringLiteral("%1: shortened from %2").arg(text, toolTip);
    };
    for (QWidget *w : visibleWidgets(window)) {
        int needed = 0;
        report(textOf(w, &needed), w->toolTip());
        if (auto *table = qobject_cast<QTableWidget *>(w)) {
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c)
                    if (QTableWidgetItem *item = table->item(r, c))
                        report(item->text(), item->toolTip());
        } else if (auto *list = qobject_cast<QListWidget *>(w)) {
            for (int i = 0; i < list->count(); ++i)
                report(list->item(i)->text(), list->item(i)->toolTip());
        }
    }
    return cut;
}

} // namespace uicheck
