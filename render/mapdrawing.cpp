#include "mapdrawing.h"

#include "bnainput.h"
#include "geometry.h"
#include "recordstream.h"
#include "runerror.h"
#include "vectorstate.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
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

constexpr const char* ReadBackFailed = "the points kept for the map cannot be read back";

// The share of the bytes kept that the caller's thread draws when the drawing
// splits: less than half, since it also reads the second half's records
// again and gives out every progress line; measured on 100 and 200 MB files,
// both threads then end about together.
constexpr double SecondShare = 0.38;
// When the progress lines go nowhere (a quiet run), the threads share the
// drawing as they go: the second thread starts on the records after this
// share of the bytes kept, then takes stretches of about a sixteenth of the
// caller's part from its end, while the caller draws them from the start.
constexpr double QuietCallerShare = 0.7;
constexpr int QuietStretches = 16;

// Records that are drawn; the others only have their line.
bool Drawn(const PointStore::Record& record)
{
    return record.nPoints <= MaxPoints && record.complete;
}

// A count the second thread raises and the caller's waits on. Not the
// wait and notify of std::atomic: libstdc++ 12's, where there is no futex
// (Windows), can lose a notification and leave the caller asleep for good.
// Publish only sets it; Notify sets it and wakes the caller, and the last
// change must come through Notify.
class Signal {
public:
    std::uint64_t Load() const { return value_.load(std::memory_order_acquire); }
    void Publish(std::uint64_t value) { value_.store(value, std::memory_order_release); }
    void Notify(std::uint64_t value)
    {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            value_.store(value, std::memory_order_release);
        }
        changed_.notify_one();
    }
    // Returns the count once it is no longer `seen`.
    std::uint64_t WaitChange(std::uint64_t seen)
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return value_.load(std::memory_order_acquire) != seen; });
        return value_.load(std::memory_order_acquire);
    }

private:
    std::atomic<std::uint64_t> value_{0};
    std::mutex lock_;
    std::condition_variable changed_;
};

// Stops and joins a drawing's second thread on every way out: a thread left
// running would end the program.
class HelperJoin {
public:
    HelperJoin(std::atomic<bool>& stop, std::thread& helper) : stop_(stop), helper_(helper) {}
    ~HelperJoin() { Join(); }
    HelperJoin(const HelperJoin&) = delete;
    HelperJoin& operator=(const HelperJoin&) = delete;

    void Join()
    {
        if (helper_.joinable()) {
            stop_.store(true, std::memory_order_relaxed);
            helper_.join();
        }
    }

private:
    std::atomic<bool>& stop_;
    std::thread& helper_;
};

}  // namespace

MapDrawing::~MapDrawing()
{
    WaitForCloser();
}

void MapDrawing::ResetMapExtent()
{
    WaitForCloser();
    zarn::ResetMapExtent(mapExtent_);
    store_.Clear();
    kept_ = false;
}

void MapDrawing::ForgetKept()
{
    std::FILE* spool = store_.ReleaseSpool();
    if (spool == nullptr) {
        return;
    }
    WaitForCloser();
    try {
        closer_ = std::thread([spool] { std::fclose(spool); });
    } catch (const std::system_error&) {
        std::fclose(spool);
    }
}

void MapDrawing::WaitForCloser()
{
    if (closer_.joinable()) {
        closer_.join();
    }
}

void MapDrawing::GrowMapExtent(const PolygonRecord& poly)
{
    zarn::GrowMapExtent(mapExtent_, poly);
}

void MapDrawing::KeepRecord(const StreamRecord& record, const PolygonRecord* accepted, std::uint64_t fileSize)
{
    if (!kept_ && settings_.showText != 0) {
        // While the reading thread parses the rest of the file, this one has
        // time to spare: the labels' font costs nothing more when drawing.
        // Keeping never fails; should this, the first label does it again.
        try {
            canvas_.PrepareText();
        } catch (const std::exception&) {
        }
        ClearUpperVectorState();
    }
    kept_ = true;
    fileSize_ = fileSize;
    store_.Add(record, accepted);
}

