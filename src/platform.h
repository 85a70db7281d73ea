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

// Readies the process for a run: a broken pipe or a file-size limit becomes
// a failed write instead of a signal; an interruption (Ctrl-C, SIGTERM,
// SIGHUP, SIGQUIT; Ctrl-C, Ctrl-Break or a closed console window on
// Windows) first removes the temporary file and resets a terminal's colours.
void prepareProcess();

// Opens a file in binary mode ("rb" or "wb"); null when it cannot be opened.
std::FILE* openFile(const std::filesystem::path& name, const char* mode);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The page file's primitives; page_file.h states the rules they serve.

// What a page's name stands for before anything is written.
struct PageTarget {
    enum class Kind {
        kNew,       // no file of that name yet, and a name the system can create
        kExisting,  // a regular file, reached through any links
        kDirect,    // a device, a pipe, or a name only opening it can judge
    };
    Kind kind = Kind::kDirect;
    std::filesystem::path file;  // kNew, kExisting: the file to make or replace
    bool writable = false;       // kExisting: the user could open it for writing
    bool renameKeepsIt = false;  // kExisting: a renamed new file can be it (one link, no access list)
};
PageTarget examinePage(const std::filesystem::path& name);

// Makes a new, empty file in a folder, open for reading and writing, and
// watches it: an interruption removes it. Null when the folder takes no new file.
std::FILE* createTemporary(const std::filesystem::path& folder, std::filesystem::path& name);

// The system's folder for temporary files (TMPDIR or /tmp; GetTempPathW).
std::filesystem::path systemTemporaryFolder();

// Gives a temporary file the owner, group and permissions (on Windows the
// attributes) of the page it replaces, or those of a new file. False where
// they could not all be given.
bool takeOverOwnership(std::FILE* temporary, const PageTarget& page);

// Writes the stream's buffer out and waits until the file's bytes are on the disk.
bool syncToDisk(std::FILE* stream);

// Puts a complete, closed temporary file in the page's place by renaming
// it, and the folder's new entry on the disk; the file is no longer
// watched. False if the system refused; the temporary file is then left.
bool renameOver(const std::filesystem::path& temporary, const PageTarget& page);

// Copies a complete temporary file into the existing page, in place, and
// waits for the disk; interruptions wait until it is done. False on failure.
bool copyInto(const std::filesystem::path& temporary, const std::filesystem::path& page);

// Removes a temporary file and stops watching it.
void removeTemporary(const std::filesystem::path& temporary);

}  // namespace taletab::platform
