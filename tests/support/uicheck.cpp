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
    case QAccessible::Row:
    case QAccessible::Slider:
        return true;
    default:
        return false;
    }
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
    if (isInteractive(iface->role()) && iface->text(QAccessible::Name).trimmed().isEmpty())
        out << here;
    // A table's rows and cells: rows are what a screen reader walks through.
    for (int i = 0; i < iface->childCount(); ++i)
        collectUnnamed(iface->child(i), here, out, depth + 1);
}

} // namespace

QStringList unnamedControls(QWidget *window)
{
    QStringList out;
    collectUnnamed(QAccessible::queryAccessibleInterface(window), QString(), out, 0);
    return out;
}

QStringList cutTexts(QWidget *window)
{
    QStringList cut;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        if (!w->isVisibleTo(window))
            continue;
        QString text;
        if (auto *label = qobject_cast<QLabel *>(w); label && !label->wordWrap())
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            text = button->text();
        if (text.isEmpty())
            continue;
        const int needed = w->sizeHint().width();
        if (w->width() < needed)
            cut << QStringLiteral("%1: %2 < %3").arg(text).arg(w->width()).arg(needed);
    }
    return cut;
}

} // namespace uicheck
