#pragma once

#include <QStyledItemDelegate>

// Draws an item's text in its own foreground colour (Qt::ForegroundRole), or the nearest shade
// of it that is readable on the item's background (4.5:1). The application
// sheets give every view item a colour, and a sheet's colour would otherwise win over the
// item's. Selected items keep the sheet's selection colours.
class ItemColourDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
