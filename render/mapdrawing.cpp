#include "mapdrawing.h"

#include "bnainput.h"
#include "bnareader.h"
#include "geometry.h"
#include "runerror.h"

#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace zarn {

namespace {

// A canvas position, handed over in single precision.
float Single(double value)
{
    const auto f = static_cast<float>(value);
    if (!std::isfinite(f)) {
        throw RunError("a map position overflows the canvas coordinates");
    }
    return f;
}

// How far the reading side got with a record.
enum class Stage : std::uint8_t {
    Header,   // the header only: reading failed after it
    Skipped,  // over the point limit: listed, not drawn
    Outline,  // the outline's points (all, or those before a failure)
    Marker,   // complete: outline and centroid
};

// One record as the reading side hands it to the drawing side.
struct DrawItem {
    std::size_t nameOffset = 0;
    std::size_t nameSize = 0;
    std::size_t pointOffset = 0;  // index of its first x in DrawBlock::xy
    std::size_t pointCount = 0;   // canvas positions ready to draw
    std::int32_t nPoints = 0;     // the count as read, for the progress line
    Stage stage = Stage::Header;
    double xc = 0.0;  // centroid in canvas units, not yet rounded
    double yc = 0.0;
    std::uint64_t bytesRead = 0;
};

// A batch of records: their names, their outlines in canvas units (x, y
// pairs already rounded to single precision) and, after the last one, what
// stopped the reading, if anything.
struct DrawBlock {
    static constexpr std::size_t TargetFloats = std::size_t{1} << 16;
    static constexpr std::size_t TargetItems = 2048;
    static constexpr std::size_t TargetText = std::size_t{1} << 16;

    bool Full() const
    {
        return xy.size() >= TargetFloats || items.size() >= TargetItems || text.size() >= TargetText;
    }
    void Clear()
    {
        items.clear();
        xy.clear();
        text.clear();
        error = nullptr;
        last = false;
    }

    std::vector<DrawItem> items;
    std::vector<float> xy;
    std::string text;
    std::exception_ptr error;
    bool last = false;
    std::uint64_t fileSize = 0;
};

// Blocks travel from the reading thread to the drawing thread and back for
// reuse; at most Capacity exist, so memory stays fixed however large the
// file is.
class BlockQueue {
public:
    static constexpr std::size_t Capacity = 4;

    // Reading side: an empty block, or null once the drawing side has quit.
    std::unique_ptr<DrawBlock> TakeEmpty()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return quit_ || !empty_.empty() || created_ < Capacity; });
        if (quit_) {
            return nullptr;
        }
        if (empty_.empty()) {
            ++created_;
            return std::make_unique<DrawBlock>();
        }
        auto block = std::move(empty_.back());
        empty_.pop_back();
        block->Clear();
        return block;
    }
    void PutFull(std::unique_ptr<DrawBlock> block)
    {
        {
            const std::lock_guard lock(mutex_);
            full_.push_back(std::move(block));
        }
        changed_.notify_all();
    }

    // Drawing side.
    std::unique_ptr<DrawBlock> TakeFull()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty(); });
        auto block = std::move(full_.front());
        full_.pop_front();
        return block;
    }
    void PutEmpty(std::unique_ptr<DrawBlock> block)
    {
        {
            const std::lock_guard lock(mutex_);
            empty_.push_back(std::move(block));
        }
        changed_.notify_all();
    }
    void Quit()
    {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<DrawBlock>> full_;
    std::vector<std::unique_ptr<DrawBlock>> empty_;
    std::size_t created_ = 0;
    bool quit_ = false;
};

// The reading side of a drawing: reads the input a second time into the
// workspace, recomputes each polygon's centroid exactly as the analysis did
// and turns positions into canvas units. Runs on its own thread, so the
// drawing side only draws.
void ReadRecords(const std::string& path, Workspace& ws, const CanvasTransform& transform, BlockQueue& queue)
{
    std::unique_ptr<DrawBlock> block = queue.TakeEmpty();
    if (!block) {
        return;
    }
    try {
        BnaInput in(path);
        block->fileSize = in.FileSize();
        std::string firstName;
        std::string secondName;
        PolygonRecord& poly = ws.curPoly;
        while (!in.AtEnd()) {
            if (block->Full()) {
                queue.PutFull(std::move(block));
                block = queue.TakeEmpty();
                if (!block) {
                    return;
                }
                block->fileSize = in.FileSize();
            }
            ws.ResetPolygon();
            ReadBnaHeader(in, firstName, secondName, ws);
            DrawItem* item = &block->items.emplace_back();
            item->nameOffset = block->text.size();
            item->nameSize = firstName.size();
            block->text.append(firstName);
            item->nPoints = poly.nPoints;
            if (poly.nPoints > MaxPoints) {
                item->stage = Stage::Skipped;
                SkipBnaPoints(in, ws);
                continue;
            }
            ReadBnaPoints(in, ws);
            ComputeExtent(ws);

            item->stage = Stage::Outline;
            item->pointOffset = block->xy.size();
            const float* x = ws.pointX.data();
            const float* y = ws.pointY.data();
            // A lone point has no segment, so its position is never handed over.
            for (int k = 0; k < poly.nPoints && poly.nPoints >= 2; ++k) {
                const float cx = Single(transform.X(x[k]));
                const float cy = Single(transform.Y(y[k]));
                block->xy.push_back(cx);
                block->xy.push_back(cy);
                ++item->pointCount;
            }

            ComputeMidPoint(ws);
            ProjectPoints(ws);
            ComputeArea(ws, poly);
            ComputeCentroid(ws, poly);
            item->xc = transform.X(poly.centroidX);
            item->yc = transform.Y(poly.centroidY);
            item->stage = Stage::Marker;
            item->bytesRead = in.BytesRead();
        }
    } catch (...) {
        block->error = std::current_exception();
    }
    block->last = true;
    queue.PutFull(std::move(block));
}

