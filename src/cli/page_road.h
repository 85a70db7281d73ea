// The one rule that says how a page reaches its name, from what examining
// the name found. page_file.h tells the roads; this decides between them.
#pragma once

namespace taletab {

// What examining a page's name found.
struct PageFound {
    enum class Kind {
        kNone,    // no file of that name yet, or a link to none
        kFile,    // a regular file, reached through any links
        kStream,  // a device other than a disk, a pipe, a FIFO, a socket
        kDisk,    // a block device
        kPseudo,  // a file of the kernel's (/proc, /sys): what it reports says nothing of its bytes
        kOther,   // a directory, a name that cannot be examined, a file swapped meanwhile
    };
    Kind kind = Kind::kOther;
    // The rest describe a kFile.
    bool writable = false;     // opened for writing
    bool locked = false;       // held by this run, against other programs' copies
    unsigned long links = 1;   // hard links
    bool ownerKept = false;    // a file this run makes can be given the file's owner and group
    bool extras = false;       // an access list, extended attributes or file flags a new file would lack
};

enum class Road {
    kRename,  // a new file made beside the page takes its name
    kCopyIn,  // a new file's bytes are copied into the page, which stays the same file
    kDirect,  // written as it is opened
    kRefuse,  // never written
};

enum class Refusal { kNone, kNotAFile, kDisk, kPseudo, kNotWritable, kInUse, kNoNewFile };

struct PageRoad {
    Road road;
    Refusal why;
    bool operator==(const PageRoad& other) const { return road == other.road && why == other.why; }
};

// `mayRename`: a new file could be made beside the page, and no step has
// since found that a rename cannot put it there.
PageRoad roadFor(const PageFound& found, bool mayRename);

}  // namespace taletab
