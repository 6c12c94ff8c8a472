#include "picturebox.h"

#include "focusmark.h"

#include <QPainter>

namespace zarn {

PictureBox::PictureBox(ImageCanvas& canvas, ScreenCanvas* screen, QWidget* parent)
    : QWidget(parent), canvas_(canvas), screen_(screen)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), screen_ != nullptr ? screen_->image() : canvas_.image());
    // On screen only: the saved map is the canvas image.
    if (hasFocus()) {
        DrawFocusMark(painter, rect(), palette());
    }
}

}  // namespace zarn
