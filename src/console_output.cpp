#include "console_output.h"

#include "code_page_932.h"
#include "text_mode.h"
#include "unicode.h"

namespace taletab {

namespace {

std::string filled(std::string_view text, std::string_view name) {
    const std::size_t slot = text.find("%s");
    if (slot == std::string_view::npos) return std::string(text);
    std::string out(text.substr(0, slot));
    out += name;
    out += text.substr(slot + 2);
    return out;
}

// The program's own texts are all valid Shift-JIS; a byte that is not stands as U+FFFD.
void appendShiftJisAsUtf8(std::string& out, std::string_view shiftJis) {
    while (!shiftJis.empty()) {
        const cp932::Decoded c = cp932::decode(shiftJis);
        unicode::appendUtf8(out, c.length > 0 ? c.codePoint : unicode::kReplacement);
        shiftJis.remove_prefix(c.length > 0 ? c.length : 1);
    }
}

}  // namespace

std::string inShiftJis(std::string_view text, std::string_view name) {
    std::string out;
    appendWithCrLf(out, filled(text, name));
    return out;
}

std::string inUtf8(std::string_view text, std::string_view name) {
    const std::size_t slot = text.find("%s");
    std::string utf8;
    appendShiftJisAsUtf8(utf8, text.substr(0, slot));
    if (slot != std::string_view::npos) {
        utf8 += name;
        appendShiftJisAsUtf8(utf8, text.substr(slot + 2));
    }
    std::string out;
    appendWithCrLf(out, utf8);
    return out;
}

std::u16string inUtf16(std::string_view text, std::string_view name) {
    const std::string whole = inUtf8(text, name);
    std::string_view utf8 = whole;
    std::u16string out;
    while (!utf8.empty()) {
        const unicode::Decoded c = unicode::decodeUtf8(utf8);
        unicode::appendUtf16(out, c.length > 0 ? c.codePoint : unicode::kReplacement);
        utf8.remove_prefix(c.length > 0 ? c.length : 1);
    }
    return out;
}

}  // namespace taletab