bool MapDrawing::DrawMap(RunHost& host)
{
    PadMapExtent(mapExtent_);
    const MapScale scale = ComputeMapScale(mapExtent_);
    const CanvasTransform transform(mapExtent_, scale);
    announced_ = host.ShowsProgress();
    ClearUpperVectorState();  // before the drawing thread starts with this one's state
    try {
        if (kept_) {
            store_.Rewind();
        }
        if (kept_ && store_.Usable()) {
            DrawKept(host, transform);
        } else {
            DrawRecords(host, transform);
        }
        ForgetKept();
        return true;
    } catch (const RunError& e) {
        host.ReportCause(e.what());
    } catch (const std::bad_alloc&) {
        host.ReportCause("out of memory while drawing");
    } catch (const std::exception& e) {
        host.ReportCause(e.what());
    }
    ForgetKept();
    host.ShowCritical(DrawFailedMessage);
    return false;
}

void MapDrawing::DrawKept(RunHost& host, const CanvasTransform& transform)
{
    if (!announced_ && DrawKeptShared(host, transform)) {
        return;
    }
    const PointStore::Mark second = store_.MarkNear(SecondShare);
    if (announced_ && second.index > 0 && second.index < store_.Size() && DrawKeptSplit(host, transform, second)) {
        return;
    }
    std::size_t drawn = 0;
    while (const PointStore::Record* record = store_.Next()) {
        DrawRecord(host, transform, *record, fileSize_, false);
        ++drawn;
    }
    if (drawn != store_.Size() || !store_.Usable()) {
        throw RunError(ReadBackFailed);
    }
}

bool MapDrawing::DrawKeptSplit(RunHost& host, const CanvasTransform& transform, PointStore::Mark second)
{
    std::unique_ptr<Canvas> fork = canvas_.Fork();
    if (!fork) {
        return false;
    }
    const std::size_t count = store_.Size();
    // How far the second half has come: `drawn` counts its records drawn,
    // published as it grows, with Finished set at the end; `end` is then the
    // first record it did not draw, with the reason in `error` or `unread`.
    static constexpr std::size_t Finished = std::size_t{1} << (std::numeric_limits<std::size_t>::digits - 1);
    struct Outcome {
        Signal drawn;
        std::size_t end = 0;
        std::exception_ptr error;
        bool unread = false;
    } outcome;
    std::atomic<bool> stop{false};
    const DisplaySettings settings = settings_;
    std::thread helper;
    try {
        helper = std::thread([&, canvas = fork.get()] {
            std::size_t k = second.index;
            try {
                Sketch sketch(*canvas, settings);
                PointStore::Reader reader(store_, second, count);
                for (; k < count && !stop.load(std::memory_order_relaxed); ++k) {
                    const PointStore::Record* record = reader.Next();
                    if (record == nullptr) {
                        outcome.unread = true;
                        break;
                    }
                    if (Drawn(*record)) {
                        sketch.Outline(transform, *record);
                        sketch.Marker(transform, record->centroidX, record->centroidY, record->firstName);
                    }
                    // Wakes the caller's thread now and then, not per record.
                    const std::size_t drawn = k + 1 - second.index;
                    if (drawn % 64 == 0) {
                        outcome.drawn.Notify(drawn);
                    } else {
                        outcome.drawn.Publish(drawn);
                    }
                }
            } catch (...) {
                outcome.error = std::current_exception();
            }
            outcome.end = k;
            outcome.drawn.Notify((k - second.index) | Finished);
        });
    } catch (const std::system_error&) {
        return false;
    }
    // The helper is stopped and joined on every way out, a failure to give
    // out a line included.
    HelperJoin joiner{stop, helper};
    {
        // A failure here ends the drawing in the first half: nothing of the
        // second shows.
        PointStore::Reader reader(store_, PointStore::Mark{}, second.index);
        for (std::size_t k = 0; k < second.index; ++k) {
            const PointStore::Record* record = reader.Next();
            if (record == nullptr) {
                throw RunError(ReadBackFailed);
            }
            DrawRecord(host, transform, *record, fileSize_, false);
        }
    }

    // The second half's lines, read again without their points, as its
    // records are drawn, up to and including the record whose drawing
    // failed. Should a record the helper read not read again, the drawing
    // fails there with all the helper drew composed.
    PointStore::Reader lines(store_, second, count, false);
    bool lost = false;
    for (std::size_t k = second.index; k < count; ++k) {
        std::size_t drawn = outcome.drawn.Load();
        while ((drawn & ~Finished) <= k - second.index && (drawn & Finished) == 0) {
            drawn = outcome.drawn.WaitChange(drawn);
        }
        if ((drawn & ~Finished) <= k - second.index) {
            // The helper ended before this record.
            if (outcome.error != nullptr && k == outcome.end) {
                if (const PointStore::Record* record = lines.Next()) {
                    Announce(host, *record);
                }
            }
            break;
        }
        const PointStore::Record* record = lines.Next();
        if (record == nullptr) {
            lost = true;
            break;
        }
        Announce(host, *record);
        if (Drawn(*record)) {
            host.Progress(record->bytesRead, fileSize_);
            ClearUpperVectorState();
        }
    }
    joiner.Join();
    canvas_.Compose(*fork);
    if (outcome.error != nullptr) {
        std::rethrow_exception(outcome.error);
    }
    if (outcome.unread || lost) {
        throw RunError(ReadBackFailed);
    }
    return true;
}

