// The page file: how the page reaches its name.
#pragma once

#include <cstdio>
#include <filesystem>

namespace taletab {

// The page being written. Where the name is a regular file, or no file yet,
// the bytes go to a new file in the same folder that takes the name only
// once it is complete, so a failed run leaves an existing page as it was;
// a name that is a link keeps being a link to the replaced file. A device or
// a pipe, or a folder where no new file can be made, is written directly.
class PageFile {
public:
    explicit PageFile(const std::filesystem::path& name);
    ~PageFile();  // a page not committed is removed, the old one left in place
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Null when the page cannot be created.
    std::FILE* stream() const { return stream_; }

    // Closes the page and puts it in place. False if that failed.
    bool commit();

private:
    std::FILE* stream_ = nullptr;
    std::filesystem::path target_;     // the file that the page replaces
    std::filesystem::path temporary_;  // empty when writing to the target directly
};

}  // namespace taletab
