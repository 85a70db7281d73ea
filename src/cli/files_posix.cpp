// Linux and other POSIX systems: a page is held by descriptor, its directory too.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/vfs.h>
#endif

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "files.h"
#include "html_sniff.h"
#include "signals.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// The temporary file a signal removes, if any: its name in a directory
// held open. Changed only while signals are held, so the handler never
// sees half of a change.
int watchedDirectory = -1;
bool watchedDirectoryOwned = false;  // opened for the temporary file alone, closed with it
char watchedName[32];
volatile std::sig_atomic_t watching = 0;

void removeWatched() {
    if (watching) ::unlinkat(watchedDirectory, watchedName, 0);
}

// Extended attributes other than the security label every file may carry
// here (an access list is one): a new file would not have them.
bool hasExtendedAttributes(int file) {
    const ssize_t size = ::flistxattr(file, nullptr, 0);
    if (size <= 0) return false;  // none, or a file system without them
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(file, names.data(), names.size());
    if (got < 0) return true;  // they changed meanwhile: they are there
    for (std::size_t at = 0; at < static_cast<std::size_t>(got); at = names.find('\0', at) + 1) {
        if (std::string_view(names.c_str() + at) != "security.selinux") return true;
    }
    return false;
}

// The file flags a user sets (chattr) that a file made anew would not
// share: append-only, immutable, no-dump, synchronous and the like; not
// those a file system sets by itself (extents, inline data).
int userFlags([[maybe_unused]] int file) {
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
    constexpr int kUserFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_IMMUTABLE_FL | FS_APPEND_FL |
                               FS_NODUMP_FL | FS_NOATIME_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_DIRSYNC_FL |
                               FS_TOPDIR_FL | FS_NOCOW_FL | FS_PROJINHERIT_FL;
    int flags = 0;
    if (::ioctl(file, FS_IOC_GETFLAGS, &flags) == 0) return flags & kUserFlags;
#endif
    return 0;  // a file system without flags
}

// A directory held for making, renaming and removing files in it. Opened
// for reading where it may be, to sync it and read its access list; a
// directory the user may only enter and write is held all the same.
int openDirectory(const fs::path& directory) {
    const int held = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
    if (held < 0 && errno == EACCES) return ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    return held;
}

// The umask, read without changing it (the process's threads share it):
// from /proc where there is one, else from a file made to see what it gets.
mode_t currentUmask(int directory);

// The permissions the directory gives any new file: those of 0666 less the
// umask or, where the directory has a default access list, less what the
// list's owner, group and others entries withhold (the umask then does not apply).
mode_t newFileMode(int directory) {
    // A version, then entries of a tag, permissions and an id, as many as there are.
    std::vector<std::uint8_t> list;
    ssize_t size = ::fgetxattr(directory, "system.posix_acl_default", nullptr, 0);
    for (int attempt = 0; size > 0 && attempt < 10; ++attempt) {
        list.resize(static_cast<std::size_t>(size));
        size = ::fgetxattr(directory, "system.posix_acl_default", list.data(), list.size());
        if (size >= 0 || errno != ERANGE) break;
        size = ::fgetxattr(directory, "system.posix_acl_default", nullptr, 0);  // it grew meanwhile
    }
    if (size >= 4) {
        constexpr unsigned kOwner = 0x01, kGroup = 0x04, kMask = 0x10, kOthers = 0x20;
        unsigned owner = 7, group = 7, mask = 8, others = 7;  // mask 8: none found
        for (ssize_t at = 4; at + 8 <= size; at += 8) {
            const unsigned tag = list[at] | list[at + 1] << 8;
            const unsigned permissions = (list[at + 2] | list[at + 3] << 8) & 7;
            if (tag == kOwner) owner = permissions;
            if (tag == kGroup) group = permissions;
            if (tag == kMask) mask = permissions;
            if (tag == kOthers) others = permissions;
        }
        const unsigned groupClass = mask == 8 ? group : mask;
        return static_cast<mode_t>(0666 & (owner << 6 | groupClass << 3 | others));
    }
    return 0666 & ~currentUmask(directory);
}

// A name no other file in the directory is likely to have: ".taletab-" and 12 letters or digits.
void temporaryName(char (&name)[32]) {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[12] = {};
#ifdef __linux__
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
#endif
    {
        static unsigned counter = 0;
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long mixed = static_cast<unsigned long long>(now.tv_nsec) ^
                                   static_cast<unsigned long long>(::getpid()) << 32 ^ ++counter;
        for (unsigned char& byte : random) {
            mixed = mixed * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(mixed >> 56);
        }
    }
    std::memcpy(name, ".taletab-", 9);
    for (std::size_t i = 0; i < sizeof random; ++i) name[9 + i] = kDigits[random[i] % (sizeof kDigits - 1)];
    name[9 + sizeof random] = '\0';
}