bool MapDrawing::DrawKeptShared(RunHost& host, const CanvasTransform& transform)
{
    // The caller's stretches: stretch c runs from starts[c] to starts[c + 1];
    // the last start is where the second thread begins.
    std::vector<PointStore::Mark> starts{PointStore::Mark{}};
    for (int j = 1; j <= QuietStretches; ++j) {
        const PointStore::Mark mark = store_.MarkNear(QuietCallerShare * j / QuietStretches);
        if (mark.index > starts.back().index) {
            starts.push_back(mark);
        }
    }
    const std::size_t count = store_.Size();
    if (starts.size() < 2 || starts.back().index >= count) {
        return false;
    }
    std::unique_ptr<Canvas> fork = canvas_.Fork();
    if (!fork) {
        return false;
    }
    const PointStore::Mark second = starts.back();
    // Stretches before `claimed.taken` are the caller's, those from
    // `claimed.left` on the second thread's; each takes the next under the
    // lock until they meet.
    struct Claims {
        std::mutex lock;
        std::size_t taken = 0;
        std::size_t left;
    } claimed;
    claimed.left = starts.size() - 1;
    // The second thread's progress through its first part, in bytes read,
    // published now and then, with Finished set at its end; the first
    // failure is then in `error` or `unread`.
    static constexpr std::uint64_t Finished = std::uint64_t{1} << 63U;
    struct Outcome {
        Signal progress;
        std::exception_ptr error;
        bool unread = false;
    } outcome;
    std::atomic<bool> stop{false};
    const DisplaySettings settings = settings_;
    // Draws the records from `from` up to `end` on `canvas`; false when one
    // could not be read back.
    const auto drawStretch = [&](Canvas& canvas, PointStore::Mark from, std::size_t end, bool first) {
        Sketch sketch(canvas, settings);
        PointStore::Reader reader(store_, from, end);
        for (std::size_t k = from.index; k < end && !stop.load(std::memory_order_relaxed); ++k) {
            const PointStore::Record* record = reader.Next();
            if (record == nullptr) {
                return false;
            }
            if (Drawn(*record)) {
                sketch.Outline(transform, *record);
                sketch.Marker(transform, record->centroidX, record->centroidY, record->firstName);
            }
            // Wakes the caller's thread now and then, not per record.
            if (first && (k - from.index) % 64 == 63) {
                outcome.progress.Notify(record->bytesRead);
            }
        }
        return true;
    };
    std::thread helper;
    try {
        helper = std::thread([&] {
            // Every stretch taken is drawn on a blank canvas, under which
            // what came later is laid; the two canvases then change places,
            // so that each learns the labels' glyphs once. A failure leaves
            // only the stretch that failed to lay over the caller's canvas.
            std::unique_ptr<Canvas> under;
            bool drawing = false;  // `under` holds the stretch being drawn
            try {
                outcome.unread = !drawStretch(*fork, second, count, true);
                while (!outcome.unread && !stop.load(std::memory_order_relaxed)) {
                    if (!under || !under->ClearFork()) {
                        under = fork->Fork();
                    }
                    std::size_t c = 0;
                    {
                        const std::lock_guard<std::mutex> guard(claimed.lock);
                        if (!under || claimed.left <= claimed.taken) {
                            break;
                        }
                        c = --claimed.left;
                    }
                    drawing = true;
                    outcome.unread = !drawStretch(*under, starts[c], starts[c + 1].index, false);
                    if (outcome.unread) {
                        fork = std::move(under);
                        break;
                    }
                    under->Compose(*fork);
                    std::swap(fork, under);
                    drawing = false;
                }
            } catch (...) {
                outcome.error = std::current_exception();
                if (drawing) {
                    fork = std::move(under);
                }
            }
            outcome.progress.Notify(outcome.progress.Load() | Finished);
        });
    } catch (const std::system_error&) {
        return false;
    }
    HelperJoin joiner{stop, helper};
    // A failure here ends the drawing before the second thread's records:
    // nothing of theirs shows. The caller's stretches follow one another, so
    // one reader reads them all.
    PointStore::Reader reader(store_, PointStore::Mark{}, second.index);
    for (;;) {
        std::size_t c = 0;
        {
            const std::lock_guard<std::mutex> guard(claimed.lock);
            if (claimed.taken >= claimed.left) {
                break;
            }
            c = claimed.taken++;
        }
        for (std::size_t k = starts[c].index; k < starts[c + 1].index; ++k) {
            const PointStore::Record* record = reader.Next();
            if (record == nullptr) {
                throw RunError(ReadBackFailed);
            }
            DrawRecord(host, transform, *record, fileSize_, false);
        }
    }
    for (std::uint64_t progress = outcome.progress.Load(); (progress & Finished) == 0;) {
        progress = outcome.progress.WaitChange(progress);
        if (const std::uint64_t bytesRead = progress & ~Finished; bytesRead != 0) {
            host.Progress(bytesRead, fileSize_);
            ClearUpperVectorState();
        }
    }
    joiner.Join();
    canvas_.Compose(*fork);
    if (outcome.error != nullptr) {
        std::rethrow_exception(outcome.error);
    }
    if (outcome.unread) {
        throw RunError(ReadBackFailed);
    }
    return true;
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

void MapDrawing::Announce(RunHost& host, const PointStore::Record& record)
{
    if (!announced_) {
        return;
    }
    static constexpr std::string_view Before = "Read polygon ";
    static constexpr std::string_view After = " points for drawing.";
    char count[16] = " with ";
    const auto end = std::to_chars(count + 6, count + sizeof count, record.nPoints).ptr;
    line_.assign(Before).append(record.firstName).append(count, end).append(After);
    host.AppendProgress(line_);
}

void MapDrawing::DrawRecord(RunHost& host, const CanvasTransform& transform, const PointStore::Record& record,
                            std::uint64_t fileSize, bool inWorkspace)
{
    Announce(host, record);
    if (!Drawn(record)) {
        return;  // skipped, or the next record is the failure that ended it
    }
    sketch_.Outline(transform, record);
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
    sketch_.Marker(transform, centroidX, centroidY, record.firstName);
    host.Progress(record.bytesRead, fileSize);
    ClearUpperVectorState();  // after a window's repaint
}

void MapDrawing::Sketch::Outline(const CanvasTransform& transform, const PointStore::Record& record)
{
    const std::int32_t nPoints = record.nPoints;
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
        x_.resize(n);
        y_.resize(n);
        const std::size_t ready = ToCanvas(transform, record.x, record.y, n, x_.data(), y_.data());
        canvas_.Polyline(x_.data(), y_.data(), ready);
        if (ready < n) {
            PositionOverflows();
        }
    }
}

void MapDrawing::Sketch::Marker(const CanvasTransform& transform, double centroidX, double centroidY,
                                std::string_view name)
{
    const double xc = transform.X(centroidX);
    const double yc = transform.Y(centroidY);
    const double markerRadius = settings_.centroidSize * 0.2;
    canvas_.SetForeColor(DotColour);
    canvas_.PSet(Single(xc), Single(yc));
    canvas_.SetCurrentX(Single(xc + markerRadius));
    canvas_.SetCurrentY(Single(yc - markerRadius));
    canvas_.SetForeColor(settings_.fontColor);
    if (settings_.showText != 0) {
        canvas_.Print(name);
    }
    canvas_.SetForeColor(settings_.centroidBorderColor);
    canvas_.SetFillColor(settings_.centroidFillColor);
    canvas_.Circle(Single(xc), Single(yc), Single(markerRadius), settings_.centroidBorderColor);
}

void MapDrawing::SaveMap(const std::string& path)
{
    struct Closed {
        MapDrawing& map;
        ~Closed() { map.WaitForCloser(); }
    } closed{*this};
    canvas_.SavePicture(path);
}

}  // namespace zarn
