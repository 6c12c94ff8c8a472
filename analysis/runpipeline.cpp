#include "runpipeline.h"

#include "geometry.h"
#include "numbertext.h"
#include "ringrule.h"
#include "safefile.h"
#include "vectorstate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

namespace zarn {

namespace {

// The size of a chunk of the lines kept back.
constexpr std::size_t HeldChunkBytes = std::size_t{1} << 20;

}  // namespace

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
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(line.size(), UINT32_MAX));
    if (held_.empty() || held_.back().size() + sizeof size + size > held_.back().capacity()) {
        held_.emplace_back().reserve(std::max(HeldChunkBytes, sizeof size + size));
    }
    held_.back().append(reinterpret_cast<const char*>(&size), sizeof size).append(line.substr(0, size));
}

void ProgressLines::Release()
{
    holding_ = false;
    std::vector<std::string> held;
    held.swap(held_);
    for (std::string& chunk : held) {
        std::uint32_t size = 0;
        for (std::size_t at = 0; at < chunk.size(); at += sizeof size + size) {
            std::memcpy(&size, chunk.data() + at, sizeof size);
            host_.AppendProgress(std::string_view(chunk).substr(at + sizeof size, size));
        }
        std::string().swap(chunk);
    }
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