mode_t currentUmask(int directory) {
    std::ifstream process("/proc/self/status");
    for (std::string line; std::getline(process, line);) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
    char probe[32];
    temporaryName(probe);
    const int made = ::openat(directory, probe, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0777);
    struct stat status;
    const bool known = made >= 0 && ::fstat(made, &status) == 0;
    if (made >= 0) {
        ::close(made);
        ::unlinkat(directory, probe, 0);
    }
    return known ? static_cast<mode_t>(~status.st_mode & 0777) : 022;
}

bool writeAll(int descriptor, const char* bytes, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t put = ::pwrite(descriptor, bytes, size, at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
        at += put;
    }
    return true;
}

bool copyBytes(int from, int to) {
    char block[64 * 1024];
    off_t copied = 0;
    for (;;) {
        const ssize_t got = ::pread(from, block, sizeof block, copied);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        if (!writeAll(to, block, static_cast<std::size_t>(got), copied)) return false;
        copied += got;
    }
    return ::ftruncate(to, copied) == 0 && ::fsync(to) == 0;
}

// Makes the page room for `size` bytes before a byte of it is overwritten;
// where the disk has none, the page is left as it was.
bool reserve(int page, off_t size) {
    struct stat before;
    if (::fstat(page, &before) != 0) return false;
    const int error = ::posix_fallocate(page, 0, size);
    if (error == 0) return true;
    if (before.st_size < size) (void)::ftruncate(page, before.st_size);  // taken back, where it grew
    errno = error;
    return false;
}

}  // namespace

std::FILE* openScript(const fs::path& name, OpenFailure& failure) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    struct stat status;
    if (file && ::fstat(::fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);
        failure = OpenFailure::kFolder;
        return nullptr;
    }
    if (!file) failure = errno == ENOENT || errno == ENOTDIR ? OpenFailure::kMissing : OpenFailure::kOther;
    return file;
}

