#include "exportfiles.h"

#include "checkedfiles.h"
#include "filepath.h"
#include "gdalmessages.h"
#include "geojsonfile.h"
#include "kmlfile.h"
#include "runerror.h"
#include "safefile.h"

#include <cpl_conv.h>
#include <ogrsf_frmts.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zarn::gis {

namespace {

// Every file a Shapefile set may consist of; .shp first.
constexpr std::array<std::string_view, 5> ShapefileSet{"shp", "shx", "dbf", "prj", "cpg"};
// What SQLite may leave beside a GeoPackage it did not close.
constexpr std::array<std::string_view, 3> SqliteSidecars{"-journal", "-wal", "-shm"};

bool Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

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

}  // namespace

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
        messages.Fail(file.finalPath, "cannot start a transaction");
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
        messages.Fail(file.finalPath, "cannot commit a transaction");
    }
}

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
            messages.Fail(file.finalPath, std::string("cannot build the spatial index of ") + layer->GetName());
        }
    }
}

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
    // On the disk before any is renamed, as every file of a run.
    for (const std::string& member : from) {
        if (Exists(member) && !SyncFile(member)) {
            throw RunError(EarlierStays(file.finalPath, std::strerror(errno)));
        }
    }
    // An earlier member is kept aside under a name of this run's own.
    const std::vector<std::string> aside = PathsOf(target, to.size() > 1 ? TemporaryName(file.finalPath) : "");
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
                throw RunError(EarlierStays(to[i], ec.message()));
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
            throw RunError(EarlierStays(to[i], ec.message()));
        }
        touched[i] = true;
    }
    for (std::size_t i = 0; i < to.size(); ++i) {
        if (keptAside[i]) {
            std::filesystem::remove(PathFromUtf8(aside[i]), ec);
        }
    }
    // The renames on the disk; a failure here leaves the complete files in
    // place, which is all a run can do about it.
    SyncFolderOf(file.finalPath);
}

void CreateFile(Target& target, std::size_t slot, std::string_view suffix, const OutputNames& names,
                const std::string& inputPath, GdalMessages& messages)
{
    auto file = std::make_unique<File>();
    const std::string stem = names.outputFolder + names.baseName + std::string(suffix);
    std::string ext(1, '.');
    ext += target.info.extension;
    file->finalPath = stem + ext;
    for (const std::string& member : PathsOf(target, file->finalPath)) {
        if (SameFile(member, inputPath)) {
            throw RunError("the export file " + member + " is the input file itself");
        }
    }
    file->tempPath = TemporaryName(file->finalPath);
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
    // The target's before the driver makes anything, so that what a failure
    // leaves is removed with the rest.
    File& made = *file;
    target.files[slot] = std::move(file);
    // SQLite would wait for the disk at every commit; the file is synced
    // once, when complete, before it is renamed into place (PutInPlace).
    const CPLConfigOptionSetter noSync("OGR_SQLITE_SYNCHRONOUS", "OFF", true);
    made.ds.reset(driver->Create(createPath.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!made.ds) {
        messages.Fail(made.finalPath, "the driver cannot create it");
    }
}

}  // namespace zarn::gis
