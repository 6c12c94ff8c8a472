#include "pointstore.h"

#include "recordstream.h"

#include <cstring>
#include <new>

namespace zarn {

namespace {

// A record's fixed part. In memory, the name follows padded to 8 bytes, then
// the x and the y of its pairs, padded to 8 bytes together, so that the
// floats are read in place; in the temporary file the parts follow unpadded.
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

constexpr std::size_t SpoolBuffer = std::size_t{1} << 20;

}  // namespace

PointStore::PointStore(std::size_t memoryBound) : memoryBound_(memoryBound) {}

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
    memory_.clear();
    count_ = 0;
    lost_ = false;
    memoryPos_ = 0;
    readCount_ = 0;
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
                spool_ = std::tmpfile();
                if (spool_ == nullptr || std::setvbuf(spool_, nullptr, _IOFBF, SpoolBuffer) != 0) {
                    Lose();
                    return;
                }
            }
            if (!Write(&entry, sizeof(Entry)) || !Write(record.firstName.data(), nameSize) ||
                !Write(record.x, pointBytes) || !Write(record.y, pointBytes)) {
                Lose();
                return;
            }
        }
    } catch (const std::bad_alloc&) {
        Lose();
        return;
    }
    ++count_;
}

bool PointStore::Write(const void* data, std::size_t size)
{
    return size == 0 || std::fwrite(data, 1, size, spool_) == size;
}

bool PointStore::Read(void* data, std::size_t size)
{
    return size == 0 || std::fread(data, 1, size, spool_) == size;
}

void PointStore::Rewind()
{
    memoryPos_ = 0;
    readCount_ = 0;
    if (spool_ != nullptr && (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0)) {
        Lose();
    }
}

const PointStore::Record* PointStore::Next()
{
    if (lost_ || readCount_ == count_) {
        return nullptr;
    }
    Entry entry;
    Record& r = record_;
    if (memoryPos_ < memory_.size()) {
        const char* p = memory_.data() + memoryPos_;
        std::memcpy(&entry, p, sizeof(Entry));
        p += sizeof(Entry);
        r.firstName = std::string_view(p, entry.nameSize);
        p += Padded(entry.nameSize);
        // Aligned: the vector's storage is, and every part before is padded.
        r.x = entry.pairs != 0 ? reinterpret_cast<const float*>(p) : nullptr;
        r.y = entry.pairs != 0 ? r.x + entry.pairs : nullptr;
        memoryPos_ += sizeof(Entry) + Padded(entry.nameSize) + Padded(std::size_t{entry.pairs} * 2 * sizeof(float));
    } else {
        try {
            if (!Read(&entry, sizeof(Entry))) {
                Lose();
                return nullptr;
            }
            name_.resize(entry.nameSize);
            x_.resize(entry.pairs);
            y_.resize(entry.pairs);
        } catch (const std::bad_alloc&) {
            Lose();
            return nullptr;
        }
        if (!Read(name_.data(), name_.size()) || !Read(x_.data(), x_.size() * sizeof(float)) ||
            !Read(y_.data(), y_.size() * sizeof(float))) {
            Lose();
            return nullptr;
        }
        r.firstName = std::string_view(name_.data(), name_.size());
        r.x = entry.pairs != 0 ? x_.data() : nullptr;
        r.y = entry.pairs != 0 ? y_.data() : nullptr;
    }
    r.nPoints = entry.nPoints;
    r.complete = entry.complete != 0;
    r.accepted = entry.accepted != 0;
    r.centroidX = entry.centroidX;
    r.centroidY = entry.centroidY;
    r.bytesRead = entry.bytesRead;
    ++readCount_;
    return &r;
}

}  // namespace zarn
