#include "page_file.h"

#include <chrono>

#include "html_sniff.h"

namespace taletab {

namespace fs = std::filesystem;

namespace {

// Runs that rename over one page one after another each make the others examine its name again;
// past this many rounds the page counts as held by another program.
constexpr int kExaminations = 100;

}  // namespace

PageFile::PageFile(const fs::path& name, platform::FileSystem& files, const std::function<void()>& waiting)
    : name_(name), files_(files) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
    bool waited = false;
    for (int round = 0; round < kExaminations; ++round) {
        target_ = std::make_unique<platform::PageTarget>();
        files_.examine(name_, *target_);
        PageFound& found = target_->found;
        if (found.kind != PageFound::Kind::kFile) return;
        if (found.writable && !found.locked) {
            // Said on the console, unless the console is the page.
            if (!waited && !target_->standardOutput) waiting();
            waited = true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            found.locked = left.count() > 0 && files_.lock(*target_, static_cast<int>(left.count()));
            if (!found.locked) {
                target_->cause = platform::Cause::kInUse;
                return;
            }
        }
        // A run that held the page before this one may have renamed its own page over it meanwhile.
        if (!found.writable || files_.stillNamed(*target_)) {
            files_.inspect(*target_);
            return;
        }
    }
    target_->found.locked = false;
    target_->cause = platform::Cause::kInUse;
}

bool PageFile::mayBecomePage() const {
    const PageFound& found = target_->found;
    // A page held by another program is not looked at: opening it is refused.
    if (found.kind != PageFound::Kind::kFile || (found.writable && !found.locked)) return true;
    if (target_->empty) return true;
    return target_->headRead && beginsLikeHtml(target_->head);
}

bool PageFile::open() {
    const PageFound& found = target_->found;
    road_ = roadFor(found, true);
    if (road_.road == Road::kRefuse) {
        cause_ = target_->cause;
        return false;
    }
    if (road_.road == Road::kDirect) {
        stream_ = files_.openDirect(name_, *target_);
        if (!stream_) fail();
        return stream_ != nullptr;
    }
    stream_ = files_.createTemporary(*target_, true, temporary_);
    if (!stream_) fail();
    road_ = roadFor(found, stream_ != nullptr);
    if (road_.road == Road::kRefuse) return false;
    if (!stream_) stream_ = files_.createTemporary(*target_, false, temporary_);
    if (!stream_) fail();
    return stream_ != nullptr;
}

bool PageFile::write(std::string_view block) {
    if (std::fwrite(block.data(), 1, block.size(), stream_) == block.size()) return true;
    fail();
    return false;
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) files_.removeTemporary(temporary_);
}

bool PageFile::commit() {
    const PageFound& found = target_->found;
    // The new file cannot be the old page in every respect: the old one is kept, and copied into.
    if (road_.road == Road::kRename && !files_.takeOverOwnership(stream_, *target_)) road_ = roadFor(found, false);
    if (road_.road == Road::kRename) {
        // The new file must be on the disk before it takes the page's name.
        if (!files_.syncToDisk(stream_)) {
            fail();
            return false;
        }
        if (files_.renameOver(stream_, temporary_, *target_)) {
            temporary_.clear();
            return true;
        }
        // The system refused the rename (another file system, a bind mount): the page is copied in.
        fail();
        if (!stream_) return false;
        road_ = roadFor(found, false);
    }
    if (road_.road == Road::kRefuse) return false;
    const bool copied =
        road_.road != Road::kCopyIn || (std::fflush(stream_) == 0 && files_.copyInto(stream_, *target_));
    if (!copied) fail();
    const bool closed = std::fclose(stream_) == 0;
    if (copied && !closed) fail();
    stream_ = nullptr;
    return copied && closed;
}

}  // namespace taletab