// Ends the reading thread however the drawing side leaves.
class ReaderThread {
public:
    ReaderThread(const std::string& path, Workspace& ws, const CanvasTransform& transform, BlockQueue& queue)
        : queue_(queue), thread_([&path, &ws, &transform, &queue] { ReadRecords(path, ws, transform, queue); })
    {
    }
    ~ReaderThread()
    {
        queue_.Quit();
        thread_.join();
    }
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

private:
    BlockQueue& queue_;
    std::thread thread_;
};

}  // namespace

void MapDrawing::ResetMapExtent()
{
    zarn::ResetMapExtent(mapExtent_);
}

void MapDrawing::GrowMapExtent(const PolygonRecord& poly)
{
    zarn::GrowMapExtent(mapExtent_, poly);
}

bool MapDrawing::DrawMap(RunHost& host)
{
    PadMapExtent(mapExtent_);
    const MapScale scale = ComputeMapScale(mapExtent_);
    const CanvasTransform transform(mapExtent_, scale);
    try {
        DrawRecords(host, transform);
        return true;
    } catch (const RunError& e) {
        host.ReportCause(e.what());
    } catch (const std::bad_alloc&) {
        host.ReportCause("out of memory while drawing");
    } catch (const std::system_error& e) {
        host.ReportCause(std::string("the drawing could not start its reading thread: ") + e.what());
    }
    host.ShowCritical(DrawFailedMessage);
    return false;
}

void MapDrawing::DrawRecords(RunHost& host, const CanvasTransform& transform)
{
    const std::string path = host.FileName();
    BlockQueue queue;
    const ReaderThread reader(path, ws_, transform, queue);
    std::string line;
    for (;;) {
        std::unique_ptr<DrawBlock> block = queue.TakeFull();
        for (const DrawItem& item : block->items) {
            line.assign("Read polygon ").append(block->text, item.nameOffset, item.nameSize).append(" with ");
            line.append(std::to_string(item.nPoints)).append(" points for drawing.");
            host.AppendProgress(line);
            if (item.stage == Stage::Skipped || item.stage == Stage::Header) {
                continue;
            }
            canvas_.SetForeColor(settings_.lineColor);
            if (settings_.lineWidth < std::numeric_limits<std::int16_t>::min() ||
                settings_.lineWidth > std::numeric_limits<std::int16_t>::max()) {
                throw RunError("the line width " + std::to_string(settings_.lineWidth) +
                               " is outside the range of a pen width");
            }
            canvas_.SetDrawWidth(static_cast<std::int16_t>(settings_.lineWidth));
            canvas_.Polyline(block->xy.data() + item.pointOffset, item.pointCount);
            if (item.stage != Stage::Marker) {
                continue;
            }
            const double markerRadius = settings_.centroidSize * 0.2;
            canvas_.SetForeColor(DotColour);
            canvas_.PSet(Single(item.xc), Single(item.yc));
            canvas_.SetCurrentX(Single(item.xc + markerRadius));
            canvas_.SetCurrentY(Single(item.yc - markerRadius));
            canvas_.SetForeColor(settings_.fontColor);
            if (settings_.showText != 0) {
                canvas_.Print(std::string_view(block->text).substr(item.nameOffset, item.nameSize));
            }
            canvas_.SetForeColor(settings_.centroidBorderColor);
            canvas_.SetFillColor(settings_.centroidFillColor);
            canvas_.Circle(Single(item.xc), Single(item.yc), Single(markerRadius), settings_.centroidBorderColor);
            host.Progress(item.bytesRead, block->fileSize);
        }
        if (block->error) {
            std::rethrow_exception(block->error);
        }
        if (block->last) {
            return;
        }
        queue.PutEmpty(std::move(block));
    }
}

void MapDrawing::SaveMap(const std::string& path)
{
    canvas_.SavePicture(path);
}

}  // namespace zarn
