// Windows: a page is held by its handle.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// These need the types of windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "files.h"
#include "html_sniff.h"
#include "signals.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// The temporary file a signal removes, if any; changed only while signals are held.
std::wstring watchedName;
bool watching = false;

// Open with FILE_SHARE_DELETE, it is removed as the ending process closes it.
void removeWatched() {
    if (watching) DeleteFileW(watchedName.c_str());
    watching = false;
}

// A string the system fills, of whatever length: `fill(buffer, size)`
// returns the length needed, or 0 on failure.
template <typename Fill>
std::wstring filled(Fill fill) {
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD needed = fill(text.data(), static_cast<DWORD>(text.size()));
        if (needed == 0) return {};
        if (needed < text.size()) {
            text.resize(needed);
            return text;
        }
        text.resize(needed);
    }
}

// An absolute name in the form that lifts the length limit: \\?\C:\... or
// \\?\UNC\server\share\...; \\?\ and \\.\ names are taken as they are, and so
// are device names (NUL, CON, COM1, in any folder), which the system makes \\.\NUL.
std::wstring longName(const std::wstring& name) {
    if (name.rfind(LR"(\\?\)", 0) == 0 || name.rfind(LR"(\\.\)", 0) == 0) return name;
    // A drive-relative name (Z:page.htm) is taken in that drive's current directory.
    const std::wstring full =
        filled([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(name.c_str(), size, buffer, nullptr); });
    if (full.empty()) return name;
    if (full.rfind(LR"(\\.\)", 0) == 0) return full;
    if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

// The volume and index that tell a file apart from every other; false if it cannot be opened.
bool fileIdentity(const fs::path& name, BY_HANDLE_FILE_INFORMATION& identity) {
    const HANDLE file = CreateFileW(longName(name.wstring()).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return known;
}

// The file an open handle reaches, links followed, in its long form.
std::wstring finalName(HANDLE file, const fs::path& name) {
    const std::wstring found = filled([&](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    return found.empty() ? longName(name.wstring()) : found;
}

// Makes the page room for `size` bytes before a byte of it is overwritten, by
// moving its end there; where the disk has none, the page is left as it was.
bool reserve(HANDLE page, LARGE_INTEGER size) {
    LARGE_INTEGER before;
    if (!GetFileSizeEx(page, &before)) return false;
    if (size.QuadPart <= before.QuadPart) return true;
    if (SetFilePointerEx(page, size, nullptr, FILE_BEGIN) && SetEndOfFile(page)) return true;
    if (SetFilePointerEx(page, before, nullptr, FILE_BEGIN)) SetEndOfFile(page);
    return false;
}

// The user's security identifier, as text ("S-1-5-21-..."); empty if it cannot be found.
std::wstring userSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::wstring sid;
    std::string user(size, '\0');
    wchar_t* text = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

bool copyBytes(HANDLE from, HANDLE to) {
    char block[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, block, sizeof block, &got, nullptr)) return false;
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(to, block, got, &put, nullptr) || put != got) return false;
    }
    // Written over the old bytes, then cut: a full disk needs no room beyond the old page's.
    return SetEndOfFile(to) && FlushFileBuffers(to);
}

}  // namespace

// Opened by its long form, so that a script deep in folders opens whatever
// the system's limit on path lengths; any other program may go on using it.
std::FILE* openScript(const fs::path& name, OpenFailure& failure) {
    const std::wstring full = longName(name.wstring());
    const HANDLE handle = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(full.c_str());
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            failure = OpenFailure::kInUse;
        } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            failure = OpenFailure::kFolder;
        } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) {
            failure = OpenFailure::kMissing;
        } else {
            failure = OpenFailure::kOther;
        }
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        failure = OpenFailure::kOther;
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "rb");
    if (!file) {
        _close(descriptor);
        failure = OpenFailure::kOther;
    }
    return file;
}

std::ptrdiff_t readSome(std::FILE* file, char* into, std::size_t size) {
    return _read(_fileno(file), into, static_cast<unsigned>(size));
}

bool sameFile(const fs::path& a, const fs::path& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

PageTarget::~PageTarget() {
    if (page != -1) CloseHandle(reinterpret_cast<HANDLE>(page));  // and its lock with it
}

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Cause causeOf(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Cause::kDiskFull;
        case ERROR_ACCESS_DENIED:
            return Cause::kNoPermission;
        case ERROR_WRITE_PROTECT:
            return Cause::kReadOnly;
        case ERROR_FILENAME_EXCED_RANGE:
            return Cause::kNameTooLong;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return Cause::kInUse;
        default:
            return Cause::kNone;
    }
}

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Another run's copy into the page ends before this run looks at it. The
// byte locked lies far past any page's end, so that readers of the page,
// which a lock on its bytes would stop, are never in the way.
bool lockAgainstOtherRuns(HANDLE page) {
    OVERLAPPED farPastTheEnd = {};
    farPastTheEnd.Offset = 0xFFFFFFFE;
    farPastTheEnd.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(page, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &farPastTheEnd) != 0;
}

