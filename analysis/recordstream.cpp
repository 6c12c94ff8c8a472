#include "recordstream.h"

#include "bnareader.h"
#include "runerror.h"
#include "vectorstate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace zarn {

namespace {

struct Item {
    std::size_t firstOffset = 0;
    std::size_t firstSize = 0;
    std::size_t secondOffset = 0;
    std::size_t secondSize = 0;
    std::size_t pointOffset = 0;
    std::size_t degreeOffset = 0;
    std::size_t pointsRead = 0;
    std::size_t readAheadIndex = 0;
    bool readAhead = false;
    std::int32_t nPoints = 0;
    bool withPoints = false;
    bool complete = false;
    std::uint64_t bytesRead = 0;
};

// A batch of records: their names and their points.
struct Block {
    static constexpr std::size_t TargetPoints = std::size_t{1} << 15;
    static constexpr std::size_t TargetItems = 2048;
    static constexpr std::size_t TargetText = std::size_t{1} << 16;

    bool Full() const
    {
        return x.size() >= TargetPoints || lon.size() >= TargetPoints || items.size() >= TargetItems ||
               text.size() >= TargetText;
    }
    void Clear()
    {
        items.clear();
        x.clear();
        y.clear();
        lon.clear();
        lat.clear();
        if (readAhead) {
            readAhead->Clear();
        }
        text.clear();
        // A block that held a record of very many points lets go of its
        // buffers rather than keep them for the rest of the run.
        if (std::max(x.capacity(), lon.capacity()) > 16 * TargetPoints || text.capacity() > 16 * TargetText) {
            std::vector<float>().swap(x);
            std::vector<float>().swap(y);
            std::vector<double>().swap(lon);
            std::vector<double>().swap(lat);
            std::string().swap(text);
        }
    }

    std::vector<Item> items;
    std::vector<float> x;
    std::vector<float> y;
    std::vector<double> lon;
    std::vector<double> lat;
    std::unique_ptr<ReadAheadBlock> readAhead;  // with StreamOptions::readAhead
    std::string text;
};

// The record `item` of `block` as the caller sees it.
void ViewRecord(const Block& block, const Item& item, StreamRecord& r)
{
    const std::string_view text(block.text);
    r.firstName = text.substr(item.firstOffset, item.firstSize);
    r.secondName = text.substr(item.secondOffset, item.secondSize);
    r.nPoints = item.nPoints;
    r.x = item.withPoints ? block.x.data() + item.pointOffset : nullptr;
    r.y = item.withPoints ? block.y.data() + item.pointOffset : nullptr;
    r.lon = item.pointsRead > 0 ? block.lon.data() + item.degreeOffset : nullptr;
    r.lat = item.pointsRead > 0 ? block.lat.data() + item.degreeOffset : nullptr;
    r.pointsRead = item.pointsRead;
    r.readAhead = item.readAhead ? block.readAhead.get() : nullptr;
    r.readAheadIndex = item.readAheadIndex;
    r.complete = item.complete;
    r.bytesRead = item.bytesRead;
}

}  // namespace

// Blocks travel from the reading thread to the caller and back for reuse.
// Neither queue ever holds more than Capacity blocks, and both have room for
// that many from the start, so handing a block over allocates nothing and a
// failure can always be passed on.
struct RecordStream::Shared {
    static constexpr std::size_t Capacity = 4;

    Shared()
    {
        full.reserve(Capacity);
        empty.reserve(Capacity);
    }

