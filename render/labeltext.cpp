#include "labeltext.h"

#include "pixelraster.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QGuiApplication>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZARN_WIDE_GLYPH_ROWS 1
#endif

namespace zarn {

namespace {

// QPainter draws glyphs from its bitmap cache only up to 64 pixels (by
// default); larger ones are filled as outlines, which land differently at
// fractional positions.
constexpr double MaxPixelSize = 63.0;

// Longer labels, corners further out and longer runs of characters that join
// into ligatures are left to QPainter; the limits keep the pixel arithmetic
// in int and far from where QPainter's 26.6 fixed point overflows.
constexpr qsizetype MaxLabelLength = 1000;
constexpr double MaxReach = 1 << 20;
constexpr qsizetype MaxLigatureLength = 16;

// Bounds on what one font keeps: masks of characters and ligatures, and
// pairs outside Latin-1 (those inside have a table of their own).
constexpr std::size_t MaxFonts = 4;
constexpr std::size_t MaxMasks = 8192;
constexpr std::size_t MaxPairs = 1U << 16U;

// Characters below this have a slot in a table; the rest go to a hash map.
constexpr char16_t TableChars = 0x800;
constexpr int Latin1Chars = 0x100;

constexpr QRgb Ink = 0xFF000000U;
constexpr QRgb Paper = 0xFFFFFFFFU;

// Glyphs up to this many pixels wide are kept as one bit row per pixel row
// as well, for processors that store a row of pixels under a mask at once.
constexpr int RowBits = 16;
using GlyphRow = std::uint16_t;

// Where a glyph's pixels lie around its pen position on the baseline, for
// the blit: bounds (right and bottom exclusive), the advance, and where its
// bit rows start in the font's rows, or NoRows when it is wider than RowBits.
struct GlyphBox {
    static constexpr std::int32_t NoRows = -1;
    std::int16_t left = 0;
    std::int16_t top = 0;
    std::int16_t right = 0;
    std::int16_t bottom = 0;
    std::int32_t advance = 0;
    std::int32_t rowsAt = NoRows;
};

// Whether the glyph lies wholly inside an image of width x height.
inline bool Inside(const GlyphBox& box, int x, int baseline, int width, int height)
{
    return x + box.left >= 0 && x + box.right <= width && baseline + box.top >= 0 && baseline + box.bottom <= height;
}

#ifdef ZARN_WIDE_GLYPH_ROWS
// Sets the pixels of the label's glyphs that lie wholly inside the image and
// have bit rows, a row of up to RowBits pixels under its mask at once:
// nothing else is touched, not even read, so a row may end at the image's
// last pixel. True when that was every glyph.
template <class Placements>
__attribute__((target("avx512f"))) bool WriteGlyphRows(QRgb* pixels, qsizetype pitch, int width, int height, int left,
                                                       int baseline, QRgb colour, const Placements& placements,
                                                       const GlyphBox* boxes, const GlyphRow* rows)
{
    const __m512i ink = _mm512_set1_epi32(static_cast<int>(colour));
    bool all = true;
    for (const auto& placement : placements) {
        const GlyphBox& box = boxes[placement.mask];
        const int x = left + placement.pen;
        if (box.rowsAt == GlyphBox::NoRows || !Inside(box, x, baseline, width, height)) {
            all = false;
            continue;
        }
        QRgb* at = pixels + (baseline + box.top) * pitch + x + box.left;
        const GlyphRow* row = rows + box.rowsAt;
        const GlyphRow* const end = row + (box.bottom - box.top);
        for (; row != end; ++row) {
            _mm512_mask_storeu_epi32(at, static_cast<__mmask16>(*row), ink);
            at += pitch;
        }
    }
    return all;
}
#else
template <class Placements>
bool WriteGlyphRows(QRgb*, qsizetype, int, int, int, int, QRgb, const Placements&, const GlyphBox*, const GlyphRow*)
{
    return false;
}
#endif

// Pixel positions as QPainter reaches them: the real coordinate is truncated
// to 26.6 fixed point, then floored to a whole pixel.
std::int64_t Fixed(double v)
{
    return static_cast<std::int64_t>(v * 64.0);
}

int FloorPixel(std::int64_t fixed)
{
    return static_cast<int>(fixed >= 0 ? fixed / 64 : -((-fixed + 63) / 64));
}

// A layout position in 1/64 pixel; `whole` turns false unless it is a whole pixel.
int LayoutFixed(qreal v, bool& whole)
{
    const auto fixed = static_cast<int>(std::lround(v * 64.0));
    whole = whole && fixed % 64 == 0;
    return fixed;
}

// Characters that HarfBuzz maps to one glyph each and that keep their logical
// order: letters of the simple European scripts, digits, punctuation, symbols
// and spaces. Whatever else a pair of them does to each other (kerning,
// ligatures) is learnt from QPainter's layout.
bool PlainChar(QChar c)
{
    switch (c.category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return false;
    default:
        break;
    }
    switch (c.script()) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
        break;
    default:
        return false;
    }
    switch (c.direction()) {
    case QChar::DirL:
    case QChar::DirEN:
    case QChar::DirES:
    case QChar::DirET:
    case QChar::DirCS:
    case QChar::DirON:
    case QChar::DirWS:
        return true;
    default:
        return false;
    }
}

// The targets into which drawText with a plain painter puts exactly the
// glyph masks in the pen colour: nothing between the glyphs and the pixels.
bool PlainTarget(const QImage& image, const QColor& colour)
{
    return (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32 ||
            image.format() == QImage::Format_ARGB32_Premultiplied) &&
           image.devicePixelRatio() == 1.0 && !image.paintingActive() && colour.alpha() == 255 &&
           QGuiApplication::layoutDirection() != Qt::RightToLeft;
}

// A stand-in paint device with the resolution of `image`.
QImage Device(const QImage& image)
{
    QImage device(1, 1, QImage::Format_RGB32);
    device.setDotsPerMeterX(image.dotsPerMeterX());
    device.setDotsPerMeterY(image.dotsPerMeterY());
    return device;
}

}  // namespace

