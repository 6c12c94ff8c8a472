#include "exportschema.h"

#include "exportfiles.h"
#include "gdalmessages.h"
#include "geojsonfile.h"
#include "kmlfile.h"

#include <cpl_string.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zarn::gis {

int FieldsOf(LayerKind layer, bool geodesic)
{
    if (!Layers[layer].figures) {
        return AreaKm2;
    }
    return geodesic ? FieldCount : AreaWgs84Km2;
}

bool WrittenAsText(ExportFormat format)
{
    return format == ExportFormat::GeoJson || format == ExportFormat::Kml;
}

bool TakesDegreesOnly(ExportFormat format)
{
    return format == ExportFormat::GeoJson || format == ExportFormat::Kml;
}

void CreateLayer(Target& target, LayerKind kind, bool geodesic, Coordinates coordinates, GdalMessages& messages)
{
    File& file = target.FileOf(kind);
    target.created[kind] = true;
    if (target.info.format == ExportFormat::GeoJson) {
        // RFC 7946 as the geometry step writes it: longitudes and latitudes
        // of WGS 84 (no crs member), outer rings counter-clockwise, holes
        // clockwise, rings cut at the 180th meridian; every vertex as short
        // as reads back as the double read. GDAL's writer gives a vertex
        // either a fixed number of decimals (7 by default, or 17, which
        // spells 54.9 as 54.89999999999999858) and takes fifty times as
        // long as the analysis for it.
        file.text = std::make_unique<GeoJsonFile>(file.tempPath, file.finalPath, Layers[kind].name);
        return;
    }
    if (target.info.format == ExportFormat::Kml) {
        // The same: GDAL's KML writer keeps 15 significant digits and takes
        // thirty times as long as the analysis.
        std::vector<KmlFile::Field> fields;
        for (int f = 0; f < FieldsOf(kind, geodesic); ++f) {
            fields.push_back({Fields[f].name, Fields[f].type == OFTString    ? "string"
                                              : Fields[f].type == OFTInteger ? "int"
                                                                             : "double"});
        }
        file.text = std::make_unique<KmlFile>(file.tempPath, file.finalPath, Layers[kind].name, fields,
                                              Layers[kind].type != wkbPoint);
        return;
    }
    CPLStringList options;
    bool withSrs = coordinates == Coordinates::Degrees;
    switch (target.info.format) {
    case ExportFormat::Shapefile:
        options.SetNameValue("ENCODING", "UTF-8");
        break;
    case ExportFormat::FlatGeobuf:
        // The index would keep an entry per feature until the file closes.
        options.SetNameValue("SPATIAL_INDEX", "NO");
        break;
    case ExportFormat::GeoPackage:
        // An R-tree, which a GIS uses on every pan and zoom; see
        // BuildSpatialIndexes.
        if (BuildsIndexAfterRows) {
            options.SetNameValue("SPATIAL_INDEX", "NO");
        }
        break;
    case ExportFormat::GeoJson:
    case ExportFormat::Kml:
        break;
    }
    // Plane coordinates carry no coordinate system: none at all where the
    // format allows it; a GeoPackage, which must name one, gets its
    // "undefined Cartesian" one (srs_id -1) rather than GDAL's default,
    // the undefined geographic one.
    OGRSpatialReference srs;
    OGRSpatialReference* layerSrs = nullptr;
    if (withSrs) {
        if (srs.importFromEPSG(4326) != OGRERR_NONE) {
            messages.Fail(file.finalPath, "EPSG:4326 is unknown to GDAL");
        }
        srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        layerSrs = &srs;
    } else if (target.info.format == ExportFormat::GeoPackage) {
        srs.SetLocalCS("Undefined cartesian SRS");
        layerSrs = &srs;
    }
    OGRLayer* layer = file.ds->CreateLayer(Layers[kind].name, layerSrs, Layers[kind].type, options.List());
    if (layer == nullptr) {
        messages.Fail(file.finalPath, std::string("cannot create the layer ") + Layers[kind].name);
    }
    for (int f = 0; f < FieldsOf(kind, geodesic); ++f) {
        OGRFieldDefn field(Fields[f].name, Fields[f].type);
        if (layer->CreateField(&field) != OGRERR_NONE) {
            messages.Fail(file.finalPath, std::string("cannot create the field ") + Fields[f].name);
        }
        // Drivers may hold fields of their own (KML's Name and Description,
        // which take ours of the same name) or launder a name (Shapefile).
        OGRFeatureDefn* defn = layer->GetLayerDefn();
        int index = defn->GetFieldIndex(Fields[f].name);
        if (index < 0) {
            index = defn->GetFieldCount() - 1;
        }
        target.fieldIndex[kind][static_cast<std::size_t>(f)] = index;
        const char* given = defn->GetFieldDefn(index)->GetNameRef();
        if (!EQUAL(given, Fields[f].name)) {
            const std::string renamed = std::string(Fields[f].name) + " as " + given;
            if (std::find(target.renamedFields.begin(), target.renamedFields.end(), renamed) ==
                target.renamedFields.end()) {
                target.renamedFields.push_back(renamed);
            }
        }
    }
    target.layers[kind] = layer;
}

}  // namespace zarn::gis