    // Reading side: an empty block, or null once the caller has quit.
    std::unique_ptr<Block> TakeEmpty()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return quit || !empty.empty() || created < Capacity; });
        if (quit) {
            return nullptr;
        }
        if (empty.empty()) {
            auto block = std::make_unique<Block>();
            ++created;
            return block;
        }
        auto block = std::move(empty.back());
        empty.pop_back();
        block->Clear();
        return block;
    }
    void PutFull(std::unique_ptr<Block> block)
    {
        {
            const std::lock_guard lock(mutex);
            callerBehind = !full.empty();
            full.push_back(std::move(block));
        }
        changed.notify_all();
    }
    // The reading is over: `block` (if any) holds its last records, `failure`
    // (if any) what stopped it after them.
    void Finish(std::unique_ptr<Block> block, std::exception_ptr failure)
    {
        {
            const std::lock_guard lock(mutex);
            if (block) {
                full.push_back(std::move(block));
            }
            error = std::move(failure);
            finished = true;
        }
        changed.notify_all();
    }
    // Caller's side: the next full block, or null when the reading is over
    // and every block has been taken.
    std::unique_ptr<Block> TakeFull()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return finished || !full.empty(); });
        if (full.empty()) {
            return nullptr;
        }
        auto block = std::move(full.front());
        full.erase(full.begin());
        return block;
    }
    void PutEmpty(std::unique_ptr<Block> block)
    {
        {
            const std::lock_guard lock(mutex);
            empty.push_back(std::move(block));
        }
        changed.notify_all();
    }
    void Quit()
    {
        {
            const std::lock_guard lock(mutex);
            quit = true;
        }
        changed.notify_all();
    }

    void Read(BnaInput& in);
    void ReadWithDegrees(BnaInput& in, Block& block, Item& item);
    bool ReadRecords(BnaInput& in, std::unique_ptr<Block>& block);
    void FailurePoint()
    {
        if (failurePoint != nullptr) {
            failurePoint(failurePoints++);
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Block>> full;  // oldest first
    std::vector<std::unique_ptr<Block>> empty;
    std::size_t created = 0;
    std::uint64_t failurePoints = 0;
    bool finished = false;
    std::exception_ptr error;
    // Also read without the mutex, between records and while pairs are read
    // past, so that the destructor never waits for the rest of the file.
    std::atomic<bool> quit = false;
    bool keepDegrees = false;
    const ReadAhead* readAhead = nullptr;
    // Reading side: whether the caller had not yet taken the block before the
    // last one handed over.
    bool callerBehind = false;

    // The caller's side.
    std::unique_ptr<Block> current;
    std::size_t nextItem = 0;
    StreamRecord record;
    std::thread reader;
};

void RecordStream::Shared::Read(BnaInput& in)
{
    // Everything the thread does is inside the try: an exception leaving the
    // thread would end the program.
    std::unique_ptr<Block> block;
    try {
        if (ReadRecords(in, block)) {
            Finish(std::move(block), nullptr);
        }
    } catch (...) {
        Finish(std::move(block), std::current_exception());
    }
}

// Returns false when the caller has quit.
bool RecordStream::Shared::ReadRecords(BnaInput& in, std::unique_ptr<Block>& block)
{
    FailurePoint();
    block = TakeEmpty();
    if (!block) {
        return false;
    }
    // The reader's own workspace: the caller's belongs to the caller.
    FailurePoint();
    const auto ws = std::make_unique<Workspace>();
    std::string firstName;
    std::string secondName;
    StreamRecord view;
    while (!in.AtEnd()) {
        if (quit.load(std::memory_order_relaxed)) {
            return false;
        }
        if (block->Full()) {
            PutFull(std::move(block));
            FailurePoint();
            block = TakeEmpty();
            if (!block) {
                return false;
            }
        }
        FailurePoint();
        ws->ResetPolygon();
        ReadBnaHeader(in, firstName, secondName, *ws);
        Item& item = block->items.emplace_back();
        item.firstOffset = block->text.size();
        item.firstSize = firstName.size();
        block->text.append(firstName);
        item.secondOffset = block->text.size();
        item.secondSize = secondName.size();
        block->text.append(secondName);
        item.nPoints = ws->curPoly.nPoints;
        if (keepDegrees) {
            ReadWithDegrees(in, *block, item);
        } else if (item.nPoints > MaxPoints) {
            SkipBnaPoints(in, *ws, &quit);
        } else {
            ReadBnaPoints(in, *ws, &quit);
            if (item.nPoints > 0) {
                const auto n = static_cast<std::size_t>(item.nPoints);
                item.pointOffset = block->x.size();
                item.withPoints = true;
                block->x.insert(block->x.end(), ws->pointX.begin(), ws->pointX.begin() + n);
                block->y.insert(block->y.end(), ws->pointY.begin(), ws->pointY.begin() + n);
            }
        }
        if (quit.load(std::memory_order_relaxed)) {
            return false;  // the pairs may have been left half read
        }
        item.complete = true;
        item.bytesRead = in.BytesRead();
        if (readAhead != nullptr && callerBehind) {
            if (!block->readAhead) {
                block->readAhead = readAhead->NewBlock();
            }
            ViewRecord(*block, item, view);
            item.readAheadIndex = block->readAhead->Take(view);
            item.readAhead = true;
        }
    }
    return true;
}

// Every pair of the record in double precision, and as floats where the
// classic pass keeps them (a polygon within MaxPoints). The reading and its
// failures are those of ReadBnaPoints and SkipBnaPoints, and so is the look
// at `quit` every few thousand pairs.
void RecordStream::Shared::ReadWithDegrees(BnaInput& in, Block& block, Item& item)
{
    const std::int64_t count = item.nPoints;
    const auto pairs = static_cast<std::size_t>(count < 0 ? -count : count);
    const bool keepFloats = count > 0 && count <= MaxPoints;
    const std::size_t pointOffset = block.x.size();
    const std::size_t degreeOffset = block.lon.size();
    double lon = 0.0;
    double lat = 0.0;
    constexpr std::size_t PairsBetweenLooks = 4096;
    for (std::size_t k = 0; k < pairs; ++k) {
        if (k % PairsBetweenLooks == 0 && quit.load(std::memory_order_relaxed)) {
            return;
        }
        const float x = in.ReadCoordinate(lon);
        const float y = in.ReadCoordinate(lat);
        block.lon.push_back(lon);
        block.lat.push_back(lat);
        if (keepFloats) {
            block.x.push_back(x);
            block.y.push_back(y);
        }
    }
    item.degreeOffset = degreeOffset;
    item.pointsRead = pairs;
    if (keepFloats) {
        item.pointOffset = pointOffset;
        item.withPoints = true;
    }
}

RecordStream::RecordStream(BnaInput& in, StreamOptions options)
    : shared_(std::make_unique<Shared>()), fileSize_(in.FileSize())
{
    Shared& s = *shared_;
    s.keepDegrees = options.keepDegrees;
    s.readAhead = options.readAhead;
    // The reading thread starts with this one's vector state.
    ClearUpperVectorState();
    try {
        s.reader = std::thread([&s, &in] { s.Read(in); });
    } catch (const std::system_error& e) {
        throw RunError(std::string("cannot start a thread to read the file: ") + e.what());
    }
}

RecordStream::~RecordStream()
{
    shared_->Quit();
    shared_->reader.join();
}

const StreamRecord* RecordStream::Next()
{
    Shared& s = *shared_;
    for (;;) {
        if (!s.current) {
            s.current = s.TakeFull();
            s.nextItem = 0;
            if (!s.current) {
                if (s.error) {
                    std::rethrow_exception(s.error);
                }
                return nullptr;
            }
        }
        Block& block = *s.current;
        if (s.nextItem < block.items.size()) {
            ViewRecord(block, block.items[s.nextItem++], s.record);
            return &s.record;
        }
        s.PutEmpty(std::move(s.current));
    }
}

void RecordStream::Load(const StreamRecord& record, Workspace& ws)
{
    ws.curPoly.nPoints = record.nPoints;
    if (record.nPoints <= 0 || record.nPoints > MaxPoints) {
        return;
    }
    // A record that ended early had written some of its slots.
    ws.MarkFilled(record.nPoints);
    if (record.x != nullptr) {
        const auto n = static_cast<std::size_t>(record.nPoints);
        std::copy_n(record.x, n, ws.pointX.begin());
        std::copy_n(record.y, n, ws.pointY.begin());
    }
}

}  // namespace zarn
