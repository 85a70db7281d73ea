#include "unicode.h"

#include "code_page_932.h"

namespace taletab::unicode {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool isSurrogate(char32_t codePoint) { return codePoint >= 0xD800 && codePoint <= 0xDFFF; }

}  // namespace

Decoded decodeUtf8(std::string_view bytes) {
    constexpr Decoded kNone{0, 0};
    if (bytes.empty()) return kNone;
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first < 0x80) return {first, 1};
    // 0x80 to 0xC1 begin nothing (a continuation byte, an overlong lead); 0xF5 on lie past U+10FFFF.
    if (first < 0xC2 || first > 0xF4) return kNone;
    const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    const char32_t smallest = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;  // below: overlong
    char32_t codePoint = first & (0x7F >> length);
    if (bytes.size() < length) return kNone;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isContinuation(byte)) return kNone;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF || isSurrogate(codePoint)) return kNone;
    return {codePoint, length};
}

std::optional<std::u32string> fromUtf8(std::string_view bytes) {
    std::u32string codePoints;
    while (!bytes.empty()) {
        const Decoded c = decodeUtf8(bytes);
        if (c.length == 0) return std::nullopt;
        codePoints += c.codePoint;
        bytes.remove_prefix(c.length);
    }
    return codePoints;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out += static_cast<char16_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (codePoint >> 10));
        out += static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF));
    }
}

std::string utf8FromShiftJis(std::string_view shiftJis) {
    std::string out;
    while (!shiftJis.empty()) {
        const cp932::Decoded c = cp932::decode(shiftJis);
        appendUtf8(out, c.length > 0 ? c.codePoint : kReplacement);
        shiftJis.remove_prefix(c.length > 0 ? c.length : 1);
    }
    return out;
}

std::u32string fromUtf16(std::u16string_view units) {
    std::u32string codePoints;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            codePoints += 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else {
            codePoints += isSurrogate(unit) ? kReplacement : unit;
        }
    }
    return codePoints;
}

}  // namespace taletab::unicode
