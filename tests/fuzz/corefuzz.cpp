// Fuzz target on the analysis core alone: the reader's record operations,
// the classic figures, the rings and the figures on the ellipsoid, and the
// result files written into memory, in one thread, with no map, no folder
// and no reading thread to set up for each input (bnafuzz.cpp covers the
// whole run). Besides crashes, sanitizer reports and hangs, it stops on:
// - a failure other than RunError (what ends a run through its failure path)
//   or bad_alloc;
// - ellipsoid figures that are not finite, a negative area or perimeter, or a
//   centroid off the globe (latitude beyond +-90, longitude outside
//   [-180, 180));
// - result files whose lines do not match the records written (one area
//   line and two centroid lines each, counted by their CR LF ends where no
//   name holds a line break);
// - fields read otherwise when the input is followed by blanks, which keeps
//   the reader on its in-buffer path that a short input never takes;
// - a verdict of the first pass (ScanCoordinates) other than the one of the
//   record loop's exact parse, with and without those blanks, and with its
//   second half walked on a second thread from each of the first record
//   start candidates (a quote after a line end).
// The input is read from a file in memory (memfd), named through /proc.

#include "bnainput.h"
#include "coordinatescan.h"
#include "fuzzcheck.h"
#include "bnareader.h"
#include "geometry.h"
#include "resultfiles.h"
#include "runerror.h"
#include "workspace.h"
#ifdef ZARN_HAVE_GEODESIC
#include "geodesic.h"
#endif

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

using namespace zarn;
using zarn::probe::Require;

namespace {

// The input as a file that lives in memory; its name stays the same.
class MemoryFile {
public:
    MemoryFile()
    {
        fd_ = memfd_create("bna", 0);
        Require(fd_ >= 0, "cannot create a file in memory");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const std::string& Path() const { return path_; }
    void Set(const std::uint8_t* data, std::size_t size) const
    {
        Require(ftruncate(fd_, 0) == 0, "cannot empty the file in memory");
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            Require(n > 0, "cannot fill the file in memory");
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int fd_ = -1;
    std::string path_;
};

// A stream into memory that the result files take over and close.
struct MemoryStream {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&bytes, &size);
    ~MemoryStream() { std::free(bytes); }
    std::string_view Text() const { return {bytes, size}; }
};

std::size_t LineEnds(std::string_view text)
{
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2)) {
        ++n;
    }
    return n;
}

#ifdef ZARN_HAVE_GEODESIC
void CheckFigures(const GeodesicFigures& g)
{
    Require(std::isfinite(g.areaKm2) && g.areaKm2 >= 0.0, "an ellipsoid area is negative or not finite");
    Require(std::isfinite(g.perimeterKm) && g.perimeterKm >= 0.0, "a perimeter is negative or not finite");
    if (g.hasCentroid) {
        Require(g.centroidLat >= -90.0 && g.centroidLat <= 90.0, "a centroid latitude is off the globe");
        Require(g.centroidLon >= -180.0 && g.centroidLon < 180.0, "a centroid longitude is out of range");
    }
    std::string words;
    AppendFlagWords(words, g.flags);
}
#endif

// The record loop of a run, as the run's analysis does it, on the reader
// directly.
void Analyse(BnaInput& in, Workspace& ws, ResultFiles& results, std::size_t& written, bool& lineBreakInName)
{
    std::string firstName;
    std::string secondName;
#ifdef ZARN_HAVE_GEODESIC
    static EllipsoidMeter meter;
    static std::vector<double> lon;
    static std::vector<double> lat;
    GeodesicFigures figures;
#endif
    while (!in.AtEnd()) {
        ws.ResetPolygon();
        ReadBnaHeader(in, firstName, secondName, ws);
        PolygonRecord& poly = ws.curPoly;
        if (poly.nPoints > MaxPoints) {
            SkipBnaPoints(in, ws);
            continue;
        }
        ReadBnaPoints(in, ws);
        ComputeExtent(ws);
        ComputeMidPoint(ws);
        ProjectPoints(ws);
        ComputeArea(ws, poly);
        ComputeCentroid(ws, poly);
        lineBreakInName = lineBreakInName || firstName.find_first_of("\r\n") != std::string::npos ||
                          secondName.find_first_of("\r\n") != std::string::npos;
        results.WriteAreaRecord(firstName, secondName, poly);
        results.WriteCentroidRecord(firstName, secondName, poly);
        ++written;
#ifdef ZARN_HAVE_GEODESIC
        const std::size_t n = poly.nPoints > 0 ? static_cast<std::size_t>(poly.nPoints) : 0;
        lon.assign(ws.pointX.begin(), ws.pointX.begin() + static_cast<std::ptrdiff_t>(n));
        lat.assign(ws.pointY.begin(), ws.pointY.begin() + static_cast<std::ptrdiff_t>(n));
        meter.Measure(poly.nPoints, lon.data(), lat.data(), n, figures);
        CheckFigures(figures);
#endif
    }
}

