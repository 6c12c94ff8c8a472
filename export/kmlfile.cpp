#include "kmlfile.h"

#include "checkedfiles.h"
#include "runerror.h"
#include "safefile.h"

#include <libxml/chvalid.h>
#include <libxml/xmlwriter.h>

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <cstring>

namespace zarn {

namespace {

const xmlChar* X(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

xmlTextWriterPtr W(void* writer)
{
    return static_cast<xmlTextWriterPtr>(writer);
}

// The text without the control characters that XML cannot hold at all,
// escaped or not (all below 0x20 but tab, line feed and carriage return),
// as GDAL's KML writer drops them, into `kept`. The rest is valid UTF-8
// already.
const char* XmlText(std::string_view text, std::string& kept)
{
    kept.clear();
    for (const char c : text) {
        if (xmlIsChar_ch(static_cast<unsigned char>(c))) {
            kept.push_back(c);
        }
    }
    return kept.c_str();
}

// What the start tag of the coordinates element adds to a ring's text.
constexpr std::string_view CoordinatesStart = "<coordinates>";
constexpr std::string_view CoordinatesEnd = "</coordinates>";

}  // namespace

// Where libxml2's output buffer puts its blocks: the file, every write and
// the close checked.
struct KmlFile::Sink {
    VSILFILE* file = nullptr;
    WriteBehind behind;
    int error = 0;  // errno of the first failure; EIO where there was none
    bool failed = false;

    void Failed()
    {
        if (!failed) {
            failed = true;
            error = errno != 0 ? errno : EIO;
        }
    }

    static int Write(void* context, const char* buffer, int length)
    {
        auto* self = static_cast<Sink*>(context);
        errno = 0;
        if (self->failed || VSIFWriteL(buffer, 1, static_cast<size_t>(length), self->file) != static_cast<size_t>(length)) {
            self->Failed();
            return -1;
        }
        self->behind.Wrote(self->file, static_cast<std::size_t>(length));
        return length;
    }

