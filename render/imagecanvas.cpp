#include "imagecanvas.h"

#include "canvasclip.h"
#include "filetext.h"
#include "labelfont.h"
#include "runerror.h"
#include "safefile.h"
#include "threadexit.h"

#include <QColor>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace zarn {

namespace {

QRgb ToQRgb(Colour c)
{
    const auto v = static_cast<std::uint32_t>(c);
    return qRgb(static_cast<int>(v & 0xFFU), static_cast<int>((v >> 8U) & 0xFFU), static_cast<int>((v >> 16U) & 0xFFU));
}

}  // namespace

ImageCanvas::ImageCanvas()
    : image_(SizePixels, SizePixels, QImage::Format_RGB32),
      raster_(nullptr, SizePixels, SizePixels, static_cast<std::size_t>(image_.bytesPerLine()) / sizeof(std::uint32_t))
{
    constexpr int DotsPerMetre96Dpi = 3780;
    image_.setDotsPerMeterX(DotsPerMetre96Dpi);
    image_.setDotsPerMeterY(DotsPerMetre96Dpi);
    image_.fill(ToQRgb(backColor_));
    UseBuiltInLabelFont();
    font_.setFamily(QStringLiteral("DejaVu Sans"));
    font_.setStyleHint(QFont::SansSerif);
    font_.setPointSizeF(8.25);
    font_.setStyleStrategy(QFont::NoAntialias);
    font_.setHintingPreference(QFont::PreferFullHinting);
}

const QImage& ImageCanvas::image()
{
    EndPainting();
    return image_;
}

void ImageCanvas::EndPainting()
{
    FlushOutline();
    painter_.reset();
}

void ImageCanvas::FlushOutline()
{
    if (outline_.size() >= 2) {
        Painter(foreColor_, false).drawPolyline(outline_.data(), static_cast<int>(outline_.size()));
    }
    outline_.clear();
}

QPainter& ImageCanvas::Painter(Colour penColour, bool round)
{
    if (!outline_.empty() && penColour != foreColor_) {
        FlushOutline();
    }
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setFont(font_);
    }
    const QPen pen(ToQColor(penColour), drawWidth_, Qt::SolidLine, round ? Qt::RoundCap : Qt::SquareCap,
                   round ? Qt::RoundJoin : Qt::BevelJoin);
    if (painter_->pen() != pen) {
        painter_->setPen(pen);
    }
    return *painter_;
}

PixelRaster& ImageCanvas::Raster(Colour penColour)
{
    EndPainting();
    raster_.SetBits(reinterpret_cast<std::uint32_t*>(image_.bits()));
    raster_.SetPen(ToQRgb(penColour), drawWidth_);
    return raster_;
}

void ImageCanvas::Cls()
{
    EndPainting();
    image_.fill(ToQRgb(backColor_));
}

void ImageCanvas::SetBackColor(Colour colour)
{
    EndPainting();
    const QRgb from = ToQRgb(backColor_);
    const QRgb to = ToQRgb(colour);
    backColor_ = colour;
    if (from == to) {
        return;
    }
    for (int row = 0; row < image_.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(row));
        std::replace(line, line + image_.width(), from, to);
    }
}

void ImageCanvas::SetDrawWidth(std::int16_t width)
{
    FlushOutline();
    if (width < 1) {
        throw RunError("the pen width " + std::to_string(width) + " is below 1 pixel");
    }
    drawWidth_ = width;
}

void ImageCanvas::SetFillStyle(std::int16_t style)
{
    if (style != 0 && style != 1) {
        throw RunError("unknown fill style " + std::to_string(style));
    }
    fillStyle_ = style;
}

void ImageCanvas::SetFontSize(float points)
{
    if (!(points > 0.0F) || points > MaxFontSize) {
        throw RunError("the canvas cannot take a font size of " + std::to_string(points) + " points");
    }
    font_.setPointSizeF(points);
}

void ImageCanvas::Line(float x1, float y1, float x2, float y2)
{
    if (Small()) {
        Raster(foreColor_).Segment(PixelX(x1), PixelY(y1), PixelX(x2), PixelY(y2));
        return;
    }
    double ax = PixelX(x1);
    double ay = PixelY(y1);
    double bx = PixelX(x2);
    double by = PixelY(y2);
    if (!ClipSegment(ax, ay, bx, by, ClipMin, ClipMin, ClipMax, ClipMax)) {
        return;
    }
    const QPointF from(ax, ay);
    if (outline_.empty() || outline_.back() != from) {
        FlushOutline();
        outline_.push_back(from);
    }
    outline_.emplace_back(bx, by);
}

void ImageCanvas::Polyline(const float* x, const float* y, std::size_t count)
{
    if (!Small()) {
        Canvas::Polyline(x, y, count);
        return;
    }
    Raster(foreColor_).Polyline(
        x, y, count, [](float v) { return PixelX(v); }, [](float v) { return PixelY(v); });
}

void ImageCanvas::PSet(float x, float y)
{
    const double px = PixelX(x);
    const double py = PixelY(y);
    if (Small()) {
        Raster(foreColor_).Dot(px, py);
        return;
    }
    if (!NearPicture(px, py, drawWidth_)) {
        return;
    }
    FlushOutline();
    Painter(foreColor_).drawPoint(QPointF(px, py));
}

