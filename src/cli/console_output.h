// The program's console texts (console_texts.h: Shift-JIS, LF line ends) as
// they go out: a file name in the "%s" slot where a text has one, and each
// LF as CR LF. Redirected output, and a terminal that is not UTF-8, get the
// Shift-JIS bytes, which callers that capture them rely on; a console that
// shows Unicode gets the same text in UTF-8 or UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace taletab {

// Sent once at the end of a run where output is a terminal or console, so
// that the colours of the last text do not stay.
inline constexpr std::string_view kColourReset = "\x1b[0m";

// The text without its colour sequences (ESC [ digits and ; m), for a
// console that would show them as they are.
std::u16string withoutColours(std::u16string_view text);

// The name is a FileName's "shown" form.
std::string inShiftJis(std::string_view text, std::string_view name = {});

// The name is a FileName's "unicode" form (UTF-8), which goes out as it is.
std::string inUtf8(std::string_view text, std::string_view name = {});
std::u16string inUtf16(std::string_view text, std::string_view name = {});

// A file name as a terminal or a console is to show it. There a control
// character in a name would act instead of being seen: retitle the window,
// clear the screen, move the cursor back over a message. Each byte of one
// is shown as "\x" and two hex digits ("\x1b" for ESC), the form GNU printf's
// "%b" turns back into the byte; every other byte stays. The controls are
// C0 (U+0000 to U+001F), DEL and C1 (U+0080 to U+009F), and a byte 0x80 to
// 0x9F that begins no character (in Shift-JIS, a first byte without its
// second). Redirected output gets names as they are.
std::string escapedUtf8(std::string_view name);
std::string escapedShiftJis(std::string_view name);

}  // namespace taletab
