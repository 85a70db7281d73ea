// The console texts in each form they go out in. The UTF-16 form is what a
// Windows console gets through WriteConsoleW, which wine cannot show the
// tests: it is checked here, character for character.
#include "console_output.h"

#include <gtest/gtest.h>

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
