#pragma once

#include "exportfiles.h"
#include "exportschema.h"
#include "gisexport.h"
#include "textlayerfile.h"
#ifdef ZARN_HAVE_GEODESIC
#include "geodesicfile.h"
#endif

#include <ogr_geometry.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zarn {

// The export's internals, shared by its parts: a record's rows, their
// fields and geometries, and putting them into a layer.
namespace gis {

class GdalMessages;

constexpr std::size_t ShapefileStringBytes = 254;

// The figure as the result files write it, so that a GIS shows the same
// digits as <base>Area.csv and <base>Centroid.bna.
double AsWritten(double value);

// The name as UTF-8: as it is when it is, else read as Windows-1252 (and
// `recoded` set).
std::string Utf8(std::string_view name, bool& recoded);

#ifdef ZARN_HAVE_GEODESIC
// An ellipsoid figure as <base>Geodesic.csv writes it.
double AsWrittenWgs84(double value);
#endif

// The layer, created with its file where it is the first row: a layer
// without rows is left out in every format alike.
OGRLayer* LayerFor(Target& target, LayerKind kind, bool geodesic, Coordinates coordinates, const OutputNames& names,
                   const std::string& inputPath, GdalMessages& messages);

// A record's attributes as every layer writes them.
struct Row {
    std::string name;
    std::string second;
    std::int32_t points = 0;
    bool hasArea = false;
    double areaKm2 = 0.0;
    const GeodesicFigures* geodesic = nullptr;
};

// Hands the row's fields to `sink` in the schema's order: String, Integer
// and Real with a value, Null for a figure the record lacks. Fields a layer
// does not carry are left out.
template <class Sink>
void EachField(LayerKind kind, const Row& row, bool geodesic, Sink&& sink)
{
    sink.String(Name, row.name);
    sink.String(Second, row.second);
    sink.Integer(PointCount, row.points);
    if (!Layers[kind].figures) {
        return;
    }
    if (row.hasArea) {
        sink.Real(AreaKm2, row.areaKm2);
    } else {
        sink.Null(AreaKm2);
    }
#ifdef ZARN_HAVE_GEODESIC
    if (geodesic && row.geodesic != nullptr) {
        if (row.geodesic->hasFigures) {
            sink.Real(AreaWgs84Km2, AsWrittenWgs84(row.geodesic->areaKm2));
            sink.Real(PerimeterKm, AsWrittenWgs84(row.geodesic->perimeterKm));
        } else {
            sink.Null(AreaWgs84Km2);
            sink.Null(PerimeterKm);
        }
        std::string words;
        AppendFlagWords(words, row.geodesic->flags);
        sink.String(Flags, words);
    }
#else
    (void)geodesic;
#endif
}

struct FeatureFields {
    OGRFeature& feature;
    const std::array<int, FieldCount>& at;

    void String(FieldKind f, const std::string& value) { feature.SetField(at[f], value.c_str()); }
    void Integer(FieldKind f, std::int32_t value) { feature.SetField(at[f], value); }
    void Real(FieldKind f, double value) { feature.SetField(at[f], value); }
    void Null(FieldKind f) { feature.SetFieldNull(at[f]); }
};

struct TextFields {
    TextLayerFile& text;

    void String(FieldKind f, const std::string& value) { text.String(Fields[f].name, value); }
    void Integer(FieldKind f, std::int32_t value) { text.Integer(Fields[f].name, value); }
    void Real(FieldKind f, double value) { text.Real(Fields[f].name, value); }
    void Null(FieldKind f) { text.Null(Fields[f].name); }
};

// A GeoJSON or KML row: its fields, then its geometry as `geometry(text)`
// writes it.
template <class Geometry>
void PutText(Target& target, LayerKind kind, const Row& row, bool geodesic, Coordinates coordinates,
             const OutputNames& names, const std::string& inputPath, GdalMessages& messages, Geometry&& geometry)
{
    LayerFor(target, kind, geodesic, coordinates, names, inputPath, messages);
    TextLayerFile& text = *target.FileOf(kind).text;
    text.BeginFeature();
    EachField(kind, row, geodesic, TextFields{text});
    geometry(text);
    text.EndFeature();
}

// A row with `geometry`, which the feature borrows rather than copies (a
// copy of every vertex a row): it is the caller's again before Put returns
// or throws.
void Put(Target& target, LayerKind kind, const Row& row, OGRGeometry* geometry, bool geodesic,
         Coordinates coordinates, const OutputNames& names, const std::string& inputPath, GdalMessages& messages);

// The polygons of the geometry step, as OGR holds them; the pieces of a line.
void MakeMultiPolygon(const RegionShape& shape, OGRMultiPolygon& out);
void MakeMultiLineString(const RegionShape& shape, OGRMultiLineString& out);

// The exports write a huge record in turns: GeoJSON and KML, which need its
// polygons, first; then the formats written through GDAL, those whose
// driver keeps the least of it until its file is closed first (GeoPackage
// nothing, a Shapefile its record buffer, FlatGeobuf its FlatBuffer), so
// that what a driver keeps adds to as few other drivers' peaks as can be.
constexpr std::size_t HugeTurns = 4;
std::size_t HugeTurn(ExportFormat format);

}  // namespace gis

// A huge record as every export of the run takes it: its polygons as the
// geometry step made them, until the exports writing GeoJSON or KML have
// written them and OGR's geometry of them is made; that geometry, made once
// for every format written through GDAL. Guarded by ExportNotes::hugeWriting.
struct GisExport::HugeRecord {
    RegionShape shape;
    std::unique_ptr<OGRGeometry> ogr;
    std::size_t taken = 0;                          // exports that have it queued
    std::array<std::size_t, gis::HugeTurns> left{};  // of those, the ones yet to write it, by turn

    // Every export has it and those of the turns before `turn` have written it.
    bool TurnOf(std::size_t turn, const ExportNotes& notes) const
    {
        return taken == notes.exports && std::all_of(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(turn),
                                                     [](std::size_t n) { return n == 0; });
    }
};

// One record's rows, as the writing thread takes them: the row's fields,
// its geometry as the geometry step made it, its centroids.
struct GisExport::Item {
    gis::Row row;
    GeodesicFigures figures;  // row.geodesic points here when the run has them
    bool hasFigures = false;
    Coordinates coordinates = Coordinates::Degrees;
    gis::LayerKind kind = gis::LayerCount;
    RegionShape region;     // polygons and lines
    std::shared_ptr<HugeRecord> shared;  // in place of `region`, for a huge record
    VertexDigits digits;    // their vertices' digits, for GeoJSON and KML
    bool digitsMade = false;
    struct Point {
        double x;
        double y;
    };
    std::optional<Point> point;  // points: the record's point
    std::optional<Point> centroid;
    std::optional<Point> centroidWgs84;
    std::size_t weight = 0;  // vertices held, for the bound on those in flight
    std::size_t held = 0;    // Bytes() when it was last written

    const RegionShape& Region() const { return shared ? shared->shape : region; }
    // The memory its buffers hold.
    std::size_t Bytes() const
    {
        return (region.x.capacity() + region.y.capacity()) * sizeof(double) +
               (region.ringEnd.capacity() + region.polygonEnd.capacity()) * sizeof(std::size_t) + digits.Bytes() +
               row.name.capacity() + row.second.capacity();
    }
};

}  // namespace zarn
