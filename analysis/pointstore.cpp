#include "pointstore.h"

#include "recordstream.h"
#include "safefile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zarn {

namespace {

// A record's fixed part, followed by the name padded to 8 bytes, then the x
// and the y of its pairs, padded to 8 bytes together, so that the floats are
// read in place: in memory, and in the temporary file's read-ahead buffer.
struct Entry {
    std::int32_t nPoints = 0;
    std::uint32_t nameSize = 0;
    std::uint32_t pairs = 0;
    std::uint8_t complete = 0;
    std::uint8_t accepted = 0;
    std::uint16_t unused = 0;
    std::uint64_t bytesRead = 0;
    double centroidX = 0.0;
    double centroidY = 0.0;
};
static_assert(sizeof(Entry) % 8 == 0);

constexpr std::size_t Padded(std::size_t size)
{
    return (size + 7) & ~std::size_t{7};
}

std::size_t PointBytes(const Entry& entry)
{
    return Padded(std::size_t{entry.pairs} * 2 * sizeof(float));
}

constexpr std::size_t SpoolBuffer = std::size_t{1} << 20;
constexpr std::size_t ReadBufferBytes = std::size_t{1} << 20;
constexpr std::uint64_t FirstMarkEvery = 4096;

// Reads at a file offset without moving a position others share, so that
// readers on several threads need no lock. Bytes read, 0 at the end, -1 on
// failure.
long long ReadAt(int fd, char* into, std::size_t size, std::uint64_t offset)
{
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32U);
    DWORD got = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30U));
    if (ReadFile(handle, into, chunk, &got, &at) == 0) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
#else
    for (;;) {
        const ssize_t got = ::pread(fd, into, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
#endif
}

}  // namespace

PointStore::PointStore(std::size_t memoryBound) : memoryBound_(memoryBound), markEvery_(FirstMarkEvery) {}

PointStore::~PointStore()
{
    if (spool_ != nullptr) {
        std::fclose(spool_);
    }
}

void PointStore::Clear()
{
    if (spool_ != nullptr) {
        std::fclose(spool_);
        spool_ = nullptr;
    }
    reader_.reset();
    spoolFd_ = -1;
    std::vector<char>().swap(pending_);
    pendingSize_ = 0;
    memory_.clear();
    count_ = 0;
    lost_ = false;
    bytes_ = 0;
    marks_.clear();
    markEvery_ = FirstMarkEvery;
    nextMark_ = 0;
}

std::FILE* PointStore::ReleaseSpool()
{
    std::FILE* spool = spool_;
    spool_ = nullptr;
    Clear();
    return spool;
}

void PointStore::Lose()
{
    Clear();
    lost_ = true;
    std::vector<char>().swap(memory_);
}

void PointStore::Add(const StreamRecord& record, const PolygonRecord* accepted)
{
    if (lost_) {
        return;
    }
    Entry entry;
    entry.nPoints = record.nPoints;
    entry.nameSize = static_cast<std::uint32_t>(record.firstName.size());
    entry.pairs = record.x != nullptr ? static_cast<std::uint32_t>(record.nPoints) : 0;
    entry.complete = record.complete ? 1 : 0;
    entry.bytesRead = record.bytesRead;
    if (accepted != nullptr) {
        entry.accepted = 1;
        entry.centroidX = accepted->centroidX;
        entry.centroidY = accepted->centroidY;
    }
    const std::size_t nameSize = entry.nameSize;
    const std::size_t pointBytes = std::size_t{entry.pairs} * sizeof(float);
    const std::size_t size = sizeof(Entry) + Padded(nameSize) + Padded(2 * pointBytes);
    static constexpr char Zeros[8] = {};
    try {
        if (spool_ == nullptr && memory_.size() + size <= memoryBound_) {
            if (memory_.capacity() == 0) {
                memory_.reserve(memoryBound_);  // untouched pages cost nothing
            }
            const std::size_t at = memory_.size();
            memory_.resize(at + size);
            char* p = memory_.data() + at;
            std::memcpy(p, &entry, sizeof(Entry));
            p += sizeof(Entry);
            std::memcpy(p, record.firstName.data(), nameSize);
            p += Padded(nameSize);
            if (pointBytes != 0) {
                std::memcpy(p, record.x, pointBytes);
                std::memcpy(p + pointBytes, record.y, pointBytes);
            }
        } else {
            if (spool_ == nullptr) {
                spool_ = SpoolFile();
                // Records are gathered in a buffer of the store's own and
                // written a megabyte at a time.
                if (spool_ == nullptr || std::setvbuf(spool_, nullptr, _IONBF, 0) != 0) {
                    Lose();
                    return;
                }
                pending_.resize(SpoolBuffer);
            }
            if (pendingSize_ + size > pending_.size() && !Flush()) {
                Lose();
                return;
            }
            if (size <= pending_.size()) {
                char* p = pending_.data() + pendingSize_;
                std::memcpy(p, &entry, sizeof(Entry));
                p += sizeof(Entry);
                std::memcpy(p, record.firstName.data(), nameSize);
                std::memset(p + nameSize, 0, Padded(nameSize) - nameSize);
                p += Padded(nameSize);
                if (pointBytes != 0) {
                    std::memcpy(p, record.x, pointBytes);
                    std::memcpy(p + pointBytes, record.y, pointBytes);
                }
                std::memset(p + 2 * pointBytes, 0, Padded(2 * pointBytes) - 2 * pointBytes);
                pendingSize_ += size;
            } else if (!Write(&entry, sizeof(Entry)) || !Write(record.firstName.data(), nameSize) ||
                       !Write(Zeros, Padded(nameSize) - nameSize) || !Write(record.x, pointBytes) ||
                       !Write(record.y, pointBytes) || !Write(Zeros, Padded(2 * pointBytes) - 2 * pointBytes)) {
                Lose();
                return;
            }
        }
        Note();
    } catch (const std::bad_alloc&) {
        Lose();
        return;
    }
    bytes_ += size;
    ++count_;
}

