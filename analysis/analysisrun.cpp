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

// One try at the run. `known`: the coordinates as an earlier try found
// them; that try gave out the " Open" line and nothing else. Returns nothing
// when this try found the coordinates not to be degrees after taking the
// first records as degrees: it has dropped what it began, and the run
// starts over knowing.
std::optional<RunOutcome> Run(Workspace& ws, MapStage* map, RunHost& host, const RunOptions& options,
                              std::optional<Coordinates> known)
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

    if (!known) {
        host.AppendProgress(" Open " + inputPath);
    }
    host.Phase(RunPhase::Reading, inputTitle);
    // The further outputs must know before their first row whether the
    // coordinates are degrees, and so must the lines of the ellipsoid
    // figures. Where nobody watches the lines as they come, the reading
    // decides: the records are taken as degrees and their lines kept back
    // until the file has shown no pair that is not, and the rare file that
    // has one is run again as such, its further outputs begun anew (their
    // files are not yet in place). Elsewhere a first pass over the file
    // tells before anything is shown.
    const bool decide = !known && !outputs.Empty() && (!host.ShowsProgress() || !host.LinesWatched());
    const Coordinates coordinates = known            ? *known
                                    : outputs.Empty() || decide ? Coordinates::Degrees
                                                                : ScanCoordinates(inputPath);
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
    Consumed consumed;
    {
        ProgressLines lines(host);
        ClassicStage classic(ws, map, lines, results);
        RunStages stages{.classic = classic, .ellipsoid = ellipsoid.get(), .outputs = outputs, .map = map};
        // From what was asked, not from the outputs that opened: the
        // progress lines show the ellipsoid figures even when their table
        // cannot be written.
        RecordStream stream(*in, {.keepDegrees = ellipsoid != nullptr || !options.outputs.empty(),
                                  .readAhead = ellipsoid ? ellipsoid->Sharing(coordinates) : nullptr});
        consumed = ConsumeRecords(stream, stages, lines, coordinates, decide);
    }
    if (consumed.notDegrees) {
        results.Discard();
        if (map != nullptr) {
            map->ForgetRecords();
            map->ResetMapExtent();
        }
        return std::nullopt;
    }
    const std::uint64_t stoppedAt = consumed.stoppedAt;
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
        std::optional<RunOutcome> tried = Run(ws, map, host, options, std::nullopt);
        const RunOutcome outcome = tried ? *tried : *Run(ws, map, host, options, Coordinates::Plane);
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