    static int Close(void* context)
    {
        auto* self = static_cast<Sink*>(context);
        VSILFILE* file = self->file;
        self->file = nullptr;
        errno = 0;
        if (file != nullptr && VSIFCloseL(file) != 0) {
            self->Failed();
            return -1;
        }
        return 0;
    }
};

KmlFile::KmlFile(const std::string& path, const std::string& shown, const char* layerName,
                 const std::vector<Field>& fields, bool styled)
    : path_(shown),
      schemaUrl_(std::string("#") + layerName),
      styled_(styled),
      sink_(std::make_unique<Sink>()),
      coordinates_(CoordinatesStart)
{
    errno = 0;
    sink_->file = VSIFOpenExL(path.c_str(), "wb", TRUE);
    if (sink_->file == nullptr) {
        Fail(errno != 0 ? std::strerror(errno) : "cannot create it");
    }
    try {
        Start(layerName, fields);
    } catch (...) {
        Release();  // no destructor runs for a constructor that throws
        throw;
    }
}

void KmlFile::Start(const char* layerName, const std::vector<Field>& fields)
{
    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(&Sink::Write, &Sink::Close, sink_.get(), nullptr);
    if (out == nullptr) {
        Fail("out of memory");
    }
    writer_ = xmlNewTextWriter(out);  // owns `out` from here on
    if (writer_ == nullptr) {
        xmlOutputBufferClose(out);
        Fail("out of memory");
    }
    xmlTextWriterPtr w = W(writer_);
    // UTF-8 is XML's default: naming it would make libxml2 pass every byte
    // through an encoder.
    Check(xmlTextWriterStartDocument(w, nullptr, nullptr, nullptr));
    Check(xmlTextWriterStartElement(w, X("kml")));
    Check(xmlTextWriterWriteAttribute(w, X("xmlns"), X("http://www.opengis.net/kml/2.2")));
    Check(xmlTextWriterStartElement(w, X("Document")));
    if (styled_) {
        // GDAL's KML writer's style for polygons and lines, a red outline
        // and no fill, given once and named by each placemark.
        Check(xmlTextWriterStartElement(w, X("Style")));
        Check(xmlTextWriterWriteAttribute(w, X("id"), X("outline")));
        Check(xmlTextWriterStartElement(w, X("LineStyle")));
        Check(xmlTextWriterWriteElement(w, X("color"), X("ff0000ff")));
        Check(xmlTextWriterEndElement(w));
        Check(xmlTextWriterStartElement(w, X("PolyStyle")));
        Check(xmlTextWriterWriteElement(w, X("fill"), X("0")));
        Check(xmlTextWriterEndElement(w));
        Check(xmlTextWriterEndElement(w));
    }
    Check(xmlTextWriterStartElement(w, X("Schema")));
    Check(xmlTextWriterWriteAttribute(w, X("name"), X(layerName)));
    Check(xmlTextWriterWriteAttribute(w, X("id"), X(layerName)));
    for (const Field& field : fields) {
        if (std::strcmp(field.name, "name") == 0) {
            continue;
        }
        Check(xmlTextWriterStartElement(w, X("SimpleField")));
        Check(xmlTextWriterWriteAttribute(w, X("name"), X(field.name)));
        Check(xmlTextWriterWriteAttribute(w, X("type"), X(field.type)));
        Check(xmlTextWriterEndElement(w));
    }
    Check(xmlTextWriterEndElement(w));
    Check(xmlTextWriterStartElement(w, X("Folder")));
    Check(xmlTextWriterWriteElement(w, X("name"), X(layerName)));
    Check(xmlTextWriterWriteRawLen(w, X("\n"), 1));
}

KmlFile::~KmlFile()
{
    Release();
}

void KmlFile::Release() noexcept
{
    if (writer_ != nullptr) {
        xmlFreeTextWriter(W(writer_));  // closes the file through the sink
        writer_ = nullptr;
    }
    if (sink_->file != nullptr) {
        VSIFCloseL(sink_->file);
        sink_->file = nullptr;
    }
}

void KmlFile::Fail(std::string_view cause)
{
    throw RunError(EarlierStays(path_, std::string(cause)));
}

void KmlFile::Check(int written)
{
    if (written < 0 || sink_->failed) {
        Fail(sink_->failed ? std::strerror(sink_->error) : "the XML writer failed");
    }
}

void KmlFile::BeginFeature()
{
    Check(xmlTextWriterStartElement(W(writer_), X("Placemark")));
    inData_ = false;
}

void KmlFile::Data(const char* key, std::string_view text)
{
    xmlTextWriterPtr w = W(writer_);
    if (!inData_) {
        inData_ = true;
        Check(xmlTextWriterStartElement(w, X("ExtendedData")));
        Check(xmlTextWriterStartElement(w, X("SchemaData")));
        Check(xmlTextWriterWriteAttribute(w, X("schemaUrl"), X(schemaUrl_.c_str())));
    }
    Check(xmlTextWriterStartElement(w, X("SimpleData")));
    Check(xmlTextWriterWriteAttribute(w, X("name"), X(key)));
    Check(xmlTextWriterWriteString(w, X(XmlText(text, text_))));
    Check(xmlTextWriterEndElement(w));
}

// A number needs no escapes, nor does a field's name: the element as the
// writer would give it, in one raw write.
void KmlFile::NumberData(const char* key, std::string_view digits)
{
    if (!inData_) {
        Data(key, digits);
        return;
    }
    text_.assign("<SimpleData name=\"").append(key).append("\">").append(digits).append("</SimpleData>");
    Check(xmlTextWriterWriteRawLen(W(writer_), X(text_.c_str()), static_cast<int>(text_.size())));
}

void KmlFile::EndData()
{
    if (inData_) {
        inData_ = false;
        Check(xmlTextWriterEndElement(W(writer_)));
        Check(xmlTextWriterEndElement(W(writer_)));
    }
}

void KmlFile::String(const char* key, std::string_view value)
{
    if (std::strcmp(key, "name") == 0) {
        xmlTextWriterPtr w = W(writer_);
        Check(xmlTextWriterWriteElement(w, X("name"), X(XmlText(value, text_))));
        if (styled_) {
            Check(xmlTextWriterWriteElement(w, X("styleUrl"), X("#outline")));
        }
        return;
    }
    Data(key, value);
}

void KmlFile::Integer(const char* key, std::int64_t value)
{
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    NumberData(key, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void KmlFile::Real(const char* key, double value)
{
    char digits[ShortestChars];
    const char* end = ShortestDigits(digits, value);
    if (end == nullptr) {
        Fail("a figure is not a finite number");
    }
    NumberData(key, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void KmlFile::Null(const char* /*key*/)
{
}

// The element in one raw write, as the writer would give it.
void KmlFile::WriteCoordinates()
{
    coordinates_.append(CoordinatesEnd);
    Check(xmlTextWriterWriteRawLen(W(writer_), X(coordinates_.c_str()), static_cast<int>(coordinates_.size())));
    coordinates_.assign(CoordinatesStart);
}

// A ring of many vertices goes out a window of digits at a time.
void KmlFile::Coordinates(const RegionShape& shape, std::size_t r, const VertexDigits& digits)
{
    const std::size_t begin = shape.RingBegin(r);
    const std::size_t end = shape.ringEnd[r];
    for (std::size_t at = begin; at < end; at += VertexDigits::WindowVertices) {
        const std::size_t last = std::min(end, at + VertexDigits::WindowVertices);
        if (at != begin) {
            coordinates_ += ' ';
        }
        coordinates_.append(digits.Span(at, last));
        if (last < end) {
            Check(xmlTextWriterWriteRawLen(W(writer_), X(coordinates_.c_str()), static_cast<int>(coordinates_.size())));
            coordinates_.clear();
        }
    }
    WriteCoordinates();
}

void KmlFile::MultiPolygon(const RegionShape& shape, const VertexDigits& digits)
{
    if (!digits.Finite()) {
        Fail("a coordinate is not a finite number");
    }
    EndData();
    xmlTextWriterPtr w = W(writer_);
    Check(xmlTextWriterStartElement(w, X("MultiGeometry")));
    for (std::size_t p = 0; p < shape.Polygons(); ++p) {
        Check(xmlTextWriterStartElement(w, X("Polygon")));
        for (std::size_t r = shape.PolygonBegin(p); r < shape.polygonEnd[p]; ++r) {
            Check(xmlTextWriterStartElement(w, X(r == shape.PolygonBegin(p) ? "outerBoundaryIs" : "innerBoundaryIs")));
            Check(xmlTextWriterStartElement(w, X("LinearRing")));
            Coordinates(shape, r, digits);
            Check(xmlTextWriterEndElement(w));
            Check(xmlTextWriterEndElement(w));
        }
        Check(xmlTextWriterEndElement(w));
    }
    Check(xmlTextWriterEndElement(w));
}

void KmlFile::MultiLineString(const RegionShape& shape, const VertexDigits& digits)
{
    if (!digits.Finite()) {
        Fail("a coordinate is not a finite number");
    }
    EndData();
    xmlTextWriterPtr w = W(writer_);
    Check(xmlTextWriterStartElement(w, X("MultiGeometry")));
    for (std::size_t r = 0; r < shape.ringEnd.size(); ++r) {
        Check(xmlTextWriterStartElement(w, X("LineString")));
        Coordinates(shape, r, digits);
        Check(xmlTextWriterEndElement(w));
    }
    Check(xmlTextWriterEndElement(w));
}

void KmlFile::Point(double x, double y)
{
    char pair[PairChars];
    char* end = PairDigits(pair, x, y);
    if (end == nullptr) {
        Fail("a coordinate is not a finite number");
    }
    EndData();
    Check(xmlTextWriterStartElement(W(writer_), X("Point")));
    coordinates_.append(pair, end);
    WriteCoordinates();
    Check(xmlTextWriterEndElement(W(writer_)));
}

void KmlFile::NoGeometry()
{
    EndData();
}

void KmlFile::EndFeature()
{
    EndData();
    Check(xmlTextWriterEndElement(W(writer_)));
    // A placemark a line, so that the file stays readable by line-based tools.
    Check(xmlTextWriterWriteRawLen(W(writer_), X("\n"), 1));
}

void KmlFile::Close()
{
    Check(xmlTextWriterEndDocument(W(writer_)));
    Check(xmlTextWriterFlush(W(writer_)));
    xmlFreeTextWriter(W(writer_));  // closes the file through the sink
    writer_ = nullptr;
    Check(0);
}

}  // namespace zarn
