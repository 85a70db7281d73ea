// What differs between Linux and Windows lives behind these calls, and only
// here: platform_posix.cpp and platform_win32.cpp each hold all of one side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
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

    // From here on nothing is printed: standard output is the page.
    void silence() { silent_ = true; }

    // Whether the console window was made for this program alone, as when
    // Explorer starts it (a double click, a script dropped on it): it closes
    // as the program ends, so the program asks for a key first, and a page
    // named by default goes beside the script. Never on Linux, never where
    // standard output is redirected.
    bool ownWindow() const { return ownWindow_; }

    // Readies a text to be printed later by printPrepared, which takes no
    // memory: for the one message printed when there is none left.
    void prepare(std::string_view text, const FileName& name);
    void printPrepared() const;

private:
    bool silent_ = false;
    bool ownWindow_ = false;
    std::string prepared_;
#ifdef _WIN32
    std::wstring preparedWide_;
    void* console_ = nullptr;  // the console written to in UTF-16, if output is one
    bool modeChanged_ = false;
    unsigned long modeFound_ = 0;
#else
    bool terminal_ = false;
    bool utf8_ = false;  // the terminal shows UTF-8
#endif
};

#ifdef _WIN32
// The rule behind Console::ownWindow, from what Windows tells: the number of
// processes attached to the console (GetConsoleProcessList; 0 where it
// failed) and whether standard output is that console.
bool isOwnWindow(unsigned long processesOnConsole, bool outputIsConsole);
#endif

// The file names on the command line, after the program's own name.
std::vector<FileName> fileNames(int argc, char** argv);

// The directory a file stands in, where its replacement is made.
inline std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Readies the process for a run: a broken pipe or a file-size limit becomes
// a failed write instead of a signal; any other signal whose default is to
// end the process (SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGXCPU, SIGABRT
// and the like; Ctrl-C, Ctrl-Break or a closed console window on Windows)
// first removes the temporary file and resets a terminal's colours, then
// ends the run as it would have.
void prepareProcess();

// Opens a file in binary mode ("rb" or "wb"); null when it cannot be opened.
std::FILE* openFile(const std::filesystem::path& name, const char* mode);

// Reads up to `size` bytes of a file opened by openFile, waiting only until
// some are there: a script from a pipe counts each byte as it comes, so a
// 0x1A ends it even where the writer never does. The count read, 0 at the
// end of the file, -1 on failure.
std::ptrdiff_t readSome(std::FILE* file, char* into, std::size_t size);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The page file's primitives; page_file.h states the rules they serve.

// What a page's name stands for, examined once. From then on the existing
// page and the directory it stands in are held open, so that no later step
// opens the page's name again and trusts what it finds.
class PageTarget {
public:
    enum class Kind {
        kNew,       // no file of that name yet (or a link to none): one is made in `directory`
        kExisting,  // a regular file, reached through any links, held in `page`
        kDirect,    // a device other than a disk, or a pipe: written as it is opened
        kRefused,   // a disk device, or a file that was swapped for something else: never written
    };

    PageTarget() = default;
    ~PageTarget();  // closes what it holds
    PageTarget(const PageTarget&) = delete;
    PageTarget& operator=(const PageTarget&) = delete;

    Kind kind = Kind::kDirect;
    std::filesystem::path file;  // kNew, kExisting: the file to make or replace, links resolved
    bool writable = false;       // kExisting: held open for writing
    bool renameKeepsIt = false;  // kExisting: a renamed new file can be it (one link, no access list, no flags)
    std::string head;            // kExisting: its first bytes, for the HTML check
    bool headRead = false;       // kExisting: the bytes could be read
    bool empty = false;          // kExisting: the file has no bytes

    // The system's handles (a descriptor, a HANDLE); -1 where none is held.
    std::intptr_t page = -1;       // kExisting: locked against another run's copy until closed
    std::intptr_t directory = -1;  // kNew, kExisting: where the temporary file is made
};
void examinePage(const std::filesystem::path& name, PageTarget& page);

// Opens a kDirect page for writing, as it is: null where it cannot be, or
// where the name stands by now for a file that is to be replaced instead.
std::FILE* openDirect(const std::filesystem::path& name);

// Whether standard output is the page itself, where no message may go.
bool isStandardOutput(const PageTarget& page);

// Makes a new, empty, private file beside the page (or, with `beside` false,
// in the system's directory for temporary files), open for reading and
// writing, and watches it: a signal that ends the run removes it. Null when
// the directory takes no new file.
std::FILE* createTemporary(const PageTarget& page, bool beside, std::filesystem::path& name);

// Gives a temporary file the owner, group and permissions (on Windows the
// attributes) of the page it replaces, or those the directory gives a new
// file. False where they could not all be given.
bool takeOverOwnership(std::FILE* temporary, const PageTarget& page);

// Writes the stream's buffer out and waits until the file's bytes are on the disk.
bool syncToDisk(std::FILE* stream);

// Puts a complete temporary file, already on the disk, in the page's place
// by renaming it, then the directory's new entry on the disk, and closes
// it; the file is no longer watched. False if the system refused: the
// temporary file is then left, still open (null if it could not be kept).
bool renameOver(std::FILE*& temporary, const std::filesystem::path& name, const PageTarget& page);

// Copies a complete temporary file, still open, into the existing page, in
// place, after making room for all of it, and waits for the disk; signals
// wait until it is done. False on failure: where no room could be made,
// the page is as it was.
bool copyInto(std::FILE* temporary, const PageTarget& page);

// Removes a temporary file and stops watching it.
void removeTemporary(const std::filesystem::path& temporary);

}  // namespace taletab::platform
