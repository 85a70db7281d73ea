// Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "console_output.h"
#include "platform.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// The temporary file an interruption removes, if any. Changed only while
// the interruptions are held, so the handler never sees half of a change.
std::string watchedName;
volatile std::sig_atomic_t watching = 0;
// Set while standard output is a terminal, whose colours an interruption resets too.
volatile std::sig_atomic_t resetColoursOnInterruption = 0;

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t interruptions() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kInterruptions) sigaddset(&set, signalNumber);
    return set;
}

// Keeps the interruptions waiting, in this thread, for as long as it lives.
class InterruptionsHeld {
public:
    InterruptionsHeld() {
        const sigset_t set = interruptions();
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~InterruptionsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

private:
    sigset_t previous_;
};

// Removes the temporary file, then ends the process as the signal would have.
extern "C" void onInterruption(int signalNumber) {
    if (watching) ::unlink(watchedName.c_str());
    if (resetColoursOnInterruption) (void)::write(STDOUT_FILENO, kColourReset.data(), kColourReset.size());
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

// Extended attributes other than the security label every file may carry
// here (an access list is one): a new file would not have them.
bool hasExtendedAttributes(const char* file) {
    const ssize_t size = ::listxattr(file, nullptr, 0);
    if (size <= 0) return false;  // none, or a file system without them
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::listxattr(file, names.data(), names.size());
    if (got < 0) return true;  // they changed meanwhile: they are there
    for (std::size_t at = 0; at < static_cast<std::size_t>(got); at = names.find('\0', at) + 1) {
        if (std::string_view(names.c_str() + at) != "security.selinux") return true;
    }
    return false;
}

void syncFolder(const fs::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    // Some file systems cannot sync a folder; the page is in place all the same.
    (void)::fsync(descriptor);
    ::close(descriptor);
}

bool writeAll(int descriptor, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(descriptor, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool copyBytes(int from, int to) {
    char block[64 * 1024];
    off_t copied = 0;
    for (;;) {
        const ssize_t got = ::read(from, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        if (!writeAll(to, block, static_cast<std::size_t>(got))) return false;
        copied += got;
    }
    // Written over the old bytes, then cut: a full disk needs no room beyond the old page's.
    return ::ftruncate(to, copied) == 0 && ::fsync(to) == 0;
}

// Whether the user's locale has the character set UTF-8, as the C library
// finds it: the first of LC_ALL, LC_CTYPE and LANG that is set and not empty
// names the locale, and its character set follows the "." ("ja_JP.UTF-8",
// "C.utf8"; an "@" starts a modifier). The variables are read here, not
// through setlocale() and nl_langinfo(CODESET): those find a locale only
// where it is installed and, in this statically linked program, only where
// the installed files suit the C library linked in; a package built on one
// system would then show Shift-JIS on a UTF-8 terminal of another. The name
// the user set says how the terminal is set even where the locale is not
// installed.
bool localeIsUtf8() {
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(variable);
        if (locale && *locale) break;
    }
    if (!locale || !*locale) return false;
    const char* dot = std::strchr(locale, '.');
    if (!dot) return false;
    std::string codeset;
    for (const char* c = dot + 1; *c && *c != '@'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (std::isalnum(byte)) codeset += static_cast<char>(std::tolower(byte));
    }
    return codeset == "utf8";
}

}  // namespace

Console::Console() : terminal_(::isatty(STDOUT_FILENO) == 1), utf8_(terminal_ && localeIsUtf8()) {
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    resetColoursOnInterruption = terminal_;
}

Console::~Console() {
    if (terminal_) std::fwrite(kColourReset.data(), 1, kColourReset.size(), stdout);
    std::fflush(stdout);
}

void Console::print(std::string_view text, const FileName& name) const {
    const std::string out = utf8_ ? inUtf8(text, name.unicode) : inShiftJis(text, name.shown);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void prepareProcess() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = onInterruption;
    action.sa_mask = interruptions();
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kInterruptions) {
        struct sigaction found;
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (::sigaction(signalNumber, nullptr, &found) == 0 && found.sa_handler != SIG_IGN) {
            ::sigaction(signalNumber, &action, nullptr);
        }
    }
}

std::vector<FileName> fileNames(int argc, char** argv) {
    std::vector<FileName> names;
    for (int i = 1; i < argc; ++i) names.push_back(fileNameFromBytes(fs::path(argv[i]), argv[i]));
    return names;
}

std::FILE* openFile(const fs::path& name, const char* mode) { return std::fopen(name.c_str(), mode); }

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

PageTarget examinePage(const fs::path& name) {
    PageTarget page;
    struct stat status;
    if (::stat(name.c_str(), &status) != 0) {
        // Not even a link to a missing file: the page is new.
        struct stat link;
        if (errno == ENOENT && ::lstat(name.c_str(), &link) != 0 && errno == ENOENT) {
            page.kind = PageTarget::Kind::kNew;
            page.file = name;
        }
        return page;
    }
    if (!S_ISREG(status.st_mode)) return page;
    page.kind = PageTarget::Kind::kExisting;
    // A link is followed to its file, which is replaced and stays linked.
    if (char* resolved = ::realpath(name.c_str(), nullptr)) {
        page.file = resolved;
        std::free(resolved);
        page.renameKeepsIt = status.st_nlink == 1 && !hasExtendedAttributes(page.file.c_str());
    } else {
        page.file = name;  // copied into, through whatever links it has
    }
    page.writable = ::access(page.file.c_str(), W_OK) == 0;
    return page;
}

std::FILE* createTemporary(const fs::path& folder, fs::path& name) {
    std::string pattern = (folder / ".taletab-XXXXXX").string();
    const InterruptionsHeld held;
    const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = ::fdopen(descriptor, "w+b");
    if (!stream) {
        ::close(descriptor);
        ::unlink(pattern.c_str());
        return nullptr;
    }
    watchedName = pattern;
    watching = 1;
    name = std::move(pattern);
    return stream;
}

fs::path systemTemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? fs::path(folder) : fs::path("/tmp");
}

bool takeOverOwnership(std::FILE* temporary, const PageTarget& page) {
    const int descriptor = ::fileno(temporary);
    if (page.kind == PageTarget::Kind::kNew) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return ::fchmod(descriptor, 0666 & ~mask) == 0;
    }
    struct stat old;
    if (::stat(page.file.c_str(), &old) != 0) return false;
    (void)::fchown(descriptor, old.st_uid, old.st_gid);  // only root may give a file away
    (void)::fchmod(descriptor, old.st_mode & 07777);     // after chown, which drops set-id bits
    struct stat now;
    return ::fstat(descriptor, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           (now.st_mode & 07777) == (old.st_mode & 07777);
}

bool syncToDisk(std::FILE* stream) { return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0; }

bool renameOver(const fs::path& temporary, const PageTarget& page) {
    {
        const InterruptionsHeld held;
        if (std::rename(temporary.c_str(), page.file.c_str()) != 0) return false;
        watching = 0;
    }
    syncFolder(folderOf(page.file));
    return true;
}

bool copyInto(const fs::path& temporary, const fs::path& page) {
    const InterruptionsHeld held;  // a page half copied is worse than a late Ctrl-C
    const int from = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = ::open(page.c_str(), O_WRONLY | O_CLOEXEC);
    const bool copied = from >= 0 && to >= 0 && copyBytes(from, to);
    const bool closed = to < 0 || ::close(to) == 0;
    if (from >= 0) ::close(from);
    return copied && closed;
}

void removeTemporary(const fs::path& temporary) {
    const InterruptionsHeld held;
    ::unlink(temporary.c_str());
    watching = 0;
}

}  // namespace taletab::platform
