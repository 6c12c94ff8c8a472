#pragma once

#include "exportformat.h"
#include "gisexport.h"

#include <ogr_core.h>

#include <array>
#include <cstddef>

// The export's internals, shared by its parts: the layers and fields every
// format holds, and a layer made with them.
namespace zarn::gis {

enum LayerKind : std::size_t { Polygons, Centroids, Lines, Points, CentroidsWgs84, LayerCount };

struct LayerInfo {
    const char* name;
    std::string_view fileSuffix;
    OGRwkbGeometryType type;
    bool figures;  // carries the area fields
};

inline constexpr std::array<LayerInfo, LayerCount> Layers{{
    {"polygons", "Polygons", wkbMultiPolygon, true},
    {"centroids", "Centroids", wkbPoint, true},
    {"lines", "Lines", wkbMultiLineString, false},
    {"points", "Points", wkbPoint, false},
    {"centroids_wgs84", "CentroidsWgs84", wkbPoint, true},
}};

enum FieldKind : int { Name, Second, PointCount, AreaKm2, AreaWgs84Km2, PerimeterKm, Flags, FieldCount };

struct FieldInfo {
    const char* name;
    OGRFieldType type;
};

// One schema in every format: every name at most 10 characters (a
// Shapefile's limit), the same figure under the same name as in
// <base>Area.csv's meaning (area_km2) and <base>Geodesic.csv's header.
inline constexpr std::array<FieldInfo, FieldCount> Fields{{
    {"name", OFTString},
    {"second", OFTString},
    {"points", OFTInteger},
    {"area_km2", OFTReal},
    {"wgs84_km2", OFTReal},
    {"perim_km", OFTReal},
    {"flags", OFTString},
}};

int FieldsOf(LayerKind layer, bool geodesic);

// Formats written by a writer library rather than GDAL's driver: GDAL's
// writers of these text formats spend most of their time formatting numbers
// and cannot spell every double in its shortest exact digits.
bool WrittenAsText(ExportFormat format);

// Formats that hold longitude and latitude only.
bool TakesDegreesOnly(ExportFormat format);

class GdalMessages;

// Creates the layer `kind` with the schema's fields in its file (GeoJSON and
// KML: the file with its layer). Throws RunError.
void CreateLayer(GisExport::Target& target, LayerKind kind, bool geodesic, Coordinates coordinates,
                 GdalMessages& messages);

}  // namespace zarn::gis
