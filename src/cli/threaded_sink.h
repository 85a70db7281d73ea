// A page sink that writes on a thread of its own, so that one block of the
// page reaches the file while the next is being converted.
//
// The contract, for whoever builds one:
// - Buffers: each block comes in the page writer's buffer, which this sink
//   keeps; the writer gets a free buffer in its place. From then on the
//   block's buffer belongs to the sink until its write has returned, then it
//   is free for the writer again. Blocks are written in the order given,
//   whole, one at a time. At most kQueuedBuffers blocks wait or are being
//   written, so memory stays at kQueuedBuffers + 1 buffers however long the
//   page. When that many are, the caller waits while the thread writes one;
//   if the thread is not writing (it has not had a core yet, say, because
//   another program keeps the other one busy), the caller writes the oldest
//   block itself rather than wait for it.
// - Small pages: the page's first block is written on the caller's thread
//   and its buffer stays with the writer; the thread starts with the second
//   block. A page of one block costs no thread and no buffer. Where no
//   thread can be started, or the sink is made to write on the caller's
//   thread, every block is written so.
// - Signals: the thread blocks every signal, so that a handler only ever
//   runs on the caller's thread, where the run expects it.
// - Errors: the first write that fails stops the writing, on either path;
//   blocks still queued or handed in later are dropped, never written. The
//   caller learns of it from a later call returning false, or from finish().
// - Lifetime: finish() waits until every queued block is written and the
//   thread has ended. The destructor stops the thread (dropping what is still
//   queued) and waits for it, so no thread outlives the sink on any path out
//   of a run: return, failure or exception.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "page_writer.h"

namespace taletab {

class ThreadedSink {
public:
    // Writes one block; false if it could not. Called from one thread at a
    // time: the sink's own, or the caller's (see above).
    using BlockWriter = std::function<bool(std::string_view block)>;

    // kOnCaller writes every block on the caller's thread, as where no
    // thread can be started.
    enum class Writing { kOnThread, kOnCaller };
    explicit ThreadedSink(BlockWriter write, Writing writing = Writing::kOnThread);
    ~ThreadedSink();
    ThreadedSink(const ThreadedSink&) = delete;
    ThreadedSink& operator=(const ThreadedSink&) = delete;

    // The sink to give the page writer; it refers to this object.
    PageSink pageSink();

    // Waits until everything handed in is written; false if any write failed.
    bool finish();

private:
    // With two the kernel's pauses in writing stalled the conversion; more
    // gained nothing measurable.
    static constexpr std::size_t kQueuedBuffers = 4;

    bool take(PageBuffer& buffer, std::size_t size);
    bool startThread();
    bool writeOnCaller(std::string_view block);
    PageBuffer newBuffer();
    void waitForFreeBuffer(std::unique_lock<std::mutex>& lock, PageBuffer& replacement);
    void queue(PageBuffer& buffer, std::size_t size);
    void writeQueued();
    void writeOldest(std::unique_lock<std::mutex>& lock);
    void stop(bool dropQueued);

    BlockWriter write_;
    bool firstWritten_ = false;   // caller's side only
    bool noThread_ = false;       // writing on the caller's thread only; caller's side only
    std::size_t allocated_ = 0;   // buffers made beside the writer's; caller's side only

    // Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable queued_;  // a block was queued or written, or the thread is told to stop
    std::condition_variable freed_;   // a block was written, or the writing failed
    struct Block {
        PageBuffer buffer;
        std::size_t size = 0;
    };
    Block queue_[kQueuedBuffers];     // a ring: count_ blocks from next_ on
    std::size_t next_ = 0;
    std::size_t count_ = 0;
    PageBuffer free_[kQueuedBuffers];  // written, waiting to go back to the writer
    std::size_t freeCount_ = 0;
    bool failed_ = false;
    bool writing_ = false;     // a block is being written, by either thread
    bool stopping_ = false;    // nothing more will be queued
    bool dropQueued_ = false;  // and what is queued is not to be written

    std::thread thread_;
};

}  // namespace taletab
