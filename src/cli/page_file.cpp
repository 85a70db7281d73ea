#include "page_file.h"

#include "html_sniff.h"

namespace taletab {

namespace fs = std::filesystem;

PageFile::PageFile(const fs::path& name) : name_(name) { platform::examinePage(name, target_); }

bool PageFile::mayBecomePage() const {
    if (target_.kind != platform::PageTarget::Kind::kExisting) return true;
    if (target_.empty) return true;
    return target_.headRead && beginsLikeHtml(target_.head);
}

bool PageFile::open() {
    using Kind = platform::PageTarget::Kind;
    switch (target_.kind) {
        case Kind::kRefused:
            return false;
        case Kind::kDirect:
            stream_ = platform::openDirect(name_);
            return stream_ != nullptr;
        case Kind::kNew:
            stream_ = platform::createTemporary(target_, true, temporary_);
            way_ = Way::kRename;
            return stream_ != nullptr;
        case Kind::kExisting:
            break;
    }
    if (!target_.writable) return false;
    stream_ = platform::createTemporary(target_, true, temporary_);
    way_ = stream_ && target_.renameKeepsIt ? Way::kRename : Way::kCopyIn;
    if (!stream_) stream_ = platform::createTemporary(target_, false, temporary_);
    return stream_ != nullptr;
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) platform::removeTemporary(temporary_);
}

bool PageFile::commit() {
    using Kind = platform::PageTarget::Kind;
    if (way_ == Way::kRename && !platform::takeOverOwnership(stream_, target_)) {
        if (target_.kind != Kind::kExisting) return false;
        way_ = Way::kCopyIn;  // the new file cannot be the old page in every respect: the old one is kept
    }
    if (way_ == Way::kRename) {
        // The new file must be on the disk before it takes the page's name.
        if (!platform::syncToDisk(stream_)) return false;
        if (platform::renameOver(stream_, temporary_, target_)) {
            temporary_.clear();
            return true;
        }
        // The system refused the rename (another file system, a bind mount): the page is copied in.
        if (!stream_ || target_.kind != Kind::kExisting) return false;
        way_ = Way::kCopyIn;
    }
    const bool copied = way_ != Way::kCopyIn || (std::fflush(stream_) == 0 && platform::copyInto(stream_, target_));
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    return copied && closed;
}

}  // namespace taletab
