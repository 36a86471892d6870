#include "itemcolourdelegate.h"

#include "feedback/readablecolour.h"

#include <QApplication>
#include <QBrush>
#include <QPainter>
#include <QStyle>

void ItemColourDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (!foreground.canConvert<QBrush>() || (option.state & QStyle::State_Selected)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The text's place as the style (and the sheet's padding) lays it out.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QString text = opt.text;

    // Background, border, focus and icon as the sheet draws them; the text ourselves.
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = textRect.adjusted(margin, 0, -margin, 0);
    painter->save();
    painter->setFont(opt.font);
    // Medal and owned colours are chosen for the dark theme: on another background the nearest
    // readable shade of the same colour is drawn.
    const QPalette::ColorRole behind =
        (opt.features & QStyleOptionViewItem::Alternate) ? QPalette::AlternateBase : QPalette::Base;
    const QColor background = opt.backgroundBrush.style() == Qt::SolidPattern
                                  ? opt.backgroundBrush.color()
                                  : opt.palette.color(behind);
    painter->setPen(
        ReadableColour::nearest(qvariant_cast<QBrush>(foreground).color(), {background}, 4.5));
    painter->drawText(area, int(opt.displayAlignment),
                      opt.fontMetrics.elidedText(text, opt.textElideMode, area.width()));
    painter->restore();
}
