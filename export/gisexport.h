#pragma once

#include "exportformat.h"
#include "rings.h"
#include "runoutput.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zarn {

// The records of one run as GIS layers, in WGS 84 longitude/latitude
// (EPSG:4326), in each chosen format:
//   polygons        MultiPolygon  records of 3 or more points: their rings as
//                                 SplitRings finds them, each outer ring with
//                                 its holes; empty when no ring remains
//   centroids       Point         every record the classic pass analysed, at
//                                 its centroid as <base>Centroid.bna has it
//   lines           LineString    line records (negative counts) and records
//                                 of 2 points
//   points          Point         records of 1 point
//   centroids_wgs84 Point         with the ellipsoid figures: their centroids
// Attributes: name, second, points (the header's count); polygons and
// centroids also area_km2 (as <base>Area.csv has it; null where the classic
// pass gave none) and, with the ellipsoid figures, area_wgs84_km2,
// perimeter_km and flags (as <base>Geodesic.csv has them). Vertices are the
// pairs as written in the file (double precision), every ring closed on its
// first vertex, with these exceptions of the formats: GeoJSON follows RFC
// 7946 (outer rings counter-clockwise, holes clockwise, rings cut at the
// 180th meridian; a coordinate beyond longitude/latitude bounds fails the
// export), KML keeps 15 significant digits, a Shapefile orients rings its
// own way and cuts field names to 10 characters and strings to 254 bytes.
// A GeoPackage carries GDAL's R-tree spatial index; FlatGeobuf files carry
// none, since their index would grow in memory with the file.
//
// Names that are not UTF-8 are read as Windows-1252. Files are written under
// a temporary name (<name>.partial.<ext>) and renamed when complete; a
// GeoPackage holds polygons and centroids always and the other layers when
// they have rows; the one-layer formats write a file only for a layer with
// rows. Memory does not grow with the file: features go out as they come,
// a GeoPackage in transactions of a few thousand rows.
class GisExport : public RunOutput {
public:
    // `geodesic`: the run gives the ellipsoid figures (its layers and fields).
    // `namesTold`, shared by the exports of one run: set by the first Close
    // that says which names were read as Windows-1252, so that one says it.
    GisExport(std::vector<ExportFormat> formats, bool geodesic,
              std::shared_ptr<bool> namesTold = std::make_shared<bool>(false));
    ~GisExport() override;
    GisExport(const GisExport&) = delete;
    GisExport& operator=(const GisExport&) = delete;

    void Open(const OutputNames& names, const std::string& inputPath, RunHost& host) override;
    void Add(const RecordResult& result) override;
    // Adds a progress line for names read as Windows-1252 and one per format
    // that had to cut field names or values (Shapefile).
    void Close(RunHost& host) override;
    void Abandon() noexcept override;
    // One line per file written.
    void AppendSummary(RunHost& host) override;
    // The format's title: "GeoPackage".
    std::string Caption() const override { return std::string(Info(formats_.front()).title); }

    struct Target;

private:
    std::vector<ExportFormat> formats_;
    bool geodesic_;
    std::shared_ptr<bool> namesTold_;
    OutputNames names_;
    std::string inputPath_;
    std::vector<std::unique_ptr<Target>> targets_;
    std::vector<Ring> rings_;
    std::uint64_t recordNumber_ = 0;
    std::vector<std::string> recoded_;  // "3 \"name\"" of names read as Windows-1252
    std::uint64_t recodedCount_ = 0;
    std::vector<std::string> cut_;  // records whose names a Shapefile cuts
    std::uint64_t cutCount_ = 0;
    std::vector<std::string> summary_;
};

// One export per format, so that a format that fails (a GeoJSON refusing
// coordinates beyond longitude/latitude bounds, say) leaves the others
// complete; one of them says which names were read as Windows-1252.
std::vector<std::unique_ptr<GisExport>> MakeGisExports(const std::vector<ExportFormat>& formats, bool geodesic);

}  // namespace zarn
