#pragma once

#include "bnainput.h"
#include "workspace.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace zarn {

class ReadAheadBlock;

// One record as read from the file.
struct StreamRecord {
    std::string_view firstName;
    std::string_view secondName;
    std::int32_t nPoints = 0;  // the count from the header
    // Its coordinate pairs in degrees: nPoints of them when the record is
    // complete and within MaxPoints, none otherwise.
    const float* x = nullptr;
    const float* y = nullptr;
    // With a stream that keeps the degrees: every pair of the record as
    // written, in double precision (longitude, latitude), line records and
    // records over MaxPoints included; `pointsRead` of them (|nPoints| for a
    // complete record). Null and 0 otherwise.
    const double* lon = nullptr;
    const double* lat = nullptr;
    std::size_t pointsRead = 0;
    // Where the reading thread has done the read-ahead work for the record
    // (StreamOptions::readAhead): the block's results and the record's place
    // among them. Null otherwise.
    const ReadAheadBlock* readAhead = nullptr;
    std::size_t readAheadIndex = 0;
    // False when the file ended (or failed) inside the record; the next call
    // of RecordStream::Next then throws what stopped the reading.
    bool complete = true;
    std::uint64_t bytesRead = 0;  // file position after the record
};

// The results of a caller's per-record work that the reading thread did for
// the records of one block; made on the reading thread, one per block, and
// handed to the caller with the block's records.
class ReadAheadBlock {
public:
    virtual ~ReadAheadBlock() = default;
    // The block is filled anew.
    virtual void Clear() = 0;
    // Does the work for one complete record of the block, on the reading
    // thread; returns the place of its result (StreamRecord::readAheadIndex).
    virtual std::size_t Take(const StreamRecord& record) = 0;
};

// Per-record work of the caller that the reading thread may take a share of.
// Whenever the caller is behind (a block of records waits for it) the
// reading thread does the work for the records of its next block itself, so
// that the two threads stay about equally busy. The work must give the same
// result whichever thread does it: the caller does it for every record
// without a result.
class ReadAhead {
public:
    virtual ~ReadAhead() = default;
    // Called on the reading thread.
    virtual std::unique_ptr<ReadAheadBlock> NewBlock() const = 0;
};

struct StreamOptions {
    // Every record also carries its pairs in double precision, whatever its
    // count.
    bool keepDegrees = false;
    // Work the reading thread may share, or null; it must outlive the stream.
    const ReadAhead* readAhead = nullptr;
};

// The records of an open BNA file, read ahead on a thread of its own with
// the reader's record operations, so that the caller's work on one record
// overlaps the parsing of the next. The caller sees the same sequence of
// records, and the same failure at the same place, as a loop over the file
// would give it; memory stays fixed (a few blocks of records in flight).
class RecordStream {
public:
    // Starts reading; `in` must outlive the stream and is not touched by the
    // caller until the stream is gone.
    explicit RecordStream(BnaInput& in, StreamOptions options = {});
    // Stops the reading thread, whatever state it is in, within a record or a
    // few thousand pairs read past.
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // The next record, valid until the next call; null at the end of the
    // file. Throws what stopped the reading (its RunError, bad_alloc, any
    // exception the reading thread met) after the last record it delivered.
    const StreamRecord* Next();

    std::uint64_t FileSize() const { return fileSize_; }

    // Puts a record into the workspace as ReadBnaHeader and ReadBnaPoints
    // would have left it (after ResetPolygon).
    static void Load(const StreamRecord& record, Workspace& ws);

    // Lets a test make the reading thread fail where files do not: when set,
    // it is called on that thread before each block is taken, before the
    // thread's workspace is made and before each record, with the number of
    // calls before it; what it throws ends the reading as a failure of the
    // file does. Set it only while no stream exists.
    static inline void (*failurePoint)(std::uint64_t call) = nullptr;

private:
    struct Shared;

    std::unique_ptr<Shared> shared_;
    std::uint64_t fileSize_ = 0;
};

}  // namespace zarn
