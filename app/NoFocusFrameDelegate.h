#pragma once

#include <QStyledItemDelegate>

// Draws the list's cells without the style's focus frame: the whole current row is drawn
// highlighted, and that highlight is the only marker of the current employee.
class NoFocusFrameDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
