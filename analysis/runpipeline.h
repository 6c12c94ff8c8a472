#pragma once

// The shape of an analysis run:
//
//   reading thread                         caller's thread
//   RecordStream: parses the file into     ConsumeRecords: takes the records
//   blocks of records (names, float        in file order and gives each one
//   pairs, double degrees)                 to the stages in a fixed order:
//     + ReadAhead work of a stage, done      ClassicStage    progress lines up
//       for the records of the next                          to the area
//       block while the caller is behind     EllipsoidStage  its figures (and
//       (the ellipsoid measuring)                            area line)
//                  -- blocks, in order -->   ClassicStage    area row,
//                                                            centroid line, row
//                                            OutputStage     every RunOutput's
//                                                            row (the ellipsoid
//                                                            table first)
//                                            MapStage        KeepRecord
//                                            RunHost         Progress
//
// The reader knows nothing of what the stages compute; a stage's read-ahead
// work gives the same result on either thread, so nothing depends on which
// thread did it. Every line, row and kept record comes from the caller's
// thread in record order. The optional stages are chosen in one place each:
// the ellipsoid stage by MakeEllipsoidStage (optionalstages.cpp), the map by
// whether the caller passes a MapStage, the exports by the outputs the caller
// passes (RunOptions::outputs).

#include "analysisrun.h"
#include "geodesic.h"
#include "recordstream.h"
#include "resultfiles.h"
#include "rings.h"
#include "runoutput.h"
#include "workspace.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarn {

// The progress list as the stages write it: one line buffer, the host's
// decimal separator. While held, the lines are kept back in memory, in
// chunks of a megabyte, and go to the host on Release.
class ProgressLines {
public:
    explicit ProgressLines(RunHost& host)
        : host_(host), decimal_(host.DecimalSeparator()), shown_(host.ShowsProgress())
    {
    }
    ProgressLines(const ProgressLines&) = delete;
    ProgressLines& operator=(const ProgressLines&) = delete;

    RunHost& Host() { return host_; }
    // Whether the lines go anywhere; when not, Add and the rest do nothing
    // and a line need not be built.
    bool Shown() const { return shown_; }
    void Add(std::string_view line)
    {
        if (!shown_) {
            return;
        }
        if (holding_) {
            Keep(line);
        } else {
            host_.AppendProgress(line);
        }
    }
    // A buffer to build a line in before Add.
    std::string& Buffer() { return line_; }
    // `text` followed by `value` as the progress list writes numbers.
    void AddNumber(std::string_view text, double value);
    // "Center of Gravity: (x, y)".
    void AddPoint(std::string_view text, double x, double y);

    // Keeps the lines back from now on.
    void Hold() { holding_ = true; }
    bool Holding() const { return holding_; }
    // Gives the host what was kept back, in order, and every later line as
    // it comes.
    void Release();

private:
    void Keep(std::string_view line);

    RunHost& host_;
    const std::string decimal_;
    const bool shown_;
    std::string line_;
    bool holding_ = false;
    // Each line kept back as its length (four bytes) and its bytes. Not in
    // a temporary file: a full disk or a size limit there would end a run
    // whose own files fit.
    std::vector<std::string> held_;
};

// The classic figures of each record, in the workspace: its progress lines,
// its rows in <base>Area.csv and <base>Centroid.bna, and the map's extent.
class ClassicStage {
public:
    ClassicStage(Workspace& ws, MapStage* map, ProgressLines& lines, ResultFiles& results)
        : ws_(ws), map_(map), lines_(lines), results_(results)
    {
    }

    // Loads `record` into the workspace and adds its lines up to its area:
    // the polygon with its extent, midpoint and area, or null for a record
    // that is skipped (over MaxPoints, with its lines and the workspace's
    // tooManyPoints) or that the file ended inside.
    PolygonRecord* Measure(const StreamRecord& record);
    // An accepted polygon's area row, centroid line and centroid row.
    void Finish(const StreamRecord& record, PolygonRecord& poly);

private:
    Workspace& ws_;
    MapStage* map_;
    ProgressLines& lines_;
    ResultFiles& results_;
    const std::string maxPoints_ = std::to_string(MaxPoints);
};

// The figures on the WGS84 ellipsoid: each record measured, and the table
// <base>Geodesic.csv as a further output.
class EllipsoidStage {
public:
    virtual ~EllipsoidStage() = default;