// The glyph masks, advances and pair kerning of one font at one resolution.
class LabelText::FontGlyphs {
public:
    // Sentinels of the character and pair tables; kerning itself is a small
    // number of pixels.
    static constexpr std::int32_t Unknown = -1;
    static constexpr std::int32_t Refused = -2;
    static constexpr std::int16_t PairUnknown = std::numeric_limits<std::int16_t>::min();
    static constexpr std::int16_t PairJoined = PairUnknown + 1;
    static constexpr std::int16_t PairRefused = PairUnknown + 2;
    static constexpr int MaxKerning = 4096;

    // A horizontal run of set pixels, from the pen position on the baseline.
    struct Span {
        std::int16_t row;
        std::int16_t column;
        std::int16_t length;
    };

    // One character or ligature, as drawText draws it alone.
    struct Mask {
        QString text;
        std::vector<quint32> glyphs;
        std::vector<int> glyphX;  // pen position of each glyph, 1/64 pixel
        int advance = 0;          // pixels
        // Bounds of the spans; right and bottom exclusive.
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        std::vector<Span> spans;
        // The same pixels as offsets from the pen position on the baseline
        // in an image of the font's pitch, for the blit inside the image.
        std::vector<std::int32_t> pixels;
    };

    FontGlyphs(const QFont& font, const QImage& image);

    bool Matches(const QFont& font, const QImage& image) const
    {
        return image.dotsPerMeterX() == device_.dotsPerMeterX() && image.dotsPerMeterY() == device_.dotsPerMeterY() &&
               image.bytesPerLine() == bytesPerLine_ && font == font_;
    }

    bool usable() const { return usable_; }
    const Mask& mask(int index) const { return masks_[static_cast<std::size_t>(index)]; }
    const GlyphBox& box(int index) const { return boxes_[static_cast<std::size_t>(index)]; }
    const GlyphBox* boxes() const { return boxes_.data(); }
    const GlyphRow* rows() const { return rows_.data(); }
    qsizetype pitch() const { return bytesPerLine_ / static_cast<qsizetype>(sizeof(QRgb)); }

    // The pixel row of the baseline of a label whose top edge is at `top`.
    int Baseline(double top) const { return FloorPixel(Fixed(top) + baselineFixed_); }

    // The masks of `text` and their pen positions; false when some character
    // or pair needs QPainter.
    bool Place(const QString& text, std::vector<Placement>& placements);

private:
    struct Layout {
        std::vector<quint32> glyphs;
        std::vector<int> glyphX;
        int advance = 0;
        bool whole = true;  // all positions in whole pixels
    };

