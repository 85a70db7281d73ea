// Files: the script read, and the steps that put a page in place (page_file.h
// states the rules they serve). Its halves are files_posix.cpp and
// files_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "page_road.h"

namespace taletab::platform {

// The directory a file stands in, where its replacement is made.
inline std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Why a script could not be opened.
enum class OpenFailure { kMissing, kFolder, kInUse, kOther };

// Opens a script for reading, in binary mode, by a name of any length; null,
// with the cause, where it cannot be, or where it is a folder.
std::FILE* openScript(const std::filesystem::path& name, OpenFailure& failure);

// Reads up to `size` bytes of a file opened by openScript, waiting only until
// some are there: a script from a pipe counts each byte as it comes, so a
// 0x1A ends it even where the writer never does. The count read, 0 at the
// end of the file, -1 on failure.
std::ptrdiff_t readSome(std::FILE* file, char* into, std::size_t size);

// Whether two names reach the same file, by any spelling or link.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Why a step failed, where the cause is one a user meets and can mend.
enum class Cause { kNone, kDiskFull, kNoPermission, kReadOnly, kNameTooLong, kInUse };

// What a page's name stands for, examined once. From then on the existing
// page and the directory it stands in are held open, so that no later step
// opens the page's name again and trusts what it finds.
class PageTarget {
public:
    PageTarget() = default;
    ~PageTarget();  // closes what it holds, and the lock with it
    PageTarget(const PageTarget&) = delete;
    PageTarget& operator=(const PageTarget&) = delete;

    PageFound found;
    std::filesystem::path file;    // kNone, kFile: the file to make or replace, links resolved
    bool standardOutput = false;   // the file found is standard output itself
    Cause cause = Cause::kNone;    // why it could not be examined or opened for writing, if known
    std::uint64_t stream[2] = {};  // kStream: what openDirect must find again (device and inode; Windows: its type)
    std::string head;              // kFile: its first bytes, for the HTML check
    bool headRead = false;         // kFile: the bytes could be read
    bool empty = false;            // kFile: reading it gives no byte

    // The system's handles (a descriptor, a HANDLE); -1 where none is held.
    std::intptr_t page = -1;       // kFile
    std::intptr_t directory = -1;  // kNone, kFile: where the temporary file is made
};

// The steps that put a page in place. The system's (systemFiles()) has a
// POSIX and a Win32 half; the tests have a fake, so that every road and
// its failures are tried without root or a real disk.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Examines a name: its kind, and the identity standard output is
    // compared with. A kFile is opened (for writing where the user may) and
    // locked where no other program holds it; nothing more is read yet.
    virtual void examine(const std::filesystem::path& name, PageTarget& page) = 0;

    // Waits at most `milliseconds` for the lock another program holds on a
    // kFile; whether this run holds it now.
    virtual bool lock(PageTarget& page, int milliseconds) = 0;

    // Whether the name still stands for the kFile held: not removed or
    // renamed over (by another run that held it first) since it was opened.
    virtual bool stillNamed(const PageTarget& page) = 0;

    // Reads what the road and the HTML check need of a kFile: its links,
    // owner, attributes, first bytes, and whether it is empty by its bytes.
    virtual void inspect(PageTarget& page) = 0;

    // Opens a kStream for writing, as it is (standard output, where it is
    // the page, by its own descriptor): null where it cannot be, or where the
    // name stands by now for another file than the one examined.
    virtual std::FILE* openDirect(const std::filesystem::path& name, const PageTarget& page) = 0;

    // Makes a new, empty, private file beside the page (or, with `beside`
    // false, in the system's directory for temporary files), open for
    // reading and writing, and watches it: a signal that ends the run
    // removes it. Null when the directory takes no new file, or a signal is
    // ending the run.
    virtual std::FILE* createTemporary(const PageTarget& page, bool beside, std::filesystem::path& name) = 0;

    // Gives a temporary file the owner, group and permissions (on Windows
    // the attributes) of the page it replaces, or those the directory gives
    // a new file. False where they could not all be given.
    virtual bool takeOverOwnership(std::FILE* temporary, const PageTarget& page) = 0;

    // Writes the stream's buffer out and waits until the file's bytes are on the disk.
    virtual bool syncToDisk(std::FILE* stream) = 0;

    // Puts a complete temporary file, already on the disk, in the page's
    // place by renaming it, then the directory's new entry on the disk, and
    // closes it; the file is no longer watched. False if the system refused:
    // the temporary file is then left, still open (null if it could not be kept).
    virtual bool renameOver(std::FILE*& temporary, const std::filesystem::path& name, const PageTarget& page) = 0;

    // Copies a complete temporary file, still open, into the existing page,
    // in place, after making room for all of it, and waits for the disk;
    // signals wait until it is done. False on failure: where no room could
    // be made, the page is as it was.
    virtual bool copyInto(std::FILE* temporary, const PageTarget& page) = 0;

    // Removes a temporary file and stops watching it.
    virtual void removeTemporary(const std::filesystem::path& temporary) = 0;

    // The cause of the last call of this thread's that failed (errno, GetLastError).
    virtual Cause lastCause() const = 0;
};

FileSystem& systemFiles();

}  // namespace taletab::platform
