#pragma once

#include "workspace.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

struct StreamRecord;

// The stages of a run, in the order they come: the analysis reads the file,
// the further outputs complete their files, the map drawing draws what the
// analysis read.
enum class RunPhase : std::uint8_t {
    Reading,
    Writing,
    Drawing,
};

// What a run needs from the window that starts it (or from the batch
// command, or a test): the chosen file, the progress list, the summary list
// and the message box. Lines are 8-bit text as the file holds the names.
class RunHost {
public:
    virtual ~RunHost() = default;

    virtual std::string FileName() const = 0;   // full path of the chosen file, UTF-8 (filepath.h)
    virtual std::string FileTitle() const = 0;  // its name without the folder
    // The decimal separator of the on-screen lines (the user's locale).
    virtual std::string DecimalSeparator() const { return "."; }

    virtual void AppendProgress(std::string_view line) = 0;
    // False when the progress lines go nowhere (a quiet batch run): the run
    // then builds none of them.
    virtual bool ShowsProgress() const { return true; }
    // Whether someone watches the progress lines as they come (a window, a
    // terminal). When not (a file, a pipe), a run may keep them back for a
    // while and give them out later, in the same order.
    virtual bool LinesWatched() const { return true; }
    virtual void AppendSummary(std::string_view line) = 0;
    virtual void SetListsBold() = 0;
    virtual void RepaintSummary() = 0;
    // A message box with the critical icon and one OK button; returns when
    // the user has closed it.
    virtual void ShowCritical(std::string_view message) = 0;

    // The cause behind the failure message that follows, for those who can
    // show it (the batch command prints it on standard error; the window
    // puts it behind the message box's "Show Details…").
    virtual void ReportCause(std::string_view /*cause*/) {}
    // How far the reading has come, called once per record.
    virtual void Progress(std::uint64_t /*bytesRead*/, std::uint64_t /*fileSize*/) {}
    // Asked once per record while the run reads, between the steps of
    // completing a further output and after the drawing; true ends the run
    // there, as the user asked: nothing changes on disk, there is no map and
    // no summary, and one progress line says "Stopped by the user at record
    // N." (or "while writing <output>", "while drawing the map"). A window
    // may take in the user's input here.
    virtual bool StopRequested() { return false; }
    // The stage the run has come to, for a status line: Reading and Drawing
    // name the input's title and go on with Progress from 0; Writing names
    // the further output whose files are being completed (its Caption), and
    // no Progress follows until the next phase.
    virtual void Phase(RunPhase /*phase*/, std::string_view /*subject*/) {}
};

// The map half of a run: the extent that grows while the analysis reads, the
// drawing after it and the saved bitmap.
class MapStage {
public:
    virtual ~MapStage() = default;

    virtual void ResetMapExtent() = 0;
    virtual void GrowMapExtent(const PolygonRecord& poly) = 0;
    // Every record the analysis reads, in file order, once its figures are
    // done: `accepted` is the polygon with its centroid when the run computed
    // them, null for a record it skipped. `fileSize` is the input's size in
    // bytes. A stage that keeps them draws without reading the file again.
    virtual void KeepRecord(const StreamRecord& /*record*/, const PolygonRecord* /*accepted*/,
                            std::uint64_t /*fileSize*/)
    {
    }
    // Draws the map. A failure before the drawing's own trap (the margin and
    // scale factors) throws RunError into the run's failure path; a failure
    // while drawing is reported by the drawing, which returns false.
    virtual bool DrawMap(RunHost& host) = 0;
    virtual void SaveMap(const std::string& path) = 0;
    // The run ended without a drawing (a stop, a failure): what KeepRecord
    // kept is let go now rather than at the next run.
    virtual void ForgetRecords() {}
};

enum class RunOutcome : std::uint8_t {
    Completed,
    DrawingFailed,  // results and summary complete, the map partial
    Failed,         // ended through the failure path
    Stopped,        // ended at the user's request: nothing written
};

inline constexpr std::string_view RunFailedMessage = "Sorry, something went wrong.";
inline constexpr std::string_view DrawFailedMessage = "Sorry, could not draw without problems.";

class RunOutput;

// What a run does beyond the classic result files and the map.
struct RunOptions {
    // The figures on the WGS84 ellipsoid: a progress line per polygon and
    // the table <base>Geodesic.csv.
    bool geodesic = false;
    // Further outputs (GIS exports), owned by the caller.
    std::vector<RunOutput*> outputs;
};

// One analysis run over host.FileName(): progress lines, the centroid and
// area files, the map (when `map` is given) and the summary. Every result
// file replaces the earlier one only once complete (ResultFile). Any failure
// keeps the classic records already written and what was shown, drops the
// further outputs, and ends with RunFailedMessage. A stop at the user's
// request (RunHost::StopRequested) drops every file of the run.
RunOutcome ProcessBnaFile(Workspace& ws, MapStage* map, RunHost& host, const RunOptions& options = {});

// Whether this build has the figures on the WGS84 ellipsoid (GeographicLib):
// without them a run that asks for them (RunOptions::geodesic) fails.
bool HaveEllipsoidFigures();

}  // namespace zarn
