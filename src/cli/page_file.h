// The page file: how the page reaches its name.
//
// The page is written whole into a temporary file first; the old page is
// touched only once every byte of the new one is there. Then:
//
// Which road a page takes is decided in one place, roadFor (page_road.h):
//
// - Rename. A new page, and an existing one where the new file can be the
//   old page in every respect a user sees, take the temporary file, made in
//   the page's directory, by a rename. On Linux that is where the page has
//   one link, no access list or extended attributes, no file flags, and the
//   new file could be given its owner, group and mode; on Windows
//   ReplaceFileW keeps the page's attributes and access list. A new page
//   gets the mode the directory gives any new file (the umask, or a default
//   access list). The new file reaches the disk before the rename, and the
//   directory after it.
// - Copy in. Everywhere else (a hard-linked page, an access list, file
//   flags, another user's page, a directory the user may not write or that
//   has no room for another file, a rename the system refuses: another file
//   system, a bind mount) the temporary file is made in the page's directory
//   where possible, otherwise in the system's directory for temporary
//   files, and its bytes are then copied into the existing page, which
//   stays the same file and is synced.
// - Direct. A device or a pipe (/dev/null, NUL) is written as it is opened.
//
// Refused before anything is written ("cannot be created"): an existing
// page the user could not open for writing (a read-only page, another
// user's page; root on Linux writes as ever), an append-only or immutable
// page, a disk device, a file of the kernel's (/proc, /sys), a page another
// program holds for longer than a few seconds, a name no file can be made
// under, and a page for which no temporary file can be made anywhere. The
// run flow also refuses to replace a file that is not a page (mayBecomePage).
//
// The page is examined once: its name is resolved and opened, and from
// then on the page and its directory are held by handle, locked against
// another run's copy (a reader may still see a copy in progress). Once the
// lock is taken, the name must still stand for the file locked; where
// another run renamed its page over it meanwhile, the name is examined
// again, so that every run ends with its own page in place or fails. The
// temporary file is private to the user until it takes the page's name,
// and is read back through the handle it was made with.
//
// A failure before the rename or the copy leaves the old page byte for byte;
// so does a copy for which the disk has no room, which is made before a byte
// is copied. A failure during the copy leaves the page damaged and is
// reported as a failed write. The temporary file is removed on every road,
// a signal too.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "files.h"
#include "page_road.h"

namespace taletab {

class PageFile {
public:
    // How long a run waits for another program that holds the page.
    static constexpr int kLockWaitMilliseconds = 5000;

    // Examines the page's name and holds what it finds; nothing is written
    // yet. Where another program holds the page, `waiting` is called once
    // before the run waits for it, unless standard output is the page.
    PageFile(const std::filesystem::path& name, platform::FileSystem& files, const std::function<void()>& waiting);
    ~PageFile();  // a page not committed leaves the old one in place
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Whether the file found may be replaced by a page: none, an empty
    // file, a device or pipe, or a file that begins like an HTML document
    // (beginsLikeHtml). A file that cannot be read is not known to be a page.
    bool mayBecomePage() const;

    // Opens the page for writing (for most pages, a temporary file). False
    // when the page cannot be created.
    bool open();

    std::FILE* stream() const { return stream_; }

    // Writes a block of the page; false, with the cause kept, on failure.
    bool write(std::string_view block);

    // Whether standard output is this very page, where no message may go.
    bool isStandardOutput() const { return target_->standardOutput; }

    // Closes the page and puts it in place. False if that failed.
    bool commit();

    // The road taken (or the one open() refused), and why the last failure failed, where known.
    PageRoad road() const { return road_; }
    platform::Cause cause() const { return cause_; }

private:
    void fail() { cause_ = files_.lastCause(); }

    std::filesystem::path name_;
    platform::FileSystem& files_;
    std::unique_ptr<platform::PageTarget> target_;
    std::FILE* stream_ = nullptr;
    PageRoad road_{Road::kRefuse, Refusal::kNone};
    platform::Cause cause_ = platform::Cause::kNone;
    std::filesystem::path temporary_;  // empty when writing directly
};

}  // namespace taletab
