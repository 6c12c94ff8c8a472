#include "analysisrun.h"

#include "bnainput.h"
#include "coordinatescan.h"
#include "geometry.h"
#include "numbertext.h"
#include "recordstream.h"
#include "resultfiles.h"
#include "runerror.h"
#include "runoutput.h"

#ifdef ZARN_HAVE_GEODESIC
#include "geodesicfile.h"
#endif

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace zarn {

namespace {

constexpr std::string_view Separator = ", ";

// The further outputs of one run. An output that fails is abandoned on its
// own and the run goes on; the summary names it with its cause, and the run
// reports the first cause once it is done.
class Outputs {
public:
    explicit Outputs(const std::vector<RunOutput*>& outputs) : all_(outputs), active_(outputs) {}
    ~Outputs()
    {
        for (RunOutput* output : active_) {
            output->Abandon();
        }
    }
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    bool Empty() const { return active_.empty() && completed_.empty(); }

    template <typename Step>
    void ForEach(Step step)
    {
        for (std::size_t i = 0; i < active_.size();) {
            try {
                step(*active_[i]);
                ++i;
            } catch (const std::exception& e) {
                Fail(i, e);
            }
        }
    }
    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host)
    {
        ForEach([&](RunOutput& o) { o.Open(names, inputPath, host); });
    }
    void Add(const RecordResult& result)
    {
        ForEach([&](RunOutput& o) { o.Add(result); });
    }
    void Close(RunHost& host)
    {
        ForEach([&](RunOutput& o) {
            host.Phase(RunPhase::Writing, o.Caption());
            o.Close(host);
        });
        completed_.swap(active_);
    }
    // In the order the outputs were given: the lines of each one completed,
    // and for each one that failed, what it is and why.
    void AppendSummary(RunHost& host)
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
    const std::string* FirstFailure() const { return failures_.empty() ? nullptr : &failures_.front().second; }

private:
    void Fail(std::size_t i, const std::exception& e)
    {
        RunOutput* output = active_[i];
        output->Abandon();
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
        failures_.emplace_back(output, dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what());
    }

    std::vector<RunOutput*> all_;
    std::vector<RunOutput*> active_;
    std::vector<RunOutput*> completed_;
    std::vector<std::pair<RunOutput*, std::string>> failures_;
};

#ifdef ZARN_HAVE_GEODESIC
// The ellipsoid figures of a record, with the comparison to the classic area.
void MeasureOnEllipsoid(EllipsoidMeter& meter, const StreamRecord& record, const PolygonRecord* classic,
                        Coordinates coordinates, GeodesicFigures& figures)
{
    if (record.ellipsoid != nullptr) {
        figures = *record.ellipsoid;
    } else {
        meter.Measure(record.nPoints, record.lon, record.lat, record.pointsRead, figures, coordinates);
    }
    if (classic != nullptr && figures.hasFigures && (figures.flags & NoRing) == 0 &&
        std::fabs(std::fabs(classic->area) - figures.areaKm2) > 0.01 * figures.areaKm2) {
        figures.flags |= ClassicDiffers;
    }
}
#endif

// The record loop of one run, with the lines it adds to the progress list.
// Returns the 1-based number of the record at which the user stopped the run,
// 0 when it read to the end.
std::uint64_t AnalyseRecords(Workspace& ws, MapStage* map, RunHost& host, BnaInput& in, ResultFiles& results,
                             const RunOptions& options, Coordinates coordinates, Outputs& outputs)
{
    const bool geodesic = options.geodesic;
    const std::string decimal = host.DecimalSeparator();
    const std::string maxPoints = std::to_string(MaxPoints);
    std::string line;
#ifdef ZARN_HAVE_GEODESIC
    EllipsoidMeter meter;
#endif
    GeodesicFigures figures;
    const auto addToOutputs = [&](const StreamRecord& record, const PolygonRecord* classic) {
        if (outputs.Empty()) {
            return;
        }
#ifdef ZARN_HAVE_GEODESIC
        if (geodesic && classic == nullptr) {
            MeasureOnEllipsoid(meter, record, nullptr, coordinates, figures);
        }
#endif
        outputs.Add(RecordResult{record, classic, geodesic ? &figures : nullptr, coordinates});
    };
    // From what was asked, not from the outputs that opened: the progress
    // lines show the ellipsoid figures even when their table cannot be written.
    RecordStream stream(in, {.keepDegrees = geodesic || !options.outputs.empty(),
                             .shareEllipsoid = geodesic && coordinates == Coordinates::Degrees});
    std::uint64_t recordNumber = 0;
    while (const StreamRecord* record = stream.Next()) {
        ++recordNumber;
        if (host.StopRequested()) {
            return recordNumber;
        }
        ws.ResetPolygon();
        RecordStream::Load(*record, ws);
        const std::string_view firstName = record->firstName;
        PolygonRecord& poly = ws.curPoly;

        line.assign("Read polygon ").append(firstName).append(" with ");
        line.append(std::to_string(poly.nPoints)).append(" points.");
        host.AppendProgress(line);

        if (poly.nPoints > MaxPoints) {
            host.AppendProgress("");
            line.assign("The polygon ").append(firstName).append(" consists of ");
            line.append(std::to_string(poly.nPoints)).append(" points.");
            host.AppendProgress(line);
            host.AppendProgress("ZARN can treat only polygons with up to " + maxPoints + " points.");
            host.AppendProgress("Therefore this polygon is skipped.");
            host.AppendProgress("");
            ws.tooManyPoints = true;
            if (map != nullptr) {
                map->KeepRecord(*record, nullptr, stream.FileSize());
            }
            if (record->complete) {
                addToOutputs(*record, nullptr);
                host.Progress(record->bytesRead, stream.FileSize());
            }
            continue;
        }
        if (!record->complete) {
            if (map != nullptr) {
                map->KeepRecord(*record, nullptr, stream.FileSize());
            }
            continue;  // the next record is the failure that ended it
        }

        ComputeExtent(ws);
        if (map != nullptr) {
            map->GrowMapExtent(poly);
        }
        ComputeMidPoint(ws);
        ProjectPoints(ws);

        ComputeArea(ws, poly);
        line.assign("Area (sq km): ");
        AppendNumber(line, std::fabs(poly.area), decimal);
        host.AppendProgress(line);
#ifdef ZARN_HAVE_GEODESIC
        if (geodesic) {
            MeasureOnEllipsoid(meter, *record, &poly, coordinates, figures);
            line.assign("Area on the WGS84 ellipsoid (sq km): ");
            AppendNumber(line, figures.areaKm2, decimal);
            host.AppendProgress(line);
        }
#endif
        results.WriteAreaRecord(firstName, record->secondName, poly);

        ComputeCentroid(ws, poly);
        line.assign("Center of Gravity: (");
        AppendNumber(line, poly.centroidX, decimal);
        line.append(Separator);
        AppendNumber(line, poly.centroidY, decimal);
        line.append(")");
        host.AppendProgress(line);
        results.WriteCentroidRecord(firstName, record->secondName, poly);
        addToOutputs(*record, &poly);
        if (map != nullptr) {
            map->KeepRecord(*record, &poly, stream.FileSize());
        }

        host.Progress(record->bytesRead, stream.FileSize());
    }
    return 0;
}

RunOutcome Run(Workspace& ws, MapStage* map, RunHost& host, const RunOptions& options)
{
    ws.tooManyPoints = false;
    const std::string inputPath = host.FileName();
    const std::string inputTitle = host.FileTitle();
    const OutputNames names = DeriveOutputNames(inputPath, inputTitle);

    std::vector<RunOutput*> wanted;
#ifdef ZARN_HAVE_GEODESIC
    GeodesicFile geodesicFile;
    if (options.geodesic) {
        wanted.push_back(&geodesicFile);
    }
#else
    if (options.geodesic) {
        throw RunError("this build has no figures on the ellipsoid (it was made without GeographicLib)");
    }
#endif
    wanted.insert(wanted.end(), options.outputs.begin(), options.outputs.end());
    Outputs outputs(wanted);

    host.AppendProgress(" Open " + inputPath);
    host.Phase(RunPhase::Reading, inputTitle);
    {
        // The further outputs must know before their first row whether the
        // coordinates are degrees: a first pass over the file tells.
        const Coordinates coordinates = outputs.Empty() ? Coordinates::Degrees : ScanCoordinates(inputPath);
        auto in = std::make_unique<BnaInput>(inputPath);
        ResultFiles results(names, inputPath);
        outputs.Open(names, inputPath, host);
        const std::uint64_t stoppedAt = AnalyseRecords(ws, map, host, *in, results, options, coordinates, outputs);
        in.reset();
        if (stoppedAt != 0) {
            // The outputs are abandoned as the run returns.
            results.Discard();
            host.AppendProgress("Stopped by the user at record " + std::to_string(stoppedAt) + ".");
            return RunOutcome::Stopped;
        }
        results.Close();
        outputs.Close(host);
    }

    bool drawn = true;
    if (map != nullptr) {
        host.Phase(RunPhase::Drawing, inputTitle);
        drawn = map->DrawMap(host);
    }

    host.SetListsBold();
    host.AppendSummary(" ");
    host.AppendSummary("The following files are written to your hard disk");
    host.AppendSummary(" at the folder " + names.outputFolder);
    host.AppendSummary(" based on the input from " + inputTitle + ":");
    host.AppendSummary("\tCentroids: \t" + names.baseName + "Centroid.bna");
    host.AppendSummary("\tAreas (sq km): \t" + names.baseName + "Area.csv");
    if (map != nullptr) {
        map->SaveMap(names.mapPath);
        host.AppendSummary("\tMap: \t\t" + names.baseName + "Map.bmp");
    }
    outputs.AppendSummary(host);
    if (ws.tooManyPoints) {
        host.ShowCritical("There was at least one polygon with too many points (>" + std::to_string(MaxPoints) +
                          ").");
    }
    host.RepaintSummary();
    if (const std::string* failure = outputs.FirstFailure()) {
        throw RunError(*failure);
    }
    return drawn ? RunOutcome::Completed : RunOutcome::DrawingFailed;
}

}  // namespace

RunOutcome ProcessBnaFile(Workspace& ws, MapStage* map, RunHost& host, const RunOptions& options)
{
    if (map != nullptr) {
        map->ResetMapExtent();
    }
    std::optional<std::string> cause;
    try {
        return Run(ws, map, host, options);
    } catch (const RunError& e) {
        cause = e.what();
    } catch (const std::bad_alloc&) {
        cause = "out of memory";
    } catch (const std::exception& e) {
        cause = e.what();  // a library's own failure (a mutex, a length) ends the run as any other
    }
    host.ReportCause(*cause);
    host.ShowCritical(RunFailedMessage);
    return RunOutcome::Failed;
}

}  // namespace zarn
