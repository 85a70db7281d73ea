// The page file: how the page reaches its name.
//
// The page is written whole into a temporary file first; the old page is
// touched only once every byte of the new one is there. Then:
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
// page, a disk device, a name no file can be made under, and a page for
// which no temporary file can be made anywhere. The run flow also refuses to
// replace a file that is not a page (mayBecomePage).
//
// The page is examined once: its name is resolved and opened, and from
// then on the page and its directory are held by handle, locked against
// another run's copy (a reader may still see a copy in progress). The
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
#include <string_view>

#include "files.h"

namespace taletab {

class PageFile {
public:
    // Examines the page's name and holds what it finds; nothing is written yet.
    explicit PageFile(const std::filesystem::path& name);
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

    // Whether standard output is this very page.
    bool isStandardOutput() const { return platform::isStandardOutput(target_); }

    // Closes the page and puts it in place. False if that failed.
    bool commit();

private:
    enum class Way { kDirect, kRename, kCopyIn };

    std::filesystem::path name_;
    std::FILE* stream_ = nullptr;
    Way way_ = Way::kDirect;
    platform::PageTarget target_;
    std::filesystem::path temporary_;  // empty when writing directly
};

}  // namespace taletab
