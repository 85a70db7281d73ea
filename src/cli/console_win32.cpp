// Windows: a console, written in UTF-16, or redirected output.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <conio.h>

#include <cstdio>
#include <string>

#include "console.h"
#include "console_output.h"
#include "console_texts.h"
#include "signals.h"

namespace taletab::platform {

namespace {

// Writes to the console in UTF-16, which it shows right whatever its code page.
void writeConsole(void* console, const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    DWORD written = 0;
    WriteConsoleW(static_cast<HANDLE>(console), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// The console whose colours a signal resets and whose mode it puts back, as
// the Console found it.
HANDLE consoleToReset = nullptr;
HANDLE consoleToRestore = nullptr;
DWORD consoleModeFound = 0;

void resetConsole() {
    if (consoleToReset && consoleToRestore) writeConsole(consoleToReset, inUtf16(kColourReset));
    if (consoleToRestore) SetConsoleMode(consoleToRestore, consoleModeFound);
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
    DWORD processes[2];
    ownWindow_ = isOwnWindow(GetConsoleProcessList(processes, 2), true);
    consoleToReset = output;
    if (modeChanged_) {
        consoleToRestore = output;
        consoleModeFound = mode;
    }
    onEndingSignal(resetConsole);
}

Console::~Console() {
    std::fflush(stdout);
    if (!console_) return;
    if (ownWindow_) {
        print(texts::kPressAKey);
        _getch();
    }
    if (modeChanged_) {
        writeConsole(console_, inUtf16(kColourReset));
        SetConsoleMode(static_cast<HANDLE>(console_), modeFound_);
    }
}

void Console::print(std::string_view text, const FileName& name) const {
    if (silent_) return;
    if (console_) {
        // A console that refused colour sequences (before Windows 10) would show them as text.
        const std::u16string wide = inUtf16(text, escapedUtf8(name.unicode));
        writeConsole(console_, modeChanged_ ? wide : withoutColours(wide));
    } else {
        const std::string out = inShiftJis(text, name.shown);
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
}

// A page that is standard output here is a file, copied into from its start: the banner is written over.
void Console::silence() { silent_ = true; }

void Console::prepare(std::string_view text, const FileName& name) {
    if (console_) {
        const std::u16string wide = inUtf16(text, escapedUtf8(name.unicode));
        const std::u16string shown = modeChanged_ ? wide : withoutColours(wide);
        preparedWide_.assign(shown.begin(), shown.end());
    } else {
        prepared_ = inShiftJis(text, name.shown);
    }
}

void Console::printPrepared() const {
    if (silent_) return;
    if (console_) {
        DWORD written = 0;
        WriteConsoleW(static_cast<HANDLE>(console_), preparedWide_.data(), static_cast<DWORD>(preparedWide_.size()),
                      &written, nullptr);
    } else {
        std::fwrite(prepared_.data(), 1, prepared_.size(), stdout);
    }
}

// Started from cmd, PowerShell or a batch file, the program shares their
// console; Explorer makes one for it alone.
bool isOwnWindow(unsigned long processesOnConsole, bool outputIsConsole) {
    return outputIsConsole && processesOnConsole == 1;
}

}  // namespace taletab::platform
