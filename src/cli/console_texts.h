// Every text the program prints, in Shift-JIS, each with its Japanese beside
// it. They are written with LF line ends; the console gets CR LF. Colours are
// ECMA-48 SGR sequences: 30;41 black on red, 37;40 white on black, 33 yellow,
// 34 blue, 37 white. "%s" is filled with a file name.
#pragma once

#include <string_view>

namespace taletab::texts {

// "\n\x1b[37;40m脚本データ → ＨＴＭＬ　変換ソフト　"
inline constexpr std::string_view kBannerTitle =
    "\n\x1b[37;40m\x8br\x96{\x83" "f\x81[\x83^ \x81\xa8 \x82g\x82s\x82l\x82k\x81@"
    "\x95\xcf\x8a\xb7\x83\x5c\x83t\x83g\x81@";
// "\x1b[33mぺるもあ ver 1.03\n"
inline constexpr std::string_view kBannerVersion =
    "\x1b[33m\x82\xd8\x82\xe9\x82\xe0\x82\xa0 ver 1.03\n";
inline constexpr std::string_view kBannerNotice =
    "\t\t\t\t\t\x1b[34mFree software under the MIT License.\n\n";
inline constexpr std::string_view kBannerEnd = "\x1b[37m";

inline constexpr std::string_view kUsageColour = "\x1b[37;40m";
// "\tよいこのただしい利用法\n"
inline constexpr std::string_view kUsageTitle =
    "\t\x82\xe6\x82\xa2\x82\xb1\x82\xcc\x82\xbd\x82\xbe\x82\xb5\x82\xa2\x97\x98\x97p\x96@\n";
inline constexpr std::string_view kUsageSynopsis = "\t\tTaletab.exe [Filename1] [Filename2]\n\n";
// "\t\t\t[Filename1]…変換前のファイル名を指定\n"
inline constexpr std::string_view kUsageScript =
    "\t\t\t[Filename1]\x81" "c\x95\xcf\x8a\xb7\x91O\x82\xcc\x83t\x83@\x83" "C\x83\x8b"
    "\x96\xbc\x82\xf0\x8ew\x92\xe8\n";
// "\t\t\t\t※当然「ぺるもあ」互換ファイルである事！\n\n"
inline constexpr std::string_view kUsageScriptNote =
    "\t\t\t\t\x81\xa6\x93\x96\x91R\x81u\x82\xd8\x82\xe9\x82\xe0\x82\xa0\x81v\x8c\xdd\x8a\xb7"
    "\x83t\x83@\x83" "C\x83\x8b\x82\xc5\x82\xa0\x82\xe9\x8e\x96\x81I\n\n";
// "\t\t\t[Filename2]…変換後の書込み先のファイルを指定\n"
inline constexpr std::string_view kUsagePage =
    "\t\t\t[Filename2]\x81" "c\x95\xcf\x8a\xb7\x8c\xe3\x82\xcc\x8f\x91\x8d\x9e\x82\xdd\x90\xe6"
    "\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x82\xf0\x8ew\x92\xe8\n";

// "\x1b[30;41mファイル名を指定してください。\n"
inline constexpr std::string_view kNoFileName =
    "\x1b[30;41m\x83t\x83@\x83" "C\x83\x8b\x96\xbc\x82\xf0\x8ew\x92\xe8\x82\xb5\x82\xc4"
    "\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B\n";
// "\x1b[30;41m脚本ファイル”%s”が存在しません。\n"
inline constexpr std::string_view kScriptMissing =
    "\x1b[30;41m\x8br\x96{\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xaa\x91\xb6\x8d\xdd"
    "\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x81" "B\n";
// "\x1b[30;41m変換先のファイル名が指定されていません。\n"
inline constexpr std::string_view kNoPageName =
    "\x1b[30;41m\x95\xcf\x8a\xb7\x90\xe6\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x96\xbc\x82\xaa"
    "\x8ew\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81" "B\n";
// "\x1b[37;40mしょうがないので”%s”上へ書込みます。\n"
inline constexpr std::string_view kDefaultPageName =
    "\x1b[37;40m\x82\xb5\x82\xe5\x82\xa4\x82\xaa\x82\xc8\x82\xa2\x82\xcc\x82\xc5\x81h%s\x81h"
    "\x8f\xe3\x82\xd6\x8f\x91\x8d\x9e\x82\xdd\x82\xdc\x82\xb7\x81" "B\n";
// "\x1b[30;41m変換先のファイル”%s”は脚本ファイルそのものです。\n"
inline constexpr std::string_view kPageIsScript =
    "\x1b[30;41m\x95\xcf\x8a\xb7\x90\xe6\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xcd"
    "\x8br\x96{\x83t\x83@\x83" "C\x83\x8b\x82\xbb\x82\xcc\x82\xe0\x82\xcc\x82\xc5\x82\xb7\x81"
    "B\n";
// "\x1b[30;41m変換先のファイル”%s”を作成できません。\n"
inline constexpr std::string_view kPageNotCreated =
    "\x1b[30;41m\x95\xcf\x8a\xb7\x90\xe6\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xf0"
    "\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81" "B\n";
// "\x1b[30;41m変換先のファイル”%s”はＨＴＭＬファイルではないので上書きしません。\n"
inline constexpr std::string_view kPageNotHtml =
    "\x1b[30;41m\x95\xcf\x8a\xb7\x90\xe6\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xcd"
    "\x82g\x82s\x82l\x82k\x83t\x83@\x83" "C\x83\x8b\x82\xc5\x82\xcd\x82\xc8\x82\xa2\x82\xcc"
    "\x82\xc5\x8f\xe3\x8f\x91\x82\xab\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x81" "B\n";
// "\x1b[30;41m変換先のファイル”%s”への書込みに失敗しました。\n"
inline constexpr std::string_view kPageWriteFailed =
    "\x1b[30;41m\x95\xcf\x8a\xb7\x90\xe6\x82\xcc\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xd6"
    "\x82\xcc\x8f\x91\x8d\x9e\x82\xdd\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81"
    "B\n";
// "\x1b[30;41m脚本ファイル”%s”の読込みに失敗しました。\n"
inline constexpr std::string_view kScriptReadFailed =
    "\x1b[30;41m\x8br\x96{\x83t\x83@\x83" "C\x83\x8b\x81h%s\x81h\x82\xcc\x93\xc7\x8d\x9e\x82\xdd"
    "\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B\n";
// "\x1b[37;40m何かキーを押すと閉じます。\n": when the window closes with the program
inline constexpr std::string_view kPressAKey =
    "\x1b[37;40m\x89\xbd\x82\xa9\x83L\x81[\x82\xf0\x89\x9f\x82\xb7\x82\xc6\x95\xc2\x82\xb6\x82\xdc"
    "\x82\xb7\x81" "B\n";
// "\x1b[37;40m読めない文字が%s個ありました。\n": before the completion message,
// where characters of a UTF-8 or UTF-16 script became "&#xFFFD;"; "%s" is their count
inline constexpr std::string_view kUnreadable =
    "\x1b[37;40m\x93\xc7\x82\xdf\x82\xc8\x82\xa2\x95\xb6\x8e\x9a\x82\xaa%s\x8c\xc2\x82\xa0\x82\xe8\x82\xdc"
    "\x82\xb5\x82\xbd\x81" "B\n";
// "正常に完了しました。\n\n"
inline constexpr std::string_view kDone =
    "\x90\xb3\x8f\xed\x82\xc9\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B\n\n";

// Where the page goes when no name is given for it: the current directory
// (beside the script where the program has a console window of its own).
inline constexpr std::string_view kDefaultPage = "permoa.htm";

}  // namespace taletab::texts
