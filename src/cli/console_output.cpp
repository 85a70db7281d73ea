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

void appendEscaped(std::string& out, std::string_view bytes) {
    constexpr char kHex[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
}

// C0, DEL and C1.
bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Each character of the name as it is, but for the bytes of a control, or
// of a byte that begins no character and would be one on its own.
template <typename Decoded>
std::string escaped(std::string_view name, Decoded (*decode)(std::string_view)) {
    std::string out;
    while (!name.empty()) {
        const Decoded c = decode(name);
        const std::size_t length = c.length > 0 ? c.length : 1;
        const char32_t character = c.length > 0 ? c.codePoint : static_cast<unsigned char>(name[0]);
        if (isControl(character)) {
            appendEscaped(out, name.substr(0, length));
        } else {
            out += name.substr(0, length);
        }
        name.remove_prefix(length);
    }
    return out;
}

}  // namespace

std::u16string withoutColours(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\x1b' && i + 1 < text.size() && text[i + 1] == u'[') {
            std::size_t end = i + 2;
            while (end < text.size() && ((text[end] >= u'0' && text[end] <= u'9') || text[end] == u';')) ++end;
            if (end < text.size() && text[end] == u'm') {
                i = end;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string inShiftJis(std::string_view text, std::string_view name) {
    std::string out;
    appendWithCrLf(out, filled(text, name));
    return out;
}

std::string inUtf8(std::string_view text, std::string_view name) {
    const std::size_t slot = text.find("%s");
    std::string utf8 = unicode::utf8FromShiftJis(text.substr(0, slot));
    if (slot != std::string_view::npos) {
        utf8 += name;
        utf8 += unicode::utf8FromShiftJis(text.substr(slot + 2));
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

std::string escapedUtf8(std::string_view name) { return escaped(name, unicode::decodeUtf8); }

std::string escapedShiftJis(std::string_view name) { return escaped(name, cp932::decode); }

}  // namespace taletab
