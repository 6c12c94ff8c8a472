#pragma once

#include "workspace.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
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
// go to a temporary file of the process's own, without a name, in TMPDIR
// (else the system's temporary folder), so it goes away on every path out, a
// crash included. A record takes the same bytes in memory and in the file. Along
// the way the store notes at most MaxMarks record boundaries, spread evenly
// over the bytes kept, from which a reader can start: two threads can read
// disjoint stretches of the records at once. Keeping never throws: when
// memory or the temporary file fail, the store marks itself lost, drops what
// it held and keeps nothing more, and the drawing has to read the file again.
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

    // Where a reader starts: a record's index and the offset of its bytes in
    // the store, those in memory first.
    struct Mark {
        std::size_t index = 0;
        std::uint64_t offset = 0;
    };
    static constexpr std::size_t MaxMarks = 128;

    // Reads the records from a mark up to (not including) an end index. Any
    // number of readers may read one store at once, from any threads, as
    // long as nothing is kept, cleared or rewound meanwhile; they see what
    // was kept up to the last Rewind. A reader holds at most one read-ahead
    // buffer of the temporary file (1 MB, or one record if larger).
    class Reader {
    public:
        // Without `points`, the records come without their pairs (x and y
        // null).
        Reader(const PointStore& store, Mark from, std::size_t end, bool points = true);
        // The next record, valid until the next call; null at the end, and
        // when the temporary file cannot be read back: Failed is then true.
        const Record* Next();
        bool Failed() const { return failed_; }

    private:
        const char* Fetch(std::uint64_t offset, std::size_t size);

        const PointStore& store_;
        std::uint64_t offset_;
        std::size_t index_;
        std::size_t end_;
        bool points_;
        bool failed_ = false;
        std::vector<std::uint64_t> buffer_;  // 8-byte aligned, as the floats need
        std::uint64_t bufferAt_ = 0;         // file offset of the buffer's first byte
        std::size_t buffered_ = 0;
        Record record_;
    };

    explicit PointStore(std::size_t memoryBound = DefaultMemoryBound);
    ~PointStore();
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    // Forgets every record; the store is usable again.
    void Clear();
    // Clear, except that the temporary file, if any, is handed to the caller
    // to close: closing frees its pages, which takes time in proportion to
    // its size, and the caller may do it on a thread of its own.
    std::FILE* ReleaseSpool();
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

    // The noted boundary nearest to `share` (0 to 1) of the bytes kept; the
    // first record's when none is nearer.
    Mark MarkNear(double share) const;

private:
    void Lose();
    bool Write(const void* data, std::size_t size);
    bool Flush();
    void Note();

    std::size_t memoryBound_;
    std::vector<char> memory_;
    std::FILE* spool_ = nullptr;
    std::vector<char> pending_;  // records on their way to the temporary file
    std::size_t pendingSize_ = 0;
    std::size_t count_ = 0;
    bool lost_ = false;
    std::uint64_t bytes_ = 0;  // in memory and in the temporary file
    int spoolFd_ = -1;
    std::vector<Mark> marks_;
    std::uint64_t markEvery_ = 0;
    std::uint64_t nextMark_ = 0;
    std::optional<Reader> reader_;  // of Rewind and Next
};

}  // namespace zarn
