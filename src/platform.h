// What differs between Linux and Windows lives behind these calls, and only here.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace taletab::platform {

// Standard output for the program's texts, for as long as it lives: bytes go
// out unchanged (no LF doubled into CR CR LF) and fully buffered. On a Windows
// console the colour sequences are turned on, and the console is left as it
// was found.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

private:
#ifdef _WIN32
    void* handle_ = nullptr;  // the console whose mode is put back, if any
    unsigned long modeFound_ = 0;
#endif
};

// A file name as typed: the platform's own form, to open the file by, and the
// Shift-JIS bytes it is shown as in the console texts and the page title. On
// Linux both are the bytes as typed; on Windows the name is taken in Unicode
// and shown in code page 932.
struct FileName {
    std::filesystem::path path;
    std::string shown;
};

// The file names on the command line, after the program's own name.
std::vector<FileName> fileNames(int argc, char** argv);

// Opens a file in binary mode ("rb" or "wb"); null when it cannot be opened.
std::FILE* openFile(const std::filesystem::path& name, const char* mode);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

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

}  // namespace taletab::platform
