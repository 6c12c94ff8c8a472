#pragma once

#include <QColor>
#include <QRgb>
#include <QString>

#include <memory>
#include <vector>

class QFont;
class QImage;

namespace zarn {

// Draws one-line labels into an image from glyphs that QPainter renders once
// per font, instead of laying out and rasterising every label anew.
//
// A map holds hundreds of thousands of labels, mostly short names in Latin,
// Greek or Cyrillic letters with digits and punctuation. Their glyphs are
// kept as one-bit masks, and their advances, pair kerning and ligatures are
// learnt from QPainter's own text layout the first time a character or a pair
// of characters appears. Placed at the pixel QPainter snaps to, the masks
// give the same pixels as QPainter::drawText, as long as the font has
// whole-pixel metrics and aliased glyphs (a hinted font with
// QFont::NoAntialias, as the map's font is).
//
// Everything else is left to the caller's QPainter::drawText: characters that
// need shaping or bidirectional layout (other scripts, combining marks),
// control characters, tabs, line breaks, characters the font lacks, fonts
// from 63 pixels up (QPainter fills glyphs beyond 64 pixels as outlines),
// antialiased or decorated fonts, translucent colours, and images that a
// painter is active on.
//
// Memory: per font about 140 KB of tables, a mask per character and
// ligature seen and an entry per pair of characters seen outside Latin-1,
// both bounded; the last four fonts are kept. Learning a character or a
// pair costs about one drawText, once.
class LabelText {
public:
    // Where QPainter lays the label out: a rectangle this wide and high from
    // the top-left corner, not clipped.
    static constexpr double LayoutReach = 4096.0;
    static constexpr int LayoutFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip;

    LabelText();
    ~LabelText();
    LabelText(const LabelText&) = delete;
    LabelText& operator=(const LabelText&) = delete;

    // Draws `text` as a painter on `image` with only `font` and a pen of
    // `colour` set does with
    //   painter.drawText(QRectF(left, top, LayoutReach, LayoutReach),
    //                    Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text):
    // top-left corner at (left, top) pixels, clipped to the image. The glyphs
    // are written into the image's pixels, so no painter may be active on it.
    // Returns false, leaving the image untouched, when the label needs
    // QPainter: the caller then draws it with drawText.
    bool Draw(QImage& image, const QFont& font, QColor colour, double left, double top, const QString& text);

    // Learns the font's metrics ahead of the first Draw in it.
    void Prepare(const QImage& image, const QFont& font) { Glyphs(font, image); }

private:
    class FontGlyphs;

    // Where one glyph or ligature of the label goes: its mask and its pen
    // position in whole pixels from the label's left edge.
    struct Placement {
        int mask;
        int pen;
    };

    FontGlyphs& Glyphs(const QFont& font, const QImage& image);
    void Blit(QImage& image, const FontGlyphs& glyphs, int left, int baseline, QRgb colour) const;

    std::vector<std::unique_ptr<FontGlyphs>> fonts_;  // most recently used first
    std::vector<Placement> placements_;
};

}  // namespace zarn
