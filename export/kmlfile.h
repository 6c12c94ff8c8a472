#pragma once

#include "textlayerfile.h"

#include <cpl_vsi.h>

#include <memory>
#include <string>
#include <vector>

namespace zarn {

// One layer as a KML 2.2 file, written through libxml2's xmlTextWriter
// (structure and escapes): a Document with the layer's Schema and a Folder
// named after the layer, one Placemark a feature. The property "name" is
// the Placemark's name, the others its SchemaData (a null one left out);
// polygons and lines carry the style GDAL's KML writer gives them (red
// outline, no fill), defined once in the document. Coordinates are
// "lon,lat" tuples; a placemark a line.
class KmlFile : public TextLayerFile {
public:
    struct Field {
        const char* name;
        const char* type;  // KML's: "string", "int", "double"
    };

    // Creates (truncates) the file at `path` (UTF-8) and starts the layer
    // `layerName` with its schema (`fields`, "name" among them or not);
    // `styled` for a layer of polygons or lines. Throws RunError.
    // Written at `path`; messages name `shown`, the file it becomes.
    KmlFile(const std::string& path, const std::string& shown, const char* layerName, const std::vector<Field>& fields,
            bool styled);
    ~KmlFile() override;
    KmlFile(const KmlFile&) = delete;
    KmlFile& operator=(const KmlFile&) = delete;

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

    struct Sink;

private:
    void Start(const char* layerName, const std::vector<Field>& fields);
    void Release() noexcept;
    void Data(const char* key, std::string_view text);
    void NumberData(const char* key, std::string_view digits);
    void EndData();
    void WriteCoordinates();
    void Coordinates(const RegionShape& shape, std::size_t r, const VertexDigits& digits);
    void Check(int written);
    [[noreturn]] void Fail(std::string_view cause);

    std::string path_;
    std::string schemaUrl_;  // "#polygons"
    bool styled_;
    std::unique_ptr<Sink> sink_;
    void* writer_ = nullptr;  // xmlTextWriterPtr
    bool inData_ = false;
    std::string coordinates_;  // the coordinates element of the ring being written, up to its last tuple
    std::string text_;         // a name or value being written
};

}  // namespace zarn
