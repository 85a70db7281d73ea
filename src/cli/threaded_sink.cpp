#include "threaded_sink.h"

#include <system_error>
#include <utility>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace taletab {

namespace {

// Starts a thread that takes no signals. It is started with every signal
// blocked, rather than blocking them once it runs, so that no signal can
// reach it in between.
template <typename Function>
std::thread startWithoutSignals(Function function) {
#ifdef _WIN32
    return std::thread(std::move(function));  // a console's control handler has a thread of its own
#else
    sigset_t all, callers;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &callers);
    try {
        std::thread thread(std::move(function));
        pthread_sigmask(SIG_SETMASK, &callers, nullptr);
        return thread;
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &callers, nullptr);
        throw;
    }
#endif
}

}  // namespace

ThreadedSink::ThreadedSink(BlockWriter write, Writing writing)
    : write_(std::move(write)), noThread_(writing == Writing::kOnCaller) {}

ThreadedSink::~ThreadedSink() { stop(true); }

PageSink ThreadedSink::pageSink() {
    return [this](PageBuffer& buffer, std::size_t size) { return take(buffer, size); };
}

bool ThreadedSink::finish() {
    stop(false);
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

bool ThreadedSink::take(PageBuffer& buffer, std::size_t size) {
    if (!thread_.joinable() && !(firstWritten_ && startThread())) {
        firstWritten_ = true;
        return writeOnCaller({buffer.get(), size});
    }
    PageBuffer replacement = newBuffer();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!replacement) waitForFreeBuffer(lock, replacement);
        if (failed_) return false;
        queue(buffer, size);
    }
    queued_.notify_one();
    buffer = std::move(replacement);
    return true;
}

bool ThreadedSink::startThread() {
    if (noThread_) return false;
    try {
        thread_ = startWithoutSignals([this] { writeQueued(); });
        return true;
    } catch (const std::system_error&) {
        noThread_ = true;  // the system has no thread to give: write here, as slowly as before
        return false;
    }
}

// No thread runs: the lock only keeps to the rule that guards failed_.
bool ThreadedSink::writeOnCaller(std::string_view block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) return false;
    failed_ = !write_(block);
    return !failed_;
}

// Until kQueuedBuffers buffers are made beside the writer's; null after that.
PageBuffer ThreadedSink::newBuffer() {
    if (allocated_ == kQueuedBuffers) return nullptr;
    ++allocated_;
    return PageBuffer(new char[kPageBufferSize]);  // not zero-filled: the writer fills it first
}

// Leaves a written block's buffer in `replacement`, or leaves it empty if the writing failed.
void ThreadedSink::waitForFreeBuffer(std::unique_lock<std::mutex>& lock, PageBuffer& replacement) {
    while (!failed_) {
        if (freeCount_ > 0) {
            replacement = std::move(free_[--freeCount_]);
            return;
        }
        if (writing_) {
            freed_.wait(lock);
        } else {
            writeOldest(lock);  // the thread has not taken it: no use waiting for it
        }
    }
}

void ThreadedSink::queue(PageBuffer& buffer, std::size_t size) {
    Block& block = queue_[(next_ + count_) % kQueuedBuffers];
    block.buffer = std::move(buffer);
    block.size = size;
    ++count_;
}

void ThreadedSink::writeQueued() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return (count_ > 0 && !writing_) || stopping_ || failed_; });
        if (failed_ || count_ == 0 || dropQueued_) return;
        writeOldest(lock);
    }
}

// Only one block is written at a time, always the oldest, so that blocks
// reach the file in order whichever thread writes them.
void ThreadedSink::writeOldest(std::unique_lock<std::mutex>& lock) {
    writing_ = true;
    const Block& block = queue_[next_];
    lock.unlock();
    const bool written = write_({block.buffer.get(), block.size});
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
