#pragma once

#include "geodesic.h"
#include "recordstream.h"
#include "resultfiles.h"
#include "rings.h"
#include "workspace.h"

#include <string>
#include <vector>

namespace zarn {

class RunHost;

// Everything a run knows of one record once the classic pass has seen it.
struct RecordResult {
    const StreamRecord& record;  // names, header count, the pairs as written (double degrees)
    // The classic figures (area signed, as in the workspace); null where the
    // classic pass gave none (over MaxPoints, no points, a line record).
    const PolygonRecord* classic = nullptr;
    // The ellipsoid figures; null unless the run was asked for them.
    const GeodesicFigures* geodesic = nullptr;
    // What the file's coordinates are, decided before its first record
    // (ScanCoordinates) when the run has further outputs.
    Coordinates coordinates = Coordinates::Degrees;
};

// A further output of a run beside the classic result files (the ellipsoid
// table, the GIS exports). It is opened after the classic files, given every
// record in file order and finished after the classic files are closed. A
// failure (RunError) ends that output alone: the run abandons it, finishes
// the classic files and the map, and then reports the failure.
class RunOutput {
public:
    virtual ~RunOutput() = default;

    // Creates its files beside the input, under the same rules as the
    // classic result files (never over the input). Throws RunError.
    virtual void Open(const OutputNames& names, const std::string& inputPath, RunHost& host) = 0;
    virtual void Add(const RecordResult& result) = 0;
    // Does the long part of completing its files, under their temporary
    // names, asking host.StopRequested() between its steps and returning
    // early when the user has asked the run to end (the run then abandons
    // it). Throws RunError.
    virtual void Complete(RunHost& /*host*/) {}
    // Completes its files (after Complete) and puts them in place. Throws
    // RunError.
    virtual void Close(RunHost& host) = 0;
    // The output failed or the run ended early: removes what it had begun,
    // so that nothing half-written is left looking complete. Never throws.
    virtual void Abandon() noexcept = 0;
    // Its lines in the summary list, after those of the classic files.
    virtual void AppendSummary(RunHost& host) = 0;
    // What the status line and the summary call it, as its own summary
    // lines do: "GeoJSON", "Ellipsoid areas". A failed output's summary line
    // is "\t<caption>: \tnot written: <cause>".
    virtual std::string Caption() const { return "Further output"; }
    // The files of this run it put in place (written) or dropped, for an
    // output that writes them other than through SafeFile (the exports,
    // whose module has a ledger of its own): the run notes them in its
    // FileLedger once Close returns or the output is abandoned.
    struct OutputFile {
        std::string path;
        bool written = false;
    };
    virtual std::vector<OutputFile> Files() const { return {}; }
};

}  // namespace zarn
