#include "runpipeline.h"

#include "geometry.h"
#include "numbertext.h"
#include "ringrule.h"
#include "runerror.h"
#include "safefile.h"
#include "vectorstate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

namespace zarn {

namespace {

// Lines kept back in memory up to this many bytes, the rest in the spool.
constexpr std::size_t HeldMemoryBytes = std::size_t{1} << 20;

}  // namespace

ProgressLines::~ProgressLines()
{
    if (spool_ != nullptr) {
        std::fclose(spool_);
    }
}

void ProgressLines::AddNumber(std::string_view text, double value)
{
    if (!shown_) {
        return;
    }
    line_.assign(text);
    AppendNumber(line_, value, decimal_);
    Add(line_);
}

void ProgressLines::AddPoint(std::string_view text, double x, double y)
{
    if (!shown_) {
        return;
    }
    line_.assign(text).append("(");
    AppendNumber(line_, x, decimal_);
    line_.append(", ");
    AppendNumber(line_, y, decimal_);
    line_.append(")");
    Add(line_);
}

void ProgressLines::Keep(std::string_view line)
{
    if (held_.capacity() < HeldMemoryBytes) {
        held_.reserve(HeldMemoryBytes + 4096);
    }
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(line.size(), UINT32_MAX));
    held_.append(reinterpret_cast<const char*>(&size), sizeof size).append(line.substr(0, size));
    if (held_.size() < HeldMemoryBytes) {
        return;
    }
    if (spool_ == nullptr) {
        spool_ = SpoolFile();
        if (spool_ == nullptr) {
            return;  // kept in memory instead
        }
    }
    if (std::fwrite(held_.data(), 1, held_.size(), spool_) != held_.size()) {
        throw RunError(std::string("cannot keep the progress lines in a temporary file: ") + std::strerror(errno));
    }
    held_.clear();
}

void ProgressLines::Release()
{
    holding_ = false;
    // Gives out the whole lines at the start of `bytes` and returns how many
    // bytes they took.
    const auto giveOut = [&](std::string_view bytes) {
        std::size_t at = 0;
        std::uint32_t size = 0;
        while (bytes.size() - at >= sizeof size) {
            std::memcpy(&size, bytes.data() + at, sizeof size);
            if (bytes.size() - at - sizeof size < size) {
                break;
            }
            host_.AppendProgress(bytes.substr(at + sizeof size, size));
            at += sizeof size + size;
        }
        return at;
    };
    if (spool_ != nullptr) {
        std::rewind(spool_);
        std::string chunk;
        std::size_t carried = 0;  // the start of a line not yet whole
        for (;;) {
            chunk.resize(std::max(HeldMemoryBytes, 2 * carried));
            const std::size_t got = std::fread(chunk.data() + carried, 1, chunk.size() - carried, spool_);
            if (got == 0) {
                break;
            }
            const std::size_t used = giveOut(std::string_view(chunk.data(), carried + got));
            carried = carried + got - used;
            std::memmove(chunk.data(), chunk.data() + used, carried);
        }
        const bool failed = std::ferror(spool_) != 0 || carried != 0;
        std::fclose(spool_);
        spool_ = nullptr;
        if (failed) {
            throw RunError("cannot read the progress lines back from their temporary file");
        }
    }
    giveOut(held_);
    std::string().swap(held_);
}

PolygonRecord* ClassicStage::Measure(const StreamRecord& record)
{
    ws_.ResetPolygon();
    RecordStream::Load(record, ws_);
    const std::string_view firstName = record.firstName;
    PolygonRecord& poly = ws_.curPoly;
    std::string& line = lines_.Buffer();

    if (lines_.Shown()) {
        char count[16];
        const auto end = std::to_chars(count, count + sizeof count, poly.nPoints).ptr;
        line.assign("Read polygon ").append(firstName).append(" with ").append(count, end).append(" points.");
        lines_.Add(line);
    }
    if (poly.nPoints > MaxPoints) {
        lines_.Add("");
        line.assign("The polygon ").append(firstName).append(" consists of ");
        line.append(std::to_string(poly.nPoints)).append(" points.");
        lines_.Add(line);
        lines_.Add("ZARN can treat only polygons with up to " + maxPoints_ + " points.");
        lines_.Add("Therefore this polygon is skipped.");
        lines_.Add("");
        ws_.tooManyPoints = true;
        return nullptr;
    }
    if (!record.complete) {
        return nullptr;  // the next record is the failure that ended it
    }

    ComputeExtent(ws_);
    if (map_ != nullptr) {
        map_->GrowMapExtent(poly);
    }
    ComputeMidPoint(ws_);
    ProjectPoints(ws_);
    ComputeArea(ws_, poly);
    lines_.AddNumber("Area (sq km): ", std::fabs(poly.area));
    return &poly;
}

