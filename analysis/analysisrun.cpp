#include "analysisrun.h"

#include "bnainput.h"
#include "geometry.h"
#include "numbertext.h"
#include "recordstream.h"
#include "resultfiles.h"
#include "runerror.h"

#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <optional>

namespace zarn {

namespace {

constexpr std::string_view Separator = ", ";

// The record loop of one run, with the lines it adds to the progress list.
void AnalyseRecords(Workspace& ws, MapStage* map, RunHost& host, BnaInput& in, ResultFiles& results)
{
    const std::string decimal = host.DecimalSeparator();
    const std::string maxPoints = std::to_string(MaxPoints);
    std::string line;
    RecordStream stream(in);
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
        results.WriteAreaRecord(firstName, record->secondName, poly);

        ComputeCentroid(ws, poly);
        line.assign("Center of Gravity: (");
        AppendNumber(line, poly.centroidX, decimal);
        line.append(Separator);
        AppendNumber(line, poly.centroidY, decimal);
        line.append(")");
        host.AppendProgress(line);
        results.WriteCentroidRecord(firstName, record->secondName, poly);

        host.Progress(record->bytesRead, stream.FileSize());
    }
}

RunOutcome Run(Workspace& ws, MapStage* map, RunHost& host)
{
    ws.tooManyPoints = false;
    const std::string inputPath = host.FileName();
    const std::string inputTitle = host.FileTitle();
    const OutputNames names = DeriveOutputNames(inputPath, inputTitle);

    host.AppendProgress(" Open " + inputPath);
    {
        auto in = std::make_unique<BnaInput>(inputPath);
        ResultFiles results(names, inputPath);
        AnalyseRecords(ws, map, host, *in, results);
        in.reset();
        results.Close();
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
    if (ws.tooManyPoints) {
        host.ShowCritical("There was at least one polygon with too many points (>" + std::to_string(MaxPoints) +
                          ").");
    }
    host.RepaintSummary();
    return drawn ? RunOutcome::Completed : RunOutcome::DrawingFailed;
}

}  // namespace

RunOutcome ProcessBnaFile(Workspace& ws, MapStage* map, RunHost& host)
{
    if (map != nullptr) {
        map->ResetMapExtent();
    }
    std::optional<std::string> cause;
    try {
        return Run(ws, map, host);
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
