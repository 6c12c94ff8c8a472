#include "focusmark.h"

#include <QItemSelectionModel>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace zarn {

void DrawFocusMark(QPainter& painter, const QRect& rect, const QPalette& palette)
{
    constexpr int Width = 2;
    QPen pen(palette.color(QPalette::Active, QPalette::Highlight), Width);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect).adjusted(Width / 2.0, Width / 2.0, -Width / 2.0, -Width / 2.0));
}

int FocusMarkedList::RowHeight(const QModelIndex& index) const
{
    ensurePolished();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    return itemDelegateForIndex(index)->sizeHint(option, index).height();
}

void FocusMarkedList::ShowModel(QAbstractItemModel* model)
{
    if (model == this->model()) {
        return;
    }
    QItemSelectionModel* previous = selectionModel();
    setModel(model);
    delete previous;
}

int FocusMarkedList::TailRows() const
{
    // The thumb is the groove's length times the rows of a page over all the
    // rows, and the groove and the page are both shorter than the list: over
    // more rows than their product the thumb would be shorter than a pixel,
    // and the style draws it at its least length.
    const int length = height();
    const int rowsPerLength = length / std::max(gridSize().height(), 1) + 1;
    return length >= std::numeric_limits<int>::max() / rowsPerLength ? std::numeric_limits<int>::max()
                                                                      : rowsPerLength * length + 1;
}

void FocusMarkedList::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(viewport());
        DrawFocusMark(painter, viewport()->rect(), palette());
    }
}

// The whole viewport, not only the current line, gains or loses the mark.
void FocusMarkedList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    viewport()->update();
}

void FocusMarkedList::focusOutEvent(QFocusEvent* event)
{
    QListView::focusOutEvent(event);
    viewport()->update();
}

void FocusMarkedButton::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        DrawFocusMark(painter, rect(), palette());
    }
}

}  // namespace zarn
