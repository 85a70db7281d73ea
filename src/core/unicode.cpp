#include "unicode.h"

#include "code_page_932.h"

namespace taletab::unicode {

// Each continuation byte is checked against the range it may take, so that
// overlong forms, surrogates and code points past U+10FFFF are rejected as
// early as a cut beginning is recognised.
Decoded decodeUtf8(std::string_view bytes) {
    constexpr Decoded kNone{0, 0};
    if (bytes.empty()) return kNone;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length;
    char32_t codePoint;
    unsigned char low = 0x80, high = 0xBF;  // the range of the first continuation byte
    if (lead < 0xC2) {
        return kNone;  // a continuation byte, or the lead of an overlong form
    } else if (lead < 0xE0) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead < 0xF0) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // below: overlong
        if (lead == 0xED) high = 0x9F;  // above: surrogates
    } else if (lead < 0xF5) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // below: overlong
        if (lead == 0xF4) high = 0x8F;  // above: past U+10FFFF
    } else {
        return kNone;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i == bytes.size()) return {0, 0, true};
        const auto next = static_cast<unsigned char>(bytes[i]);
        if (next < low || next > high) return kNone;
        low = 0x80;
        high = 0xBF;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
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

char* writeUtf8(char32_t codePoint, char* out) {
    if (codePoint < 0x80) {
        *out++ = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    char bytes[4];
    out.append(bytes, static_cast<std::size_t>(writeUtf8(codePoint, bytes) - bytes));
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
        if (isHighSurrogate(unit) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            codePoints += fromSurrogates(unit, units[++i]);
        } else {
            codePoints += isHighSurrogate(unit) || isLowSurrogate(unit) ? kReplacement : unit;
        }
    }
    return codePoints;
}

char32_t composedKana(char32_t base, char32_t mark) {
    // Each base kana and the kana it becomes with the mark, side by side.
    static constexpr std::u32string_view kVoicedBases =
        U"かきくけこさしすせそたちつてとはひふへほうゝカキクケコサシスセソタチツテトハヒフヘホウワヰヱヲヽ";
    static constexpr std::u32string_view kVoiced =
        U"がぎぐげござじずぜぞだぢづでどばびぶべぼゔゞガギグゲゴザジズゼゾダヂヅデドバビブベボヴヷヸヹヺヾ";
    static constexpr std::u32string_view kSemiVoicedBases = U"はひふへほハヒフヘホ";
    static constexpr std::u32string_view kSemiVoiced = U"ぱぴぷぺぽパピプペポ";
    const bool voiced = mark == 0x3099;
    if (!voiced && mark != 0x309A) return 0;
    const std::size_t at = (voiced ? kVoicedBases : kSemiVoicedBases).find(base);
    if (at == std::u32string_view::npos) return 0;
    const char32_t composed = (voiced ? kVoiced : kSemiVoiced)[at];
    char form[cp932::kMaxBytes];
    return cp932::encode(composed, form) > 0 ? composed : 0;
}

std::u32string composedKana(std::u32string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        const char32_t composed = out.empty() ? 0 : composedKana(out.back(), c);
        if (composed != 0) {
            out.back() = composed;
        } else {
            out += c;
        }
    }
    return out;
}

std::size_t writeReference(char32_t codePoint, char* out) {
    char digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[codePoint & 0xF];
        codePoint >>= 4;
    } while (codePoint != 0);
    char* at = out;
    *at++ = '&';
    *at++ = '#';
    *at++ = 'x';
    while (count > 0) *at++ = digits[--count];
    *at++ = ';';
    return at - out;
}

}  // namespace taletab::unicode
