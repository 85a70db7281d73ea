// Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <string>

#include "platform.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

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

}  // namespace

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

}  // namespace taletab::platform
