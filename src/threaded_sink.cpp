#include "threaded_sink.h"

#include <cstdint>
#include <system_error>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace taletab {

namespace {

// Hands a written block's cache lines back to memory. Copying the block
// into the file leaves them in this thread's core's cache, from where the
// caller's core, filling the buffer again, would have to win back each line
// one by one; from memory it refills them in a stream. On a two-core machine
// this took a 1 GiB script from 1.55 to 1.06 times the floor of bench/run.py.
void releaseCacheLines([[maybe_unused]] const char* block, [[maybe_unused]] std::size_t size) {
#ifdef __SSE2__
    constexpr std::uintptr_t kLine = 64;
    const auto end = reinterpret_cast<std::uintptr_t>(block) + size;
    for (auto line = reinterpret_cast<std::uintptr_t>(block) & ~(kLine - 1); line < end; line += kLine) {
        _mm_clflush(reinterpret_cast<const void*>(line));
    }
#endif
}

}  // namespace

ThreadedSink::ThreadedSink(BlockWriter write) : write_(std::move(write)) {}

ThreadedSink::~ThreadedSink() { stop(true); }

PageSink ThreadedSink::pageSink() {
    return [this](PageBuffer& buffer, std::size_t size) { return take(buffer, size); };
}

bool ThreadedSink::finish() {
    stop(false);
    return !failed_;
}

bool ThreadedSink::take(PageBuffer& buffer, std::size_t size) {
    if (firstWritten_ && !thread_.joinable() && !noThread_) {
        try {
            thread_ = std::thread([this] { writeQueued(); });
        } catch (const std::system_error&) {
            noThread_ = true;  // the system has no thread to give: write here, as slowly as before
        }
    }
    if (!thread_.joinable()) {
        firstWritten_ = true;
        failed_ = !write_({buffer.get(), size});
        return !failed_;
    }

    PageBuffer replacement;
    if (allocated_ < kQueuedBuffers) {
        // Not zero-filled: the writer fills it before it is written.
        replacement.reset(new char[kPageBufferSize]);
        ++allocated_;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!replacement && !failed_) {
            if (freeCount_ > 0) {
                replacement = std::move(free_[--freeCount_]);
            } else if (!writing_) {
                writeOldest(lock, false);  // the thread has not taken it: no use waiting for it
            } else {
                freed_.wait(lock);
            }
        }
        if (failed_) return false;
        Block& block = queue_[(next_ + count_) % kQueuedBuffers];
        block.buffer = std::move(buffer);
        block.size = size;
        ++count_;
    }
    queued_.notify_one();
    buffer = std::move(replacement);
    return true;
}

void ThreadedSink::writeQueued() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return (count_ > 0 && !writing_) || stopping_ || failed_; });
        if (failed_ || count_ == 0 || dropQueued_) return;
        writeOldest(lock, true);
    }
}

// Only one block is written at a time, always the oldest, so that blocks
// reach the file in order whichever thread writes them.
void ThreadedSink::writeOldest(std::unique_lock<std::mutex>& lock, bool onThread) {
    writing_ = true;
    const Block& block = queue_[next_];
    lock.unlock();
    const bool written = write_({block.buffer.get(), block.size});
    // A block the caller wrote is in the caller's cache, where it is wanted next.
    if (onThread) releaseCacheLines(block.buffer.get(), block.size);
    lock.lock();
    writing_ = false;
    if (written) {
        free_[freeCount_++] = std::move(queue_[next_].buffer);
        next_ = (next_ + 1) % kQueuedBuffers;
        --count_;
    } else {
        failed_ = true;
    }
    // Either side may be waiting for this write: the caller for a buffer, the thread for its turn.
    freed_.notify_one();
    queued_.notify_one();
}

void ThreadedSink::stop(bool dropQueued) {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropQueued_ = dropQueued;
    }
    queued_.notify_one();
    thread_.join();
}

}  // namespace taletab
