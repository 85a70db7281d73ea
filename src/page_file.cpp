#include "page_file.h"

#include <system_error>

#include "platform.h"

namespace taletab {

namespace fs = std::filesystem;

namespace {

// The file a page named so would replace in place of itself: a link is
// followed to its file. Empty when the page is to be written directly.
fs::path replacedFile(const fs::path& name) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::regular) return fs::canonical(name, error);
    // No file yet, and not a link to a missing one: the page is new.
    if (status.type() == fs::file_type::not_found &&
        fs::symlink_status(name, error).type() == fs::file_type::not_found) {
        return name;
    }
    return {};
}

}  // namespace

PageFile::PageFile(const fs::path& name) {
    target_ = replacedFile(name);
    if (!target_.empty()) stream_ = platform::createTemporaryBeside(target_, temporary_);
    if (!stream_) {
        temporary_.clear();
        target_ = name;
        stream_ = platform::openFile(name, "wb");
    }
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) {
        std::error_code error;
        fs::remove(temporary_, error);
    }
}

bool PageFile::commit() {
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (temporary_.empty()) return closed;
    const bool replaced = closed && platform::replace(temporary_, target_);
    if (replaced) temporary_.clear();
    return replaced;
}

}  // namespace taletab
