#pragma once

#include "canvas.h"
#include "labeltext.h"
#include "pixelraster.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <memory>
#include <vector>

namespace zarn {

// The canvas as an in-memory image of 545 x 545 pixels at 96 dpi, drawn
// without anti-aliasing so that every outline pixel has exactly the pen
// colour and the same file draws the same picture on and off screen.
class ImageCanvas : public Canvas {
public:
    static constexpr int SizePixels = 545;
    static constexpr Colour InitialBackColor = Rgb(255, 255, 255);
    static constexpr float MaxFontSize = 2160.0F;

    ImageCanvas();

    // The picture; finishes any drawing in progress.
    const QImage& image();

    void Cls() override;
    Colour BackColor() const override { return backColor_; }
    // Recolours the background and keeps what is drawn on it.
    void SetBackColor(Colour colour) override;
    Colour ForeColor() const override { return foreColor_; }
    void SetForeColor(Colour colour) override
    {
        FlushOutline();
        foreColor_ = colour;
    }
    std::int16_t DrawWidth() const override { return drawWidth_; }
    void SetDrawWidth(std::int16_t width) override;
    Colour FillColor() const override { return fillColor_; }
    void SetFillColor(Colour colour) override { fillColor_ = colour; }
    std::int16_t FillStyle() const override { return fillStyle_; }
    void SetFillStyle(std::int16_t style) override;
    bool FontBold() const override { return font_.bold(); }
    void SetFontBold(bool bold) override { font_.setBold(bold); }
    bool FontItalic() const override { return font_.italic(); }
    void SetFontItalic(bool italic) override { font_.setItalic(italic); }
    float FontSize() const override { return static_cast<float>(font_.pointSizeF()); }
    void SetFontSize(float points) override;
    void SetCurrentX(float x) override { currentX_ = x; }
    void SetCurrentY(float y) override { currentY_ = y; }
    void Line(float x1, float y1, float x2, float y2) override;
    void Polyline(const float* x, const float* y, std::size_t count) override;
    void PSet(float x, float y) override;
    void Circle(float x, float y, float radius, Colour colour) override;
    void Print(std::string_view text) override;
    void PrepareText() override { labels_.Prepare(image_, font_); }
    // The fork's pixels start as Unwritten, a value no drawing produces:
    // every pixel drawn on an RGB32 image has the alpha byte 0xFF.
    std::unique_ptr<Canvas> Fork() const override;
    void Compose(Canvas& fork) override;
    bool ClearFork() override;
    // Written by Qt's BMP writer: 24 bits per pixel, rows bottom-up, 96 dpi.
    void SavePicture(const std::string& path) override;

    // Labels that could not be drawn from the glyph masks and went to
    // QPainter::drawText, many times slower; a map's names should never.
    std::uint64_t LabelsLeftToPainter() const { return labelsLeftToPainter_; }

    // The pixel position of a frame position.
    static double PixelX(double x) { return x * SizePixels / FrameSize; }
    static double PixelY(double y) { return (FrameSize - y) * SizePixels / FrameSize; }

protected:
    // Makes `fork`, a fresh canvas, what Fork returns: for canvases that
    // derive from this one.
    void PrepareFork(ImageCanvas& fork) const;

private:
    static constexpr QRgb Unwritten = 0;

    // One painter serves a whole run of drawing calls; it is ended before
    // the image is read, filled or written pixel by pixel.
    // Round caps give dots their shape; outlines use cheap bevel joins,
    // since round joins at every vertex cost more than the rest of a run.
    QPainter& Painter(Colour penColour, bool round = true);
    void EndPainting();

    // Consecutive segments that continue one another in the same pen are
    // painted as one polyline: a ring of thousands of points costs one
    // call to the rasteriser instead of one per edge.
    void FlushOutline();

    // Outlines, dots and markers of ordinary sizes are set pixel by pixel,
    // far faster than a general rasteriser; wide pens and large circles go
    // to the painter.
    bool Small() const { return drawWidth_ <= PixelRaster::MaxPenWidth; }
    PixelRaster& Raster(Colour penColour);

    QImage image_;
    // After the image, so that it is destroyed first: a painter must never
    // outlive its device.
    std::unique_ptr<QPainter> painter_;
    std::vector<QPointF> outline_;
    PixelRaster raster_;
    LabelText labels_;
    QString label_;  // the name being printed; its storage serves the next
    QFont font_;
    Colour backColor_ = InitialBackColor;
    Colour foreColor_ = 0;
    Colour fillColor_ = 0;
    std::int16_t drawWidth_ = 1;
    std::int16_t fillStyle_ = 1;
    float currentX_ = 0.0F;
    float currentY_ = 0.0F;
    std::uint64_t labelsLeftToPainter_ = 0;
};

}  // namespace zarn
