#include "file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "unicode.h"

namespace taletab {
namespace {

struct NameCase {
    const char* label;
    std::string typed;    // the bytes on Linux' command line
    std::string shown;    // in the console texts, Shift-JIS
    std::string title;    // in the page title, Shift-JIS
    std::string unicode;  // on a console that shows Unicode, UTF-8
};

// Typed in UTF-8, or in the bytes of Shift-JIS where the label says so.
const NameCase kNames[] = {
    {"ASCII, markup kept", "a&b<i>.htm", "a&b<i>.htm", "a&b<i>.htm", "a&b<i>.htm"},
    {"Japanese", "\xe5\x8f\xb0\xe6\x9c\xac.htm", "\x91\xe4\x96{.htm", "\x91\xe4\x96{.htm",
     "\xe5\x8f\xb0\xe6\x9c\xac.htm"},  // 台本
    {"half-width katakana", "\xef\xbd\xb1.htm", "\xb1.htm", "\xb1.htm", "\xef\xbd\xb1.htm"},  // ｱ
    {"an emoji", "\xf0\x9f\x98\x80.htm", "?.htm", "&#x1F600;.htm", "\xf0\x9f\x98\x80.htm"},  // 😀
    {"A with diaeresis, no best fit to A", "\xc3\x84.htm", "?.htm", "&#xC4;.htm", "\xc3\x84.htm"},  // Ä
    {"JIS-style wave dash", "\xe3\x80\x9c", "\x81`", "\x81`", "\xe3\x80\x9c"},  // 〜 as ～
    {"em dash", "\xe2\x80\x94", "\x81\\", "\x81\\", "\xe2\x80\x94"},  // — as ―
    {"kanji and emoji mixed", "\xe5\x8f\xb0\xf0\x9f\x98\x80\xe6\x9c\xac", "\x91\xe4?\x96{",
     "\x91\xe4&#x1F600;\x96{", "\xe5\x8f\xb0\xf0\x9f\x98\x80\xe6\x9c\xac"},
    {"Shift-JIS bytes, as typed", "\x91\xe4\x96{.htm", "\x91\xe4\x96{.htm", "\x91\xe4\x96{.htm",
     "\xe5\x8f\xb0\xe6\x9c\xac.htm"},
    {"Shift-JIS that ends in a lead byte", "\x91\xe4\x96", "\x91\xe4\x96", "\x91\xe4\x96",
     "\xe5\x8f\xb0\xef\xbf\xbd"},  // 台, then U+FFFD
    {"Latin-1 A with diaeresis", "\xc4.htm", "\xc4.htm", "\xc4.htm", "\xef\xbe\x84.htm"},  // read as ﾄ
};

TEST(FileName, FromBytes) {
    for (const NameCase& c : kNames) {
        const FileName name = fileNameFromBytes("name", c.typed);
        EXPECT_EQ(name.shown, c.shown) << c.label;
        EXPECT_EQ(name.title, c.title) << c.label;
        EXPECT_EQ(name.unicode, c.unicode) << c.label;
    }
}

// Windows takes the same names in UTF-16 and shows them in the same bytes.
TEST(FileName, FromUtf16AsFromUtf8) {
    for (const NameCase& c : kNames) {
        const auto codePoints = unicode::fromUtf8(c.typed);
        if (!codePoints) continue;  // no Unicode name: only Linux can be given these bytes
        std::u16string typed;
        for (const char32_t codePoint : *codePoints) unicode::appendUtf16(typed, codePoint);
        const FileName name = fileNameFromUtf16("name", typed);
        EXPECT_EQ(name.shown, c.shown) << c.label;
        EXPECT_EQ(name.title, c.title) << c.label;
        EXPECT_EQ(name.unicode, c.unicode) << c.label;
    }
}

TEST(FileName, LoneSurrogateFromWindows) {
    const FileName name = fileNameFromUtf16("name", u"a\xd800.htm");
    EXPECT_EQ(name.shown, "a?.htm");
    EXPECT_EQ(name.title, "a&#xFFFD;.htm");
    EXPECT_EQ(name.unicode, "a\xef\xbf\xbd.htm");
}

}  // namespace
}  // namespace taletab