    // Its table, the first of the run's further outputs.
    virtual RunOutput& Table() = 0;
    // The measuring the reading thread may share for a file whose
    // coordinates are `coordinates`; null for none.
    virtual const ReadAhead* Sharing(Coordinates coordinates) const = 0;
    // The figures of `record` (measured here, or taken from the reading
    // thread's share), with ClassicDiffers where `classic` has an area more
    // than 1 % off. Valid until the next call.
    virtual const GeodesicFigures& Measure(const StreamRecord& record, const PolygonRecord* classic,
                                           Coordinates coordinates) = 0;
};

// The ellipsoid stage of a run that asks for it. Throws RunError in a build
// without GeographicLib.
std::unique_ptr<EllipsoidStage> MakeEllipsoidStage();

// The further outputs of one run. An output that fails is abandoned on its
// own and the run goes on; the summary names it with its cause, and the run
// reports the first cause once it is done.
class OutputStage {
public:
    explicit OutputStage(const std::vector<RunOutput*>& outputs) : all_(outputs), active_(outputs) {}
    ~OutputStage()
    {
        for (RunOutput* output : active_) {
            output->Abandon();
            NoteFiles(*output);
        }
    }
    OutputStage(const OutputStage&) = delete;
    OutputStage& operator=(const OutputStage&) = delete;

    bool Empty() const { return active_.empty() && completed_.empty(); }

    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host)
    {
        ForEach([&](RunOutput& o) { o.Open(names, inputPath, host); });
    }
    void Add(const RecordResult& result)
    {
        ForEach([&](RunOutput& o) { o.Add(result); });
    }
    // The long part of completing every output; false when the user asked
    // the run to end meanwhile, with the caption of the output it was at.
    bool Complete(RunHost& host, std::string& at)
    {
        bool stopped = false;
        ForEach([&](RunOutput& o) {
            if (stopped) {
                return;
            }
            host.Phase(RunPhase::Writing, o.Caption());
            at = o.Caption();
            try {
                o.Complete(host);
            } catch (...) {
                // A library call the user's stop interrupted fails: no failure.
                stopped = host.StopRequested();
                if (!stopped) {
                    throw;
                }
            }
            stopped = stopped || host.StopRequested();
        });
        return !stopped;
    }
    // Puts every completed output's files in place.
    void Close(RunHost& host)
    {
        ForEach([&](RunOutput& o) {
            o.Close(host);
            NoteFiles(o);
        });
        completed_.swap(active_);
    }
    // In the order the outputs were given: the lines of each one completed,
    // and for each one that failed, what it is and why.
    void AppendSummary(RunHost& host);
    const std::string* FirstFailure() const { return failures_.empty() ? nullptr : &failures_.front().second; }

private:
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
    void Fail(std::size_t i, const std::exception& e);
    // Into the run's FileLedger.
    static void NoteFiles(const RunOutput& output) noexcept;

    std::vector<RunOutput*> all_;
    std::vector<RunOutput*> active_;
    std::vector<RunOutput*> completed_;
    std::vector<std::pair<RunOutput*, std::string>> failures_;
};

// The stages of one run, as the ordered consumer takes them.
struct RunStages {
    ClassicStage& classic;
    EllipsoidStage* ellipsoid = nullptr;  // null unless the run asked for it
    OutputStage& outputs;
    MapStage* map = nullptr;  // null for a run without a map
};

// What the ordered consumer came to.
struct Consumed {
    // The 1-based number of the record at which the user stopped the run; 0
    // when it read to the end.
    std::uint64_t stoppedAt = 0;
    // Deciding the coordinates: a record showed they are not degrees, and
    // the records before it were taken as degrees. Nothing more was done.
    bool notDegrees = false;
};

// The ordered consumer: every record of `stream` through `stages`, in file
// order, with their lines in `lines` and one Progress call per complete
// record; throws what ended the reading. `decide`: the coordinates are taken
// as degrees (`coordinates`) until a pair shows otherwise (a latitude beyond
// +-90 or a longitude beyond +-LongitudeLimit, the verdict ScanCoordinates
// gives), which ends the consuming at once; the lines are held until the
// verdict is known, at the end of the reading (or of what could be read) or
// at a stop.
Consumed ConsumeRecords(RecordStream& stream, RunStages& stages, ProgressLines& lines, Coordinates coordinates,
                        bool decide = false);

}  // namespace zarn
