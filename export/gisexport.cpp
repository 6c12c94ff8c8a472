#include "gisexport.h"

#include "analysisrun.h"
#include "checkedfiles.h"
#include "filepath.h"
#include "geojsonfile.h"
#include "kmlfile.h"
#ifdef ZARN_HAVE_GEODESIC
#include "geodesicfile.h"
#endif
#include "numbertext.h"
#include "regionshape.h"
#include "runerror.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace zarn {

namespace {

// A GeoPackage commits this many rows at a time: one transaction per row
// would cost a journal write each, one for the whole file would keep every
// row in SQLite's journal.
constexpr std::size_t RowsPerTransaction = 4096;
constexpr std::size_t RecordsQuoted = 10;
constexpr std::size_t ShapefileStringBytes = 254;
constexpr std::string_view TempInfix = ".partial";
// An earlier export's member while this one's are put in its place.
constexpr std::string_view AsideInfix = ".earlier";
// Every file a Shapefile set may consist of; .shp first.
constexpr std::array<std::string_view, 5> ShapefileSet{"shp", "shx", "dbf", "prj", "cpg"};
// What SQLite may leave beside a GeoPackage it did not close.
constexpr std::array<std::string_view, 3> SqliteSidecars{"-journal", "-wal", "-shm"};

enum LayerKind : std::size_t { Polygons, Centroids, Lines, Points, CentroidsWgs84, LayerCount };

struct LayerInfo {
    const char* name;
    std::string_view fileSuffix;
    OGRwkbGeometryType type;
    bool figures;  // carries the area fields
};

constexpr std::array<LayerInfo, LayerCount> Layers{{
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
constexpr std::array<FieldInfo, FieldCount> Fields{{
    {"name", OFTString},
    {"second", OFTString},
    {"points", OFTInteger},
    {"area_km2", OFTReal},
    {"wgs84_km2", OFTReal},
    {"perim_km", OFTReal},
    {"flags", OFTString},
}};

int FieldsOf(LayerKind layer, bool geodesic)
{
    if (!Layers[layer].figures) {
        return AreaKm2;
    }
    return geodesic ? FieldCount : AreaWgs84Km2;
}

// GDAL's messages while the export works, in place of its default handler
// (standard error): the last failure becomes the cause of the RunError.
// Handlers are per thread, so runs on several threads keep theirs apart.
class GdalMessages {
public:
    GdalMessages() : pusher_(&GdalMessages::Handle, this) {}

    const std::string& Failure() const { return failure_; }
    void Clear() { failure_.clear(); }

    [[noreturn]] void Fail(const std::string& path, std::string_view otherwise) const
    {
        throw RunError("cannot write " + path + ": " + (failure_.empty() ? std::string(otherwise) : failure_));
    }

private:
    static void CPL_STDCALL Handle(CPLErr level, CPLErrorNum /*number*/, const char* message)
    {
        auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
        if (level >= CE_Failure) {
            self->failure_ = message;
        }
    }

    std::string failure_;
    CPLErrorHandlerPusher pusher_;
};

bool Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The figure as the result files write it, so that a GIS shows the same
// digits as <base>Area.csv and <base>Centroid.bna.
double AsWritten(double value)
{
    const std::string text = NumberText(value);
    double parsed = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    return parsed;
}

#ifdef ZARN_HAVE_GEODESIC
// The ellipsoid figures as <base>Geodesic.csv writes them.
constexpr int GeodesicDecimals = 6;

double Fixed(double value, int decimals)
{
    std::string text;
    AppendFixed(text, value, decimals);
    double parsed = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    return parsed;
}
#endif

std::string Utf8(std::string_view name, bool& recoded)
{
    std::string text(name);
    if (CPLIsUTF8(text.c_str(), static_cast<int>(text.size())) != 0) {
        return text;
    }
    recoded = true;
    char* converted = CPLRecode(text.c_str(), "CP1252", CPL_ENC_UTF8);
    text = converted;
    CPLFree(converted);
    return text;
}

void AppendQuoted(std::string& out, std::uint64_t number, std::string_view name)
{
    out.append(std::to_string(number)).append(" \"").append(name).append("\"");
}

// "3 \"a\", 7 \"b\" and 5 more"
std::string QuotedList(const std::vector<std::string>& quoted, std::uint64_t count)
{
    std::string line;
    for (const std::string& q : quoted) {
        if (!line.empty()) {
            line += ", ";
        }
        line += q;
    }
    if (count > quoted.size()) {
        line += " and " + std::to_string(count - quoted.size()) + " more";
    }
    return (count == 1 ? "record " : "records ") + line;
}

// Formats written by a writer library rather than GDAL's driver: GDAL's
// writers of these text formats spend most of their time formatting numbers
// and cannot spell every double in its shortest exact digits.
bool WrittenAsText(ExportFormat format)
{
    return format == ExportFormat::GeoJson || format == ExportFormat::Kml;
}

void RegisterDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

}  // namespace

// One format's files and layers.
struct GisExport::Target {
    struct File {
        std::string finalPath;
        std::string tempPath;
        GDALDatasetUniquePtr ds;
        std::unique_ptr<TextLayerFile> text;  // GeoJSON and KML, written without GDAL
        bool transaction = false;
        std::size_t pending = 0;
        bool renamed = false;
    };

    explicit Target(const ExportFormatInfo& i) : info(i) {}

    const ExportFormatInfo& info;
    std::array<std::unique_ptr<File>, LayerCount> files;  // the one-file format uses files[0]
    std::array<OGRLayer*, LayerCount> layers{};  // none for GeoJSON and KML
    std::array<bool, LayerCount> created{};     // the layer has its first row
    std::array<std::array<int, FieldCount>, LayerCount> fieldIndex{};
    std::vector<std::string> renamedFields;  // "a_long_name as a_long_nam" (no field of ours is cut)
    bool skipped = false;  // a format of longitude and latitude only, for a file in plane coordinates

    File& FileOf(std::size_t layer) { return *files[info.oneFile ? 0 : layer]; }
};

namespace {

using Target = GisExport::Target;
using File = GisExport::Target::File;

std::vector<std::string> PathsOf(const Target& target, const std::string& path)
{
    if (target.info.format != ExportFormat::Shapefile) {
        return {path};
    }
    const std::string stem = path.substr(0, path.size() - 3);
    std::vector<std::string> paths;
    for (std::string_view ext : ShapefileSet) {
        paths.push_back(stem + std::string(ext));
    }
    return paths;
}

void RemoveTemporary(const Target& target, const File& file)
{
    for (const std::string& path : PathsOf(target, file.tempPath)) {
        std::remove(path.c_str());
    }
    if (target.info.format == ExportFormat::GeoPackage) {
        for (std::string_view suffix : SqliteSidecars) {
            std::remove((file.tempPath + std::string(suffix)).c_str());
        }
    }
}

void StartTransaction(File& file, GdalMessages& messages)
{
    if (file.ds->TestCapability(ODsCTransactions) == 0) {
        return;
    }
    if (file.ds->StartTransaction() != OGRERR_NONE) {
        messages.Fail(file.tempPath, "cannot start a transaction");
    }
    file.transaction = true;
    file.pending = 0;
}

void CommitTransaction(File& file, GdalMessages& messages)
{
    if (!file.transaction) {
        return;
    }
    file.transaction = false;
    if (file.ds->CommitTransaction() != OGRERR_NONE) {
        messages.Fail(file.tempPath, "cannot commit a transaction");
    }
}

// Whether GDAL's driver reports a write it could not complete by itself (at
// the latest when the dataset is closed). GeoPackage (SQLite) and Shapefile
// check every write, and TextLayerFile checks its own. FlatGeobuf still
// carries on past a short write and closes without a word, so its files are
// written through CheckedPath.
bool ChecksItsWrites(ExportFormat format)
{
    switch (format) {
    case ExportFormat::GeoPackage:
    case ExportFormat::Shapefile:
    case ExportFormat::GeoJson:
    case ExportFormat::Kml:
        return true;
    case ExportFormat::FlatGeobuf:
        break;
    }
    return false;
}

// GDAL before 3.7 fills a GeoPackage's R-tree when the file closes, one
// insert at a time outside any transaction: 11.7 s for the 200 MB benchmark
// file, against 8.0 s when CreateSpatialIndex() builds it after the last
// row (the same at 100 MB: 3.6 s). GDAL 3.7 and later build it in bulk by
// themselves.
constexpr bool BuildsIndexAfterRows = GDAL_VERSION_NUM < GDAL_COMPUTE_VERSION(3, 7, 0);

// Builds the R-tree of every layer of a GeoPackage created without one.
void BuildSpatialIndexes(const Target& target, File& file, GdalMessages& messages)
{
    if (!BuildsIndexAfterRows || target.info.format != ExportFormat::GeoPackage || !file.ds) {
        return;
    }
    for (OGRLayer* layer : target.layers) {
        if (layer == nullptr) {
            continue;
        }
        const std::string sql = std::string("SELECT CreateSpatialIndex('") + layer->GetName() + "', '" +
                                layer->GetGeometryColumn() + "')";
        OGRLayer* result = file.ds->ExecuteSQL(sql.c_str(), nullptr, nullptr);
        OGRFeatureUniquePtr built(result != nullptr ? result->GetNextFeature() : nullptr);
        const bool ok = built && built->GetFieldAsInteger(0) == 1;
        if (result != nullptr) {
            file.ds->ReleaseResultSet(result);
        }
        if (!ok || !messages.Failure().empty()) {
            messages.Fail(file.tempPath, std::string("cannot build the spatial index of ") + layer->GetName());
        }
    }
}

// Closes the file's dataset; false when GDAL says the file is incomplete
// (before GDAL 3.7, which gave GDALDataset::Close(), the failures come as
// GDAL messages only). A GeoJSON or KML file throws RunError instead.
bool CloseDataset(File& file)
{
    if (file.text) {
        const std::unique_ptr<TextLayerFile> text = std::move(file.text);
        text->Close();
        return true;
    }
    if (!file.ds) {
        return true;
    }
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 7, 0)
    const bool closed = file.ds->Close() == CE_None;
#else
    const bool closed = true;
#endif
    file.ds.reset();
    return closed;
}

// Puts the file's members in place of an earlier export's, one rename each,
// the Shapefile's .shp last (a reader takes the set by it). Each earlier
// member is kept aside under a link until all are in place, so that a
// failure puts the earlier set back whole rather than leave a mix of two
// runs' members. Throws RunError.
void PutInPlace(const Target& target, const File& file)
{
    const std::vector<std::string> from = PathsOf(target, file.tempPath);
    const std::vector<std::string> to = PathsOf(target, file.finalPath);
    const std::size_t dot = file.finalPath.rfind('.');
    const std::vector<std::string> aside =
        PathsOf(target, file.finalPath.substr(0, dot) + std::string(AsideInfix) + file.finalPath.substr(dot));
    std::vector<std::size_t> order(from.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = (i + 1) % order.size();  // the first member, .shp, last
    }
    std::vector<bool> keptAside(to.size(), false);
    std::vector<bool> touched(to.size(), false);
    const auto undo = [&] {
        std::error_code ec;
        for (std::size_t i = 0; i < to.size(); ++i) {
            if (keptAside[i] && touched[i]) {
                std::filesystem::rename(PathFromUtf8(aside[i]), PathFromUtf8(to[i]), ec);
            } else if (keptAside[i]) {
                // Still the earlier member itself (renaming one link over
                // another of the same file would leave both).
                std::filesystem::remove(PathFromUtf8(aside[i]), ec);
            } else if (touched[i]) {
                std::filesystem::remove(PathFromUtf8(to[i]), ec);
            }
        }
    };
    std::error_code ec;
    if (to.size() > 1) {
        for (std::size_t i = 0; i < to.size(); ++i) {
            std::filesystem::remove(PathFromUtf8(aside[i]), ec);
            if (!Exists(to[i])) {
                continue;
            }
            std::filesystem::create_hard_link(PathFromUtf8(to[i]), PathFromUtf8(aside[i]), ec);
            if (ec) {
                // A file system without links: a copy serves.
                std::filesystem::copy_file(PathFromUtf8(to[i]), PathFromUtf8(aside[i]), ec);
            }
            if (ec) {
                undo();
                throw RunError("cannot replace " + to[i] + ": " + ec.message());
            }
            keptAside[i] = true;
        }
    }
    for (const std::size_t i : order) {
        if (Exists(from[i])) {
            std::filesystem::rename(PathFromUtf8(from[i]), PathFromUtf8(to[i]), ec);
        } else {
            // A member of an earlier export that this one does not have.
            std::filesystem::remove(PathFromUtf8(to[i]), ec);
        }
        if (ec) {
            undo();
            throw RunError("cannot rename " + from[i] + " to " + to[i] + ": " + ec.message());
        }
        touched[i] = true;
    }
    for (std::size_t i = 0; i < to.size(); ++i) {
        if (keptAside[i]) {
            std::filesystem::remove(PathFromUtf8(aside[i]), ec);
        }
    }
}

void CreateFile(Target& target, std::size_t slot, std::string_view suffix, const OutputNames& names,
                const std::string& inputPath, GdalMessages& messages)
{
    auto file = std::make_unique<File>();
    const std::string stem = names.outputFolder + names.baseName + std::string(suffix);
    std::string ext(1, '.');
    ext += target.info.extension;
    file->finalPath = stem + ext;
    file->tempPath = stem + std::string(TempInfix) + ext;
    for (const std::string* path : {&file->finalPath, &file->tempPath}) {
        for (const std::string& member : PathsOf(target, *path)) {
            if (SameFile(member, inputPath)) {
                throw RunError("the export file " + member + " is the input file itself");
            }
        }
    }
    // What an interrupted run left under the same temporary names.
    RemoveTemporary(target, *file);
    if (WrittenAsText(target.info.format)) {
        // Created with its layer, which names the collection.
        target.files[slot] = std::move(file);
        return;
    }
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(std::string(target.info.driver).c_str());
    if (driver == nullptr) {
        throw RunError("cannot write " + file->finalPath + ": GDAL has no " + std::string(target.info.driver) +
                       " driver");
    }
    const std::string createPath = ChecksItsWrites(target.info.format) ? file->tempPath : CheckedPath(file->tempPath);
    // SQLite would wait for the disk at every commit; the file is renamed
    // into place only once it is complete, and the other result files are
    // not synced either.
    const CPLConfigOptionSetter noSync("OGR_SQLITE_SYNCHRONOUS", "OFF", true);
    file->ds.reset(driver->Create(createPath.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!file->ds) {
        messages.Fail(file->tempPath, "the driver cannot create it");
    }
    target.files[slot] = std::move(file);
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
        file.text = std::make_unique<GeoJsonFile>(file.tempPath, Layers[kind].name);
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
        file.text = std::make_unique<KmlFile>(file.tempPath, Layers[kind].name, fields,
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
            messages.Fail(file.tempPath, "EPSG:4326 is unknown to GDAL");
        }
        srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        layerSrs = &srs;
    } else if (target.info.format == ExportFormat::GeoPackage) {
        srs.SetLocalCS("Undefined cartesian SRS");
        layerSrs = &srs;
    }
    OGRLayer* layer = file.ds->CreateLayer(Layers[kind].name, layerSrs, Layers[kind].type, options.List());
    if (layer == nullptr) {
        messages.Fail(file.tempPath, std::string("cannot create the layer ") + Layers[kind].name);
    }
    for (int f = 0; f < FieldsOf(kind, geodesic); ++f) {
        OGRFieldDefn field(Fields[f].name, Fields[f].type);
        if (layer->CreateField(&field) != OGRERR_NONE) {
            messages.Fail(file.tempPath, std::string("cannot create the field ") + Fields[f].name);
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

// The layer, created with its file where it is the first row: a layer
// without rows is left out in every format alike.
OGRLayer* LayerFor(Target& target, LayerKind kind, bool geodesic, Coordinates coordinates, const OutputNames& names,
                   const std::string& inputPath, GdalMessages& messages)
{
    if (target.created[kind]) {
        return target.layers[kind];
    }
    if (target.info.oneFile) {
        File& file = *target.files[0];
        CommitTransaction(file, messages);
        CreateLayer(target, kind, geodesic, coordinates, messages);
        StartTransaction(file, messages);
    } else {
        CreateFile(target, kind, Layers[kind].fileSuffix, names, inputPath, messages);
        CreateLayer(target, kind, geodesic, coordinates, messages);
    }
    return target.layers[kind];
}

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
            sink.Real(AreaWgs84Km2, Fixed(row.geodesic->areaKm2, GeodesicDecimals));
            sink.Real(PerimeterKm, Fixed(row.geodesic->perimeterKm, GeodesicDecimals));
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
         Coordinates coordinates, const OutputNames& names, const std::string& inputPath, GdalMessages& messages)
{
    OGRLayer* layer = LayerFor(target, kind, geodesic, coordinates, names, inputPath, messages);
    File& file = target.FileOf(kind);
    OGRFeatureUniquePtr feature(OGRFeature::CreateFeature(layer->GetLayerDefn()));
    EachField(kind, row, geodesic, FeatureFields{*feature, target.fieldIndex[kind]});
    OGRErr added = OGRERR_FAILURE;
    // SetGeometryDirectly deletes a geometry it cannot take.
    if (geometry == nullptr || feature->GetGeomFieldCount() > 0) {
        struct Lent {
            OGRFeature& feature;
            ~Lent()
            {
                const OGRGeometry* back = feature.StealGeometry();
                static_cast<void>(back);
            }
        };
        feature->SetGeometryDirectly(geometry);
        const Lent lent{*feature};
        added = layer->CreateFeature(feature.get());
    }
    if (added != OGRERR_NONE || !messages.Failure().empty()) {
        messages.Fail(file.tempPath, std::string("cannot add a row to ") + Layers[kind].name);
    }
    if (file.transaction && ++file.pending >= RowsPerTransaction) {
        CommitTransaction(file, messages);
        StartTransaction(file, messages);
    }
}

// The polygons of the geometry step, as OGR holds them.
void MakeMultiPolygon(const RegionShape& shape, OGRMultiPolygon& out)
{
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        auto polygon = std::make_unique<OGRPolygon>();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            const std::size_t begin = shape.RingBegin(r);
            auto ring = std::make_unique<OGRLinearRing>();
            ring->setPoints(static_cast<int>(shape.ringEnd[r] - begin), shape.x.data() + begin, shape.y.data() + begin);
            polygon->addRingDirectly(ring.release());
        }
        out.addGeometryDirectly(polygon.release());
    }
}

void MakeMultiLineString(const RegionShape& shape, OGRMultiLineString& out)
{
    for (std::size_t r = 0; r < shape.ringEnd.size(); ++r) {
        const std::size_t begin = shape.RingBegin(r);
        auto line = std::make_unique<OGRLineString>();
        line->setPoints(static_cast<int>(shape.ringEnd[r] - begin), shape.x.data() + begin, shape.y.data() + begin);
        out.addGeometryDirectly(line.release());
    }
}

bool TakesDegreesOnly(ExportFormat format)
{
    return format == ExportFormat::GeoJson || format == ExportFormat::Kml;
}

}  // namespace

// One record's rows, as the writing thread takes them: the row's fields,
// its geometry as the geometry step made it, its centroids.
struct GisExport::Item {
    Row row;
    GeodesicFigures figures;  // row.geodesic points here when the run has them
    bool hasFigures = false;
    Coordinates coordinates = Coordinates::Degrees;
    LayerKind kind = LayerCount;
    RegionShape region;     // polygons and lines
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

