#pragma once

#include "imagecanvas.h"

#include <QWidget>

namespace zarn {

// Shows the map canvas. The picture lives in the canvas image, so it
// survives being covered and is exactly what the saved bitmap holds.
class PictureBox : public QWidget {
public:
    PictureBox(ImageCanvas& canvas, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ImageCanvas& canvas_;
};

}  // namespace zarn
