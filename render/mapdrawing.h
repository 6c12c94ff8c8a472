#pragma once

#include "analysisrun.h"
#include "canvas.h"
#include "displaysettings.h"
#include "mapextent.h"
#include "workspace.h"

namespace zarn {

// The map of one run. While the analysis reads, it collects the box around
// the accepted polygons; afterwards it reads the input a second time into the
// same workspace and draws every polygon: the outline as read (an open ring
// stays open), a dot at the centroid, the name beside it and the marker
// circle, styled by the display settings at the time of drawing.
class MapDrawing : public MapStage {
public:
    static constexpr Colour DotColour = Rgb(250, 50, 50);

    MapDrawing(Workspace& ws, Canvas& canvas, const DisplaySettings& settings)
        : ws_(ws), canvas_(canvas), settings_(settings)
    {
    }

    void ResetMapExtent() override;
    void GrowMapExtent(const PolygonRecord& poly) override;
    bool DrawMap(RunHost& host) override;
    void SaveMap(const std::string& path) override;

    const MapExtent& mapExtent() const { return mapExtent_; }

private:
    void DrawRecords(RunHost& host, const CanvasTransform& transform);

    Workspace& ws_;
    Canvas& canvas_;
    const DisplaySettings& settings_;
    MapExtent mapExtent_;
};

}  // namespace zarn
