#pragma once

#include "workspace.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

namespace zarn {

struct StreamRecord;

// What the map drawing needs of every record a run read, kept in the order
// read so that the drawing does not parse the file a second time (and draws
// what the run read even if the file has changed since): the first name, the
// count from the header, the degrees as 32-bit floats (two per point), and
// for a polygon the run accepted, its centroid.
//
// Records are kept in memory up to `memoryBound` bytes; the ones after that
// go to a temporary file of the process's own, created exclusively and
// already unlinked (tmpfile), so it goes away on every path out, a crash
// included. Keeping never throws: when memory or the temporary file fail,
// the store marks itself lost, drops what it held and keeps nothing more, and
// the drawing has to read the file again.
class PointStore {
public:
    static constexpr std::size_t DefaultMemoryBound = std::size_t{4} << 20;

    // A record as kept; valid until the next call of Next or Clear.
    struct Record {
        std::string_view firstName;
        std::int32_t nPoints = 0;  // the count from the header
        // nPoints pairs in degrees for a complete record within MaxPoints,
        // null otherwise.
        const float* x = nullptr;
        const float* y = nullptr;
        bool complete = true;
        bool accepted = false;    // the run computed its figures
        double centroidX = 0.0;   // degrees, when accepted
        double centroidY = 0.0;
        std::uint64_t bytesRead = 0;  // file position after the record
    };

    explicit PointStore(std::size_t memoryBound = DefaultMemoryBound);
    ~PointStore();
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    // Forgets every record; the store is usable again.
    void Clear();
    // Keeps a record; `accepted` is the polygon with its centroid when the
    // run computed its figures, null otherwise.
    void Add(const StreamRecord& record, const PolygonRecord* accepted);

    // False once keeping has failed: the store then holds nothing.
    bool Usable() const { return !lost_; }
    std::size_t Size() const { return count_; }
    bool Spooled() const { return spool_ != nullptr; }

    // Reading back, from the first record kept: Rewind, then Next until it
    // returns null. Next returns null also when the temporary file cannot be
    // read back whole; Usable then turns false.
    void Rewind();
    const Record* Next();

private:
    void Lose();
    bool Write(const void* data, std::size_t size);
    bool Read(void* data, std::size_t size);

    std::size_t memoryBound_;
    std::vector<char> memory_;
    std::FILE* spool_ = nullptr;
    std::size_t count_ = 0;
    bool lost_ = false;
    // Reading back.
    std::size_t memoryPos_ = 0;
    std::size_t readCount_ = 0;
    Record record_;
    std::vector<char> name_;
    std::vector<float> x_;
    std::vector<float> y_;
};

}  // namespace zarn
