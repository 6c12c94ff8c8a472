#include "focusmark.h"

#include <QPainter>

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
