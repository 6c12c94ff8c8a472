#pragma once

#include "regionshape.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

// The shortest digits of a shape's vertices (ShortestDigits), "x,y" for each,
// made before the file needs them: an export formats a record's vertices on
// the analysis's thread while its file is written on another. For a huge
// shape they are made a window of WindowVertices at a time as the file asks
// for them (Window), so that they never hold the whole shape's text.
class VertexDigits {
public:
    static constexpr std::size_t WindowVertices = std::size_t{1} << 16;

    // The digits of every vertex of `shape`; none when a coordinate is not
    // finite (Finite), which the file then refuses.
    void Make(const RegionShape& shape);
    // The same digits, made as they are asked for, from `shape`, which must
    // stay as it is until the next Make, Window or Release. A Span must lie
    // within WindowVertices of its first vertex.
    void Window(const RegionShape& shape);
    bool Finite() const { return finite_; }
    // The memory its buffers hold, and letting it go (assigning an empty
    // string keeps a string's buffer).
    std::size_t Bytes() const { return chars_.capacity() + ends_.capacity() * sizeof(std::size_t); }
    void Release()
    {
        std::string().swap(chars_);
        std::vector<std::size_t>().swap(ends_);
        shape_ = nullptr;
    }
    // Vertex i: "x,y".
    std::string_view Pair(std::size_t i) const { return Span(i, i + 1); }
    // Vertices [first, last) as KML's coordinates join them: "x,y x,y".
    std::string_view Span(std::size_t first, std::size_t last) const
    {
        if (first == last) {
            return {};
        }
        if (shape_ != nullptr && (first < from_ || last > from_ + ends_.size())) {
            Fill(*shape_, first, std::min(shape_->x.size(), first + WindowVertices));
        }
        first -= from_;
        last -= from_;
        const std::size_t begin = first == 0 ? 0 : ends_[first - 1] + 1;
        return std::string_view(chars_).substr(begin, ends_[last - 1] - begin);
    }

private:
    // The digits of vertices [first, last); false, with none, when a
    // coordinate is not finite.
    bool Fill(const RegionShape& shape, std::size_t first, std::size_t last) const;

    mutable std::string chars_;              // the pairs, each followed by a space
    mutable std::vector<std::size_t> ends_;  // where pair from_ + i ends in chars_
    mutable std::size_t from_ = 0;
    const RegionShape* shape_ = nullptr;  // made as asked for, from this
    bool finite_ = true;
};

// One layer of an export written as text by a writer library rather than
// through GDAL (GeoJSON, KML), feature by feature so that memory stays flat
// in the file's size.
//
// Numbers: every coordinate and real property is written as the shortest
// decimal text that reads back as the same double (std::to_chars), so a
// vertex read from the file keeps the digits it was written with (54.9, not
// 54.89999999999999858). A number that is not finite fails the file.
//
// Every write is checked: a short write (a full disk, a file size limit) or
// a failed close throws RunError, and Close returns only for a complete
// file. The caller removes the file when anything throws.
class TextLayerFile {
public:
    virtual ~TextLayerFile() = default;

    // A feature: BeginFeature, its properties in the schema's order (the
    // record's "name" first), one geometry call, EndFeature.
    virtual void BeginFeature() = 0;
    virtual void String(const char* key, std::string_view value) = 0;
    virtual void Integer(const char* key, std::int64_t value) = 0;
    virtual void Real(const char* key, double value) = 0;
    virtual void Null(const char* key) = 0;
    // The polygons of the geometry step as a multipolygon (no polygon: an
    // empty one), or its pieces of line as a multilinestring, with the
    // digits of its vertices.
    virtual void MultiPolygon(const RegionShape& shape, const VertexDigits& digits) = 0;
    virtual void MultiLineString(const RegionShape& shape, const VertexDigits& digits) = 0;
    virtual void Point(double x, double y) = 0;
    virtual void NoGeometry() = 0;
    virtual void EndFeature() = 0;

    // Completes the file and closes it. Throws RunError.
    virtual void Close() = 0;
};

// Writes at `at` the shortest text that reads back as `value` (std::to_chars's
// text, a value of at most six decimals written directly; room for
// ShortestChars needed) and returns its end; null
// when `value` is not finite, which neither JSON nor KML can hold.
constexpr std::size_t ShortestChars = 32;
char* ShortestDigits(char* at, double value);

// "x,y" in shortest digits at `at` (room for PairChars needed); its end, or
// null when either is not finite.
constexpr std::size_t PairChars = 2 * ShortestChars + 1;
char* PairDigits(char* at, double x, double y);

}  // namespace zarn
