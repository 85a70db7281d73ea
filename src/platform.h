// What differs between Linux and Windows lives behind these calls, and only
// here: platform_posix.cpp and platform_win32.cpp each hold all of one side.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "file_name.h"

namespace taletab::platform {

// Standard output for the program's texts, for as long as it lives.
// Redirected, it gets the Shift-JIS bytes unchanged (no LF doubled into
// CR CR LF), fully buffered. A terminal whose locale is UTF-8 (Linux) and a
// console (Windows) get the texts in Unicode instead; any terminal or console
// has its colours reset once the run ends. On a Windows console the colour
// sequences are turned on for the run and the console's mode is put back.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Prints one of the texts of console_texts.h; the name fills its "%s" slot.
    void print(std::string_view text, const FileName& name) const;
    void print(std::string_view text) const { print(text, FileName{}); }

private:
#ifdef _WIN32
    void* console_ = nullptr;  // the console written to in UTF-16, if output is one
    bool modeChanged_ = false;
    unsigned long modeFound_ = 0;
#else
    bool terminal_ = false;
    bool utf8_ = false;  // the terminal shows UTF-8
#endif
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