void ClassicStage::Finish(const StreamRecord& record, PolygonRecord& poly)
{
    results_.WriteAreaRecord(record.firstName, record.secondName, poly);
    ComputeCentroid(ws_, poly);
    lines_.AddPoint("Center of Gravity: ", poly.centroidX, poly.centroidY);
    results_.WriteCentroidRecord(record.firstName, record.secondName, poly);
}

void OutputStage::AppendSummary(RunHost& host)
{
    for (RunOutput* output : all_) {
        if (std::find(completed_.begin(), completed_.end(), output) != completed_.end()) {
            output->AppendSummary(host);
        } else if (const auto failed = std::find_if(failures_.begin(), failures_.end(),
                                                    [&](const auto& f) { return f.first == output; });
                   failed != failures_.end()) {
            std::string line(1, '\t');  // built by appending: GCC 12 warns wrongly on "\t" + string
            host.AppendSummary(line.append(output->Caption()).append(": \tnot written: ").append(failed->second));
        }
    }
}

void OutputStage::NoteFiles(const RunOutput& output) noexcept
{
    try {
        for (const RunOutput::OutputFile& file : output.Files()) {
            FileLedger::Note(file.path, file.written);
        }
    } catch (const std::exception&) {
        // Out of memory: the ledger misses a line, the files are as they are.
    }
}

void OutputStage::Fail(std::size_t i, const std::exception& e)
{
    RunOutput* output = active_[i];
    output->Abandon();
    NoteFiles(*output);
    active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
    failures_.emplace_back(output, dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what());
}

namespace {

// Whether a record's pairs show that the file's coordinates are not degrees,
// as ScanCoordinates judges them.
bool ShowsNotDegrees(const StreamRecord& record)
{
    for (std::size_t k = 0; k < record.pointsRead; ++k) {
        if (!(std::fabs(record.lat[k]) <= 90.0) || std::fabs(record.lon[k]) > LongitudeLimit) {
            return true;
        }
    }
    return false;
}

std::uint64_t ConsumeAll(RecordStream& stream, RunStages& stages, ProgressLines& lines, Coordinates coordinates,
                         bool decide, bool& notDegrees)
{
    RunHost& host = lines.Host();
    std::uint64_t recordNumber = 0;
    while (const StreamRecord* record = stream.Next()) {
        ++recordNumber;
        if (decide && ShowsNotDegrees(*record)) {
            notDegrees = true;
            return 0;
        }
        if (host.StopRequested()) {
            return recordNumber;
        }
        PolygonRecord* classic = stages.classic.Measure(*record);
        // A record without classic figures is measured on the ellipsoid only
        // for the further outputs' rows.
        const bool toOutputs = record->complete && !stages.outputs.Empty();
        const GeodesicFigures* ellipsoid = nullptr;
        if (stages.ellipsoid != nullptr && (classic != nullptr || toOutputs)) {
            ellipsoid = &stages.ellipsoid->Measure(*record, classic, coordinates);
            if (classic != nullptr) {
                lines.AddNumber("Area on the WGS84 ellipsoid (sq km): ", ellipsoid->areaKm2);
            }
        }
        if (classic != nullptr) {
            stages.classic.Finish(*record, *classic);
        }
        if (toOutputs) {
            stages.outputs.Add(RecordResult{*record, classic, ellipsoid, coordinates});
        }
        if (stages.map != nullptr) {
            stages.map->KeepRecord(*record, classic, stream.FileSize());
        }
        if (record->complete) {
            host.Progress(record->bytesRead, stream.FileSize());
            ClearUpperVectorState();  // after a window's repaint
        }
    }
    return 0;
}

}  // namespace

Consumed ConsumeRecords(RecordStream& stream, RunStages& stages, ProgressLines& lines, Coordinates coordinates,
                        bool decide)
{
    if (decide) {
        lines.Hold();
    }
    Consumed consumed;
    try {
        consumed.stoppedAt = ConsumeAll(stream, stages, lines, coordinates, decide, consumed.notDegrees);
    } catch (...) {
        // What could be read decides: the lines up to the failure go out.
        if (lines.Holding()) {
            lines.Release();
        }
        throw;
    }
    if (lines.Holding() && !consumed.notDegrees) {
        lines.Release();
    }
    return consumed;
}

}  // namespace zarn
