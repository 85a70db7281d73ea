// Starts a program in a console of its own, as Explorer does when a file is
// dropped on its icon, waits until it asks for a key, reads what its console
// shows, presses Enter and waits for it to end. Prints the console's rows
// (UTF-8, one a line, trailing blanks cut), then "status N"; exits with the
// program's status. For the tests of the drop under wine.
//
//   own_console.exe [--hold FILE] PROGRAM [ARGUMENT...]
//
// --hold keeps FILE open, shared with no other program, for the whole run.
#include <windows.h>
// These need the types of windows.h.
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The program's pause: "何かキーを押すと閉じます。"
constexpr wchar_t kPrompt[] = L"\u4f55\u304b\u30ad\u30fc\u3092\u62bc\u3059\u3068\u9589\u3058\u307e\u3059\u3002";

// An argument quoted as CommandLineToArgvW reads it back.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// The console's rows, trailing blanks cut, the blank rows at the end left out.
std::vector<std::wstring> screenRows(HANDLE output) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::vector<std::wstring> rows;
    if (!GetConsoleScreenBufferInfo(output, &info)) return rows;
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
        std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(output, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read);
        row.resize(read);
        row.erase(row.find_last_not_of(L' ') + 1);
        rows.push_back(row);
    }
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
}

bool shows(const std::vector<std::wstring>& rows, const wchar_t* text) {
    for (const std::wstring& row : rows) {
        if (row.find(text) != std::wstring::npos) return true;
    }
    return false;
}

void write(HANDLE to, const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(to, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int first = 1;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (count > 3 && std::wstring(arguments[1]) == L"--hold") {
        held = CreateFileW(arguments[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        first = 3;
    }
    if (count <= first) return 125;
    std::wstring commandLine;
    for (int i = first; i < count; ++i) commandLine += (i > first ? L" " : L"") + quoted(arguments[i]);

    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    // The program counts the processes on its console as it starts: this one
    // makes the console, keeps its own handles to it, and leaves it before the
    // program runs, so that the program is alone on it, as Explorer leaves it.
    FreeConsole();
    if (!AllocConsole()) return 126;
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process)) {
        return 126;
    }
    // wine's console drops what is written while its window is still being made.
    Sleep(1000);
    FreeConsole();
    ResumeThread(process.hThread);
    std::vector<std::wstring> rows;
    {
        for (int waited = 0; !shows(rows = screenRows(output), kPrompt) && waited < 480; ++waited) {
            if (WaitForSingleObject(process.hProcess, 250) == WAIT_OBJECT_0) break;
        }
        INPUT_RECORD keys[2] = {};
        for (int i = 0; i < 2; ++i) {
            keys[i].EventType = KEY_EVENT;
            keys[i].Event.KeyEvent.bKeyDown = i == 0;
            keys[i].Event.KeyEvent.wRepeatCount = 1;
            keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
            keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
        }
        DWORD written = 0;
        WriteConsoleInputW(input, keys, 2, &written);
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD status = 127;
    GetExitCodeProcess(process.hProcess, &status);
    for (const std::wstring& row : rows) write(report, row + L"\n");
    write(report, L"status " + std::to_wstring(status) + L"\n");
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    LocalFree(arguments);
    return static_cast<int>(status);
}
