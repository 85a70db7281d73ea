// The console the program's texts go to: standard output, for as long as
// the program runs. Its halves are console_posix.cpp and console_win32.cpp.
#pragma once

#include <string>
#include <string_view>

#include "file_name.h"

namespace taletab::platform {

// Redirected, standard output gets the Shift-JIS bytes unchanged (no LF
// doubled into CR CR LF), fully buffered. A terminal whose locale is UTF-8
// (Linux) and a console (Windows) get the texts in Unicode instead; any
// terminal or console has its colours reset once the run ends, a signal's
// end too, and is shown a file name's control characters escaped
// (console_output.h) instead of acting on them. On a Windows console the
// colour sequences are turned on for the run and the console's mode is put
// back; a console that takes no colour sequences (before Windows 10) gets
// the texts without them.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Prints one of the texts of console_texts.h; the name fills its "%s" slot.
    void print(std::string_view text, const FileName& name) const;
    void print(std::string_view text) const { print(text, FileName{}); }

    // From here on nothing is printed, and nothing printed before is left
    // to be written (the banner): standard output is the page.
    void silence();

    // Whether the console window was made for this program alone, as when
    // Explorer starts it (a double click, scripts dropped on it): it closes
    // as the program ends, so the program asks for a key first, and each
    // script named gets its page beside it. Never on Linux, never where
    // standard output is redirected.
    bool ownWindow() const { return ownWindow_; }

    // Readies a text to be printed later by printPrepared, which takes no
    // memory: for the one message printed when there is none left.
    void prepare(std::string_view text, const FileName& name);
    void printPrepared() const;

private:
    bool silent_ = false;
    bool ownWindow_ = false;
    std::string prepared_;
#ifdef _WIN32
    std::wstring preparedWide_;
    void* console_ = nullptr;  // the console written to in UTF-16, if output is one
    bool modeChanged_ = false;
    unsigned long modeFound_ = 0;
#else
    bool terminal_ = false;
    bool utf8_ = false;  // the terminal shows UTF-8
#endif
};

#ifdef _WIN32
// The rule behind Console::ownWindow, from what Windows tells: the number of
// processes attached to the console (GetConsoleProcessList; 0 where it
// failed) and whether standard output is that console.
bool isOwnWindow(unsigned long processesOnConsole, bool outputIsConsole);
#endif

}  // namespace taletab::platform