    Layout Shape(const QString& text) const;
    QImage Sketch(const QString& text, int advance, double dx, double dy) const;
    bool Calibrate();
    // The mask of a character, and how two characters follow each other:
    // from the tables where known, else learnt.
    std::int32_t CharMask(QChar c)
    {
        const char16_t code = c.unicode();
        if (code < TableChars && tableMasks_[code] != Unknown) {
            return tableMasks_[code];
        }
        return LearnCharMask(c);
    }
    std::int16_t CharPair(QChar a, QChar b, std::int32_t maskA, std::int32_t maskB)
    {
        if (a.unicode() < Latin1Chars && b.unicode() < Latin1Chars) {
            const std::int16_t pair = latin1Pairs_[static_cast<std::size_t>(a.unicode()) * Latin1Chars + b.unicode()];
            if (pair != PairUnknown) {
                return pair;
            }
        }
        return LearnCharPair(a, b, maskA, maskB);
    }
    std::int32_t LearnCharMask(QChar c);
    std::int32_t NewMask(const QString& text, bool single);
    std::int16_t LearnCharPair(QChar a, QChar b, std::int32_t maskA, std::int32_t maskB);
    std::int16_t MaskPair(std::int32_t a, std::int32_t b);
    std::int32_t Ligature(QStringView text);
    std::int16_t Link(std::int32_t a, std::int32_t b) const;

    QFont font_;
    QImage device_;  // resolution of the target, for layouts
    qsizetype bytesPerLine_;
    QFontMetricsF metrics_;
    std::int64_t baselineFixed_ = 0;  // ascent plus the half pixel QPainter rounds the baseline by
    int margin_ = 0;                  // room around a sketched glyph
    int lineHeight_ = 0;
    bool usable_ = false;

    std::vector<Mask> masks_;
    std::vector<GlyphBox> boxes_;  // one per mask
    std::vector<GlyphRow> rows_;   // the bit rows of all masks that have them
    std::vector<std::int32_t> tableMasks_;
    std::unordered_map<char16_t, std::int32_t> otherMasks_;
    QHash<QString, std::int32_t> ligatures_;
    std::unordered_map<std::uint16_t, std::int32_t> latin1Ligatures_;  // of two Latin-1 characters
    std::vector<std::int16_t> latin1Pairs_;
    std::unordered_map<std::uint32_t, std::int16_t> otherPairs_;
    std::unordered_map<std::uint64_t, std::int16_t> maskPairs_;
};

LabelText::FontGlyphs::FontGlyphs(const QFont& font, const QImage& image)
    : font_(font), device_(Device(image)), bytesPerLine_(image.bytesPerLine()), metrics_(font_, &device_), tableMasks_(TableChars, Unknown),
      latin1Pairs_(static_cast<std::size_t>(Latin1Chars * Latin1Chars), PairUnknown)
{
    baselineFixed_ = std::llround(metrics_.ascent() * 64.0) + 32;
    lineHeight_ = static_cast<int>(std::ceil(metrics_.height()));
    margin_ = lineHeight_ + 2;
    const double pixelSize =
        font_.pixelSize() > 0 ? font_.pixelSize() : font_.pointSizeF() * device_.logicalDpiY() / 72.0;
    usable_ = pixelSize < MaxPixelSize && !font_.underline() && !font_.overline() && !font_.strikeOut() &&
              font_.capitalization() == QFont::MixedCase && Calibrate();
}

LabelText::FontGlyphs::Layout LabelText::FontGlyphs::Shape(const QString& text) const
{
    QTextLayout layout(text, font_, &device_);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    Layout result;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i) {
            result.glyphs.push_back(glyphs[i]);
            result.glyphX.push_back(LayoutFixed(positions[i].x(), result.whole));
        }
    }
    result.advance = line.isValid() ? LayoutFixed(line.horizontalAdvance(), result.whole) : 0;
    return result;
}

// `text` drawn by QPainter with its corner at (margin_ + dx, margin_ + dy).
QImage LabelText::FontGlyphs::Sketch(const QString& text, int advance, double dx, double dy) const
{
    QImage sketch(std::max(advance, 0) + 2 * margin_, lineHeight_ + 2 * margin_, QImage::Format_RGB32);
    sketch.setDotsPerMeterX(device_.dotsPerMeterX());
    sketch.setDotsPerMeterY(device_.dotsPerMeterY());
    sketch.fill(Paper);
    QPainter painter(&sketch);
    painter.setFont(font_);
    painter.setPen(QColor(Qt::black));
    painter.drawText(QRectF(margin_ + dx, margin_ + dy, LayoutReach, LayoutReach), LayoutFlags, text);
    return sketch;
}

