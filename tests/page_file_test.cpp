// The page file's roads and their failures, over a file system that only
// pretends: no root, no real page, no full disk needed.
#include "page_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace taletab {
namespace {

using platform::Cause;
using platform::PageTarget;
using Kind = PageFound::Kind;

// Each examination finds the next of `found` (the last one again once they
// run out); each step is logged, and fails where the test says so.
class FakeFiles final : public platform::FileSystem {
public:
    std::vector<PageFound> found;
    std::vector<std::string> head = {"<html>"};
    bool lockFrees = true;      // the other program lets go of the page while the run waits
    int namedAfter = 0;         // examinations after which the name stands for the file held
    bool standardOutput = false;
    std::vector<std::string> failing;  // the steps that fail
    Cause cause = Cause::kNone;        // and why
    std::string log;

    void examine(const std::filesystem::path&, PageTarget& page) override {
        page.found = found[std::min(examined_, found.size() - 1)];
        page.head = head[std::min(examined_, head.size() - 1)];
        page.standardOutput = standardOutput;
        ++examined_;
        step("examine");
    }
    bool lock(PageTarget&, int milliseconds) override {
        EXPECT_GT(milliseconds, 0);
        EXPECT_LE(milliseconds, PageFile::kLockWaitMilliseconds);
        return step("wait") && lockFrees;
    }
    bool stillNamed(const PageTarget&) override { return step("named") && static_cast<int>(examined_) > namedAfter; }
    void inspect(PageTarget& page) override {
        step("inspect");
        page.headRead = true;
        page.empty = page.head.empty();
    }
    std::FILE* openDirect(const std::filesystem::path&, const PageTarget&) override {
        return step("direct") ? std::tmpfile() : nullptr;
    }
    std::FILE* createTemporary(const PageTarget&, bool beside, std::filesystem::path& name) override {
        if (!step(beside ? "beside" : "elsewhere")) return nullptr;
        name = beside ? "beside" : "elsewhere";
        return std::tmpfile();
    }
    bool takeOverOwnership(std::FILE*, const PageTarget&) override { return step("owner"); }
    bool syncToDisk(std::FILE*) override { return step("sync"); }
    bool renameOver(std::FILE*& temporary, const std::filesystem::path&, const PageTarget&) override {
        if (!step("rename")) {
            if (failed("rename lost")) {
                std::fclose(temporary);
                temporary = nullptr;
            }
            return false;
        }
        std::fclose(temporary);
        temporary = nullptr;
        return true;
    }
    bool copyInto(std::FILE*, const PageTarget&) override { return step("copy"); }
    void removeTemporary(const std::filesystem::path& temporary) override { step("remove " + temporary.string()); }
    Cause lastCause() const override { return cause; }

private:
    bool failed(const std::string& name) const {
        for (const std::string& f : failing) {
            if (f == name) return true;
        }
        return false;
    }
    // Logs a step: "name" where it succeeds, "name!" where it fails.
    bool step(const std::string& name) {
        const bool fails = failed(name);
        log += (log.empty() ? "" : " ") + name + (fails ? "!" : "");
        return !fails;
    }
    std::size_t examined_ = 0;
};

PageFound ofKind(Kind kind) {
    PageFound found;
    found.kind = kind;
    return found;
}

PageFound page(unsigned long links = 1, bool writable = true, bool locked = true) {
    PageFound found = ofKind(Kind::kFile);
    found.links = links;
    found.writable = writable;
    found.locked = locked;
    found.ownerKept = true;
    return found;
}

// One run through a page file: examined, opened, a block written, committed.
struct Outcome {
    bool opened = false;
    bool committed = false;
    Road road = Road::kRefuse;
    Refusal why = Refusal::kNone;
    Cause cause = Cause::kNone;
    int waits = 0;  // how often the run said it waits
};

Outcome run(FakeFiles& files) {
    Outcome result;
    {
        PageFile file("page.htm", files, [&] { ++result.waits; });
        EXPECT_TRUE(file.mayBecomePage());
        result.opened = file.open();
        if (result.opened) result.committed = file.write("<html>") && file.commit();
        result.road = file.road().road;
        result.why = file.road().why;
        result.cause = file.cause();
    }
    return result;
}

TEST(PageFileTest, RoadsAndTheirFailures) {
    const struct {
        const char* label;
        std::vector<PageFound> found;
        std::vector<std::string> failing;
        Cause cause;  // of the failing steps
        bool opened, committed;
        Road road;
        Cause said;
        const char* log;
    } cases[] = {
        {"a new page", {ofKind(Kind::kNone)}, {}, Cause::kNone, true, true, Road::kRename, Cause::kNone,
         "examine beside owner sync rename"},
        {"a new page where the user may not make a file", {ofKind(Kind::kNone)}, {"beside"}, Cause::kNoPermission,
         false, false, Road::kRefuse, Cause::kNoPermission, "examine beside!"},
        {"a new page whose mode cannot be given", {ofKind(Kind::kNone)}, {"owner"}, Cause::kNone, true, false,
         Road::kRefuse, Cause::kNone, "examine beside owner! remove beside"},
        {"a new page that cannot reach the disk", {ofKind(Kind::kNone)}, {"sync"}, Cause::kDiskFull, true, false,
         Road::kRename, Cause::kDiskFull, "examine beside owner sync! remove beside"},
        {"a new page whose rename is refused", {ofKind(Kind::kNone)}, {"rename"}, Cause::kReadOnly, true, false,
         Road::kRefuse, Cause::kReadOnly, "examine beside owner sync rename! remove beside"},
        {"a page", {page()}, {}, Cause::kNone, true, true, Road::kRename, Cause::kNone,
         "examine named inspect beside owner sync rename"},
        {"a hard-linked page", {page(2)}, {}, Cause::kNone, true, true, Road::kCopyIn, Cause::kNone,
         "examine named inspect beside copy remove beside"},
        {"a page in a directory that takes no new file", {page()}, {"beside"}, Cause::kDiskFull, true, true,
         Road::kCopyIn, Cause::kDiskFull, "examine named inspect beside! elsewhere copy remove elsewhere"},
        {"a page no temporary file can be made for", {page(2)}, {"beside", "elsewhere"}, Cause::kDiskFull, false,
         false, Road::kCopyIn, Cause::kDiskFull, "examine named inspect beside! elsewhere!"},
        {"a page whose owner cannot be given", {page()}, {"owner"}, Cause::kNone, true, true, Road::kCopyIn,
         Cause::kNone, "examine named inspect beside owner! copy remove beside"},
        {"a page whose rename is refused (a bind mount)", {page()}, {"rename"}, Cause::kNone, true, true,
         Road::kCopyIn, Cause::kNone, "examine named inspect beside owner sync rename! copy remove beside"},
        {"a page whose rename is refused and whose new file is lost", {page()}, {"rename", "rename lost"},
         Cause::kNone, true, false, Road::kRename, Cause::kNone,
         "examine named inspect beside owner sync rename! remove beside"},
        {"a copy the disk has no room for", {page(2)}, {"copy"}, Cause::kDiskFull, true, false, Road::kCopyIn,
         Cause::kDiskFull, "examine named inspect beside copy! remove beside"},
        {"a page the user may not write", {page(1, false, false)}, {}, Cause::kNone, false, false, Road::kRefuse,
         Cause::kNone, "examine inspect"},
        {"a device or pipe", {ofKind(Kind::kStream)}, {}, Cause::kNone, true, true, Road::kDirect, Cause::kNone,
         "examine direct"},
        {"a device that cannot be opened", {ofKind(Kind::kStream)}, {"direct"}, Cause::kNoPermission, false, false,
         Road::kDirect, Cause::kNoPermission, "examine direct!"},
        {"a disk", {ofKind(Kind::kDisk)}, {}, Cause::kNone, false, false, Road::kRefuse, Cause::kNone, "examine"},
        {"a kernel file", {ofKind(Kind::kPseudo)}, {}, Cause::kNone, false, false, Road::kRefuse, Cause::kNone,
         "examine"},
        {"a page another run renamed its own over, then the new one",
         {page(1, true, true), page(1, true, true)}, {}, Cause::kNone, true, true, Road::kRename, Cause::kNone,
         "examine named examine named inspect beside owner sync rename"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeFiles files;
        files.found = c.found;
        files.failing = c.failing;
        files.cause = c.cause;
        files.namedAfter = static_cast<int>(c.found.size()) - 1;
        const Outcome result = run(files);
        EXPECT_EQ(result.opened, c.opened);
        EXPECT_EQ(result.committed, c.committed);
        EXPECT_EQ(result.road, c.road);
        EXPECT_EQ(result.cause, c.said);
        EXPECT_EQ(files.log, c.log);
        EXPECT_EQ(result.waits, 0);
    }
}

TEST(PageFileTest, APageAnotherProgramHoldsIsWaitedForOnceThenRefused) {
    for (const bool frees : {true, false}) {
        SCOPED_TRACE(frees ? "it lets go" : "it holds on");
        FakeFiles files;
        files.found = {page(1, true, false)};
        files.lockFrees = frees;
        const Outcome result = run(files);
        EXPECT_EQ(result.waits, 1);
        EXPECT_EQ(result.opened, frees);
        EXPECT_EQ(result.committed, frees);
        if (frees) {
            EXPECT_EQ(files.log, "examine wait named inspect beside owner sync rename");
        } else {
            EXPECT_EQ(files.log, "examine wait");
            EXPECT_EQ(result.why, Refusal::kInUse);
            EXPECT_EQ(result.cause, Cause::kInUse);
        }
    }
}

TEST(PageFileTest, ANameThatNeverStaysPutCountsAsInUse) {
    FakeFiles files;
    files.found = {page()};
    files.namedAfter = 1000;  // every examination finds the page renamed over again
    const Outcome result = run(files);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.why, Refusal::kInUse);
    EXPECT_EQ(result.cause, Cause::kInUse);
}

TEST(PageFileTest, WhatMayBecomeAPage) {
    const struct {
        const char* label;
        PageFound found;
        std::string head;
        bool may;
    } cases[] = {
        {"an HTML page", page(), "<!DOCTYPE html>", true},
        {"an empty file", page(), "", true},
        {"a script", page(), "name\ttext", false},
        {"a script the user may not write", page(1, false, false), "name\ttext", false},
        {"a page another program holds, not looked at", page(1, true, false), "name\ttext", true},
        {"a device", ofKind(Kind::kStream), "", true},
    };
    for (const auto& c : cases) {
        FakeFiles files;
        files.found = {c.found};
        files.head = {c.head};
        files.lockFrees = false;
        const PageFile file("page.htm", files, [] {});
        EXPECT_EQ(file.mayBecomePage(), c.may) << c.label;
    }
}

TEST(PageFileTest, StandardOutputThatIsThePageIsKnownOnceExamined) {
    FakeFiles files;
    files.found = {ofKind(Kind::kStream)};
    files.standardOutput = true;
    EXPECT_TRUE(PageFile("/dev/stdout", files, [] {}).isStandardOutput());
}

}  // namespace
}  // namespace taletab
