#include "screencanvas.h"

#include "canvasclip.h"
#include "filetext.h"
#include "labeltext.h"
#include "pixelraster.h"
#include "runerror.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zarn {

ScreenCanvas::ScreenCanvas(qreal devicePixelRatio)
    : ratio_(devicePixelRatio),
      image_(static_cast<int>(std::ceil(ImageCanvas::SizePixels * devicePixelRatio)),
             static_cast<int>(std::ceil(ImageCanvas::SizePixels * devicePixelRatio)), QImage::Format_RGB32)
{
    image_.setDevicePixelRatio(ratio_);
    image_.fill(ToQColor(backColor_));
    // The saved canvas's font, as the settings set it on both.
    font_.setFamily(QStringLiteral("DejaVu Sans"));
    font_.setStyleHint(QFont::SansSerif);
    font_.setPointSizeF(8.25);
    font_.setStyleStrategy(QFont::NoAntialias);
    font_.setHintingPreference(QFont::PreferFullHinting);
}

const QImage& ScreenCanvas::image()
{
    painter_.reset();
    return image_;
}

QPainter& ScreenCanvas::Painter(Colour penColour, bool round)
{
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
    }
    const QPen pen(ToQColor(penColour), drawWidth_, Qt::SolidLine, round ? Qt::RoundCap : Qt::SquareCap,
                   round ? Qt::RoundJoin : Qt::BevelJoin);
    if (painter_->pen() != pen) {
        painter_->setPen(pen);
    }
    return *painter_;
}

void ScreenCanvas::Cls()
{
    painter_.reset();
    image_.fill(ToQColor(backColor_));
}

void ScreenCanvas::SetBackColor(Colour colour)
{
    painter_.reset();
    const QRgb from = ToQColor(backColor_).rgb();
    const QRgb to = ToQColor(colour).rgb();
    backColor_ = colour;
    for (int row = 0; row < image_.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(row));
        std::replace(line, line + image_.width(), from, to);
    }
}

void ScreenCanvas::Line(float x1, float y1, float x2, float y2)
{
    double ax = ImageCanvas::PixelX(x1);
    double ay = ImageCanvas::PixelY(y1);
    double bx = ImageCanvas::PixelX(x2);
    double by = ImageCanvas::PixelY(y2);
    if (ClipSegment(ax, ay, bx, by, ClipMin, ClipMin, ClipMax, ClipMax)) {
        Painter(foreColor_, false).drawLine(QPointF(ax, ay), QPointF(bx, by));
    }
}

void ScreenCanvas::Polyline(const float* x, const float* y, std::size_t count)
{
    std::vector<QPointF> points;
    points.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const double px = ImageCanvas::PixelX(x[k]);
        const double py = ImageCanvas::PixelY(y[k]);
        if (px < ClipMin || px > ClipMax || py < ClipMin || py > ClipMax) {
            Canvas::Polyline(x, y, count);  // clipped segment by segment
            return;
        }
        points.emplace_back(px, py);
    }
    Painter(foreColor_, false).drawPolyline(points.data(), static_cast<int>(points.size()));
}

void ScreenCanvas::PSet(float x, float y)
{
    const double px = ImageCanvas::PixelX(x);
    const double py = ImageCanvas::PixelY(y);
    if (NearPicture(px, py, drawWidth_)) {
        Painter(foreColor_, true).drawPoint(QPointF(px, py));
    }
}

void ScreenCanvas::Circle(float x, float y, float radius, Colour colour)
{
    const double px = ImageCanvas::PixelX(x);
    const double py = ImageCanvas::PixelY(y);
    const double r = std::fabs(static_cast<double>(radius)) * ImageCanvas::SizePixels / FrameSize;
    if (!NearPicture(px, py, r + drawWidth_) || r > ClipMargin) {
        return;
    }
    QPainter& painter = Painter(colour, true);
    painter.setBrush(fillStyle_ == 0 ? QBrush(ToQColor(fillColor_)) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QPointF(px, py), r, r);
    painter.setBrush(Qt::NoBrush);
}

void ScreenCanvas::Print(std::string_view text)
{
    const double px = ImageCanvas::PixelX(currentX_);
    const double py = ImageCanvas::PixelY(currentY_);
    if (px > ImageCanvas::SizePixels || py > ImageCanvas::SizePixels || px < ClipMin || py < ClipMin) {
        return;
    }
    QPainter& painter = Painter(foreColor_, true);
    if (painter.font() != font_) {
        painter.setFont(font_);
    }
    painter.drawText(QRectF(px, py, LabelText::LayoutReach, LabelText::LayoutReach), LabelText::LayoutFlags,
                     DecodeFileText(text));
}

