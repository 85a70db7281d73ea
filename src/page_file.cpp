#include "page_file.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace taletab {

namespace fs = std::filesystem;

namespace {

// Enough for a byte order mark, some white space and the opening tag.
constexpr std::size_t kHeadBytesChecked = 512;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char any) {
               return std::tolower(static_cast<unsigned char>(any)) == lower;
           });
}

bool beginsLikeHtml(std::string_view head) {
    if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
    const std::size_t start = head.find_first_not_of(" \t\n\f\r");
    if (start == std::string_view::npos) return false;
    head.remove_prefix(start);
    return startsWithNoCase(head, "<html") || startsWithNoCase(head, "<!doctype html");
}

}  // namespace

bool PageFile::mayBecomePage(const fs::path& name) {
    const platform::PageTarget page = platform::examinePage(name);
    if (page.kind != platform::PageTarget::Kind::kExisting) return true;
    std::FILE* file = platform::openFile(page.file, "rb");
    if (!file) return false;
    char head[kHeadBytesChecked];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    const bool unread = std::ferror(file) != 0;
    std::fclose(file);
    return !unread && (got == 0 || beginsLikeHtml({head, got}));
}

PageFile::PageFile(const fs::path& name) {
    target_ = platform::examinePage(name);
    using Kind = platform::PageTarget::Kind;
    switch (target_.kind) {
        case Kind::kDirect:
            stream_ = platform::openFile(name, "wb");
            return;
        case Kind::kNew:
            stream_ = platform::createTemporary(platform::folderOf(target_.file), temporary_);
            if (stream_) platform::takeOverOwnership(stream_, target_);
            way_ = Way::kRename;
            return;
        case Kind::kExisting:
            break;
    }
    if (!target_.writable) return;
    stream_ = platform::createTemporary(platform::folderOf(target_.file), temporary_);
    way_ = stream_ && target_.renameKeepsIt && platform::takeOverOwnership(stream_, target_) ? Way::kRename
                                                                                             : Way::kCopyIn;
    if (!stream_) stream_ = platform::createTemporary(platform::systemTemporaryFolder(), temporary_);
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) platform::removeTemporary(temporary_);
}

bool PageFile::commit() {
    // Only a file about to take the page's name must be on the disk first; fclose flushes the rest.
    const bool written = way_ != Way::kRename || platform::syncToDisk(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) return false;
    if (way_ == Way::kDirect) return true;
    if (way_ == Way::kRename && platform::renameOver(temporary_, target_)) {
        temporary_.clear();
        return true;
    }
    // The system refused the rename (another file system, a bind mount): the page is copied in.
    return target_.kind == platform::PageTarget::Kind::kExisting && platform::copyInto(temporary_, target_.file);
}

}  // namespace taletab
