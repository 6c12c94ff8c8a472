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

#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <optional>

namespace zarn {

namespace {

constexpr std::string_view Separator = ", ";

// The further outputs of one run. An output that fails is abandoned on its
// own and the run goes on; its cause is reported once the run is done.
class Outputs {
public:
    explicit Outputs(const std::vector<RunOutput*>& outputs) : active_(outputs) {}
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
        ForEach([&](RunOutput& o) { o.Close(host); });
        completed_.swap(active_);
    }
    void AppendSummary(RunHost& host)
    {
        for (RunOutput* output : completed_) {
            output->AppendSummary(host);
        }
    }
    const std::optional<std::string>& FirstFailure() const { return failure_; }

private:
    void Fail(std::size_t i, const std::exception& e)
    {
        active_[i]->Abandon();
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
        if (!failure_) {
            failure_ = dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what();
        }
    }

    std::vector<RunOutput*> active_;
    std::vector<RunOutput*> completed_;
    std::optional<std::string> failure_;
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
void AnalyseRecords(Workspace& ws, MapStage* map, RunHost& host, BnaInput& in, ResultFiles& results,
                    bool geodesic, Coordinates coordinates, Outputs& outputs)
{
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
    RecordStream stream(in, {.keepDegrees = !outputs.Empty(),
                             .shareEllipsoid = geodesic && coordinates == Coordinates::Degrees});
    while (const StreamRecord* record = stream.Next()) {
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
            if (record->complete) {
                addToOutputs(*record, nullptr);
                host.Progress(record->bytesRead, stream.FileSize());
            }
            continue;
        }
        if (!record->complete) {
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

        host.Progress(record->bytesRead, stream.FileSize());
    }
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
    {
        // The further outputs must know before their first row whether the
        // coordinates are degrees: a first pass over the file tells.
        const Coordinates coordinates = outputs.Empty() ? Coordinates::Degrees : ScanCoordinates(inputPath);
        auto in = std::make_unique<BnaInput>(inputPath);
        ResultFiles results(names, inputPath);
        outputs.Open(names, inputPath, host);
        AnalyseRecords(ws, map, host, *in, results, options.geodesic, coordinates, outputs);
        in.reset();
        results.Close();
        outputs.Close(host);
    }

    bool drawn = true;
    if (map != nullptr) {
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
    if (outputs.FirstFailure()) {
        throw RunError(*outputs.FirstFailure());
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
