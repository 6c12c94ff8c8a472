#pragma once

// A whole analysis run without a window: a host that keeps every line and
// message, and a Qt-free canvas that keeps a digest of every drawing call and
// refuses what the image canvas refuses. Shared by the fuzz target, the
// failure catalogue and the core's run tests.

#include "analysisrun.h"
#include "canvas.h"
#include "displaysettings.h"
#include "mapdrawing.h"
#include "pixelraster.h"
#include "runerror.h"
#include "workspace.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::probe {

// The window as a run sees it: both lists, the message boxes, the causes,
// and the order of all calls as one letter each (P progress, S summary,
// B bold lists, ! message box, R repaint).
class RecordingHost : public RunHost {
public:
    RecordingHost(std::string path, std::string title) : path_(std::move(path)), title_(std::move(title)) {}

    std::string FileName() const override { return path_; }
    std::string FileTitle() const override { return title_; }
    void AppendProgress(std::string_view line) override { Add('P', progress, line); }
    bool ShowsProgress() const override { return showsProgress; }
    bool LinesWatched() const override { return linesWatched; }
    void AppendSummary(std::string_view line) override { Add('S', summary, line); }
    void SetListsBold() override { order += 'B'; }
    void RepaintSummary() override { order += 'R'; }
    void ShowCritical(std::string_view message) override { Add('!', messages, message); }
    void ReportCause(std::string_view c) override { causes.emplace_back(c); }
    void Phase(RunPhase phase, std::string_view subject) override
    {
        static constexpr const char* Names[] = {"reading ", "writing ", "drawing "};
        phases.push_back(Names[static_cast<int>(phase)] + std::string(subject));
    }

    bool showsProgress = true;  // false: a quiet host, whose lines go nowhere
    bool linesWatched = true;   // false: lines bound for a file, which a run may keep back
    std::vector<std::string> progress;
    std::vector<std::string> summary;
    std::vector<std::string> messages;
    std::vector<std::string> causes;
    std::vector<std::string> phases;  // "reading in.bna", "writing GeoJSON", "drawing in.bna"
    std::string order;
    // Index of the first progress line the drawing added, when it ran.
    std::optional<std::size_t> drawingFrom;

private:
    void Add(char kind, std::vector<std::string>& list, std::string_view line)
    {
        order += kind;
        list.emplace_back(line);
    }
    std::string path_;
    std::string title_;
};

// Refuses a pen width below 1 like the image canvas; every position must be
// finite. The map file it saves holds the digest of the calls since Cls.
// Outlines, dots and circles are also set into a picture of the map's size
// by the image canvas's own pixel rasteriser, so that whatever positions a
// file leads to meet its clipping.
class RecordingCanvas : public Canvas {
public:
    static constexpr int Size = 545;

    RecordingCanvas() : pixels_(static_cast<std::size_t>(Size) * Size), raster_(pixels_.data(), Size, Size, Size) {}
    RecordingCanvas(const RecordingCanvas&) = delete;
    RecordingCanvas& operator=(const RecordingCanvas&) = delete;