std::ptrdiff_t readSome(std::FILE* file, char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(::fileno(file), into, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

PageTarget::~PageTarget() {
    if (page >= 0) ::close(static_cast<int>(page));  // and the lock with it
    if (directory >= 0) ::close(static_cast<int>(directory));
}

namespace {

Cause causeOf(int error) {
    switch (error) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return Cause::kDiskFull;
        case EACCES:
        case EPERM:
            return Cause::kNoPermission;
        case EROFS:
            return Cause::kReadOnly;
        case ENAMETOOLONG:
            return Cause::kNameTooLong;
        case ETXTBSY:
            return Cause::kInUse;
        default:
            return Cause::kNone;
    }
}

bool sameIdentity(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool isStandardOutput(const struct stat& file) {
    struct stat output;
    return ::fstat(STDOUT_FILENO, &output) == 0 && sameIdentity(output, file);
}

// A file of the kernel's, whose size and bytes are made as it is read or
// written (a setting, a process's state): no page, whatever it holds.
bool onPseudoFileSystem([[maybe_unused]] int file) {
#ifdef __linux__
    struct statfs system;
    if (::fstatfs(file, &system) != 0) return false;
    switch (static_cast<unsigned long>(system.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case SELINUX_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case BPF_FS_MAGIC:
        case PSTOREFS_MAGIC:
        case EFIVARFS_MAGIC:
        case BINFMTFS_MAGIC:
            return true;
        default:
            return false;
    }
#else
    return false;
#endif
}

// Whether a file this run makes can be given this owner and group: root's
// can, anyone else's only where they are the user's and a group of theirs.
bool ownerCanBeGiven(const struct stat& file) {
    const uid_t user = ::geteuid();
    if (user == 0) return true;
    if (file.st_uid != user) return false;
    if (file.st_gid == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    const int got = count > 0 ? ::getgroups(count, groups.data()) : 0;
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<std::size_t>(i)] == file.st_gid) return true;
    }
    return false;
}

// A name that is nothing yet, or a symbolic link to nothing: the file is
// made where the links lead, in the directory they end in.
void examineNew(const fs::path& name, PageTarget& page) {
    fs::path file = name;
    for (int links = 0; links < 40; ++links) {
        struct stat found;
        if (::lstat(file.c_str(), &found) != 0 || !S_ISLNK(found.st_mode)) break;
        char target[PATH_MAX];
        const ssize_t size = ::readlink(file.c_str(), target, sizeof target);
        if (size <= 0 || static_cast<std::size_t>(size) == sizeof target) break;
        const fs::path next(std::string(target, static_cast<std::size_t>(size)));
        file = next.is_absolute() ? next : directoryOf(file) / next;
    }
    page.found.kind = PageFound::Kind::kNone;
    page.file = file;
    page.directory = openDirectory(directoryOf(file));
}

// A regular file, reached through any links: opened once, in its directory,
// without following a link that stands there by now, and examined through
// what was opened.
void examineExisting(const fs::path& name, PageTarget& page) {
    PageFound& found = page.found;
    found.kind = PageFound::Kind::kOther;
    char* resolved = ::realpath(name.c_str(), nullptr);
    if (!resolved) {
        page.cause = causeOf(errno);
        return;
    }
    page.file = resolved;
    std::free(resolved);
    page.directory = openDirectory(directoryOf(page.file));
    if (page.directory < 0) {
        page.cause = causeOf(errno);
        return;
    }
    const int directory = static_cast<int>(page.directory);
    const std::string base = page.file.filename().string();
    constexpr int kOpen = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    // An append-only or immutable file is not opened for writing at all: it is refused.
    int file = ::openat(directory, base.c_str(), O_RDWR | kOpen);
    if (file < 0 && errno == EACCES) file = ::openat(directory, base.c_str(), O_WRONLY | kOpen);
    found.writable = file >= 0;
    if (file < 0) {
        page.cause = causeOf(errno);
        // Opened only to tell a page from any other file; never written.
        file = ::openat(directory, base.c_str(), O_RDONLY | kOpen);
        if (file < 0) return;
    }
    page.page = file;
    struct stat status;
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) return;  // swapped for something else meanwhile
    found.kind = onPseudoFileSystem(file) ? PageFound::Kind::kPseudo : PageFound::Kind::kFile;
    page.standardOutput = isStandardOutput(status);
    // Another run's copy into this page ends before this run looks at it.
    found.locked = found.writable && ::flock(file, LOCK_EX | LOCK_NB) == 0;
}

class SystemFiles final : public FileSystem {
public:
    void examine(const fs::path& name, PageTarget& page) override {
        struct stat found;
        if (::stat(name.c_str(), &found) != 0) {
            if (errno == ENOENT) {
                examineNew(name, page);
            } else {
                page.found.kind = PageFound::Kind::kOther;  // a name too long, a directory that may not be searched
                page.cause = causeOf(errno);
            }
            return;
        }
        page.standardOutput = isStandardOutput(found);
        if (S_ISREG(found.st_mode)) {
            examineExisting(name, page);
        } else if (S_ISBLK(found.st_mode)) {
            page.found.kind = PageFound::Kind::kDisk;
        } else if (S_ISDIR(found.st_mode)) {
            page.found.kind = PageFound::Kind::kOther;
        } else {
            page.found.kind = PageFound::Kind::kStream;
            page.stream[0] = found.st_dev;
            page.stream[1] = found.st_ino;
        }
    }

    bool lock(PageTarget& page, int milliseconds) override {
        const int file = static_cast<int>(page.page);
        for (int waited = 0; waited < milliseconds; waited += 20) {
            const timespec step{0, 20 * 1000 * 1000};
            ::nanosleep(&step, nullptr);
            if (::flock(file, LOCK_EX | LOCK_NB) == 0) return true;
        }
        return false;
    }

    bool stillNamed(const PageTarget& page) override {
        struct stat held, named;
        return ::fstat(static_cast<int>(page.page), &held) == 0 && held.st_nlink > 0 &&
               ::fstatat(static_cast<int>(page.directory), page.file.filename().c_str(), &named,
                         AT_SYMLINK_NOFOLLOW) == 0 &&
               sameIdentity(held, named);
    }

    void inspect(PageTarget& page) override {
        const int file = static_cast<int>(page.page);
        struct stat status;
        if (::fstat(file, &status) != 0) return;
        PageFound& found = page.found;
        found.links = status.st_nlink;
        found.ownerKept = ownerCanBeGiven(status);
        found.extras = hasExtendedAttributes(file);
        char head[kSniffedBytes];
        const ssize_t got = ::pread(file, head, sizeof head, 0);
        page.headRead = got >= 0;
        if (got > 0) page.head.assign(head, static_cast<std::size_t>(got));
        // A size of 0 says the file is empty only where reading it gives no byte (or it cannot be read).
        page.empty = status.st_size == 0 && got <= 0;
    }

    std::FILE* openDirect(const fs::path& name, const PageTarget& page) override {
        // Standard output may be a socket, which no name opens: its own descriptor serves.
        const int descriptor = page.standardOutput ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                                   : ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (descriptor < 0) return nullptr;
        // A file put in the device's place since it was examined is not written here.
        struct stat found;
        if (::fstat(descriptor, &found) != 0 || found.st_dev != page.stream[0] || found.st_ino != page.stream[1] ||
            S_ISREG(found.st_mode) || S_ISBLK(found.st_mode)) {
            ::close(descriptor);
            errno = 0;
            return nullptr;
        }
        std::FILE* stream = ::fdopen(descriptor, "wb");
        if (!stream) ::close(descriptor);
        return stream;
    }

    std::FILE* createTemporary(const PageTarget& page, bool beside, fs::path& name) override;
    bool takeOverOwnership(std::FILE* temporary, const PageTarget& page) override;
    bool syncToDisk(std::FILE* stream) override { return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0; }
    bool renameOver(std::FILE*& temporary, const fs::path& name, const PageTarget& page) override;
    bool copyInto(std::FILE* temporary, const PageTarget& page) override;
    void removeTemporary(const fs::path& temporary) override;
    Cause lastCause() const override { return causeOf(errno); }
};

std::FILE* SystemFiles::createTemporary(const PageTarget& page, bool beside, fs::path& name) {
    onEndingSignal(removeWatched);
    const SignalsHeld held;
    int directory = static_cast<int>(page.directory);
    if (!beside) {
        const char* system = std::getenv("TMPDIR");
        directory = openDirectory(system && *system ? system : "/tmp");
    }
    if (directory < 0) return nullptr;
    char candidate[32];
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        temporaryName(candidate);
        // Private to the user until it takes the page's name.
        descriptor = ::openat(directory, candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor < 0 && errno != EEXIST) break;
    }
    std::FILE* stream = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w+b");
    if (!stream) {
        const int error = errno;  // the cause, kept past the cleaning up
        if (descriptor >= 0) {
            ::close(descriptor);
            ::unlinkat(directory, candidate, 0);
        }
        if (!beside) ::close(directory);
        errno = error;
        return nullptr;
    }
    watchedDirectory = directory;
    watchedDirectoryOwned = !beside;
    std::memcpy(watchedName, candidate, sizeof candidate);
    watching = 1;
    name = candidate;
    return stream;
}

