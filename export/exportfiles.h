#pragma once

#include "exportschema.h"
#include "gisexport.h"
#include "textlayerfile.h"

#include <gdal_priv.h>
#include <gdal_version.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

// The export's internals, shared by its parts: a format's files, their
// temporary names, their datasets and transactions, and their renaming into
// place.
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
    std::array<std::unique_ptr<File>, gis::LayerCount> files;  // the one-file format uses files[0]
    std::array<OGRLayer*, gis::LayerCount> layers{};  // none for GeoJSON and KML
    std::array<bool, gis::LayerCount> created{};     // the layer has its first row
    std::array<std::array<int, gis::FieldCount>, gis::LayerCount> fieldIndex{};
    std::vector<std::string> renamedFields;  // "a_long_name as a_long_nam" (no field of ours is cut)
    bool skipped = false;  // a format of longitude and latitude only, for a file in plane coordinates

    File& FileOf(std::size_t layer) { return *files[info.oneFile ? 0 : layer]; }
};

namespace gis {

class GdalMessages;

using Target = GisExport::Target;
using File = GisExport::Target::File;

// A GeoPackage's rows go in transactions: StartTransaction opens one where
// the driver has them, CommitTransaction commits the open one. Throw RunError.
void StartTransaction(File& file, GdalMessages& messages);
void CommitTransaction(File& file, GdalMessages& messages);
// A GeoPackage commits this many rows at a time: one transaction per row
// would cost a journal write each, one for the whole file would keep every
// row in SQLite's journal.
inline constexpr std::size_t RowsPerTransaction = 4096;

// Makes the file of `target` in `slot` for the layer file suffix `suffix`
// ("" for a one-file format) beside the input, under its temporary name;
// GeoJSON and KML are created with their layer. Throws RunError.
void CreateFile(Target& target, std::size_t slot, std::string_view suffix, const OutputNames& names,
                const std::string& inputPath, GdalMessages& messages);
// Builds the R-tree of every layer of a GeoPackage created without one.
void BuildSpatialIndexes(const Target& target, File& file, GdalMessages& messages);
// Closes the file's dataset; false when GDAL says the file is incomplete
// (before GDAL 3.7, which gave GDALDataset::Close(), the failures come as
// GDAL messages only). A GeoJSON or KML file throws RunError instead.
bool CloseDataset(File& file);
// Puts the file's members in place of an earlier export's. Throws RunError.
void PutInPlace(const Target& target, const File& file);
// Removes the file's temporary members.
void RemoveTemporary(const Target& target, const File& file);

// GDAL before 3.7 fills a GeoPackage's R-tree when the file closes, one
// insert at a time outside any transaction: 11.7 s for the 200 MB benchmark
// file, against 8.0 s when CreateSpatialIndex() builds it after the last
// row (the same at 100 MB: 3.6 s). GDAL 3.7 and later build it in bulk by
// themselves.
inline constexpr bool BuildsIndexAfterRows = GDAL_VERSION_NUM < GDAL_COMPUTE_VERSION(3, 7, 0);

}  // namespace gis
}  // namespace zarn