// Checks the placement rule against QPainter at fractional positions: a
// font engine that positions glyphs by fractions of a pixel, or draws them
// as outlines, fails here and leaves the font to QPainter.
bool LabelText::FontGlyphs::Calibrate()
{
    const std::int32_t index = CharMask(QChar(u'H'));
    if (index < 0) {
        return false;
    }
    const Mask& h = mask(index);
    for (int step = 1; step < 8; ++step) {
        const double dx = step / 8.0 + 1.0 / 256.0;
        const double dy = (8 - step) / 8.0 + 1.0 / 256.0;
        const QImage sketch = Sketch(h.text, h.advance, dx, dy);
        const int left = FloorPixel(Fixed(margin_ + dx));
        const int baseline = Baseline(margin_ + dy);
        int inked = 0;
        for (const Span& span : h.spans) {
            for (int i = 0; i < span.length; ++i) {
                if (sketch.pixel(left + span.column + i, baseline + span.row) != Ink) {
                    return false;
                }
            }
            inked += span.length;
        }
        for (int y = 0; y < sketch.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(sketch.constScanLine(y));
            inked -= static_cast<int>(std::count(line, line + sketch.width(), Ink));
        }
        if (inked != 0) {
            return false;
        }
    }
    return true;
}

std::int32_t LabelText::FontGlyphs::LearnCharMask(QChar c)
{
    const char16_t code = c.unicode();
    std::int32_t* slot = nullptr;
    if (code < TableChars) {
        slot = &tableMasks_[code];
    } else {
        const auto found = otherMasks_.find(code);
        if (found != otherMasks_.end()) {
            slot = &found->second;
        } else if (otherMasks_.size() < MaxMasks) {
            slot = &otherMasks_.emplace(code, Unknown).first->second;
        } else {
            return Refused;
        }
    }
    if (*slot == Unknown) {
        *slot = PlainChar(c) && metrics_.inFont(c) ? NewMask(QString(c), true) : Refused;
    }
    return *slot;
}

std::int32_t LabelText::FontGlyphs::NewMask(const QString& text, bool single)
{
    if (masks_.size() >= MaxMasks) {
        return Refused;
    }
    Layout layout = Shape(text);
    if (layout.glyphs.empty() || (single && layout.glyphs.size() != 1) || !layout.whole) {
        return Refused;
    }
    Mask mask;
    mask.text = text;
    mask.glyphs = std::move(layout.glyphs);
    mask.glyphX = std::move(layout.glyphX);
    mask.advance = layout.advance / 64;

    const QImage sketch = Sketch(text, mask.advance, 0.0, 0.0);
    const int baseline = margin_ + FloorPixel(baselineFixed_);
    const int width = sketch.width();
    const int height = sketch.height();
    mask.left = width;
    mask.top = height;
    mask.right = -width;
    mask.bottom = -height;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(sketch.constScanLine(y));
        for (int x = 0; x < width;) {
            if (line[x] == Paper) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && line[x] == Ink) {
                ++x;
            }
            // Grey levels are antialiasing, and ink at the edge may have been
            // cut off: either way the mask would not be the glyph.
            if (x == start || start == 0 || x == width || y == 0 || y == height - 1) {
                return Refused;
            }
            const Span span{static_cast<std::int16_t>(y - baseline), static_cast<std::int16_t>(start - margin_),
                            static_cast<std::int16_t>(x - start)};
            mask.spans.push_back(span);
            for (int column = span.column; column < span.column + span.length; ++column) {
                mask.pixels.push_back(static_cast<std::int32_t>(span.row * pitch() + column));
            }
            mask.left = std::min(mask.left, static_cast<int>(span.column));
            mask.right = std::max(mask.right, span.column + span.length);
            mask.top = std::min(mask.top, static_cast<int>(span.row));
            mask.bottom = std::max(mask.bottom, span.row + 1);
        }
    }
    GlyphBox box;
    box.advance = mask.advance;
    if (!mask.spans.empty()) {
        box.left = static_cast<std::int16_t>(mask.left);
        box.top = static_cast<std::int16_t>(mask.top);
        box.right = static_cast<std::int16_t>(mask.right);
        box.bottom = static_cast<std::int16_t>(mask.bottom);
    }
    if (box.right - box.left <= RowBits) {
        box.rowsAt = static_cast<std::int32_t>(rows_.size());
        rows_.resize(rows_.size() + static_cast<std::size_t>(box.bottom - box.top), 0);
        for (const Span& span : mask.spans) {
            for (int column = span.column; column < span.column + span.length; ++column) {
                rows_[static_cast<std::size_t>(box.rowsAt + span.row - box.top)] |=
                    static_cast<GlyphRow>(1U << static_cast<unsigned>(column - box.left));
            }
        }
    }
    masks_.push_back(std::move(mask));
    boxes_.push_back(box);
    return static_cast<std::int32_t>(masks_.size() - 1);
}