bool SystemFiles::takeOverOwnership(std::FILE* temporary, const PageTarget& page) {
    const int descriptor = ::fileno(temporary);
    if (page.found.kind == PageFound::Kind::kNone) {
        return ::fchmod(descriptor, newFileMode(static_cast<int>(page.directory))) == 0;
    }
    struct stat old;
    if (::fstat(static_cast<int>(page.page), &old) != 0) return false;
    if (userFlags(descriptor) != userFlags(static_cast<int>(page.page))) return false;  // a rename would drop them
    // The page's permissions only once the file is the page's owner's: until then it stays private.
    (void)::fchown(descriptor, old.st_uid, old.st_gid);  // only root may give a file away
    struct stat now;
    if (::fstat(descriptor, &now) != 0 || now.st_uid != old.st_uid || now.st_gid != old.st_gid) return false;
    return ::fchmod(descriptor, old.st_mode & 07777) == 0;  // after chown, which drops set-id bits
}

bool SystemFiles::renameOver(std::FILE*& temporary, const fs::path& name, const PageTarget& page) {
    {
        const SignalsHeld held;
        if (::renameat(watchedDirectory, name.c_str(), static_cast<int>(page.directory),
                       page.file.filename().c_str()) != 0) {
            return false;
        }
        watching = 0;
    }
    // Some file systems cannot sync a directory; the page is in place all the same.
    (void)::fsync(static_cast<int>(page.directory));
    // Its bytes are on the disk already: closing it can lose nothing.
    (void)std::fclose(temporary);
    temporary = nullptr;
    return true;
}

bool SystemFiles::copyInto(std::FILE* temporary, const PageTarget& page) {
    const SignalsHeld held;  // a page half copied is worse than a late Ctrl-C
    const int from = ::fileno(temporary);
    const int to = static_cast<int>(page.page);
    struct stat made;
    return ::fstat(from, &made) == 0 && reserve(to, made.st_size) && copyBytes(from, to);
}

void SystemFiles::removeTemporary(const fs::path& temporary) {
    const SignalsHeld held;
    ::unlinkat(watchedDirectory, temporary.c_str(), 0);
    if (watchedDirectoryOwned) ::close(watchedDirectory);
    watchedDirectoryOwned = false;
    watching = 0;
}

}  // namespace

FileSystem& systemFiles() {
    static SystemFiles files;
    return files;
}

}  // namespace taletab::platform
