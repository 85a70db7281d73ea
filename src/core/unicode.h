// UTF-8 and UTF-16, for file names and the console. Decoding is strict (no
// overlong forms, no surrogates, nothing past U+10FFFF), so that a name that
// is not UTF-8, a Shift-JIS name say, is told apart from one that is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace taletab::unicode {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t codePoint;
    std::size_t length;  // bytes taken, 1 to 4; 0 when the bytes do not begin with a UTF-8 character
    bool cut = false;    // with length 0: a valid beginning, cut short by the end of the bytes
};

// The character the bytes begin with.
Decoded decodeUtf8(std::string_view bytes);

// The code points of text that is UTF-8 throughout; nothing when it is not.
std::optional<std::u32string> fromUtf8(std::string_view bytes);

void appendUtf8(std::string& out, char32_t codePoint);
// Writes the UTF-8 form (at most 4 bytes) to `out`; returns the end of what it wrote.
char* writeUtf8(char32_t codePoint, char* out);
void appendUtf16(std::u16string& out, char32_t codePoint);

// Shift-JIS (code page 932) text in UTF-8; a byte that begins no character becomes U+FFFD.
std::string utf8FromShiftJis(std::string_view shiftJis);

// The code points of UTF-16 text; a surrogate without its other half becomes U+FFFD.
std::u32string fromUtf16(std::u16string_view units);

// UTF-16's surrogates: a high one followed by a low one stand together for
// one code point beyond U+FFFF; either alone stands for none.
inline bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline char32_t fromSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Text typed on a Mac (NFD) writes が as か and the combining voiced sound
// mark U+3099, and パ as ハ and the semi-voiced one, U+309A. The kana the
// two stand for (NFC's), where code page 932 has it (it lacks ゔ and ヷ,
// say); 0 where it has none or the base takes no such mark.
inline bool isKanaSoundMark(char32_t c) { return c == 0x3099 || c == 0x309A; }
char32_t composedKana(char32_t base, char32_t mark);

// The text with each kana and sound mark after it composed, as above.
std::u32string composedKana(std::u32string_view text);

// How a character with no Shift-JIS form stands in the page: its numeric
// character reference, "&#x1F600;" for U+1F600 (upper-case hex digits, no
// leading zeros), which every browser shows as the character. Writes it to
// `out`, which has room for kLongestReference bytes, and returns its length.
inline constexpr std::size_t kLongestReference = 10;  // "&#x10FFFF;"
std::size_t writeReference(char32_t codePoint, char* out);

}  // namespace taletab::unicode
