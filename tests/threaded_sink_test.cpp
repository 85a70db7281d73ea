#include "threaded_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace taletab {
namespace {

using namespace std::chrono_literals;

// Block i is filled with the byte 'a' + i % 26 and is 1000 + i bytes long, so
// that a block written from a buffer already refilled shows.
std::string blockBytes(int i) { return std::string(1000 + i, static_cast<char>('a' + i % 26)); }

// Hands the sink `count` blocks through one buffer, as the page writer does,
// and goes on after a failure, as a careless caller would. False if the sink
// reported any.
bool handBlocks(PageSink& sink, int count) {
    PageBuffer buffer(new char[kPageBufferSize]);
    bool taken = true;
    for (int i = 0; i < count; ++i) {
        const std::string bytes = blockBytes(i);
        std::memcpy(buffer.get(), bytes.data(), bytes.size());
        taken = sink(buffer, bytes.size()) && taken;
        if (!buffer) return false;  // the writer must always get a buffer back
    }
    return taken;
}

// A block writer that records what it is given and from which thread, and
// fails the given block alone (counted from 0; -1: none), as a disk that
// was full for a moment would.
struct Recorder {
    std::vector<std::string> blocks;
    std::vector<std::thread::id> threads;
    std::chrono::milliseconds delay{0};
    int failing = -1;

    ThreadedSink::BlockWriter writer() {
        return [this](std::string_view block) {
            std::this_thread::sleep_for(delay);
            threads.push_back(std::this_thread::get_id());
            if (static_cast<int>(threads.size()) - 1 == failing) return false;
            blocks.emplace_back(block);
            return true;
        };
    }
};

TEST(ThreadedSinkTest, EveryBlockIsWrittenWholeAndInOrder) {
    // Fewer blocks than the queue holds, and many more, written fast and slowly
    // (a slow writer makes the caller wait for free buffers; with a fast one
    // the caller writes most blocks itself, before the thread gets to them).
    for (const int count : {2, 3, 5, 200}) {
        for (const auto delay : {0ms, 1ms}) {
            Recorder recorder;
            recorder.delay = delay;
            ThreadedSink threaded(recorder.writer());
            PageSink sink = threaded.pageSink();
            ASSERT_TRUE(handBlocks(sink, count));
            ASSERT_TRUE(threaded.finish());
            ASSERT_EQ(recorder.blocks.size(), static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(recorder.blocks[i], blockBytes(i)) << "block " << i << " of " << count;
            }
            EXPECT_NE(recorder.threads.back(), std::this_thread::get_id()) << count << " blocks";
        }
    }
}

TEST(ThreadedSinkTest, APageOfOneBlockIsWrittenWithoutAThread) {
    Recorder recorder;
    ThreadedSink threaded(recorder.writer());
    PageSink sink = threaded.pageSink();
    PageBuffer buffer(new char[kPageBufferSize]);
    char* const original = buffer.get();
    std::memcpy(buffer.get(), "page", 4);
    ASSERT_TRUE(sink(buffer, 4));
    EXPECT_EQ(buffer.get(), original);  // the writer keeps its buffer
    ASSERT_TRUE(threaded.finish());
    EXPECT_EQ(recorder.blocks, std::vector<std::string>{"page"});
    EXPECT_EQ(recorder.threads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

TEST(ThreadedSinkTest, TheFirstFailedWriteStopsTheWriting) {
    // The first block fails on the caller's thread, the others on the writing
    // thread; the last block's failure is known only once the writing is done.
    // Where no thread runs, every block is written on the caller's thread, and
    // a failure must stick there too.
    const struct {
        int blocks;
        int failing;
    } cases[] = {{50, 0}, {50, 1}, {50, 2}, {50, 7}, {3, 0}, {3, 2}};
    for (const auto writing : {ThreadedSink::Writing::kOnThread, ThreadedSink::Writing::kOnCaller}) {
        for (const auto& c : cases) {
            for (const auto delay : {0ms, 1ms}) {
                const int failing = c.failing;
                Recorder recorder;
                recorder.failing = failing;
                recorder.delay = delay;
                ThreadedSink threaded(recorder.writer(), writing);
                PageSink sink = threaded.pageSink();
                handBlocks(sink, c.blocks);
                EXPECT_FALSE(threaded.finish()) << "failing block " << failing;
                EXPECT_EQ(recorder.blocks.size(), static_cast<std::size_t>(failing));
                // Nothing is tried after the failed write.
                EXPECT_EQ(recorder.threads.size(), static_cast<std::size_t>(failing) + 1)
                    << "failing block " << failing;
            }
        }
    }
}

TEST(ThreadedSinkTest, WritingOnTheCallerUsesNoThread) {
    Recorder recorder;
    ThreadedSink threaded(recorder.writer(), ThreadedSink::Writing::kOnCaller);
    PageSink sink = threaded.pageSink();
    ASSERT_TRUE(handBlocks(sink, 20));
    ASSERT_TRUE(threaded.finish());
    ASSERT_EQ(recorder.blocks.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(recorder.blocks[i], blockBytes(i));
    for (const auto id : recorder.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

#ifndef _WIN32
// A signal's handler must run on the caller's thread alone: the run holds
// signals there while it puts the page in place.
TEST(ThreadedSinkTest, TheWritingThreadTakesNoSignal) {
    std::vector<std::pair<std::thread::id, bool>> seen;  // thread, whether SIGINT and SIGTERM were blocked
    ThreadedSink threaded([&seen](std::string_view) {
        std::this_thread::sleep_for(1ms);
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        seen.emplace_back(std::this_thread::get_id(), sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM));
        return true;
    });
    PageSink sink = threaded.pageSink();
    ASSERT_TRUE(handBlocks(sink, 20));
    ASSERT_TRUE(threaded.finish());
    int onThread = 0;
    for (const auto& [id, blocked] : seen) {
        const bool caller = id == std::this_thread::get_id();
        EXPECT_NE(blocked, caller);
        onThread += !caller;
    }
    EXPECT_GT(onThread, 0);
}
#endif

TEST(ThreadedSinkTest, LeavingWithoutFinishingDropsWhatIsQueued) {
    std::atomic<int> written{0};
    {
        ThreadedSink threaded([&written](std::string_view) {
            std::this_thread::sleep_for(20ms);
            ++written;
            return true;
        });
        PageSink sink = threaded.pageSink();
        ASSERT_TRUE(handBlocks(sink, 10));
    }
    // The destructor has waited for the thread: the count no longer moves.
    const int afterwards = written;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(written, afterwards);
    EXPECT_LT(afterwards, 10);
}

}  // namespace
}  // namespace taletab
