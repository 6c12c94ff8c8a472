#pragma once

#include "imagecanvas.h"
#include "screencanvas.h"

#include <QWidget>

namespace zarn {

// Shows the map canvas. The picture lives in the canvas image, so it
// survives being covered and is exactly what the saved bitmap holds; on a
// screen whose pixels are finer (`screen` given), the same map drawn at the
// screen's resolution.
class PictureBox : public QWidget {
public:
    PictureBox(ImageCanvas& canvas, ScreenCanvas* screen, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ImageCanvas& canvas_;
    ScreenCanvas* screen_;
};

}  // namespace zarn
