#pragma once

#include "checkedfiles.h"
#include "textlayerfile.h"

#include <cpl_vsi.h>

#include <memory>
#include <string>

namespace zarn {

// One layer as a GeoJSON file (RFC 7946): a FeatureCollection named after
// the layer, without a crs member, written through RapidJSON's Writer
// (structure and string escapes) into a buffer that goes to the file in
// blocks of a megabyte. Real properties carry a ".0" when they hold a whole
// number, so that a reader takes the field as real.
class GeoJsonFile : public TextLayerFile {
public:
    // Creates (truncates) the file at `path` (UTF-8) and starts the
    // collection of layer `layerName`. Throws RunError.
    // Written at `path`; messages name `shown`, the file it becomes.
    GeoJsonFile(const std::string& path, const std::string& shown, std::string_view layerName);
    ~GeoJsonFile() override;
    GeoJsonFile(const GeoJsonFile&) = delete;
    GeoJsonFile& operator=(const GeoJsonFile&) = delete;

    void BeginFeature() override;
    void String(const char* key, std::string_view value) override;
    void Integer(const char* key, std::int64_t value) override;
    void Real(const char* key, double value) override;
    void Null(const char* key) override;
    void MultiPolygon(const RegionShape& shape, const VertexDigits& digits) override;
    void MultiLineString(const RegionShape& shape, const VertexDigits& digits) override;
    void Point(double x, double y) override;
    void NoGeometry() override;
    void EndFeature() override;
    void Close() override;

private:
    struct Text;
    void Drain();
    void Geometry(const char* type);
    void Coordinate(double x, double y);
    void Ring(const RegionShape& shape, std::size_t r, const VertexDigits& digits);
    [[noreturn]] void Fail(std::string_view cause);

    std::string path_;
    VSILFILE* file_ = nullptr;
    std::unique_ptr<Text> text_;
    WriteBehind behind_;
};

}  // namespace zarn
