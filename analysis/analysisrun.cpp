#include "analysisrun.h"

#include "bnainput.h"
#include "coordinatescan.h"
#include "recordstream.h"
#include "resultfiles.h"
#include "runerror.h"
#include "runoutput.h"
#include "runpipeline.h"
#include "safefile.h"

#include <exception>
#include <memory>
#include <new>
#include <optional>

namespace zarn {

namespace {

RunOutcome Run(Workspace& ws, MapStage* map, RunHost& host, const RunOptions& options)
{
    ws.tooManyPoints = false;
    const std::string inputPath = host.FileName();
    const std::string inputTitle = host.FileTitle();
    const OutputNames names = DeriveOutputNames(inputPath, inputTitle);

    std::vector<RunOutput*> wanted;
    std::unique_ptr<EllipsoidStage> ellipsoid;
    if (options.geodesic) {
        ellipsoid = MakeEllipsoidStage();
        wanted.push_back(&ellipsoid->Table());
    }
    wanted.insert(wanted.end(), options.outputs.begin(), options.outputs.end());
    OutputStage outputs(wanted);

    host.AppendProgress(" Open " + inputPath);
    host.Phase(RunPhase::Reading, inputTitle);
    // The further outputs must know before their first row whether the
    // coordinates are degrees: a first pass over the file tells.
    const Coordinates coordinates = outputs.Empty() ? Coordinates::Degrees : ScanCoordinates(inputPath);
    auto in = std::make_unique<BnaInput>(inputPath);
    ResultFiles results(names, inputPath);
    outputs.Open(names, inputPath, host);
    // Until the files are put in place the user may still end the run: the
    // files of this run are dropped (the outputs abandoned as the run
    // returns) and the earlier ones stay.
    const auto stopped = [&](const std::string& when) {
        results.Discard();
        host.AppendProgress("Stopped by the user " + when + ".");
        return RunOutcome::Stopped;
    };
    std::uint64_t stoppedAt = 0;
    {
        ProgressLines lines(host);
        ClassicStage classic(ws, map, lines, results);
        RunStages stages{.classic = classic, .ellipsoid = ellipsoid.get(), .outputs = outputs, .map = map};
        // From what was asked, not from the outputs that opened: the
        // progress lines show the ellipsoid figures even when their table
        // cannot be written.
        RecordStream stream(*in, {.keepDegrees = ellipsoid != nullptr || !options.outputs.empty(),
                                  .readAhead = ellipsoid ? ellipsoid->Sharing(coordinates) : nullptr});
        stoppedAt = ConsumeRecords(stream, stages, lines, coordinates);
    }
    in.reset();
    if (stoppedAt != 0) {
        return stopped("at record " + std::to_string(stoppedAt));
    }
    if (std::string at; !outputs.Complete(host, at)) {
        return stopped("while writing " + at);
    }

    bool drawn = true;
    if (map != nullptr) {
        host.Phase(RunPhase::Drawing, inputTitle);
        drawn = map->DrawMap(host);
        if (host.StopRequested()) {
            return stopped("while drawing the map");
        }
    }
    results.Close();
    outputs.Close(host);

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
    const FileLedger ledger;
    try {
        const RunOutcome outcome = Run(ws, map, host, options);
        if (outcome == RunOutcome::Stopped && map != nullptr) {
            map->ForgetRecords();
        }
        return outcome;
    } catch (const RunError& e) {
        cause = e.what();
    } catch (const std::bad_alloc&) {
        cause = "out of memory";
    } catch (const std::exception& e) {
        cause = e.what();  // a library's own failure (a mutex, a length) ends the run as any other
    }
    if (map != nullptr) {
        map->ForgetRecords();
    }
    // Each file the run set out to write, written or not.
    const std::string files = ledger.Lines();
    host.ReportCause(files.empty() ? *cause : *cause + "\n" + files);
    host.ShowCritical(RunFailedMessage);
    return RunOutcome::Failed;
}

}  // namespace zarn
