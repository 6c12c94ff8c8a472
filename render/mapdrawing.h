#pragma once

#include "analysisrun.h"
#include "canvas.h"
#include "displaysettings.h"
#include "mapextent.h"
#include "pointstore.h"
#include "workspace.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zarn {

// The map of one run. While the analysis reads, it collects the box around
// the accepted polygons and keeps every record in a point store; afterwards
// it draws every polygon from the store: the outline as read (an open ring
// stays open), a dot at the centroid, the name beside it and the marker
// circle, styled by the display settings at the time of drawing. When the
// canvas can fork, the records kept are drawn in two parts at once: those in
// the first 38 % of the bytes kept on the canvas, the others on a fork on a
// thread of its own, composed over the canvas at the end; without progress
// lines the two threads share the records by stretches as they go. The
// progress lines and the picture, a failure's included, are those of drawing
// every record in order on one thread. Only when
// the store could not keep the records (no memory, no temporary file) does
// the drawing read the input a second time into the same workspace.
class MapDrawing : public MapStage {
public:
    static constexpr Colour DotColour = Rgb(250, 50, 50);

    MapDrawing(Workspace& ws, Canvas& canvas, const DisplaySettings& settings)
        : ws_(ws), canvas_(canvas), settings_(settings)
    {
    }
    ~MapDrawing() override;
    MapDrawing(const MapDrawing&) = delete;
    MapDrawing& operator=(const MapDrawing&) = delete;

    void ResetMapExtent() override;
    void GrowMapExtent(const PolygonRecord& poly) override;
    void KeepRecord(const StreamRecord& record, const PolygonRecord* accepted, std::uint64_t fileSize) override;
    bool DrawMap(RunHost& host) override;
    void SaveMap(const std::string& path) override;
    void ForgetRecords() override { ForgetKept(); }

    const MapExtent& mapExtent() const { return mapExtent_; }

private:
    // A record's outline, dot, label and marker on one canvas.
    class Sketch {
    public:
        Sketch(Canvas& canvas, const DisplaySettings& settings) : canvas_(canvas), settings_(settings) {}
        void Outline(const CanvasTransform& transform, const PointStore::Record& record);
        void Marker(const CanvasTransform& transform, double centroidX, double centroidY, std::string_view name);

    private:
        Canvas& canvas_;
        const DisplaySettings& settings_;
        std::vector<float> x_;
        std::vector<float> y_;
    };

    void DrawKept(RunHost& host, const CanvasTransform& transform);
    // Draws the records from `second` on in a fork of the canvas on another
    // thread while this one draws those before; false when the canvas cannot
    // fork or no thread can be started, with nothing drawn.
    bool DrawKeptSplit(RunHost& host, const CanvasTransform& transform, PointStore::Mark second);
    // Without progress lines: the records after most of the bytes kept are
    // drawn on a fork on another thread, which then takes stretches from the
    // end of the caller's part, each on a blank fork under which what it drew
    // before is laid, while the caller draws its part from the start; false,
    // with nothing drawn, as DrawKeptSplit.
    bool DrawKeptShared(RunHost& host, const CanvasTransform& transform);
    void Announce(RunHost& host, const PointStore::Record& record);
    // Empties the store once drawn; its temporary file is closed on a thread
    // of its own while the map is saved.
    void ForgetKept();
    void WaitForCloser();
    void DrawRecords(RunHost& host, const CanvasTransform& transform);
    // One record's lines and drawing. With `inWorkspace`, its points are the
    // workspace's and the centroid is computed here, after the outline.
    void DrawRecord(RunHost& host, const CanvasTransform& transform, const PointStore::Record& record,
                    std::uint64_t fileSize, bool inWorkspace);

    Workspace& ws_;
    Canvas& canvas_;
    const DisplaySettings& settings_;
    MapExtent mapExtent_;
    PointStore store_;
    bool kept_ = false;  // the analysis handed over its records
    std::uint64_t fileSize_ = 0;
    bool announced_ = true;  // the drawing's progress lines go somewhere
    std::string line_;
    Sketch sketch_{canvas_, settings_};
    std::thread closer_;
};

}  // namespace zarn
