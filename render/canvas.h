#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zarn {

// A colour as 0x00BBGGRR: red + 256 * green + 65536 * blue.
using Colour = std::int32_t;

constexpr Colour Rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red + 256 * green + 65536 * blue);
}

// The map canvas: a square whose user frame runs from x = 0 at the left to
// 100 at the right and from y = 0 at the bottom to 100 at the top, so the
// whole padded map is in view at one scale. It keeps everything drawn since
// the last Cls, and that picture is what SavePicture writes.
class Canvas {
public:
    static constexpr float FrameSize = 100.0F;

    virtual ~Canvas() = default;

    virtual void Cls() = 0;

    virtual Colour BackColor() const = 0;
    virtual void SetBackColor(Colour colour) = 0;

    // Pen colour of Line, PSet and Print.
    virtual Colour ForeColor() const = 0;
    virtual void SetForeColor(Colour colour) = 0;

    // Pen width in pixels. Throws RunError for a width below 1.
    virtual std::int16_t DrawWidth() const = 0;
    virtual void SetDrawWidth(std::int16_t width) = 0;

    // Inside of circles: FillColor when FillStyle is 0 (solid), nothing when
    // it is 1 (transparent).
    virtual Colour FillColor() const = 0;
    virtual void SetFillColor(Colour colour) = 0;
    virtual std::int16_t FillStyle() const = 0;
    virtual void SetFillStyle(std::int16_t style) = 0;

    virtual bool FontBold() const = 0;
    virtual void SetFontBold(bool bold) = 0;
    virtual bool FontItalic() const = 0;
    virtual void SetFontItalic(bool italic) = 0;
    // Points. Throws RunError for a size the canvas cannot take.
    virtual float FontSize() const = 0;
    virtual void SetFontSize(float points) = 0;

    // Top-left corner of the next Print.
    virtual void SetCurrentX(float x) = 0;
    virtual void SetCurrentY(float y) = 0;

    virtual void Line(float x1, float y1, float x2, float y2) = 0;
    // The segments between consecutive points (x[k], y[k]): the same as a
    // Line from each of the `count` points to the next.
    virtual void Polyline(const float* x, const float* y, std::size_t count)
    {
        for (std::size_t k = 1; k < count; ++k) {
            Line(x[k - 1], y[k - 1], x[k], y[k]);
        }
    }
    virtual void PSet(float x, float y) = 0;
    // A full circle outlined in `colour`, its radius in units of the x axis.
    virtual void Circle(float x, float y, float radius, Colour colour) = 0;
    // Text as the file holds it: UTF-8 where valid, else Windows-1252.
    virtual void Print(std::string_view text) = 0;

    // Readies what printing in the current font needs (a font database, glyph
    // tables), so that its cost falls before the first Print. Optional.
    virtual void PrepareText() {}

    // A canvas to draw on beside this one, on another thread: blank, of the
    // same size, with this one's pen, fill, font and current position, and
    // free of state shared with this one. Null when the canvas cannot fork;
    // the caller then draws everything here.
    virtual std::unique_ptr<Canvas> Fork() const { return nullptr; }
    // Lays everything drawn on `fork`, a canvas this one's Fork made, over
    // this picture, as if it had been drawn here after what is here. Every
    // drawing call overwrites the pixels it covers with its colours, without
    // blending, so drawing a sequence of calls in two halves on a canvas and
    // its fork and composing gives the same picture as drawing it in order.
    virtual void Compose(Canvas& /*fork*/) {}
    // Makes this canvas, a fork, blank again as Fork made it, keeping its
    // font and what it learnt about it; false when it cannot, with nothing
    // changed.
    virtual bool ClearFork() { return false; }

    // Finishes any drawing in progress and writes the picture as a 24-bit
    // Windows BMP. Throws RunError.
    virtual void SavePicture(const std::string& path) = 0;
};

}  // namespace zarn
