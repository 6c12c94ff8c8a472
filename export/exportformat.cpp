#include "exportformat.h"

#include <array>

namespace zarn {

namespace {

constexpr std::array<ExportFormatInfo, 5> Formats{{
    {ExportFormat::GeoPackage, "gpkg", "GeoPackage", "GPKG", "gpkg", true},
    {ExportFormat::GeoJson, "geojson", "GeoJSON", "GeoJSON", "geojson", false},
    {ExportFormat::Shapefile, "shp", "Shapefile", "ESRI Shapefile", "shp", false},
    {ExportFormat::FlatGeobuf, "fgb", "FlatGeobuf", "FlatGeobuf", "fgb", false},
    {ExportFormat::Kml, "kml", "KML", "KML", "kml", false},
}};

}  // namespace

std::span<const ExportFormatInfo> ExportFormats()
{
    return Formats;
}

const ExportFormatInfo& Info(ExportFormat format)
{
    return Formats[static_cast<std::size_t>(format)];
}

std::optional<ExportFormat> ParseExportFormat(std::string_view option)
{
    for (const ExportFormatInfo& info : Formats) {
        if (info.option == option) {
            return info.format;
        }
    }
    return std::nullopt;
}

}  // namespace zarn