// How `b` follows `a` when QPainter lays out both together: the kerning in
// pixels added to the advance of `a`, PairJoined when the glyphs change (a
// ligature), PairRefused when positions come out fractional or shift inside
// either.
std::int16_t LabelText::FontGlyphs::Link(std::int32_t a, std::int32_t b) const
{
    const Mask& first = mask(a);
    const Mask& second = mask(b);
    const Layout layout = Shape(first.text + second.text);
    const std::size_t count = first.glyphs.size();
    if (layout.glyphs.size() != count + second.glyphs.size() ||
        !std::equal(first.glyphs.begin(), first.glyphs.end(), layout.glyphs.begin()) ||
        !std::equal(second.glyphs.begin(), second.glyphs.end(), layout.glyphs.begin() + static_cast<long>(count))) {
        return PairJoined;
    }
    if (!layout.whole || !std::equal(first.glyphX.begin(), first.glyphX.end(), layout.glyphX.begin())) {
        return PairRefused;
    }
    const int kerning = layout.glyphX[count] / 64 - first.advance;
    const int start = (first.advance + kerning) * 64;
    for (std::size_t i = 0; i < second.glyphX.size(); ++i) {
        if (layout.glyphX[count + i] != start + second.glyphX[i]) {
            return PairRefused;
        }
    }
    if (layout.advance / 64 != first.advance + kerning + second.advance || std::abs(kerning) > MaxKerning) {
        return PairRefused;
    }
    return static_cast<std::int16_t>(kerning);
}

std::int16_t LabelText::FontGlyphs::LearnCharPair(QChar a, QChar b, std::int32_t maskA, std::int32_t maskB)
{
    std::int16_t* slot = nullptr;
    if (a.unicode() < Latin1Chars && b.unicode() < Latin1Chars) {
        slot = &latin1Pairs_[static_cast<std::size_t>(a.unicode()) * Latin1Chars + b.unicode()];
    } else {
        const std::uint32_t key = (static_cast<std::uint32_t>(a.unicode()) << 16U) | b.unicode();
        const auto found = otherPairs_.find(key);
        if (found != otherPairs_.end()) {
            slot = &found->second;
        } else if (otherPairs_.size() < MaxPairs) {
            slot = &otherPairs_.emplace(key, PairUnknown).first->second;
        } else {
            return PairRefused;
        }
    }
    if (*slot == PairUnknown) {
        *slot = Link(maskA, maskB);
    }
    return *slot;
}

// Kerning next to a ligature; a further change of glyphs there is beyond the
// pair rule.
std::int16_t LabelText::FontGlyphs::MaskPair(std::int32_t a, std::int32_t b)
{
    const std::uint64_t key = (static_cast<std::uint64_t>(a) << 32U) | static_cast<std::uint32_t>(b);
    const auto found = maskPairs_.find(key);
    if (found != maskPairs_.end()) {
        return found->second;
    }
    if (maskPairs_.size() >= MaxPairs) {
        return PairRefused;
    }
    std::int16_t link = Link(a, b);
    if (link == PairJoined) {
        link = PairRefused;
    }
    maskPairs_.emplace(key, link);
    return link;
}

std::int32_t LabelText::FontGlyphs::Ligature(QStringView text)
{
    if (text.size() == 2 && text[0].unicode() < Latin1Chars && text[1].unicode() < Latin1Chars) {
        const auto pair = static_cast<std::uint16_t>(text[0].unicode() * Latin1Chars + text[1].unicode());
        const auto found = latin1Ligatures_.find(pair);
        if (found != latin1Ligatures_.end()) {
            return found->second;
        }
        const std::int32_t index = NewMask(text.toString(), false);
        latin1Ligatures_.emplace(pair, index);
        return index;
    }
    const QString key = text.toString();
    const auto found = ligatures_.constFind(key);
    if (found != ligatures_.constEnd()) {
        return *found;
    }
    const std::int32_t index = NewMask(key, false);
    ligatures_.insert(key, index);
    return index;
}