    // The memory its buffers hold.
    std::size_t Bytes() const
    {
        return (region.x.capacity() + region.y.capacity()) * sizeof(double) +
               (region.ringEnd.capacity() + region.polygonEnd.capacity()) * sizeof(std::size_t) + digits.Bytes() +
               row.name.capacity() + row.second.capacity();
    }
};

// The thread that writes an export's rows, in the order they are queued.
// It takes them a batch at a time, so that the two threads meet once per
// batch rather than once per row. The queue holds at most MaxItems rows and,
// beyond its first, MaxVertices vertices; written items come back to be
// filled again, their buffers kept up to MaxHeldBytes between them all.
class GisExport::Writer {
public:
    explicit Writer(GisExport& owner) : owner_(owner), thread_([this] { Run(); }) {}
    ~Writer() { Stop(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    std::unique_ptr<Item> Spare()
    {
        const std::lock_guard lock(mutex_);
        if (spare_.empty()) {
            return std::make_unique<Item>();
        }
        std::unique_ptr<Item> item = std::move(spare_.back());
        spare_.pop_back();
        return item;
    }

    // Queues `item`, waiting while the queue is full. Throws what ended the
    // writing.
    void Push(std::unique_ptr<Item> item)
    {
        std::unique_lock lock(mutex_);
        space_.wait(lock, [&] {
            return failure_ || queue_.empty() || (queue_.size() < MaxItems && weight_ < MaxVertices);
        });
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        weight_ += item->weight;
        queue_.push_back(std::move(item));
        queued_.store(queue_.size(), std::memory_order_relaxed);
        if (BatchReady()) {
            work_.notify_one();
        }
    }

    // Waits until every queued row is written. Throws what ended the writing.
    void Finish()
    {
        {
            const std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        work_.notify_one();
        Join();
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

    // More rows wait than one batch: the writing is the slower side.
    bool Behind() const { return queued_.load(std::memory_order_relaxed) > MaxItems / 4; }

    // Drops the rows not yet written.
    void Stop() noexcept
    {
        std::deque<std::unique_ptr<Item>> dropped;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
            dropped.swap(queue_);
        }
        work_.notify_one();
        Join();
    }

private:
    static constexpr std::size_t MaxItems = 512;
    static constexpr std::size_t MaxVertices = std::size_t{1} << 17;
    static constexpr std::size_t MaxHeldBytes = std::size_t{8} << 20;

    bool BatchReady() const { return queue_.size() >= MaxItems / 4 || weight_ >= MaxVertices / 4; }

    void Join() noexcept
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void Run()
    {
        std::deque<std::unique_ptr<Item>> batch;
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return stopping_ || finishing_ || BatchReady(); });
            if (stopping_ || queue_.empty()) {
                return;
            }
            batch.swap(queue_);
            weight_ = 0;
            queued_.store(0, std::memory_order_relaxed);
            space_.notify_one();
            lock.unlock();
            try {
                for (const std::unique_ptr<Item>& item : batch) {
                    if (stopping_) {
                        return;
                    }
                    owner_.Write(*item);
                }
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                space_.notify_one();
                return;
            }
            for (const std::unique_ptr<Item>& item : batch) {
                // Buffers grown for a record of many points, or in many
                // items over a long file, are let go.
                held_ -= item->held;
                if (held_ + item->Bytes() > MaxHeldBytes) {
                    item->region = RegionShape{};
                    item->digits.Release();
                }
                item->held = item->Bytes();
                held_ += item->held;
            }
            lock.lock();
            for (std::unique_ptr<Item>& item : batch) {
                spare_.push_back(std::move(item));
            }
            batch.clear();
        }
    }

