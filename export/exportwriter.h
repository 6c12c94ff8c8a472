#pragma once

#include "exportrows.h"
#include "gisexport.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zarn {

// The thread that writes an export's rows, in the order they are queued.
// It takes them a batch at a time, so that the two threads meet once per
// batch rather than once per row. The queue holds at most MaxItems rows and,
// beyond its first, MaxVertices vertices; written items come back to be
// filled again, their buffers kept up to MaxHeldBytes between them all.
class GisExport::Writer {
public:
    explicit Writer(GisExport& owner) : owner_(owner), thread_([this] { Run(); }) {}
    ~Writer() { Stop(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    std::unique_ptr<Item> Spare();

    // Queues `item`, waiting while the queue is full. Throws what ended the
    // writing.
    void Push(std::unique_ptr<Item> item);

    // Waits until every queued row is written. Throws what ended the writing.
    void Finish();

    // More rows wait than one batch: the writing is the slower side.
    bool Behind() const { return queued_.load(std::memory_order_relaxed) > MaxItems / 4; }

    // Drops the rows not yet written.
    void Stop() noexcept;

private:
    static constexpr std::size_t MaxItems = 512;
    static constexpr std::size_t MaxVertices = std::size_t{1} << 17;
    static constexpr std::size_t MaxHeldBytes = std::size_t{8} << 20;

    bool BatchReady() const { return queue_.size() >= MaxItems / 4 || weight_ >= MaxVertices / 4; }

    void Join() noexcept
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void Run();

    GisExport& owner_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable space_;
    std::deque<std::unique_ptr<Item>> queue_;
    std::vector<std::unique_ptr<Item>> spare_;
    std::atomic<std::size_t> queued_ = 0;  // queue_.size(), read without the lock
    std::size_t weight_ = 0;         // vertices in queue_
    std::size_t held_ = 0;  // the items' Bytes() when last written, in all; the writing thread's
    bool finishing_ = false;
    std::atomic<bool> stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;  // last, so that it starts with the rest in place
};

}  // namespace zarn