    void Cls() override
    {
        digest_ = Offset;
        calls = 0;
    }
    Colour BackColor() const override { return back_; }
    void SetBackColor(Colour c) override { back_ = c; }
    Colour ForeColor() const override { return fore_; }
    void SetForeColor(Colour c) override
    {
        fore_ = c;
        Mix('F', c);
    }
    std::int16_t DrawWidth() const override { return width_; }
    void SetDrawWidth(std::int16_t w) override
    {
        if (w < 1) {
            throw RunError("the pen width " + std::to_string(w) + " is below 1 pixel");
        }
        width_ = w;
        Mix('W', w);
    }
    Colour FillColor() const override { return fill_; }
    void SetFillColor(Colour c) override
    {
        fill_ = c;
        Mix('C', c);
    }
    std::int16_t FillStyle() const override { return fillStyle_; }
    void SetFillStyle(std::int16_t s) override { fillStyle_ = s; }
    bool FontBold() const override { return bold_; }
    void SetFontBold(bool b) override { bold_ = b; }
    bool FontItalic() const override { return italic_; }
    void SetFontItalic(bool i) override { italic_ = i; }
    float FontSize() const override { return size_; }
    void SetFontSize(float s) override { size_ = s; }
    void SetCurrentX(float x) override { Position('X', {x}); }
    void SetCurrentY(float y) override { Position('Y', {y}); }
    void Line(float x1, float y1, float x2, float y2) override
    {
        Position('L', {x1, y1, x2, y2});
        ++lines;
        Pen(fore_).Segment(PixelX(x1), PixelY(y1), PixelX(x2), PixelY(y2));
    }
    void Polyline(const float* x, const float* y, std::size_t count) override
    {
        for (std::size_t k = 1; k < count; ++k) {
            Position('L', {x[k - 1], y[k - 1], x[k], y[k]});
            ++lines;
        }
        Pen(fore_).Polyline(x, y, count, PixelX, PixelY);
    }
    void PSet(float x, float y) override
    {
        Position('P', {x, y});
        Pen(fore_).Dot(PixelX(x), PixelY(y));
    }
    void Circle(float x, float y, float radius, Colour colour) override
    {
        Position('O', {x, y, radius});
        Mix('o', colour);
        const double r = std::fabs(static_cast<double>(radius)) * Size / FrameSize;
        if (r <= PixelRaster::MaxCircleRadius) {
            Pen(colour).Circle(PixelX(x), PixelY(y), r, fillStyle_ == 0, static_cast<std::uint32_t>(fill_),
                               static_cast<std::uint32_t>(colour));
        }
    }
    void Print(std::string_view text) override
    {
        Mix('T', static_cast<std::int64_t>(text.size()));
        for (const char c : text) {
            Mix('t', c);
        }
    }
    void SavePicture(const std::string& path) override
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            throw RunError("cannot write " + path + ": " + std::strerror(errno));
        }
        const std::string text = std::to_string(digest_) + "\n";
        const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (std::fclose(f) != 0 || !written) {
            throw RunError("cannot write " + path);
        }
    }

    std::uint64_t digest() const { return digest_; }
    std::uint64_t calls = 0;
    std::uint64_t lines = 0;
    // Set by a position that was not finite; the caller decides what to do.
    bool nonFinite = false;

private:
    static constexpr std::uint64_t Offset = 14695981039346656037ULL;

    void Mix(char op, std::int64_t value)
    {
        ++calls;
        const auto mixByte = [this](unsigned char b) { digest_ = (digest_ ^ b) * 1099511628211ULL; };
        mixByte(static_cast<unsigned char>(op));
        for (int i = 0; i < 8; ++i) {
            mixByte(static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i)));
        }
    }
    void Position(char op, std::initializer_list<float> values)
    {
        for (const float v : values) {
            if (!std::isfinite(v)) {
                nonFinite = true;
            }
            std::uint32_t bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            Mix(op, bits);
        }
    }

    static double PixelX(float x) { return static_cast<double>(x) * Size / FrameSize; }
    static double PixelY(float y) { return (FrameSize - static_cast<double>(y)) * Size / FrameSize; }
    PixelRaster& Pen(Colour colour)
    {
        raster_.SetPen(static_cast<std::uint32_t>(colour), std::clamp<int>(width_, 1, PixelRaster::MaxPenWidth));
        return raster_;
    }

    std::vector<std::uint32_t> pixels_;
    PixelRaster raster_;
    std::uint64_t digest_ = Offset;
    Colour back_ = Rgb(255, 255, 255);
    Colour fore_ = 0;
    Colour fill_ = 0;
    std::int16_t width_ = 1;
    std::int16_t fillStyle_ = 1;
    bool bold_ = false;
    bool italic_ = false;
    float size_ = 8.25F;
};

// MapDrawing, marking in the host where the drawing's lines begin.
class MarkedDrawing : public MapStage {
public:
    MarkedDrawing(Workspace& ws, Canvas& canvas, const DisplaySettings& settings) : drawing(ws, canvas, settings) {}

    void ResetMapExtent() override { drawing.ResetMapExtent(); }
    void GrowMapExtent(const PolygonRecord& poly) override { drawing.GrowMapExtent(poly); }
    void KeepRecord(const StreamRecord& record, const PolygonRecord* accepted, std::uint64_t fileSize) override
    {
        drawing.KeepRecord(record, accepted, fileSize);
    }
    bool DrawMap(RunHost& host) override
    {
        auto& recording = static_cast<RecordingHost&>(host);
        recording.drawingFrom = recording.progress.size();
        return drawing.DrawMap(host);
    }
    void SaveMap(const std::string& path) override { drawing.SaveMap(path); }

    MapDrawing drawing;
};

inline std::optional<std::string> ReadBytes(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.append(chunk, got);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        return std::nullopt;
    }
    return bytes;
}

inline bool WriteBytes(const std::string& path, std::string_view bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace zarn::probe
