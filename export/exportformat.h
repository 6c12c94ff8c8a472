#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zarn {

// The GIS formats a run can export to, each written by GDAL's own driver
// except GeoJSON and KML (GeoJsonFile on RapidJSON's Writer, KmlFile on
// libxml2's xmlTextWriter).
enum class ExportFormat : std::uint8_t {
    GeoPackage,  // one file <base>.gpkg holding every layer
    GeoJson,     // one file per layer, <base>Polygons.geojson, ... (RFC 7946)
    Shapefile,   // one file set per layer, <base>Polygons.shp with .shx .dbf .prj .cpg
    FlatGeobuf,  // one file per layer, <base>Polygons.fgb, ...
    Kml,         // one file per layer, <base>Polygons.kml, ...
};

struct ExportFormatInfo {
    ExportFormat format;
    std::string_view option;     // as given to zarn-batch --export: "gpkg"
    std::string_view title;      // as shown to people: "GeoPackage"
    std::string_view driver;     // GDAL's short driver name: "GPKG"
    std::string_view extension;  // of its files, without the dot: "gpkg"
    bool oneFile;                // every layer in one file (else one file per layer)
};

// Every format, in the order of the enumeration.
std::span<const ExportFormatInfo> ExportFormats();
const ExportFormatInfo& Info(ExportFormat format);
// The format named by its option text (exactly, lower case); none for others.
std::optional<ExportFormat> ParseExportFormat(std::string_view option);

}  // namespace zarn
