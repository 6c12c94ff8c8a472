#pragma once

#include "exportformat.h"
#include "regionshape.h"
#include "rings.h"
#include "runoutput.h"
#include "shapecheck.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zarn {

// The records of one run as GIS layers, the same in each chosen format:
//   polygons        MultiPolygon     records of 3 or more points: their region
//                                    as the geometry step makes it
//                                    (RegionShaper: rings cut at the 180th
//                                    meridian, closed through a pole they go
//                                    round, nested on the sphere); empty
//                                    when no ring remains
//   centroids       Point            every record the classic pass analysed,
//                                    at its centroid as <base>Centroid.bna
//                                    has it
//   lines           MultiLineString  line records (negative counts) and
//                                    records of 2 points, cut at 180 (CutLine)
//   points          Point            records of 1 point
//   centroids_wgs84 Point            with the ellipsoid figures: their centroids
// In degrees, points and centroids have their longitudes in [-180, 180) and
// every vertex lies within [-180, 180] x [-90, 90]; the layers are in WGS 84
// longitude/latitude (EPSG:4326; GeoJSON's own, without a crs member). A
// file in plane coordinates (ScanCoordinates) keeps its vertices as written
// and carries no coordinate system (a GeoPackage's "undefined Cartesian"
// one); GeoJSON and KML, which hold longitude and latitude only, are then
// not written, and the summary says why.
// One schema, field names of at most 10 characters in every format: name,
// second, points (the header's count); polygons and centroids also area_km2
// (the classic area as <base>Area.csv has it; null where the classic pass
// gave none) and, with the ellipsoid figures, wgs84_km2, perim_km and flags
// (as <base>Geodesic.csv has them; the figures null in plane coordinates).
// A layer without rows is left out in every format (a GeoPackage without any
// layer is no file). Vertices are those of the geometry step (double
// precision; GeoJSON and KML write each in the shortest digits that read
// back as it), except that a Shapefile stores outer rings clockwise and
// holes counter-clockwise (its own rule) and cuts strings to 254 bytes.
// A GeoPackage carries GDAL's R-tree spatial index; FlatGeobuf files carry
// none, since their index would grow in memory with the file.
//
// Names that are not UTF-8 are read as Windows-1252. Files are written as
// every file of a run (SafeFile): under a temporary name of the run's own
// (TemporaryName), synced and renamed when complete, removed on a failure,
// which leaves the earlier file as it was. Memory
// does not grow with the file: features go out as they come, a GeoPackage in
// transactions of a few thousand rows.
//
// Add does a record's geometry step on the caller's thread and hands its
// rows to a thread of the export's own, which writes them in the order
// given (GDAL's driver or the text writer), a bounded number of rows and
// vertices in flight. A failure there is thrown by the next Add or by Close.
class GisExport : public RunOutput {
public:
    // What the exports of one run say once between them: which names were
    // read as Windows-1252 (the first Close that has some), which formats
    // were not written (the first of them in the summary).
    // A record of HugeVertices or more has its geometry step done once for
    // all of them (by the first export to take it), and their writing
    // threads write such records one at a time, each letting go of its
    // buffers at once: the memory of a huge record does not grow with the
    // number of formats. They take turns (gis::HugeTurn): GeoJSON and KML
    // first; then its polygons go, and the formats written through GDAL
    // share one OGR geometry of them.
    struct HugeRecord;
    struct ExportNotes {
        bool namesTold = false;
        bool rebuiltTold = false;  // the shape check's note, by the first export
        std::vector<std::string> skipped;  // titles
        bool skippedTold = false;
        const StreamRecord* sharedRecord = nullptr;  // the record `shared` is of
        std::uint64_t sharedNumber = 0;
        std::shared_ptr<HugeRecord> shared;  // until every export has taken it
        bool sharedRebuilt = false;  // `shared` was rebuilt by the shape check
        std::size_t exports = 0;     // made with these notes
        std::mutex hugeWriting;
        std::condition_variable hugeWritten;  // by each export, as it writes a huge record
        bool hugeUnordered = false;  // an export failed or was abandoned: none waits for another
    };
    static constexpr std::size_t HugeVertices = std::size_t{1} << 20;

    // `geodesic`: the run gives the ellipsoid figures (its layers and fields).
    // `notes`, shared by the exports of one run.
    GisExport(std::vector<ExportFormat> formats, bool geodesic,
              std::shared_ptr<ExportNotes> notes = std::make_shared<ExportNotes>());
    ~GisExport() override;
    GisExport(const GisExport&) = delete;
    GisExport& operator=(const GisExport&) = delete;

    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host) override;
    void Add(const RecordResult& result) override;
    // Finishes the writing, builds the indexes and closes every file under
    // its temporary name, asking host.StopRequested() between GDAL's calls.
    // Adds a progress line for names read as Windows-1252 and one per format
    // that had to cut field names or values (Shapefile).
    void Complete(RunHost& host) override;
    // Renames the completed files into place (completing them first when
    // Complete was not called).
    void Close(RunHost& host) override;
    void Abandon() noexcept override;
    // One line per file written; for a file in plane coordinates, one line
    // for the formats not written (GeoJSON, KML).
    void AppendSummary(RunHost& host) override;
    // The format's title: "GeoPackage".
    std::string Caption() const override { return std::string(Info(formats_.front()).title); }
    std::vector<OutputFile> Files() const override { return files_; }

    struct Target;
    struct Item;
    class Writer;

private:
    // A record's rows into every format; on the writing thread.
    void Write(Item& item);
    // No export of the run waits for another to write a huge record (one
    // has failed or is abandoned and may never write it).
    void Unorder() noexcept;

    std::vector<ExportFormat> formats_;
    bool geodesic_;
    std::shared_ptr<ExportNotes> notes_;
    OutputNames names_;
    std::string inputPath_;
    std::vector<std::unique_ptr<Target>> targets_;
    std::vector<Ring> rings_;
    RegionShaper shaper_;
    ShapeCheck shapeCheck_;
    std::unique_ptr<Writer> writer_;
    bool completed_ = false;
    bool coordinatesKnown_ = false;
    bool asText_ = false;   // a format written as text (GeoJSON, KML) is written
    bool viaGdal_ = false;  // a format written through GDAL's driver is written
    std::size_t hugeTurn_ = 0;  // its turn at a huge record (gis::HugeTurn)
    std::vector<std::string> skipped_;  // formats of this export not written
    std::uint64_t recordNumber_ = 0;
    std::vector<std::string> recoded_;  // "3 \"name\"" of names read as Windows-1252
    std::uint64_t recodedCount_ = 0;
    std::vector<std::string> cut_;  // records whose names a Shapefile cuts
    std::uint64_t cutCount_ = 0;
    std::vector<std::string> summary_;
    std::vector<OutputFile> files_;  // the files of this run put in place or dropped, by their own names
};

// One export per format, so that a format that fails (a GeoJSON refusing
// coordinates beyond longitude/latitude bounds, say) leaves the others
// complete; one of them says which names were read as Windows-1252.
std::vector<std::unique_ptr<GisExport>> MakeGisExports(const std::vector<ExportFormat>& formats, bool geodesic);

}  // namespace zarn
