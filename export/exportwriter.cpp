#include "exportwriter.h"

namespace zarn {

std::unique_ptr<GisExport::Item> GisExport::Writer::Spare()
{
    const std::lock_guard lock(mutex_);
    if (spare_.empty()) {
        return std::make_unique<Item>();
    }
    std::unique_ptr<Item> item = std::move(spare_.back());
    spare_.pop_back();
    return item;
}

void GisExport::Writer::Push(std::unique_ptr<Item> item)
{
    std::unique_lock lock(mutex_);
    space_.wait(lock, [&] {
        return failure_ || queue_.empty() || (queue_.size() < MaxItems && weight_ < MaxVertices);
    });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    weight_ += item->weight;
    queue_.push_back(std::move(item));
    queued_.store(queue_.size(), std::memory_order_relaxed);
    if (BatchReady()) {
        work_.notify_one();
    }
}

void GisExport::Writer::Finish()
{
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    work_.notify_one();
    Join();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

void GisExport::Writer::Stop() noexcept
{
    std::deque<std::unique_ptr<Item>> dropped;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    work_.notify_one();
    Join();
}

void GisExport::Writer::Run()
{
    std::deque<std::unique_ptr<Item>> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stopping_ || finishing_ || BatchReady(); });
        if (stopping_ || queue_.empty()) {
            return;
        }
        batch.swap(queue_);
        weight_ = 0;
        queued_.store(0, std::memory_order_relaxed);
        space_.notify_one();
        lock.unlock();
        try {
            for (const std::unique_ptr<Item>& item : batch) {
                if (stopping_) {
                    return;
                }
                if (item->shared) {
                    // A huge record: one export at a time writes it, in its
                    // turn (HugeTurn), and lets go of what it made for it at
                    // once. Those writing GeoJSON or KML never wait.
                    ExportNotes& notes = *owner_.notes_;
                    HugeRecord& huge = *item->shared;
                    const std::size_t turn = owner_.hugeTurn_;
                    std::unique_lock one(notes.hugeWriting);
                    if (turn > 0) {
                        notes.hugeWritten.wait(
                            one, [&] { return stopping_ || notes.hugeUnordered || huge.TurnOf(turn, notes); });
                        if (stopping_) {
                            return;
                        }
                    }
                    owner_.Write(*item);
                    --huge.left[turn];
                    notes.hugeWritten.notify_all();
                    item->shared.reset();
                    item->digits.Release();
                } else {
                    owner_.Write(*item);
                }
            }
        } catch (...) {
            owner_.Unorder();
            lock.lock();
            failure_ = std::current_exception();
            space_.notify_one();
            return;
        }
        for (const std::unique_ptr<Item>& item : batch) {
            // Buffers grown for a record of many points, or in many
            // items over a long file, are let go.
            held_ -= item->held;
            if (held_ + item->Bytes() > MaxHeldBytes) {
                item->region = RegionShape{};
                item->digits.Release();
            }
            item->held = item->Bytes();
            held_ += item->held;
        }
        lock.lock();
        for (std::unique_ptr<Item>& item : batch) {
            spare_.push_back(std::move(item));
        }
        batch.clear();
    }
}

}  // namespace zarn