bool LabelText::FontGlyphs::Place(const QString& text, std::vector<Placement>& placements)
{
    placements.clear();
    const QChar* chars = text.constData();
    const qsizetype length = text.size();
    std::int32_t next = CharMask(chars[0]);
    std::int32_t previous = Refused;
    bool previousSingle = true;
    int link = 0;  // kerning from the last character placed to the next
    int pen = 0;
    for (qsizetype i = 0; i < length;) {
        if (next < 0) {
            return false;
        }
        std::int32_t index = next;
        std::int32_t last = next;
        int nextLink = 0;
        qsizetype end = i + 1;
        for (; end < length; ++end) {
            next = CharMask(chars[end]);
            if (next < 0) {
                return false;
            }
            const std::int16_t pair = CharPair(chars[end - 1], chars[end], last, next);
            if (pair == PairRefused) {
                return false;
            }
            if (pair != PairJoined) {
                nextLink = pair;
                break;
            }
            if (end - i >= MaxLigatureLength) {
                return false;
            }
            last = next;
        }
        const bool single = end == i + 1;
        if (!single) {
            index = Ligature(QStringView(chars + i, end - i));
            if (index < 0) {
                return false;
            }
        }
        if (previous >= 0) {
            const int kerning = previousSingle && single ? link : MaskPair(previous, index);
            if (kerning == PairRefused) {
                return false;
            }
            pen += kerning;
        }
        placements.push_back({index, pen});
        pen += box(index).advance;
        previous = index;
        previousSingle = single;
        link = nextLink;
        i = end;
    }
    return true;
}

LabelText::LabelText() = default;

LabelText::~LabelText() = default;

LabelText::FontGlyphs& LabelText::Glyphs(const QFont& font, const QImage& image)
{
    const auto found = std::find_if(fonts_.begin(), fonts_.end(),
                                    [&](const auto& glyphs) { return glyphs->Matches(font, image); });
    if (found != fonts_.end()) {
        std::rotate(fonts_.begin(), found, found + 1);
    } else {
        if (fonts_.size() >= MaxFonts) {
            fonts_.pop_back();
        }
        fonts_.insert(fonts_.begin(), std::make_unique<FontGlyphs>(font, image));
    }
    return *fonts_.front();
}

bool LabelText::Draw(QImage& image, const QFont& font, QColor colour, double left, double top, const QString& text)
{
    if (text.isEmpty()) {
        return true;
    }
    if (std::fabs(left) >= MaxReach || std::fabs(top) >= MaxReach || text.size() > MaxLabelLength ||
        !PlainTarget(image, colour)) {
        return false;
    }
    FontGlyphs& glyphs = Glyphs(font, image);
    if (!glyphs.usable() || !glyphs.Place(text, placements_)) {
        return false;
    }
    Blit(image, glyphs, FloorPixel(Fixed(left)), glyphs.Baseline(top), colour.rgb());
    return true;
}

void LabelText::Blit(QImage& image, const FontGlyphs& glyphs, int left, int baseline, QRgb colour) const
{
    const int width = image.width();
    const int height = image.height();
    const qsizetype pitch = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    auto* const pixels = reinterpret_cast<QRgb*>(image.bits());
    // Every glyph of a label has the same colour, so the glyphs the rows
    // cannot take may follow the others.
    const bool wideRows = HaveMaskedRowStores();
    if (wideRows && WriteGlyphRows(pixels, pitch, width, height, left, baseline, colour, placements_,
                                   glyphs.boxes(), glyphs.rows())) {
        return;
    }
    for (const Placement& placement : placements_) {
        const GlyphBox& box = glyphs.box(placement.mask);
        const int x = left + placement.pen;
        if (Inside(box, x, baseline, width, height)) {
            if (wideRows && box.rowsAt != GlyphBox::NoRows) {
                continue;
            }
            QRgb* const pen = pixels + baseline * pitch + x;
            for (const std::int32_t offset : glyphs.mask(placement.mask).pixels) {
                pen[offset] = colour;
            }
            continue;
        }
        if (x + box.right <= 0 || x + box.left >= width || baseline + box.bottom <= 0 || baseline + box.top >= height) {
            continue;
        }
        for (const FontGlyphs::Span& span : glyphs.mask(placement.mask).spans) {
            const int row = baseline + span.row;
            const int from = std::max(x + span.column, 0);
            const int to = std::min(x + span.column + span.length, width);
            if (row >= 0 && row < height && from < to) {
                std::fill(pixels + row * pitch + from, pixels + row * pitch + to, colour);
            }
        }
    }
}

}  // namespace zarn
