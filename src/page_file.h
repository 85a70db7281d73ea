// The page file: how the page reaches its name.
//
// The page is written whole into a temporary file first; the old page is
// touched only once every byte of the new one is there. Then:
//
// - Rename. A new page, and an existing one where the new file can be the
//   old page in every respect a user sees, take the temporary file, made in
//   the page's folder, by a rename. On Linux that is where the page has one
//   link, no access list or extended attributes, and the new file could be
//   given its owner, group and mode; on Windows ReplaceFileW keeps the
//   page's attributes and access list. The new file reaches the disk before
//   the rename, and the folder after it.
// - Copy in. Everywhere else (a hard-linked page, an access list, another
//   user's page, a folder the user may not write or that has no room for
//   another file, a rename the system refuses: another file system, a bind
//   mount) the temporary file is made in the page's folder where possible,
//   otherwise in the system's temporary folder, and its bytes are then
//   copied into the existing page, which stays the same file and is synced.
// - Direct. A device or a pipe (/dev/null, NUL) is written as it is opened.
//
// Refused before anything is written ("cannot be created"): an existing
// page the user could not open for writing (a read-only page, another
// user's page; root on Linux writes as ever), a name no file can be made
// under, and a page for which no temporary file can be made anywhere. The
// run flow also refuses to replace a file that is not a page (mayBecomePage).
//
// A failure before the rename or the copy leaves the old page byte for byte;
// a failure during the copy leaves it damaged and is reported as a failed
// write. The temporary file is removed on every road, an interruption too.
#pragma once

#include <cstdio>
#include <filesystem>

#include "platform.h"

namespace taletab {

class PageFile {
public:
    explicit PageFile(const std::filesystem::path& name);
    ~PageFile();  // a page not committed leaves the old one in place
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Null when the page cannot be created.
    std::FILE* stream() const { return stream_; }

    // Closes the page and puts it in place. False if that failed.
    bool commit();

    // Whether a file of this name may be replaced by a page: a missing or
    // empty file, a device or pipe, or a regular file that begins like an
    // HTML document (after an optional UTF-8 byte order mark and white
    // space, "<html" or "<!doctype html" in any case). A file that cannot
    // be read is not known to be a page.
    static bool mayBecomePage(const std::filesystem::path& name);

private:
    enum class Way { kDirect, kRename, kCopyIn };

    std::FILE* stream_ = nullptr;
    Way way_ = Way::kDirect;
    platform::PageTarget target_;
    std::filesystem::path temporary_;  // empty when writing directly
};

}  // namespace taletab
