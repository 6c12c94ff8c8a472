#include "picturebox.h"

#include "focusmark.h"

#include <QPainter>

namespace zarn {

PictureBox::PictureBox(ImageCanvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), canvas_.image());
    // On screen only: the saved map is the canvas image.
    if (hasFocus()) {
        DrawFocusMark(painter, rect(), palette());
    }
}

}  // namespace zarn