    GisExport& owner_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable space_;
    std::deque<std::unique_ptr<Item>> queue_;
    std::vector<std::unique_ptr<Item>> spare_;
    std::atomic<std::size_t> queued_ = 0;  // queue_.size(), read without the lock
    std::size_t weight_ = 0;         // vertices in queue_
    std::size_t held_ = 0;  // the items' Bytes() when last written, in all; the writing thread's
    bool finishing_ = false;
    std::atomic<bool> stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;  // last, so that it starts with the rest in place
};

GisExport::GisExport(std::vector<ExportFormat> formats, bool geodesic, std::shared_ptr<ExportNotes> notes)
    : formats_(std::move(formats)), geodesic_(geodesic), notes_(std::move(notes))
{
}

std::vector<std::unique_ptr<GisExport>> MakeGisExports(const std::vector<ExportFormat>& formats, bool geodesic)
{
    std::vector<std::unique_ptr<GisExport>> exports;
    const auto notes = std::make_shared<GisExport::ExportNotes>();
    for (ExportFormat format : formats) {
        exports.push_back(std::make_unique<GisExport>(std::vector<ExportFormat>{format}, geodesic, notes));
    }
    return exports;
}

GisExport::~GisExport()
{
    Abandon();
}

void GisExport::Open(const OutputNames& names, const std::string& inputPath, RunHost& /*host*/)
{
    Abandon();
    names_ = names;
    inputPath_ = inputPath;
    recordNumber_ = 0;
    recoded_.clear();
    recodedCount_ = 0;
    cut_.clear();
    cutCount_ = 0;
    summary_.clear();
    skipped_.clear();
    coordinatesKnown_ = false;
    asText_ = false;
    viaGdal_ = false;
    RegisterDrivers();
    GdalMessages messages;
    try {
        for (ExportFormat format : formats_) {
            auto target = std::make_unique<Target>(Info(format));
            Target& t = *target;
            targets_.push_back(std::move(target));
            if (t.info.oneFile) {
                // Its layers come with their first rows.
                CreateFile(t, 0, "", names_, inputPath_, messages);
                StartTransaction(*t.files[0], messages);
            }
        }
        writer_ = std::make_unique<Writer>(*this);
    } catch (...) {
        Abandon();
        throw;
    }
}

void GisExport::Add(const RecordResult& result)
{
    const StreamRecord& record = result.record;
    ++recordNumber_;
    if (!record.complete) {
        return;  // the reading failed inside it; the run ends with that failure
    }
    std::unique_ptr<Item> item = writer_->Spare();
    Item& it = *item;
    bool recoded = false;
    Row& row = it.row;
    row.name = Utf8(record.firstName, recoded);
    row.second = Utf8(record.secondName, recoded);
    row.points = record.nPoints;
    row.hasArea = false;
    if (result.classic != nullptr) {
        row.hasArea = true;
        row.areaKm2 = AsWritten(std::fabs(result.classic->area));
    }
    it.hasFigures = result.geodesic != nullptr;
    if (it.hasFigures) {
        it.figures = *result.geodesic;
    }
    if (recoded && ++recodedCount_ <= RecordsQuoted) {
        AppendQuoted(recoded_.emplace_back(), recordNumber_, record.firstName);
    }
    if ((row.name.size() > ShapefileStringBytes || row.second.size() > ShapefileStringBytes) &&
        ++cutCount_ <= RecordsQuoted) {
        AppendQuoted(cut_.emplace_back(), recordNumber_, record.firstName);
    }

    // The file's coordinates are the same for every record: in plane
    // coordinates GeoJSON and KML, which hold longitude and latitude only,
    // are not written.
    const Coordinates coordinates = result.coordinates;
    it.coordinates = coordinates;
    if (!coordinatesKnown_) {
        coordinatesKnown_ = true;
        for (const std::unique_ptr<Target>& target : targets_) {
            if (coordinates == Coordinates::Plane && TakesDegreesOnly(target->info.format)) {
                target->skipped = true;
                skipped_.emplace_back(target->info.title);
                notes_->skipped.emplace_back(target->info.title);
            }
        }
        asText_ = std::any_of(targets_.begin(), targets_.end(), [](const std::unique_ptr<Target>& t) {
            return !t->skipped && WrittenAsText(t->info.format);
        });
        viaGdal_ = std::any_of(targets_.begin(), targets_.end(), [](const std::unique_ptr<Target>& t) {
            return !t->skipped && !WrittenAsText(t->info.format);
        });
    }

    // Every polygon comes from the geometry step, the same in every format.
    const double* lon = record.lon;
    const double* lat = record.lat;
    const std::size_t n = lon != nullptr && lat != nullptr ? record.pointsRead : 0;
    const bool degrees = coordinates == Coordinates::Degrees;
    it.kind = LayerCount;
    it.point.reset();
    it.region.Clear();
    if (record.nPoints >= 3) {
        it.kind = Polygons;
        SplitRings(lon, lat, n, coordinates, rings_);
        shaper_.Make(lon, lat, rings_, coordinates, it.region);
        if (degrees && shapeCheck_.Repair(lon, lat, rings_, it.region) && it.hasFigures) {
            it.figures.flags |= PolygonRebuilt;
        }
    } else if (record.nPoints < 0 || record.nPoints == 2) {
        it.kind = Lines;
        CutLine(lon, lat, n, coordinates, it.region);
    } else if (record.nPoints == 1) {
        it.kind = Points;
        if (n >= 1) {
            it.point = Item::Point{degrees ? WrapLongitude(lon[0]) : lon[0], lat[0]};
        }
    }

    // The vertices' digits for GeoJSON and KML here while the writing is
    // behind, otherwise there: the same digits on either thread.
    it.digitsMade = false;
    if (asText_ && (it.kind == Polygons || it.kind == Lines) && writer_->Behind()) {
        it.digits.Make(it.region);
        it.digitsMade = true;
    }

    // Points in degrees with their longitudes in [-180, 180).
    it.centroid.reset();
    if (result.classic != nullptr) {
        const double x = AsWritten(result.classic->centroidX);
        it.centroid = Item::Point{degrees ? WrapLongitude(x) : x, AsWritten(result.classic->centroidY)};
    }
    it.centroidWgs84.reset();
    if (geodesic_ && result.geodesic != nullptr && result.geodesic->hasCentroid) {
        it.centroidWgs84 = Item::Point{result.geodesic->centroidLon, result.geodesic->centroidLat};
    }
    it.weight = it.region.x.size() + 1;
    writer_->Push(std::move(item));
}

void GisExport::Write(Item& item)
{
    GdalMessages messages;
    Row& row = item.row;
    row.geodesic = item.hasFigures ? &item.figures : nullptr;
    const LayerKind kind = item.kind;
    const Coordinates coordinates = item.coordinates;
    if (asText_ && !item.digitsMade && (kind == Polygons || kind == Lines)) {
        item.digits.Make(item.region);
    }
    std::unique_ptr<OGRGeometry> shape;
    std::optional<OGRPoint> centroid;
    std::optional<OGRPoint> centroidWgs84;
    // OGR's geometries only where a format written through GDAL takes them,
    // made and freed on this thread.
    if (viaGdal_) {
        if (kind == Polygons) {
            auto polygons = std::make_unique<OGRMultiPolygon>();
            MakeMultiPolygon(item.region, *polygons);
            shape = std::move(polygons);
        } else if (kind == Lines) {
            auto lines = std::make_unique<OGRMultiLineString>();
            MakeMultiLineString(item.region, *lines);
            shape = std::move(lines);
        } else if (kind == Points && item.point) {
            shape = std::make_unique<OGRPoint>(item.point->x, item.point->y);
        }
        if (item.centroid) {
            centroid.emplace(item.centroid->x, item.centroid->y);
        }
        if (item.centroidWgs84) {
            centroidWgs84.emplace(item.centroidWgs84->x, item.centroidWgs84->y);
        }
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        if (target->skipped) {
            continue;
        }
        if (WrittenAsText(target->info.format)) {
            const auto put = [&](LayerKind layer, const auto& geometry) {
                PutText(*target, layer, row, geodesic_, coordinates, names_, inputPath_, messages, geometry);
            };
            const auto point = [](Item::Point p) { return [p](TextLayerFile& text) { text.Point(p.x, p.y); }; };
            if (kind == Polygons) {
                put(kind, [&](TextLayerFile& text) { text.MultiPolygon(item.region, item.digits); });
            } else if (kind == Lines) {
                put(kind, [&](TextLayerFile& text) { text.MultiLineString(item.region, item.digits); });
            } else if (kind == Points) {
                put(kind, [&](TextLayerFile& text) {
                    if (item.point) {
                        text.Point(item.point->x, item.point->y);
                    } else {
                        text.NoGeometry();
                    }
                });
            }
            if (item.centroid) {
                put(Centroids, point(*item.centroid));
            }
            if (item.centroidWgs84) {
                put(CentroidsWgs84, point(*item.centroidWgs84));
            }
            continue;
        }
        if (kind != LayerCount) {
            Put(*target, kind, row, shape.get(), geodesic_, coordinates, names_, inputPath_, messages);
        }
        if (centroid) {
            Put(*target, Centroids, row, &*centroid, geodesic_, coordinates, names_, inputPath_, messages);
        }
        if (centroidWgs84) {
            Put(*target, CentroidsWgs84, row, &*centroidWgs84, geodesic_, coordinates, names_, inputPath_, messages);
        }
    }
}

void GisExport::Close(RunHost& host)
{
    if (writer_) {
        writer_->Finish();
        writer_.reset();
    }
    {
        GdalMessages messages;
        // Every file complete before the first is renamed, so that a failure
        // leaves none of this run's files under its final name.
        for (const std::unique_ptr<Target>& target : targets_) {
            for (const std::unique_ptr<File>& file : target->files) {
                if (!file) {
                    continue;
                }
                CommitTransaction(*file, messages);
                BuildSpatialIndexes(*target, *file, messages);
                messages.Clear();
                if (!CloseDataset(*file) || !messages.Failure().empty()) {
                    messages.Fail(file->tempPath, "cannot close it");
                }
            }
        }
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        for (const std::unique_ptr<File>& file : target->files) {
            if (!file) {
                continue;
            }
            if (std::none_of(target->created.begin(), target->created.end(), [](bool c) { return c; })) {
                // No layer has rows (a file without records): no file, as in the other formats.
                RemoveTemporary(*target, *file);
                file->renamed = true;
                continue;
            }
            PutInPlace(*target, *file);
            file->renamed = true;
            std::string& line = summary_.emplace_back(1, '\t');
            line.append(target->info.title).append(": \t").append(file->finalPath, names_.outputFolder.size());
        }
    }
    if (!notes_->namesTold && recodedCount_ > 0) {
        notes_->namesTold = true;
        host.AppendProgress("Export: names that are not UTF-8 read as Windows-1252 in " +
                            QuotedList(recoded_, recodedCount_) + ".");
    }
    if (!shapeCheck_.Note().empty()) {
        host.AppendProgress(shapeCheck_.Note());
    }
    for (const std::unique_ptr<Target>& target : targets_) {
        if (target->info.format != ExportFormat::Shapefile) {
            continue;
        }
        if (!target->renamedFields.empty()) {
            std::string line = "Export: the Shapefile's field names are cut to 10 characters: ";
            for (std::size_t i = 0; i < target->renamedFields.size(); ++i) {
                line += (i == 0 ? "" : ", ") + target->renamedFields[i];
            }
            host.AppendProgress(line + ".");
        }
        if (cutCount_ > 0) {
            host.AppendProgress("Export: the Shapefile's names are cut to 254 bytes in " +
                                QuotedList(cut_, cutCount_) + ".");
        }
    }
    targets_.clear();
}

void GisExport::Abandon() noexcept
{
    writer_.reset();
    GdalMessages messages;
    for (const std::unique_ptr<Target>& target : targets_) {
        for (const std::unique_ptr<File>& file : target->files) {
            if (!file || file->renamed) {
                continue;
            }
            file->ds.reset();
            file->text.reset();
            RemoveTemporary(*target, *file);
        }
    }
    targets_.clear();
}

void GisExport::AppendSummary(RunHost& host)
{
    for (const std::string& line : summary_) {
        host.AppendSummary(line);
    }
    // The formats left out, told once by the first of them.
    if (!skipped_.empty() && !notes_->skippedTold) {
        notes_->skippedTold = true;
        std::string formats;
        for (std::size_t i = 0; i < notes_->skipped.size(); ++i) {
            formats += i == 0 ? "" : i + 1 == notes_->skipped.size() ? " and " : ", ";
            formats += notes_->skipped[i];
        }
        host.AppendSummary("\t" + formats + ": \tnot written: the coordinates are not degrees (a latitude lies beyond 90), and " +
                           (notes_->skipped.size() == 1 ? "this format holds" : "these formats hold") +
                           " longitude and latitude only");
    }
}

}  // namespace zarn