class SystemFiles final : public FileSystem {
public:
    void examine(const fs::path& name, PageTarget& page) override {
        // Opened once, for writing where the user may, and held: every later step goes through this handle.
        const std::wstring full = longName(name.wstring());
        const auto open = [&](DWORD access) {
            return CreateFileW(full.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr);
        };
        bool writable = true;
        HANDLE file = open(GENERIC_READ | GENERIC_WRITE);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
            writable = false;  // opened only to tell a page from any other file
            page.cause = Cause::kNoPermission;
            file = open(GENERIC_READ);
        }
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) file = open(0);
        PageFound& found = page.found;
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                found.kind = PageFound::Kind::kNone;
                page.file = full;
            } else {
                // A missing directory, a name Windows cannot create, or any error not explained: refused.
                found.kind = PageFound::Kind::kOther;
                page.cause = causeOf(error);
            }
            return;
        }
        if (GetFileType(file) != FILE_TYPE_DISK) {
            found.kind = PageFound::Kind::kStream;  // a device (NUL, CON) or a pipe
            page.stream[0] = GetFileType(file);
            CloseHandle(file);
            return;
        }
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file, &information) ||
            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            found.kind = PageFound::Kind::kOther;
            CloseHandle(file);
            return;
        }
        found.kind = PageFound::Kind::kFile;
        page.page = reinterpret_cast<std::intptr_t>(file);
        page.file = finalName(file, name);
        BY_HANDLE_FILE_INFORMATION output;
        page.standardOutput = GetFileInformationByHandle(GetStdHandle(STD_OUTPUT_HANDLE), &output) &&
                              sameIdentity(output, information);
        // The read-only attribute answers too, but for an administrator under wine, which writes as the Linux root would.
        found.writable = writable && !(information.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
        if (!found.writable) page.cause = Cause::kNoPermission;
        found.locked = found.writable && lockAgainstOtherRuns(file);
    }

    bool lock(PageTarget& page, int milliseconds) override {
        for (int waited = 0; waited < milliseconds; waited += 20) {
            Sleep(20);
            if (lockAgainstOtherRuns(reinterpret_cast<HANDLE>(page.page))) return true;
        }
        return false;
    }

    bool stillNamed(const PageTarget& page) override {
        const HANDLE file = reinterpret_cast<HANDLE>(page.page);
        FILE_STANDARD_INFO standard;
        BY_HANDLE_FILE_INFORMATION held, named;
        return GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
               !standard.DeletePending && standard.NumberOfLinks > 0 && GetFileInformationByHandle(file, &held) &&
               fileIdentity(page.file, named) && sameIdentity(held, named);
    }

    void inspect(PageTarget& page) override {
        const HANDLE file = reinterpret_cast<HANDLE>(page.page);
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file, &information)) return;
        // ReplaceFileW keeps the page's owner, attributes and access list.
        page.found.links = information.nNumberOfLinks;
        page.found.ownerKept = true;
        page.found.extras = false;
        char head[kSniffedBytes];
        DWORD got = 0;
        OVERLAPPED start = {};
        page.headRead = ReadFile(file, head, sizeof head, &got, &start) != 0 || GetLastError() == ERROR_HANDLE_EOF;
        page.head.assign(head, got);
        // A size of 0 says the file is empty only where reading it gives no byte.
        page.empty = information.nFileSizeHigh == 0 && information.nFileSizeLow == 0 && got == 0;
    }

    // Opened without truncating, and written only where it is still the kind of device or pipe examined:
    // a disk file put in its place meanwhile is one to replace, not to write as it is.
    std::FILE* openDirect(const fs::path& name, const PageTarget& page) override {
        const HANDLE file = CreateFileW(longName(name.wstring()).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        if (GetFileType(file) != page.stream[0]) {
            CloseHandle(file);
            SetLastError(ERROR_SUCCESS);
            return nullptr;
        }
        const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_BINARY);
        if (descriptor < 0) {
            CloseHandle(file);
            return nullptr;
        }
        std::FILE* stream = _fdopen(descriptor, "wb");
        if (!stream) _close(descriptor);
        return stream;
    }

    std::FILE* createTemporary(const PageTarget& page, bool beside, fs::path& name) override;
    bool takeOverOwnership(std::FILE* temporary, const PageTarget& page) override;
    bool syncToDisk(std::FILE* stream) override {
        return std::fflush(stream) == 0 &&
               FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
    }
    bool renameOver(std::FILE*& temporary, const fs::path& name, const PageTarget& page) override;
    bool copyInto(std::FILE* temporary, const PageTarget& page) override;
    void removeTemporary(const fs::path& temporary) override {
        const SignalsHeld held;
        DeleteFileW(temporary.c_str());
        watching = false;
    }
    // A failed write of the C library's leaves its cause in errno too.
    Cause lastCause() const override {
        const Cause cause = causeOf(GetLastError());
        if (cause != Cause::kNone) return cause;
        return errno == ENOSPC ? Cause::kDiskFull : errno == EACCES ? Cause::kNoPermission : Cause::kNone;
    }
};

