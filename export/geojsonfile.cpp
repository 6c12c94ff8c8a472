#include "geojsonfile.h"

#include "runerror.h"
#include "safefile.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zarn {

namespace {

// Large enough that a write costs little per byte, small enough to stay
// out of the way of the rest of the run's memory.
constexpr std::size_t BlockBytes = std::size_t{1} << 20;

}  // namespace

struct GeoJsonFile::Text {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
};

GeoJsonFile::GeoJsonFile(const std::string& path, const std::string& shown, std::string_view layerName)
    : path_(shown), text_(std::make_unique<Text>())
{
    errno = 0;
    file_ = VSIFOpenExL(path.c_str(), "wb", TRUE);
    if (file_ == nullptr) {
        Fail(errno != 0 ? std::strerror(errno) : "cannot create it");
    }
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    w.StartObject();
    w.Key("type");
    w.String("FeatureCollection");
    w.Key("name");
    w.String(layerName.data(), static_cast<rapidjson::SizeType>(layerName.size()));
    w.Key("features");
    w.StartArray();
}

GeoJsonFile::~GeoJsonFile()
{
    if (file_ != nullptr) {
        VSIFCloseL(file_);
    }
}

void GeoJsonFile::Fail(std::string_view cause)
{
    throw RunError(EarlierStays(path_, std::string(cause)));
}

void GeoJsonFile::BeginFeature()
{
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    w.StartObject();
    w.Key("type");
    w.String("Feature");
    w.Key("properties");
    w.StartObject();
}

void GeoJsonFile::String(const char* key, std::string_view value)
{
    text_->writer.Key(key);
    text_->writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void GeoJsonFile::Integer(const char* key, std::int64_t value)
{
    text_->writer.Key(key);
    text_->writer.Int64(value);
}

void GeoJsonFile::Real(const char* key, double value)
{
    char digits[ShortestChars + 2];
    char* end = ShortestDigits(digits, value);
    if (end == nullptr) {
        Fail("a figure is not a finite number");
    }
    if (std::find_if(digits, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        *end++ = '.';
        *end++ = '0';
    }
    text_->writer.Key(key);
    text_->writer.RawValue(digits, static_cast<std::size_t>(end - digits), rapidjson::kNumberType);
}

void GeoJsonFile::Null(const char* key)
{
    text_->writer.Key(key);
    text_->writer.Null();
}

void GeoJsonFile::Coordinate(double x, double y)
{
    char digits[PairChars + 2];
    digits[0] = '[';
    char* at = PairDigits(digits + 1, x, y);
    if (at == nullptr) {
        Fail("a coordinate is not a finite number");
    }
    *at++ = ']';
    text_->writer.RawValue(digits, static_cast<std::size_t>(at - digits), rapidjson::kArrayType);
}

// The ring as a raw value, the same text as an array of its coordinates:
// the writer puts the separator before it, and its text goes straight into
// the buffer, which goes to the file a block at a time, also inside a ring
// of millions of vertices.
void GeoJsonFile::Ring(const RegionShape& shape, std::size_t r, const VertexDigits& digits)
{
    text_->writer.RawValue("", 0, rapidjson::kArrayType);
    rapidjson::StringBuffer& out = text_->buffer;
    out.Put('[');
    for (std::size_t i = shape.RingBegin(r); i < shape.ringEnd[r]; ++i) {
        if (i != shape.RingBegin(r)) {
            out.Put(',');
        }
        const std::string_view pair = digits.Pair(i);
        char* at = out.Push(pair.size() + 2);
        at[0] = '[';
        std::memcpy(at + 1, pair.data(), pair.size());
        at[pair.size() + 1] = ']';
        if (out.GetSize() >= BlockBytes) {
            Drain();
        }
    }
    out.Put(']');
}

// Ends the properties and opens the geometry of `type` up to its coordinates.
void GeoJsonFile::Geometry(const char* type)
{
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    w.EndObject();
    w.Key("geometry");
    w.StartObject();
    w.Key("type");
    w.String(type);
    w.Key("coordinates");
}

void GeoJsonFile::MultiPolygon(const RegionShape& shape, const VertexDigits& digits)
{
    if (!digits.Finite()) {
        Fail("a coordinate is not a finite number");
    }
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    Geometry("MultiPolygon");
    w.StartArray();
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        w.StartArray();
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            Ring(shape, r, digits);
        }
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();
}

void GeoJsonFile::MultiLineString(const RegionShape& shape, const VertexDigits& digits)
{
    if (!digits.Finite()) {
        Fail("a coordinate is not a finite number");
    }
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    Geometry("MultiLineString");
    w.StartArray();
    for (std::size_t r = 0; r < shape.ringEnd.size(); ++r) {
        Ring(shape, r, digits);
    }
    w.EndArray();
    w.EndObject();
}

void GeoJsonFile::Point(double x, double y)
{
    rapidjson::Writer<rapidjson::StringBuffer>& w = text_->writer;
    Geometry("Point");
    Coordinate(x, y);
    w.EndObject();
}

void GeoJsonFile::NoGeometry()
{
    text_->writer.EndObject();
    text_->writer.Key("geometry");
    text_->writer.Null();
}

void GeoJsonFile::EndFeature()
{
    text_->writer.EndObject();
    if (text_->buffer.GetSize() >= BlockBytes) {
        Drain();
    }
}

void GeoJsonFile::Drain()
{
    const std::size_t size = text_->buffer.GetSize();
    errno = 0;
    if (size > 0 && VSIFWriteL(text_->buffer.GetString(), 1, size, file_) != size) {
        Fail(errno != 0 ? std::strerror(errno) : "a write was cut short");
    }
    text_->buffer.Clear();
    behind_.Wrote(file_, size);
}

void GeoJsonFile::Close()
{
    text_->writer.EndArray();
    text_->writer.EndObject();
    text_->buffer.Put('\n');
    if (!text_->writer.IsComplete()) {
        Fail("the collection is incomplete");
    }
    Drain();
    VSILFILE* file = file_;
    file_ = nullptr;
    errno = 0;
    if (VSIFCloseL(file) != 0) {
        Fail(errno != 0 ? std::strerror(errno) : "cannot close it");
    }
}

}  // namespace zarn
