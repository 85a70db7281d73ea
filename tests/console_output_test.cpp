// The console texts in each form they go out in. The UTF-16 form is what a
// Windows console gets through WriteConsoleW, which wine cannot show the
// tests: it is checked here, character for character.
#include "console_output.h"

#include <gtest/gtest.h>

#include <string>

#include "console_texts.h"
#include "file_name.h"

namespace taletab {
namespace {

const FileName kEmojiName = fileNameFromUtf16("name", u"\u53f0\U0001f600.htm");  // 台😀.htm

TEST(ConsoleOutput, ShiftJisIsTheTextsBytesWithCrLf) {
    EXPECT_EQ(inShiftJis(texts::kDone), "\x90\xb3\x8f\xed\x82\xc9\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
                                        "B\r\n\r\n");
    EXPECT_EQ(inShiftJis(texts::kScriptMissing, kEmojiName.shown),
              "\x1b[30;41m\x8br\x96{\x83t\x83@\x83" "C\x83\x8b\x81h\x91\xe4?.htm\x81h\x82\xaa\x91\xb6\x8d\xdd"
              "\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x81" "B\r\n");
}

TEST(ConsoleOutput, Utf8) {
    EXPECT_EQ(inUtf8(texts::kBannerTitle), u8"\r\n\x1b[37;40m脚本データ → ＨＴＭＬ　変換ソフト　");
    EXPECT_EQ(inUtf8(texts::kUsageScriptNote), u8"\t\t\t\t※当然「ぺるもあ」互換ファイルである事！\r\n\r\n");
    EXPECT_EQ(inUtf8(texts::kScriptMissing, kEmojiName.unicode),
              u8"\x1b[30;41m脚本ファイル”台😀.htm”が存在しません。\r\n");
}

TEST(ConsoleOutput, Utf16ForTheWindowsConsole) {
    EXPECT_EQ(inUtf16(texts::kBannerTitle), u"\r\n\x1b[37;40m脚本データ → ＨＴＭＬ　変換ソフト　");
    EXPECT_EQ(inUtf16(texts::kUsagePage), u"\t\t\t[Filename2]…変換後の書込み先のファイルを指定\r\n");
    EXPECT_EQ(inUtf16(texts::kScriptMissing, kEmojiName.unicode),
              u"\x1b[30;41m脚本ファイル”台\xd83d\xde00.htm”が存在しません。\r\n");
    EXPECT_EQ(inUtf16(texts::kDefaultPageName, "permoa.htm"),
              u"\x1b[37;40mしょうがないので”permoa.htm”上へ書込みます。\r\n");
    EXPECT_EQ(inUtf16(kColourReset), u"\x1b[0m");
}

// A name as a terminal shows it: what would act on the terminal is escaped,
// every character that is shown stays.
TEST(ConsoleOutput, ControlCharactersOfANameAreEscapedForATerminal) {
    const struct {
        const char* label;
        std::string name;
        std::string shown;
    } utf8[] = {
        {"plain", "scene.htm", "scene.htm"},
        {"Japanese and an emoji", u8"台本😀.htm", u8"台本😀.htm"},
        {"a window title", "\x1b]0;owned\x07.htm", "\\x1b]0;owned\\x07.htm"},
        {"screen and line cleared, back to the start",
         "a\x1b[2J\x1b[2K\r\xe6\xad\xa3", "a\\x1b[2J\\x1b[2K\\x0d\xe6\xad\xa3"},
        {"TAB, LF and DEL", "a\tb\nc\x7f", "a\\x09b\\x0ac\\x7f"},
        {"C1: CSI and NEL", "\xc2\x9b" "2J\xc2\x85", "\\xc2\\x9b" "2J\\xc2\\x85"},
        {"no-break space, the first character past C1", "\xc2\xa0", "\xc2\xa0"},
        {"a byte that begins no character", "a\x9b" "2J\xff", "a\\x9b" "2J\xff"},
    }, shiftJis[] = {
        {"plain", "scene.htm", "scene.htm"},
        {"Japanese with 0x5C and 0x80 to 0x9F as second bytes: \xe3\x82\xbd\xe8\xa1\xa8\xc3\xb7\xe2\x97\x8b",
         "\x83\x5c\x95\x5c\x81\x80\x81\x9b", "\x83\x5c\x95\x5c\x81\x80\x81\x9b"},
        {"half-width katakana", "\xb1\xdf", "\xb1\xdf"},
        {"a window title", "\x1b]0;owned\x07.htm", "\\x1b]0;owned\\x07.htm"},
        {"screen and line cleared, back to the start", "\x1b[2J\x1b[2K\r\x90\xb3", "\\x1b[2J\\x1b[2K\\x0d\x90\xb3"},
        {"a first byte before ESC, which cannot be its second", "\x81\x1b[2J", "\\x81\\x1b[2J"},
        {"a first byte at the end", "\x91\xe4\x96", "\x91\xe4\\x96"},
        {"0x80 and 0x9B alone, C1 to some terminals", "\x80\x9b", "\\x80\\x9b"},
    };
    for (const auto& c : utf8) EXPECT_EQ(escapedUtf8(c.name), c.shown) << "UTF-8, " << c.label;
    for (const auto& c : shiftJis) EXPECT_EQ(escapedShiftJis(c.name), c.shown) << "Shift-JIS, " << c.label;
}

// A console that takes no colour sequences gets the texts without them; any
// other escape, and a bracket that is no colour, stay.
TEST(ConsoleOutput, WithoutColours) {
    const struct {
        std::u16string_view text;
        std::u16string_view shown;
    } cases[] = {
        {u"\r\n\x1b[37;40m脚本データ\x1b[33mぺるもあ\x1b[0m", u"\r\n脚本データぺるもあ"},
        {u"\x1b[30;41m", u""},
        {u"a\x1b[2Jb [1m \x1b[1", u"a\x1b[2Jb [1m \x1b[1"},
        {u"\x1b\x1b[31mx", u"\x1bx"},
    };
    for (const auto& c : cases) EXPECT_EQ(withoutColours(c.text), c.shown);
}

}  // namespace
}  // namespace taletab
