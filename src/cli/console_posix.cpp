// Linux and other POSIX systems: a terminal or redirected output.
#include <unistd.h>
#ifdef __linux__
#include <stdio_ext.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "console_output.h"
#include "signals.h"

namespace taletab::platform {

namespace {

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

// A text as this console shows it; on a terminal a name's controls are escaped.
std::string shown(std::string_view text, const FileName& name, bool terminal, bool utf8) {
    if (utf8) return inUtf8(text, escapedUtf8(name.unicode));
    return inShiftJis(text, terminal ? escapedShiftJis(name.shown) : name.shown);
}

// Safe in a signal handler: a plain write, no buffer.
void resetColours() { (void)::write(STDOUT_FILENO, kColourReset.data(), kColourReset.size()); }

}  // namespace

Console::Console() : terminal_(::isatty(STDOUT_FILENO) == 1), utf8_(terminal_ && localeIsUtf8()) {
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    if (terminal_) onEndingSignal(resetColours);
}

Console::~Console() {
    if (terminal_) std::fwrite(kColourReset.data(), 1, kColourReset.size(), stdout);
    std::fflush(stdout);
}

void Console::print(std::string_view text, const FileName& name) const {
    if (silent_) return;
    const std::string out = shown(text, name, terminal_, utf8_);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void Console::silence() {
    silent_ = true;
#ifdef __linux__
    __fpurge(stdout);
#endif
}

void Console::prepare(std::string_view text, const FileName& name) {
    prepared_ = shown(text, name, terminal_, utf8_);
}

void Console::printPrepared() const {
    if (!silent_) std::fwrite(prepared_.data(), 1, prepared_.size(), stdout);
}

}  // namespace taletab::platform