void PointStore::Note()
{
    if (bytes_ < nextMark_) {
        return;
    }
    if (marks_.size() == MaxMarks) {
        // Every other mark goes, and marks come half as often.
        for (std::size_t k = 0; k < MaxMarks / 2; ++k) {
            marks_[k] = marks_[2 * k];
        }
        marks_.resize(MaxMarks / 2);
        markEvery_ *= 2;
    }
    if (marks_.capacity() == 0) {
        marks_.reserve(MaxMarks);
    }
    marks_.push_back(Mark{count_, bytes_});
    nextMark_ = marks_.back().offset + markEvery_;
}

PointStore::Mark PointStore::MarkNear(double share) const
{
    const double target = share * static_cast<double>(bytes_);
    Mark nearest;
    double distance = target;
    for (const Mark& mark : marks_) {
        const double d = std::fabs(static_cast<double>(mark.offset) - target);
        if (d < distance) {
            distance = d;
            nearest = mark;
        }
    }
    return nearest;
}

bool PointStore::Write(const void* data, std::size_t size)
{
    return size == 0 || std::fwrite(data, 1, size, spool_) == size;
}

bool PointStore::Flush()
{
    const std::size_t size = pendingSize_;
    pendingSize_ = 0;
    return Write(pending_.data(), size);
}

void PointStore::Rewind()
{
    reader_.reset();
    if (spool_ != nullptr) {
        spoolFd_ = fileno(spool_);
        if (!Flush() || std::fflush(spool_) != 0 || spoolFd_ < 0) {
            Lose();
        }
    }
    if (!lost_) {
        reader_.emplace(*this, Mark{}, count_);
    }
}

const PointStore::Record* PointStore::Next()
{
    if (lost_ || !reader_) {
        return nullptr;
    }
    const Record* record = reader_->Next();
    if (record == nullptr && reader_->Failed()) {
        Lose();
    }
    return record;
}

PointStore::Reader::Reader(const PointStore& store, Mark from, std::size_t end, bool points)
    : store_(store), offset_(from.offset), index_(from.index), end_(end), points_(points)
{
}

const char* PointStore::Reader::Fetch(std::uint64_t offset, std::size_t size)
{
    if (offset >= bufferAt_ && offset + size <= bufferAt_ + buffered_) {
        return reinterpret_cast<const char*>(buffer_.data()) + (offset - bufferAt_);
    }
    const std::uint64_t spoolBytes = store_.bytes_ - store_.memory_.size();
    if (offset + size > spoolBytes) {
        return nullptr;
    }
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max(size, ReadBufferBytes), spoolBytes - offset));
    try {
        if (buffer_.size() * sizeof(std::uint64_t) < want) {
            buffer_.resize((want + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    buffered_ = 0;
    bufferAt_ = offset;
    auto* into = reinterpret_cast<char*>(buffer_.data());
    while (buffered_ < want) {
        const long long got = ReadAt(store_.spoolFd_, into + buffered_, want - buffered_, offset + buffered_);
        if (got <= 0) {
            buffered_ = 0;
            return nullptr;
        }
        buffered_ += static_cast<std::size_t>(got);
    }
    return into;
}

const PointStore::Record* PointStore::Reader::Next()
{
    if (failed_ || index_ >= end_) {
        return nullptr;
    }
    Entry entry;
    const char* p = nullptr;
    const std::size_t inMemory = store_.memory_.size();
    if (offset_ < inMemory) {
        p = store_.memory_.data() + offset_;
        std::memcpy(&entry, p, sizeof(Entry));
    } else {
        const std::uint64_t at = offset_ - inMemory;
        const char* head = Fetch(at, sizeof(Entry));
        if (head == nullptr) {
            failed_ = true;
            return nullptr;
        }
        std::memcpy(&entry, head, sizeof(Entry));
        const std::size_t wanted = sizeof(Entry) + Padded(entry.nameSize) + (points_ ? PointBytes(entry) : 0);
        p = Fetch(at, wanted);
        if (p == nullptr) {
            failed_ = true;
            return nullptr;
        }
    }
    Record& r = record_;
    p += sizeof(Entry);
    r.firstName = std::string_view(p, entry.nameSize);
    p += Padded(entry.nameSize);
    // Aligned: memory and buffer are, and every part before is padded.
    r.x = points_ && entry.pairs != 0 ? reinterpret_cast<const float*>(p) : nullptr;
    r.y = r.x != nullptr ? r.x + entry.pairs : nullptr;
    r.nPoints = entry.nPoints;
    r.complete = entry.complete != 0;
    r.accepted = entry.accepted != 0;
    r.centroidX = entry.centroidX;
    r.centroidY = entry.centroidY;
    r.bytesRead = entry.bytesRead;
    offset_ += sizeof(Entry) + Padded(entry.nameSize) + PointBytes(entry);
    ++index_;
    return &r;
}

}  // namespace zarn
