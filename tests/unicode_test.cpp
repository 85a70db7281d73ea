#include "unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace taletab::unicode {
namespace {

// A name is taken for UTF-8 only when it is strictly that: anything else is
// shown as the bytes it is.
TEST(Unicode, DecodesStrictUtf8) {
    struct Case {
        const char* label;
        std::string bytes;
        char32_t codePoint;
        std::size_t length;
    };
    const Case cases[] = {
        {"ASCII", "a.htm", U'a', 1},
        {"two bytes", "\xc3\x84", U'\u00c4', 2},             // Ä
        {"three bytes", "\xe5\x8f\xb0", U'\u53f0', 3},       // 台
        {"four bytes", "\xf0\x9f\x98\x80", U'\U0001f600', 4},  // 😀
        {"the last code point", "\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
        {"past the last code point", "\xf4\x90\x80\x80", 0, 0},
        {"overlong slash", "\xc0\xaf", 0, 0},
        {"overlong three bytes", "\xe0\x80\xaf", 0, 0},
        {"overlong four bytes", "\xf0\x8f\xbf\xbf", 0, 0},
        {"a surrogate", "\xed\xa0\x80", 0, 0},
        {"a continuation byte first", "\x80" "a", 0, 0},
        {"cut short", "\xe5\x8f", 0, 0},
        {"a lead byte before ASCII", "\xe5" "ab", 0, 0},
        {"Shift-JIS 台本", "\x91\xe4\x96\x7b", 0, 0},
        {"0xFF", "\xff", 0, 0},
    };
    for (const Case& c : cases) {
        const Decoded decoded = decodeUtf8(c.bytes);
        EXPECT_EQ(decoded.codePoint, c.codePoint) << c.label;
        EXPECT_EQ(decoded.length, c.length) << c.label;
    }
}

TEST(Unicode, TellsACutCharacterFromABadOne) {
    // A script's encoding is judged on its first bytes, which may end inside a character.
    struct Case {
        const char* label;
        std::string_view bytes;
        bool cut;
    };
    const Case cases[] = {
        {"kanji cut after its lead", "\xe5", true},
        {"kanji cut after two bytes", "\xe5\x8f", true},
        {"emoji cut after three bytes", "\xf0\x9f\x98", true},
        {"overlong, cut", "\xe0\x80", false},
        {"surrogate, cut", "\xed\xa0", false},
        {"past the last code point, cut", "\xf4\x90", false},
        {"a bad second byte", "\xe5" "a", false},
        {"a continuation byte alone", "\x80", false},
    };
    for (const Case& c : cases) {
        const Decoded decoded = decodeUtf8(c.bytes);
        EXPECT_EQ(decoded.length, 0u) << c.label;
        EXPECT_EQ(decoded.cut, c.cut) << c.label;
    }
}

TEST(Unicode, EncodesWhatItDecodes) {
    for (char32_t codePoint : {U'a', U'\u00c4', U'\u07ff', U'\u0800', U'\u53f0', U'\uffff', U'\U00010000',
                               U'\U0001f600', U'\U0010ffff'}) {
        std::string utf8;
        appendUtf8(utf8, codePoint);
        const Decoded decoded = decodeUtf8(utf8);
        EXPECT_EQ(decoded.codePoint, codePoint);
        EXPECT_EQ(decoded.length, utf8.size());
    }
}

// A name typed on a Mac: a kana and the sound mark after it become the kana
// they stand for where Shift-JIS has it; anything else stays as it is.
TEST(Unicode, ComposesKanaAndSoundMarks) {
    EXPECT_EQ(unicode::composedKana(U"\u30CF\u309A\u30B9\u505C"), U"\u30D1\u30B9\u505C");      // パス停
    EXPECT_EQ(unicode::composedKana(U"\u304B\u3099\u30A6\u3099\u30FD\u3099"), U"\u304C\u30F4\u30FE");  // がヴヾ
    EXPECT_EQ(unicode::composedKana(U"\u3046\u3099\u30EF\u3099"), U"\u3046\u3099\u30EF\u3099");  // ゔ, ヷ: no Shift-JIS
    EXPECT_EQ(unicode::composedKana(U"\u3099\u304C\u3099a\u309A\uFF76\u3099"), U"\u3099\u304C\u3099a\u309A\uFF76\u3099");
}

TEST(Unicode, Utf16BothWays) {
    std::u16string units;
    for (char32_t codePoint : {U'a', U'\u53f0', U'\U0001f600', U'\U0010ffff'}) appendUtf16(units, codePoint);
    EXPECT_EQ(units, u"a\u53f0\xd83d\xde00\xdbff\xdfff");
    EXPECT_EQ(fromUtf16(units), U"a\u53f0\U0001f600\U0010ffff");
    // A surrogate without its other half, as a Windows name can hold.
    EXPECT_EQ(fromUtf16(u"\xd83d" "a\xde00\xd83d"), U"\ufffd" "a\ufffd\ufffd");
}

}  // namespace
}  // namespace taletab::unicode
