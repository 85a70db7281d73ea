// Files: the script read, and the steps that put a page in place (page_file.h
// states the rules they serve). Its halves are files_posix.cpp and
// files_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace taletab::platform {

// The directory a file stands in, where its replacement is made.
inline std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Opens a file in binary mode ("rb" or "wb"); null when it cannot be opened.
std::FILE* openFile(const std::filesystem::path& name, const char* mode);

// Why a script could not be opened.
enum class OpenFailure { kMissing, kFolder, kInUse, kOther };

// Opens a script for reading, in binary mode, by a name of any length; null,
// with the cause, where it cannot be, or where it is a folder.
std::FILE* openScript(const std::filesystem::path& name, OpenFailure& failure);

// Reads up to `size` bytes of a file opened by openFile, waiting only until
// some are there: a script from a pipe counts each byte as it comes, so a
// 0x1A ends it even where the writer never does. The count read, 0 at the
// end of the file, -1 on failure.
std::ptrdiff_t readSome(std::FILE* file, char* into, std::size_t size);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

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
// the directory takes no new file, or a signal is ending the run.
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
