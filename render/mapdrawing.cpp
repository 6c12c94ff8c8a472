#include "mapdrawing.h"

#include "bnainput.h"
#include "geometry.h"
#include "recordstream.h"
#include "runerror.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace zarn {

namespace {

[[noreturn]] void PositionOverflows()
{
    throw RunError("a map position overflows the canvas coordinates");
}

// A canvas position, handed over in single precision.
inline float Single(double value)
{
    const auto f = static_cast<float>(value);
    if (!std::isfinite(f)) [[unlikely]] {
        PositionOverflows();
    }
    return f;
}

// Canvas positions of n points, in plain loops that vectorise; returns how
// many points come before the first one whose position is not finite.
std::size_t ToCanvas(const CanvasTransform& transform, const float* lon, const float* lat, std::size_t n,
                     float* x, float* y)
{
    for (std::size_t k = 0; k < n; ++k) {
        x[k] = static_cast<float>(transform.X(lon[k]));
    }
    for (std::size_t k = 0; k < n; ++k) {
        y[k] = static_cast<float>(transform.Y(lat[k]));
    }
    constexpr float Largest = std::numeric_limits<float>::max();
    int finite = 1;
    for (std::size_t k = 0; k < n; ++k) {
        finite &= static_cast<int>(std::fabs(x[k]) <= Largest) & static_cast<int>(std::fabs(y[k]) <= Largest);
    }
    if (finite != 0) {
        return n;
    }
    std::size_t k = 0;
    while (std::fabs(x[k]) <= Largest && std::fabs(y[k]) <= Largest) {
        ++k;
    }
    return k;
}

}  // namespace

void MapDrawing::ResetMapExtent()
{
    zarn::ResetMapExtent(mapExtent_);
    store_.Clear();
    kept_ = false;
}

void MapDrawing::GrowMapExtent(const PolygonRecord& poly)
{
    zarn::GrowMapExtent(mapExtent_, poly);
}

void MapDrawing::KeepRecord(const StreamRecord& record, const PolygonRecord* accepted, std::uint64_t fileSize)
{
    kept_ = true;
    fileSize_ = fileSize;
    store_.Add(record, accepted);
}

bool MapDrawing::DrawMap(RunHost& host)
{
    PadMapExtent(mapExtent_);
    const MapScale scale = ComputeMapScale(mapExtent_);
    const CanvasTransform transform(mapExtent_, scale);
    try {
        if (kept_) {
            store_.Rewind();
        }
        if (kept_ && store_.Usable()) {
            DrawKept(host, transform);
        } else {
            DrawRecords(host, transform);
        }
        store_.Clear();
        return true;
    } catch (const RunError& e) {
        host.ReportCause(e.what());
    } catch (const std::bad_alloc&) {
        host.ReportCause("out of memory while drawing");
    } catch (const std::exception& e) {
        host.ReportCause(e.what());
    }
    store_.Clear();
    host.ShowCritical(DrawFailedMessage);
    return false;
}

void MapDrawing::DrawKept(RunHost& host, const CanvasTransform& transform)
{
    std::size_t drawn = 0;
    while (const PointStore::Record* record = store_.Next()) {
        DrawRecord(host, transform, *record, fileSize_, false);
        ++drawn;
    }
    if (drawn != store_.Size() || !store_.Usable()) {
        throw RunError("the points kept for the map cannot be read back");
    }
}

void MapDrawing::DrawRecords(RunHost& host, const CanvasTransform& transform)
{
    BnaInput in(host.FileName());
    RecordStream stream(in);
    PointStore::Record kept;
    while (const StreamRecord* record = stream.Next()) {
        ws_.ResetPolygon();
        RecordStream::Load(*record, ws_);
        kept.firstName = record->firstName;
        kept.nPoints = record->nPoints;
        kept.x = ws_.pointX.data();
        kept.y = ws_.pointY.data();
        kept.complete = record->complete;
        kept.bytesRead = record->bytesRead;
        DrawRecord(host, transform, kept, stream.FileSize(), true);
    }
}

void MapDrawing::DrawRecord(RunHost& host, const CanvasTransform& transform, const PointStore::Record& record,
                            std::uint64_t fileSize, bool inWorkspace)
{
    const std::int32_t nPoints = record.nPoints;
    line_.assign("Read polygon ").append(record.firstName).append(" with ");
    line_.append(std::to_string(nPoints)).append(" points for drawing.");
    host.AppendProgress(line_);
    if (nPoints > MaxPoints || !record.complete) {
        return;  // skipped, or the next record is the failure that ended it
    }

    canvas_.SetForeColor(settings_.lineColor);
    if (settings_.lineWidth < std::numeric_limits<std::int16_t>::min() ||
        settings_.lineWidth > std::numeric_limits<std::int16_t>::max()) {
        throw RunError("the line width " + std::to_string(settings_.lineWidth) +
                       " is outside the range of a pen width");
    }
    canvas_.SetDrawWidth(static_cast<std::int16_t>(settings_.lineWidth));
    if (nPoints >= 2) {
        // The whole outline goes to the canvas at once; a position that
        // cannot be handed over ends it after the segments before it.
        const auto n = static_cast<std::size_t>(nPoints);
        outlineX_.resize(n);
        outlineY_.resize(n);
        const std::size_t ready = ToCanvas(transform, record.x, record.y, n, outlineX_.data(), outlineY_.data());
        canvas_.Polyline(outlineX_.data(), outlineY_.data(), ready);
        if (ready < n) {
            PositionOverflows();
        }
    }

    double centroidX = record.centroidX;
    double centroidY = record.centroidY;
    if (inWorkspace) {
        // The figures as the analysis computes them; they project the
        // workspace's points in place, so they come after the outline.
        PolygonRecord& poly = ws_.curPoly;
        ComputeExtent(ws_);
        ComputeMidPoint(ws_);
        ProjectPoints(ws_);
        ComputeArea(ws_, poly);
        ComputeCentroid(ws_, poly);
        centroidX = poly.centroidX;
        centroidY = poly.centroidY;
    }

    const double xc = transform.X(centroidX);
    const double yc = transform.Y(centroidY);
    const double markerRadius = settings_.centroidSize * 0.2;
    canvas_.SetForeColor(DotColour);
    canvas_.PSet(Single(xc), Single(yc));
    canvas_.SetCurrentX(Single(xc + markerRadius));
    canvas_.SetCurrentY(Single(yc - markerRadius));
    canvas_.SetForeColor(settings_.fontColor);
    if (settings_.showText != 0) {
        canvas_.Print(record.firstName);
    }
    canvas_.SetForeColor(settings_.centroidBorderColor);
    canvas_.SetFillColor(settings_.centroidFillColor);
    canvas_.Circle(Single(xc), Single(yc), Single(markerRadius), settings_.centroidBorderColor);
    host.Progress(record.bytesRead, fileSize);
}

void MapDrawing::SaveMap(const std::string& path)
{
    canvas_.SavePicture(path);
}

}  // namespace zarn
