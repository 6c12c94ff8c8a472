#pragma once

#include "canvas.h"
#include "imagecanvas.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <memory>

namespace zarn {

// The map as the screen shows it where a logical pixel has several device
// pixels (a scale factor of 2, say): the canvas's 545 x 545 logical pixels
// drawn with QPainter at the screen's resolution, so that outlines, markers
// and names are as sharp as the screen allows rather than a 545-pixel
// bitmap enlarged. Drawn without anti-aliasing, as the saved canvas is, so
// that every outline has exactly its pen colour and a new background colour
// replaces the old one pixel for pixel. Never saved: the saved map is the
// ImageCanvas drawn beside it (TeeCanvas).
class ScreenCanvas : public Canvas {
public:
    explicit ScreenCanvas(qreal devicePixelRatio);

    // The picture, its device pixel ratio set; finishes any drawing.
    const QImage& image();

    void Cls() override;
    Colour BackColor() const override { return backColor_; }
    void SetBackColor(Colour colour) override;
    Colour ForeColor() const override { return foreColor_; }
    void SetForeColor(Colour colour) override { foreColor_ = colour; }
    std::int16_t DrawWidth() const override { return drawWidth_; }
    void SetDrawWidth(std::int16_t width) override { drawWidth_ = width; }
    Colour FillColor() const override { return fillColor_; }
    void SetFillColor(Colour colour) override { fillColor_ = colour; }
    std::int16_t FillStyle() const override { return fillStyle_; }
    void SetFillStyle(std::int16_t style) override { fillStyle_ = style; }
    bool FontBold() const override { return font_.bold(); }
    void SetFontBold(bool bold) override { font_.setBold(bold); }
    bool FontItalic() const override { return font_.italic(); }
    void SetFontItalic(bool italic) override { font_.setItalic(italic); }
    float FontSize() const override { return static_cast<float>(font_.pointSizeF()); }
    void SetFontSize(float points) override { font_.setPointSizeF(points); }
    void SetCurrentX(float x) override { currentX_ = x; }
    void SetCurrentY(float y) override { currentY_ = y; }
    void Line(float x1, float y1, float x2, float y2) override;
    void Polyline(const float* x, const float* y, std::size_t count) override;
    void PSet(float x, float y) override;
    void Circle(float x, float y, float radius, Colour colour) override;
    void Print(std::string_view text) override;
    // Blank pixels are Unwritten (alpha 0), which no drawing leaves.
    std::unique_ptr<Canvas> Fork() const override;
    void Compose(Canvas& fork) override;
    // The screen's picture as a BMP (at the screen's resolution).
    void SavePicture(const std::string& path) override;

private:
    static constexpr QRgb Unwritten = 0;

    QPainter& Painter(Colour penColour, bool round);

    qreal ratio_;
    QImage image_;
    std::unique_ptr<QPainter> painter_;  // after the image: never outlives it
    QFont font_;
    Colour backColor_ = ImageCanvas::InitialBackColor;
    Colour foreColor_ = 0;
    Colour fillColor_ = 0;
    std::int16_t drawWidth_ = 1;
    std::int16_t fillStyle_ = 1;
    float currentX_ = 0.0F;
    float currentY_ = 0.0F;
};

// Draws on two canvases at once: `saved`, the picture that is saved and
// whose properties are read back, and `screen`, the same map at the
// screen's resolution. Forks into a pair of forks, so that the map is
// still drawn on two threads.
class TeeCanvas : public Canvas {
public:
    TeeCanvas(Canvas& saved, Canvas& screen) : saved_(saved), screen_(screen) {}

    void Cls() override;
    Colour BackColor() const override { return saved_.BackColor(); }
    void SetBackColor(Colour colour) override;
    Colour ForeColor() const override { return saved_.ForeColor(); }
    void SetForeColor(Colour colour) override;
    std::int16_t DrawWidth() const override { return saved_.DrawWidth(); }
    void SetDrawWidth(std::int16_t width) override;
    Colour FillColor() const override { return saved_.FillColor(); }
    void SetFillColor(Colour colour) override;
    std::int16_t FillStyle() const override { return saved_.FillStyle(); }
    void SetFillStyle(std::int16_t style) override;
    bool FontBold() const override { return saved_.FontBold(); }
    void SetFontBold(bool bold) override;
    bool FontItalic() const override { return saved_.FontItalic(); }
    void SetFontItalic(bool italic) override;
    float FontSize() const override { return saved_.FontSize(); }
    void SetFontSize(float points) override;
    void SetCurrentX(float x) override;
    void SetCurrentY(float y) override;
    void Line(float x1, float y1, float x2, float y2) override;
    void Polyline(const float* x, const float* y, std::size_t count) override;
    void PSet(float x, float y) override;
    void Circle(float x, float y, float radius, Colour colour) override;
    void Print(std::string_view text) override;
    void PrepareText() override;
    std::unique_ptr<Canvas> Fork() const override;
    void Compose(Canvas& fork) override;
    // The saved picture only.
    void SavePicture(const std::string& path) override { saved_.SavePicture(path); }

private:
    Canvas& saved_;
    Canvas& screen_;
    // A fork's own pair.
    std::unique_ptr<Canvas> savedFork_;
    std::unique_ptr<Canvas> screenFork_;
};

}  // namespace zarn