std::FILE* SystemFiles::createTemporary(const PageTarget& page, bool beside, fs::path& name) {
    onEndingSignal(removeWatched);
    const fs::path directory =
        beside ? directoryOf(page.file)
               : fs::path(filled([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); }));
    std::wstring stem = longName(directory.wstring());
    if (!stem.empty() && stem.back() != L'\\') stem += L'\\';
    stem += L".taletab-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    // Private to the user, not the directory's access list, until it takes the page's name.
    const std::wstring user = userSid();
    SECURITY_ATTRIBUTES privately = {sizeof privately, nullptr, FALSE};
    if (user.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;;FA;;;" + user + L")").c_str(),
                                                                              SDDL_REVISION_1,
                                                                              &privately.lpSecurityDescriptor, nullptr)) {
        return nullptr;
    }
    const struct Freed {
        void* descriptor;
        ~Freed() { LocalFree(descriptor); }
    } freed{privately.lpSecurityDescriptor};
    const SignalsHeld held;
    if (held.ending()) return nullptr;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring candidate = stem + std::to_wstring(GetTickCount() + attempt) + L".tmp";
        // FILE_SHARE_DELETE lets a console's Ctrl-C remove it while it is open; WRITE_DAC lets a
        // new page take its directory's access list through this handle (takeOverOwnership).
        const HANDLE file = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, &privately, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_BINARY);
        std::FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
        if (!stream) {
            if (descriptor < 0) CloseHandle(file);
            else _close(descriptor);
            DeleteFileW(candidate.c_str());
            return nullptr;
        }
        watchedName = candidate;
        watching = true;
        name = candidate;
        return stream;
    }
    return nullptr;
}

// ReplaceFileW gives the new file the page's access list, and its attributes too;
// they are given here as well, for systems (wine) whose ReplaceFileW only renames.
// A new page takes the access list its directory gives any new file.
bool SystemFiles::takeOverOwnership(std::FILE* temporary, const PageTarget& page) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temporary)));
    if (page.found.kind == PageFound::Kind::kNone) {
        ACL none;
        return InitializeAcl(&none, sizeof none, ACL_REVISION) &&
               SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, &none, nullptr) == ERROR_SUCCESS;
    }
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    BY_HANDLE_FILE_INFORMATION old;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(page.page), &old)) return false;
    FILE_BASIC_INFO information = {};  // times of zero are left as they are
    information.FileAttributes = (old.dwFileAttributes & kept) ? (old.dwFileAttributes & kept) : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &information, sizeof information) != 0;
}

// ReplaceFileW takes only a closed file. A handle that reads no byte (which
// no sharing rule counts) is kept meanwhile: where the system refuses, the
// file is opened again through it, never by its name.
bool SystemFiles::renameOver(std::FILE*& temporary, const fs::path& name, const PageTarget& page) {
    const SignalsHeld held;
    if (held.ending()) return false;
    const HANDLE open = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temporary)));
    const HANDLE kept = ReOpenFile(open, FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, 0);
    const bool closed = std::fclose(temporary) == 0;
    temporary = nullptr;
    const bool renamed =
        closed && (page.found.kind == PageFound::Kind::kFile
                       ? ReplaceFileW(page.file.c_str(), name.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                      nullptr, nullptr) != 0
                       : MoveFileExW(name.c_str(), page.file.c_str(), MOVEFILE_WRITE_THROUGH) != 0);
    if (renamed) watching = false;
    if (kept == INVALID_HANDLE_VALUE) return renamed;
    if (!renamed && closed) {
        const DWORD refused = GetLastError();
        const HANDLE again =
            ReOpenFile(kept, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
        const int descriptor =
            again == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<std::intptr_t>(again), _O_BINARY);
        if (descriptor < 0 && again != INVALID_HANDLE_VALUE) CloseHandle(again);
        temporary = descriptor < 0 ? nullptr : _fdopen(descriptor, "r+b");
        if (!temporary && descriptor >= 0) _close(descriptor);
        SetLastError(refused);
    }
    CloseHandle(kept);
    return renamed;
}

bool SystemFiles::copyInto(std::FILE* temporary, const PageTarget& page) {
    const SignalsHeld held;  // a page half copied is worse than a late Ctrl-C
    if (held.ending()) return false;
    const HANDLE from = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temporary)));
    const HANDLE to = reinterpret_cast<HANDLE>(page.page);
    LARGE_INTEGER size, start = {};
    return GetFileSizeEx(from, &size) && reserve(to, size) && SetFilePointerEx(from, start, nullptr, FILE_BEGIN) &&
           SetFilePointerEx(to, start, nullptr, FILE_BEGIN) && copyBytes(from, to);
}

}  // namespace

FileSystem& systemFiles() {
    static SystemFiles files;
    return files;
}

}  // namespace taletab::platform
