// What differs between Linux and Windows lives behind these calls, and only
// here: platform_posix.cpp and platform_win32.cpp each hold all of one side.
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

// The folder a file stands in, where its replacement is made.
inline std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Opens a file in binary mode ("rb" or "wb"); null when it cannot be opened.
std::FILE* openFile(const std::filesystem::path& name, const char* mode);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Makes a new, empty file beside the page that the page file writes first
// and puts in place once it is complete; it gets the permission bits (and,
// where allowed, the owner) of the file it replaces. Null when the folder
// takes no new file.
std::FILE* createTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary);

// Puts the complete new file in the target's place. False if that failed.
bool replace(const std::filesystem::path& temporary, const std::filesystem::path& target);

}  // namespace taletab::platform
