#pragma once

#include "regionshape.h"

#include <cpl_vsi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zarn {

// One layer as a GeoJSON file (RFC 7946): a FeatureCollection named after
// the layer, without a crs member, written feature by feature through
// RapidJSON's Writer (structure and string escapes) into a buffer that goes
// to the file in blocks of BlockBytes, so memory stays flat in the file's
// size.
//
// Numbers: every coordinate and real property is written as the shortest
// decimal text that reads back as the same double (std::to_chars), so a
// vertex read from the file keeps the digits it was written with (54.9, not
// 54.89999999999999858); real properties carry a ".0" when they hold a whole
// number, so that a reader takes the field as real. A number that is not
// finite cannot be written in JSON and fails the file.
//
// Every write is checked: a short write (a full disk, a file size limit) or
// a failed close throws RunError, and Close returns only for a complete
// file. The caller removes the file when anything throws.
class GeoJsonFile {
public:
    // Creates (truncates) the file at `path` (UTF-8) and starts the
    // collection of layer `layerName`. Throws RunError.
    GeoJsonFile(const std::string& path, std::string_view layerName);
    ~GeoJsonFile();
    GeoJsonFile(const GeoJsonFile&) = delete;
    GeoJsonFile& operator=(const GeoJsonFile&) = delete;

    // A feature: BeginFeature, its properties in the schema's order, one
    // geometry call, EndFeature.
    void BeginFeature();
    void String(const char* key, std::string_view value);
    void Integer(const char* key, std::int64_t value);
    void Real(const char* key, double value);
    void Null(const char* key);
    // The polygons of the geometry step as a MultiPolygon (no polygon: an
    // empty one), or its pieces of line as a MultiLineString.
    void MultiPolygon(const RegionShape& shape);
    void MultiLineString(const RegionShape& shape);
    void Point(double x, double y);
    void NoGeometry();
    void EndFeature();

    // Completes the collection and closes the file. Throws RunError.
    void Close();

private:
    struct Text;
    void Drain();
    void Coordinate(double x, double y);
    void Ring(const RegionShape& shape, std::size_t r);
    [[noreturn]] void Fail(std::string_view cause);

    std::string path_;
    VSILFILE* file_ = nullptr;
    std::unique_ptr<Text> text_;
};

}  // namespace zarn
