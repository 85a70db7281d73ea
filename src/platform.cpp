#include "platform.h"

#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// The file a page named so would replace in place of itself: a link is
// followed to its file. Empty when the page is to be written directly.
fs::path replacedFile(const fs::path& name) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::regular) return fs::canonical(name, error);
    // No file yet, and not a link to a missing one: the page is new.
    if (status.type() == fs::file_type::not_found &&
        fs::symlink_status(name, error).type() == fs::file_type::not_found) {
        return name;
    }
    return {};
}

// The folder a file stands in, where its replacement is made.
fs::path folderOf(const fs::path& file) { return file.has_parent_path() ? file.parent_path() : fs::path("."); }

#ifdef _WIN32

constexpr unsigned kShiftJis = 932;

std::string inCodePage932(const wchar_t* text) {
    const int size = WideCharToMultiByte(kShiftJis, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string bytes(size - 1, '\0');
    WideCharToMultiByte(kShiftJis, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The volume and index that tell a file apart from every other; false if it cannot be opened.
bool fileIdentity(const fs::path& name, BY_HANDLE_FILE_INFORMATION& identity) {
    const HANDLE file = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return known;
}

std::FILE* createTemporaryBeside(const fs::path& target, fs::path& temporary) {
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(folderOf(target).c_str(), L"tt", 0, name) == 0) return nullptr;
    temporary = name;
    std::FILE* stream = _wfopen(name, L"wb");
    if (!stream) DeleteFileW(name);
    return stream;
}

bool replace(const fs::path& temporary, const fs::path& target) {
    return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

#else

// The new file gets the old page's permission bits and owner, or those a new file would get.
void takeOverMode(int descriptor, const fs::path& target) {
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) {
        (void)::fchown(descriptor, old.st_uid, old.st_gid);  // only the owner or root may
        ::fchmod(descriptor, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(descriptor, 0666 & ~mask);
    }
}

std::FILE* createTemporaryBeside(const fs::path& target, fs::path& temporary) {
    std::string name = (folderOf(target) / ".taletab-XXXXXX").string();
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0) return nullptr;
    temporary = name;
    takeOverMode(descriptor, target);
    std::FILE* stream = ::fdopen(descriptor, "wb");
    if (!stream) {
        ::close(descriptor);
        ::unlink(name.c_str());
    }
    return stream;
}

bool replace(const fs::path& temporary, const fs::path& target) {
    return std::rename(temporary.c_str(), target.c_str()) == 0;
}

#endif

}  // namespace

#ifdef _WIN32

Console::Console() {
    _setmode(_fileno(stdout), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // Only a console has a mode; redirected output is left alone.
    if (output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) &&
        SetConsoleMode(output, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        handle_ = output;
        modeFound_ = mode;
    }
}

Console::~Console() {
    std::fflush(stdout);
    if (handle_) SetConsoleMode(static_cast<HANDLE>(handle_), modeFound_);
}

std::vector<FileName> fileNames(int, char**) {
    std::vector<FileName> names;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return names;
    for (int i = 1; i < count; ++i) names.push_back({fs::path(arguments[i]), inCodePage932(arguments[i])});
    LocalFree(arguments);
    return names;
}

std::FILE* openFile(const fs::path& name, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(name.c_str(), wideMode.c_str());
}

bool sameFile(const fs::path& a, const fs::path& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

#else

Console::Console() { std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024); }

Console::~Console() { std::fflush(stdout); }

std::vector<FileName> fileNames(int argc, char** argv) {
    std::vector<FileName> names;
    for (int i = 1; i < argc; ++i) names.push_back({fs::path(argv[i]), argv[i]});
    return names;
}

std::FILE* openFile(const fs::path& name, const char* mode) { return std::fopen(name.c_str(), mode); }

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

#endif

PageFile::PageFile(const fs::path& name) {
    target_ = replacedFile(name);
    if (!target_.empty()) stream_ = createTemporaryBeside(target_, temporary_);
    if (!stream_) {
        temporary_.clear();
        target_ = name;
        stream_ = openFile(name, "wb");
    }
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) {
        std::error_code error;
        fs::remove(temporary_, error);
    }
}

bool PageFile::commit() {
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (temporary_.empty()) return closed;
    const bool replaced = closed && replace(temporary_, target_);
    if (replaced) temporary_.clear();
    return replaced;
}

}  // namespace taletab::platform