// Every field as the record loop reads it (the names of each complete
// header, counts, each coordinate as float and double), whether the reading
// failed, and the verdict of the exact parse up to there.
struct FieldWalk {
    std::string fields;
    bool failed = false;
    Coordinates verdict = Coordinates::Degrees;
    bool operator==(const FieldWalk&) const = default;
};

FieldWalk WalkFields(const std::string& path)
{
    FieldWalk walk;
    const auto add = [&walk](const auto& value) {
        walk.fields.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    try {
        BnaInput in(path);
        std::string firstName;
        std::string secondName;
        while (!in.AtEnd()) {
            const std::int32_t n = ReadRecordHeader(in, firstName, secondName);
            walk.fields += firstName + '\0' + secondName + '\0';
            add(n);
            for (std::int64_t k = std::llabs(n); k > 0; --k) {
                double lon = 0.0;
                double lat = 0.0;
                add(in.ReadCoordinate(lon));
                add(in.ReadCoordinate(lat));
                add(lat);
                if (walk.verdict == Coordinates::Degrees &&
                    (!(std::fabs(lat) <= 90.0) || std::fabs(lon) > LongitudeLimit)) {
                    walk.verdict = Coordinates::Plane;
                }
            }
        }
    } catch (const RunError&) {
        walk.failed = true;
    }
    return walk;
}

void CompareWalks(const MemoryFile& file, const std::uint8_t* data, std::size_t size)
{
    static const MemoryFile padded;
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.resize(size + 5000, ' ');
    padded.Set(bytes.data(), bytes.size());
    const FieldWalk walk = WalkFields(file.Path());
    Require(WalkFields(padded.Path()) == walk, "the reader's in-buffer path reads other fields");
    Require(ScanCoordinates(file.Path()) == walk.verdict, "the first pass's verdict is not the exact parse's");
    Require(ScanCoordinates(padded.Path()) == walk.verdict, "the first pass's in-buffer verdict is not the exact one");
    int splits = 0;
    for (std::size_t i = 1; i < size && splits < 16; ++i) {
        if (data[i] == '"' && (data[i - 1] == '\n' || data[i - 1] == '\r')) {
            ++splits;
            Require(ScanCoordinatesSplitFrom(file.Path(), i) == walk.verdict,
                    "the first pass's verdict on two threads is not the exact parse's");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const MemoryFile file;
    static const auto ws = std::make_unique<Workspace>();
    file.Set(data, size);

    MemoryStream centroids;
    MemoryStream areas;
    Require(centroids.stream != nullptr && areas.stream != nullptr, "cannot open a stream into memory");
    std::size_t written = 0;
    bool lineBreakInName = false;
    {
        ResultFiles results(centroids.stream, areas.stream);
        try {
            BnaInput in(file.Path());
            Analyse(in, *ws, results, written, lineBreakInName);
        } catch (const RunError&) {
            // The failure path: what was written stays.
        } catch (const std::bad_alloc&) {
            // A count the memory cannot hold; the run reports it as it does.
        }
        results.Close();
    }
    if (!lineBreakInName) {
        Require(LineEnds(areas.Text()) == written, "the area file has another number of lines than records");
        Require(LineEnds(centroids.Text()) == 2 * written, "the centroid file has another number of lines");
    }
    CompareWalks(file, data, size);
    return 0;
}