std::unique_ptr<Canvas> ScreenCanvas::Fork() const
{
    auto fork = std::make_unique<ScreenCanvas>(ratio_);
    // QImage::fill would set the alpha byte of an RGB32 image.
    auto* bits = reinterpret_cast<QRgb*>(fork->image_.bits());
    std::fill(bits, bits + fork->image_.sizeInBytes() / static_cast<qsizetype>(sizeof(QRgb)), Unwritten);
    // A font of its own (see ImageCanvas::PrepareFork).
    fork->font_ = font_;
    const qreal points = font_.pointSizeF();
    fork->font_.setPointSizeF(points + 1.0);
    fork->font_.setPointSizeF(points);
    fork->backColor_ = backColor_;
    fork->foreColor_ = foreColor_;
    fork->fillColor_ = fillColor_;
    fork->drawWidth_ = drawWidth_;
    fork->fillStyle_ = fillStyle_;
    fork->currentX_ = currentX_;
    fork->currentY_ = currentY_;
    return fork;
}

void ScreenCanvas::Compose(Canvas& fork)
{
    auto& drawn = dynamic_cast<ScreenCanvas&>(fork);
    drawn.painter_.reset();
    painter_.reset();
    for (int row = 0; row < image_.height(); ++row) {
        const auto* from = reinterpret_cast<const QRgb*>(drawn.image_.constScanLine(row));
        auto* to = reinterpret_cast<QRgb*>(image_.scanLine(row));
        for (int x = 0; x < image_.width(); ++x) {
            to[x] = from[x] != Unwritten ? from[x] : to[x];
        }
    }
    foreColor_ = drawn.foreColor_;
    fillColor_ = drawn.fillColor_;
    drawWidth_ = drawn.drawWidth_;
    currentX_ = drawn.currentX_;
    currentY_ = drawn.currentY_;
}

void ScreenCanvas::SavePicture(const std::string& path)
{
    if (!image().save(QString::fromStdString(path), "BMP")) {
        throw RunError("cannot write " + path);
    }
}

void TeeCanvas::Cls()
{
    saved_.Cls();
    screen_.Cls();
}

void TeeCanvas::SetBackColor(Colour colour)
{
    saved_.SetBackColor(colour);
    screen_.SetBackColor(colour);
}

void TeeCanvas::SetForeColor(Colour colour)
{
    saved_.SetForeColor(colour);
    screen_.SetForeColor(colour);
}

// The saved canvas judges what it cannot take (a width below 1, a font
// size too large), before the screen's takes it.
void TeeCanvas::SetDrawWidth(std::int16_t width)
{
    saved_.SetDrawWidth(width);
    screen_.SetDrawWidth(width);
}

void TeeCanvas::SetFillColor(Colour colour)
{
    saved_.SetFillColor(colour);
    screen_.SetFillColor(colour);
}

void TeeCanvas::SetFillStyle(std::int16_t style)
{
    saved_.SetFillStyle(style);
    screen_.SetFillStyle(style);
}

void TeeCanvas::SetFontBold(bool bold)
{
    saved_.SetFontBold(bold);
    screen_.SetFontBold(bold);
}

void TeeCanvas::SetFontItalic(bool italic)
{
    saved_.SetFontItalic(italic);
    screen_.SetFontItalic(italic);
}

void TeeCanvas::SetFontSize(float points)
{
    saved_.SetFontSize(points);
    screen_.SetFontSize(points);
}

void TeeCanvas::SetCurrentX(float x)
{
    saved_.SetCurrentX(x);
    screen_.SetCurrentX(x);
}

void TeeCanvas::SetCurrentY(float y)
{
    saved_.SetCurrentY(y);
    screen_.SetCurrentY(y);
}

void TeeCanvas::Line(float x1, float y1, float x2, float y2)
{
    saved_.Line(x1, y1, x2, y2);
    screen_.Line(x1, y1, x2, y2);
}

void TeeCanvas::Polyline(const float* x, const float* y, std::size_t count)
{
    saved_.Polyline(x, y, count);
    screen_.Polyline(x, y, count);
}

void TeeCanvas::PSet(float x, float y)
{
    saved_.PSet(x, y);
    screen_.PSet(x, y);
}

void TeeCanvas::Circle(float x, float y, float radius, Colour colour)
{
    saved_.Circle(x, y, radius, colour);
    screen_.Circle(x, y, radius, colour);
}

void TeeCanvas::Print(std::string_view text)
{
    saved_.Print(text);
    screen_.Print(text);
}

void TeeCanvas::PrepareText()
{
    saved_.PrepareText();
    screen_.PrepareText();
}

std::unique_ptr<Canvas> TeeCanvas::Fork() const
{
    std::unique_ptr<Canvas> saved = saved_.Fork();
    std::unique_ptr<Canvas> screen = screen_.Fork();
    if (!saved || !screen) {
        return nullptr;
    }
    auto fork = std::make_unique<TeeCanvas>(*saved, *screen);
    fork->savedFork_ = std::move(saved);
    fork->screenFork_ = std::move(screen);
    return fork;
}

void TeeCanvas::Compose(Canvas& fork)
{
    auto& drawn = dynamic_cast<TeeCanvas&>(fork);
    saved_.Compose(drawn.saved_);
    screen_.Compose(drawn.screen_);
}

}  // namespace zarn