void ImageCanvas::Circle(float x, float y, float radius, Colour colour)
{
    const double px = PixelX(x);
    const double py = PixelY(y);
    const double r = std::fabs(static_cast<double>(radius)) * SizePixels / FrameSize;
    if (Small() && r <= PixelRaster::MaxCircleRadius) {
        Raster(colour).Circle(px, py, r, fillStyle_ == 0, ToQRgb(fillColor_), ToQRgb(colour));
        return;
    }
    if (!NearPicture(px, py, r + drawWidth_) || r > ClipMargin) {
        return;
    }
    FlushOutline();
    QPainter& painter = Painter(colour);
    painter.setBrush(fillStyle_ == 0 ? QBrush(ToQColor(fillColor_)) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QPointF(px, py), r, r);
}

void ImageCanvas::Print(std::string_view text)
{
    const double px = PixelX(currentX_);
    const double py = PixelY(currentY_);
    if (px > SizePixels || py > SizePixels || px < -ClipMargin || py < -ClipMargin) {
        return;
    }
    DecodeFileText(text, label_);
    const QString& label = label_;
    EndPainting();
    ReleaseQtThreadDataAtThreadEnd();
    if (labels_.Draw(image_, font_, ToQColor(foreColor_), px, py, label)) {
        return;
    }
    ++labelsLeftToPainter_;
    QPainter& painter = Painter(foreColor_);
    if (painter.font() != font_) {
        painter.setFont(font_);
    }
    painter.drawText(QRectF(px, py, LabelText::LayoutReach, LabelText::LayoutReach), LabelText::LayoutFlags, label);
}

std::unique_ptr<Canvas> ImageCanvas::Fork() const
{
    auto fork = std::make_unique<ImageCanvas>();
    PrepareFork(*fork);
    return fork;
}

void ImageCanvas::PrepareFork(ImageCanvas& fork) const
{
    // QImage::fill would set the alpha byte of an RGB32 image.
    auto* bits = reinterpret_cast<QRgb*>(fork.image_.bits());
    std::fill(bits, bits + fork.image_.sizeInBytes() / static_cast<qsizetype>(sizeof(QRgb)), Unwritten);
    // A font of its own: a copy would share its private part, which keeps
    // the font engines of the thread that last used it, with this canvas.
    // Setting a property detaches the copy; setting it back restores it.
    fork.font_ = font_;
    const qreal points = font_.pointSizeF();
    fork.font_.setPointSizeF(points + 1.0);
    fork.font_.setPointSizeF(points);
    fork.backColor_ = backColor_;
    fork.foreColor_ = foreColor_;
    fork.fillColor_ = fillColor_;
    fork.drawWidth_ = drawWidth_;
    fork.fillStyle_ = fillStyle_;
    fork.currentX_ = currentX_;
    fork.currentY_ = currentY_;
}

bool ImageCanvas::ClearFork()
{
    EndPainting();
    auto* bits = reinterpret_cast<QRgb*>(image_.bits());
    std::fill(bits, bits + image_.sizeInBytes() / static_cast<qsizetype>(sizeof(QRgb)), Unwritten);
    labelsLeftToPainter_ = 0;
    return true;
}

void ImageCanvas::Compose(Canvas& fork)
{
    auto& drawn = dynamic_cast<ImageCanvas&>(fork);
    drawn.EndPainting();
    EndPainting();
    for (int row = 0; row < SizePixels; ++row) {
        const auto* from = reinterpret_cast<const QRgb*>(drawn.image_.constScanLine(row));
        auto* to = reinterpret_cast<QRgb*>(image_.scanLine(row));
        for (int x = 0; x < SizePixels; ++x) {
            to[x] = from[x] != Unwritten ? from[x] : to[x];
        }
    }
    labelsLeftToPainter_ += drawn.labelsLeftToPainter_;
    // The pens and position the last drawing left.
    foreColor_ = drawn.foreColor_;
    fillColor_ = drawn.fillColor_;
    drawWidth_ = drawn.drawWidth_;
    currentX_ = drawn.currentX_;
    currentY_ = drawn.currentY_;
}

void ImageCanvas::SavePicture(const std::string& path)
{
    EndPainting();
    const auto failed = [&](const QString& why) { return RunError(EarlierStays(path, why.toStdString())); };
    const auto write = [&](QFileDevice& file) {
        QImageWriter writer(&file, "bmp");
        if (!writer.write(image_)) {
            throw failed(writer.errorString());
        }
        // Buffered bytes that cannot be written show only here.
        if (!file.flush()) {
            throw failed(file.errorString());
        }
    };
    // Saved as every file of a run (SafeFile): a kill or a failure while
    // saving leaves the earlier map as it was.
    SafeFile safe;
    safe.Open(path);
    QFile file;
    if (!file.open(safe.Descriptor(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        throw failed(file.errorString());
    }
    write(file);
    file.close();
    safe.Commit();
}

}  // namespace zarn
