// Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <string>
#include <string_view>

#include "console_output.h"
#include "platform.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// Writes to the console in UTF-16, which it shows right whatever its code page.
void writeConsole(void* console, const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    DWORD written = 0;
    WriteConsoleW(static_cast<HANDLE>(console), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
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
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return;
    console_ = output;
    modeFound_ = mode;
    modeChanged_ = SetConsoleMode(output, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

Console::~Console() {
    std::fflush(stdout);
    if (!console_) return;
    writeConsole(console_, inUtf16(kColourReset));
    if (modeChanged_) SetConsoleMode(static_cast<HANDLE>(console_), modeFound_);
}

void Console::print(std::string_view text, const FileName& name) const {
    if (console_) {
        writeConsole(console_, inUtf16(text, name.unicode));
    } else {
        const std::string out = inShiftJis(text, name.shown);
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
}

std::vector<FileName> fileNames(int, char**) {
    std::vector<FileName> names;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return names;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view typed = arguments[i];
        names.push_back(fileNameFromUtf16(fs::path(typed), std::u16string(typed.begin(), typed.end())));
    }
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
