// The decoder: which encoding a script is taken to be in, and the Shift-JIS
// rows it hands on, whatever the blocks the script arrives in.
#include "script_decoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "code_page_932.h"
#include "converter.h"
#include "script_generator.h"
#include "unicode.h"

namespace taletab {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::pair<std::string, std::string>>;

const std::string kFiller = "\x81\x40";  // "　"
const std::string kBom = "\xEF\xBB\xBF";

std::string example() {
    std::ifstream file(TALETAB_EXAMPLES "/scene.txt", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The same text saved as UTF-8, through the code page 932 table.
std::string utf8Form(std::string_view shiftJis) {
    std::string out;
    while (!shiftJis.empty()) {
        const cp932::Decoded c = cp932::decode(shiftJis);
        if (c.length == 0) {
            ADD_FAILURE() << "not Shift-JIS at " << out.size();
            return out;
        }
        appendUtf8(out, c.codePoint);
        shiftJis.remove_prefix(c.length);
    }
    return out;
}

// UTF-16 bytes with the byte order mark, as Notepad saves "Unicode" (little-endian) and big-endian.
std::string utf16Bytes(std::u16string_view units, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

// The same text saved as UTF-16, from its UTF-8 form.
std::string utf16Form(std::string_view utf8, bool bigEndian) {
    std::u16string units;
    const std::u32string text = unicode::fromUtf8(utf8).value_or(U"not UTF-8");
    for (const char32_t c : text) unicode::appendUtf16(units, c);
    return utf16Bytes(units, bigEndian);
}

// The JIS X 0208 row and cell (1 to 94 each) of a Shift-JIS pair; row 0 for a pair beyond row 94.
std::pair<unsigned, unsigned> rowAndCell(unsigned char lead, unsigned char trail) {
    const unsigned row = (lead < 0xA0 ? lead - 0x81 : lead - 0xC1) * 2 + (trail >= 0x9F ? 2 : 1);
    const unsigned cell = trail >= 0x9F ? trail - 0x9E : trail - 0x3F - (trail >= 0x80);
    return {row <= 94 ? row : 0, cell};
}

// The same text saved as EUC-JP (`iso2022` false) or ISO-2022-JP, which
// switches to JIS X 0208 and back to ASCII around each run of pairs.
std::string jisForm(std::string_view shiftJis, bool iso2022) {
    std::string out;
    enum { kAscii, kPairs, kHalfWidth } set = kAscii;
    const auto switchTo = [&](decltype(set) to) {
        if (iso2022 && set != to) out += to == kAscii ? "\x1B(B" : to == kPairs ? "\x1B$B" : "\x1B(I";
        set = to;
    };
    for (std::size_t at = 0; at < shiftJis.size();) {
        const auto lead = static_cast<unsigned char>(shiftJis[at]);
        if (lead < 0x80) {
            switchTo(kAscii);
            out += shiftJis[at++];
        } else if (lead >= 0xA1 && lead <= 0xDF) {
            switchTo(kHalfWidth);
            out += iso2022 ? std::string{static_cast<char>(lead - 0x80)} : std::string{"\x8E"} + shiftJis[at];
            ++at;
        } else {
            const auto [row, cell] = rowAndCell(lead, static_cast<unsigned char>(shiftJis[at + 1]));
            if (row == 0) ADD_FAILURE() << "no JIS X 0208 form at " << at;
            switchTo(kPairs);
            const char offset = iso2022 ? 0x20 : static_cast<char>(0xA0);
            out += static_cast<char>(row + offset);
            out += static_cast<char>(cell + offset);
            at += 2;
        }
    }
    switchTo(kAscii);
    return out;
}

std::string eucForm(std::string_view shiftJis) { return jisForm(shiftJis, false); }
std::string isoForm(std::string_view shiftJis) { return jisForm(shiftJis, true); }

// UTF-16 without the byte order mark, as some programs save it.
std::string utf16FormWithoutMark(std::string_view utf8, bool bigEndian) { return utf16Form(utf8, bigEndian).substr(2); }

std::string generated(std::uint64_t seed, std::size_t bytes) { return bench::generateScript(seed, bytes); }

// Lines of ASCII only, about the given size, before whatever follows.
std::string asciiLines(std::size_t bytes) {
    std::string out;
    while (out.size() + 20 <= bytes) out += "Narrator\tplain text\r\n";
    return out + std::string(bytes - out.size(), 'x') + "\r\n";
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

struct Decoded {
    ScriptEncoding encoding;
    Rows rows;
};

// Feeds the script in blocks of the given size (0: whole) and collects the rows.
Decoded decode(std::string_view script, std::size_t blockSize = 0) {
    Rows rows;
    ScriptDecoder decoder([&rows](const ScriptRow& row) {
        rows.emplace_back(std::string(row.name), std::string(row.text));
    });
    if (blockSize == 0) blockSize = script.size() + 1;
    for (std::size_t at = 0; at < script.size(); at += blockSize) decoder.feed(script.substr(at, blockSize));
    decoder.finish();
    return {decoder.encoding(), rows};
}

// The rows a Shift-JIS script gives the reader itself, byte for byte.
Rows readerRows(std::string_view script) {
    Rows rows;
    ScriptReader reader([&rows](const ScriptRow& row) {
        rows.emplace_back(std::string(row.name), std::string(row.text));
    });
    reader.feed(script);
    reader.finish();
    return rows;
}

// Compares rows, showing only the first that differs: the scripts are long.
testing::AssertionResult sameRows(const Rows& got, const Rows& expected) {
    if (got == expected) return testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
    testing::AssertionResult failure = testing::AssertionFailure();
    failure << got.size() << " rows where " << expected.size() << " were expected; the first difference is at row "
            << i;
    if (i < got.size() && i < expected.size()) {
        failure << ": " << testing::PrintToString(got[i]) << " where " << testing::PrintToString(expected[i])
                << " was expected";
    }
    return failure;
}

std::string testName(const char* label) {
    std::string name;
    for (const char* c = label; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

// Which encoding a script is taken to be in. Each case's rows must be those
// the reader gives for `sameAs`, the script as it would be in Shift-JIS.
struct DetectionCase {
    const char* label;
    std::string script;
    ScriptEncoding encoding;
    std::string sameAs;
};

void PrintTo(const DetectionCase& c, std::ostream* out) { *out << c.label; }

DetectionCase shiftJis(const char* label, std::string script) {
    return {label, script, ScriptEncoding::kShiftJis, script};
}

DetectionCase utf8(const char* label, std::string script, std::string sameAs) {
    return {label, std::move(script), ScriptEncoding::kUtf8, std::move(sameAs)};
}

DetectionCase utf16(const char* label, std::string_view utf8, std::string sameAs, bool bigEndian) {
    return {label, utf16Form(utf8, bigEndian),
            bigEndian ? ScriptEncoding::kUtf16BigEndian : ScriptEncoding::kUtf16LittleEndian, std::move(sameAs)};
}

DetectionCase euc(const char* label, std::string shiftJis) {
    return {label, eucForm(shiftJis), ScriptEncoding::kEucJp, shiftJis};
}

DetectionCase iso(const char* label, std::string shiftJis) {
    return {label, isoForm(shiftJis), ScriptEncoding::kIso2022Jp, shiftJis};
}

DetectionCase utf16WithoutMark(const char* label, const std::string& shiftJis, bool bigEndian) {
    return {label, utf16FormWithoutMark(utf8Form(shiftJis), bigEndian),
            bigEndian ? ScriptEncoding::kUtf16BigEndian : ScriptEncoding::kUtf16LittleEndian, shiftJis};
}

const std::string kExample = example();
// A UTF-8 script with one byte that is no UTF-8 (0xFF) at a line's start past the judged bytes, or among them.
const std::string kLonger = generated(8, 160 * 1024);
const std::size_t kLaterOn = kLonger.find("\r\n", 2 * kJudgedBytes) + 2;
const std::size_t kEarlyOn = kLonger.find("\r\n", 1000) + 2;
// The first Japanese character cut by the program's first block after its
// first byte, and the judged bytes cut by it 500 bytes in.
const std::string kCutAtBlock = asciiLines(kScriptBlockSize - 3) + kLonger;
const std::string kJudgedCutAtBlock = asciiLines(kScriptBlockSize - 502) + kLonger;
// The judged bytes from the first あ on end one byte into the 342nd.
const std::string kCutByJudged = "x\t" + repeated("\x82\xa0", 400) + "\r\n";

const DetectionCase kDetectionCases[] = {
    // Shift-JIS stays Shift-JIS, byte for byte
    shiftJis("the example", kExample),
    shiftJis("generated seed 1", generated(1, 64 * 1024)),
    shiftJis("generated seed 2", generated(2, 64 * 1024)),
    shiftJis("generated seed 3", generated(3, 300 * 1024)),
    shiftJis("generated seed 4, short", generated(4, 600)),
    shiftJis("generated seed 5, short", generated(5, 200)),
    shiftJis("generated seed 6, one line", generated(6, 60)),
    // ﾊﾙｶ	ｺﾞﾒﾝ､ｵｿｸﾅｯﾀ｡ / ｿｳﾀ	ﾏﾀﾈ
    shiftJis("half-width katakana only",
             "\xca\xd9\xb6\t\xba\xde\xd2\xdd\xa4\xb5\xbf\xb8\xc5\xaf\xc0\xa1\r\n\xbf\xb3\xc0\t\xcf\xc0\xc8\r\n"),
    // ﾃｽﾄｱ: the bytes C3 BD C4 B1 are also valid two-byte UTF-8 ("ýı")
    shiftJis("half-width katakana that pair up as UTF-8", "\xc3\xbd\xc4\xb1\r\n"),
    shiftJis("one kanji only", "\x8a\xbf\r\n"),  // 漢
    // 縺 (E3 81) is also the start of a three-byte UTF-8 character, cut by the end
    shiftJis("one kanji at the very end", "\xe3\x81"),
    shiftJis("one kanji after ASCII, at the very end", "a\tb\r\nc\t\xe3\x81"),
    // 縺０縺, or "あO" in UTF-8 and a character the end cuts short: the cut counts against Shift-JIS as
    // much as against UTF-8, and the kana is likelier than kanji made of UTF-8's bytes
    utf8("UTF-8 cut short by the very end", "\xe3\x81\x82\x4f\xe3\x81", "\x82\xa0O&#xFFFD;&#xFFFD;"),
    shiftJis("300 KiB of ASCII before the first Japanese", asciiLines(300 * 1024) + kExample),
    // Short Shift-JIS that is valid UTF-8 too: the likelier reading is Shift-JIS
    shiftJis("a rare kanji and a common one that read as UTF-8", "A\t\xe8\x87\x92\x6c\n"),  // 閾値
    shiftJis("two rare kanji that read as UTF-8", "\xe7\x73\xe7\x72"),                        // 羚羊
    shiftJis("half-width katakana before kanji", "\xdb\xb0\xd9\x88\xea\x97\x97\r\n"),          // ﾛｰﾙ一覧
    shiftJis("plain ASCII", "Narrator\tplain text\r\n"),
    shiftJis("a cut byte order mark", "\xEF\xBB"),
    // Judged by products past 2^32: 65534 x 65536 for UTF-8 against 131072 x 32768 for Shift-JIS
    shiftJis("a judging whose products pass 32 bits", "x\t\xDC\xA1" + repeated("\xC3\xA1", 32767) + "\r\n"),

    // UTF-8 is recognised, with or without the byte order mark
    utf8("the example in UTF-8", utf8Form(kExample), kExample),
    utf8("the example in UTF-8 with the mark", kBom + utf8Form(kExample), kExample),
    utf8("generated seed 1 in UTF-8", utf8Form(generated(1, 64 * 1024)), generated(1, 64 * 1024)),
    utf8("generated seed 2 in UTF-8 with the mark", kBom + utf8Form(generated(2, 64 * 1024)),
         generated(2, 64 * 1024)),
    utf8("generated seed 5, short, in UTF-8", utf8Form(generated(5, 200)), generated(5, 200)),
    utf8("300 KiB of ASCII before the first Japanese, in UTF-8", asciiLines(300 * 1024) + utf8Form(kExample),
         asciiLines(300 * 1024) + kExample),
    utf8("a character cut by the program's first block", utf8Form(kCutAtBlock), kCutAtBlock),
    utf8("the judged bytes cut by the program's first block", utf8Form(kJudgedCutAtBlock), kJudgedCutAtBlock),
    utf8("a character cut by the end of the judged bytes", utf8Form(kCutByJudged), kCutByJudged),
    utf8("one invalid byte later on",
         utf8Form(kLonger.substr(0, kLaterOn)) + "\xFF" + utf8Form(kLonger.substr(kLaterOn)),
         kLonger.substr(0, kLaterOn) + "&#xFFFD;" + kLonger.substr(kLaterOn)),
    utf8("one invalid byte among the judged ones",
         utf8Form(kLonger.substr(0, kEarlyOn)) + "\x92" + utf8Form(kLonger.substr(kEarlyOn)),
         kLonger.substr(0, kEarlyOn) + "&#xFFFD;" + kLonger.substr(kEarlyOn)),
    // あ in UTF-8, then 漢 in Shift-JIS after the end
    utf8("0x1A ends the judged bytes", "\xE3\x81\x82\r\n\x1a\x8a\xbf", "\x82\xa0\r\n"),
    utf8("the mark before ASCII only", kBom + "a\tb\r\n", "a\tb\r\n"),
    utf8("the mark alone", kBom, ""),
    utf8("the mark before bytes that are no UTF-8", kBom + "\x8a\xbf\r\n", "&#xFFFD;&#xFFFD;\r\n"),
    utf8("one emoji", "\xF0\x9F\x98\x80", "&#x1F600;"),
    // A few bad bytes among good characters, and characters of two bytes only, are UTF-8 all the same
    utf8("a Latin-1 byte before kana", "\xe9\n\x41\t\xe3\x81\x82\n", "&#xFFFD;\n\x41\t\x82\xa0\n"),
    utf8("a sign of two bytes in English", "Copyright \xc2\xa9 2015 - 2020\n", "Copyright &#xA9; 2015 - 2020\n"),
    utf8("a micro sign", "\xc2\xb5s\n", "&#xB5;s\n"),
    utf8("Greek only", "\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac\n",  // Ελληνικά
         "\x83\xa3\x83\xc9\x83\xc9\x83\xc5\x83\xcb\x83\xc7\x83\xc8&#x3AC;\n"),

    // UTF-16 with its mark, as Notepad's "Unicode" saves it, and big-endian
    utf16("the example in UTF-16", utf8Form(kExample), kExample, false),
    utf16("the example in big-endian UTF-16", utf8Form(kExample), kExample, true),
    utf16("generated seed 1 in UTF-16", utf8Form(generated(1, 64 * 1024)), generated(1, 64 * 1024), false),
    utf16("an emoji, a pair of surrogates", "a\t\xF0\x9F\x98\x80\r\n", "a\t&#x1F600;\r\n", false),
    utf16("an emoji in big-endian UTF-16", "a\t\xF0\x9F\x98\x80\r\n", "a\t&#x1F600;\r\n", true),
    utf16("the UTF-16 mark alone", "", "", false),
    utf16("0x1A ends the script", "\xE3\x81\x82\r\n\x1a\xE3\x81\x84", "\x82\xa0\r\n", false),
    shiftJis("the UTF-16 mark after ASCII is no mark", "a\r\n\xFF\xFE"),
    // Nothing after a 0x1A counts, not even for the encoding: あ in UTF-8 after it
    shiftJis("0x1A before the first byte beyond ASCII", "a\tb\r\n\x1a\xE3\x81\x82\r\n"),

    // EUC-JP and ISO-2022-JP, converted by row and cell
    euc("the example in EUC-JP", kExample),
    euc("generated seed 1 in EUC-JP", generated(1, 64 * 1024)),
    euc("generated seed 5, short, in EUC-JP", generated(5, 200)),
    euc("generated seed 6, one line, in EUC-JP", generated(6, 60)),
    euc("300 KiB of ASCII before the first Japanese, in EUC-JP", asciiLines(300 * 1024) + kExample),
    euc("EUC-JP's half-width katakana", "\xca\xd9\xb6\t\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n"),  // ﾊﾙｶ	こんにちは
    {"EUC-JP's supplementary kanji", "\xa4\xa2\xa4\xa4\xa4\xa6\t\x8f\xb0\xa1\x8f\xd4\xe3\r\n", ScriptEncoding::kEucJp,
     "\x82\xa0\x82\xa2\x82\xa4\t&#x4E02;\xed\x40\r\n"},  // あいう	丂纊: one Shift-JIS lacks, one it has
    iso("the example in ISO-2022-JP", kExample),
    iso("generated seed 1 in ISO-2022-JP", generated(1, 64 * 1024)),
    iso("generated seed 6, one line, in ISO-2022-JP", generated(6, 60)),
    iso("ISO-2022-JP's half-width katakana", "\xca\xd9\xb6\t\x82\xb1\x82\xf1\r\n"),
    {"ISO-2022-JP's supplementary kanji", "a\t\x1B$(D\x30\x21\x54\x63\x1B(B\r\n", ScriptEncoding::kIso2022Jp,
     "a\t&#x4E02;\xed\x40\r\n"},
    shiftJis("an ESC that switches to no set", "\x1B[1mbold\x1B[0m\r\n"),

    // UTF-16 without its mark, when the first bytes leave no doubt
    utf16WithoutMark("the example in UTF-16 without the mark", kExample, false),
    utf16WithoutMark("the example in big-endian UTF-16 without the mark", kExample, true),
    utf16WithoutMark("generated seed 5, short, in UTF-16 without the mark", generated(5, 200), false),
    utf16WithoutMark("one line of UTF-16 without the mark", "\x83\x6e\x83\x8b\x83\x4a\t\x82\xa0\r\n", false),
    // 通 is 1A 90 in UTF-16: its 0x1A byte ends nothing, wherever the blocks are cut, and the bytes after it count
    utf16WithoutMark("UTF-16 without the mark, 通 first", "\x92\xca\t\x82\xa0\r\n", false),
    utf16WithoutMark("UTF-16 without the mark, 通 after a TAB", "\x82\xa0\t\x92\xca\x82\xa0\r\n", false),
    shiftJis("UTF-16 without the mark, 通 and a control character after it",
             utf16FormWithoutMark(utf8Form("\x82\xa0\t\x92\xca\x11\r\n"), false)),
    shiftJis("NUL bytes in Shift-JIS", "\x82\xa0\0\t\x82\xa2\0\r\n"s),
    shiftJis("UTF-16 without a line end or TAB is not taken for it", "a\0b\0c\0"s),

    // Short files: a lead byte the end cuts off counts against Shift-JIS
    utf8("a kanji of three bytes at the very end", "\xe4\xbe\x91", "\x98\xd0"),  // 侑
    utf8("one arrow", "\xe2\x86\x92", "\x81\xa8"),                             // →
    // 丂, which Shift-JIS lacks: read as Shift-JIS, an unlikely kanji and a lead byte cut off
    utf8("a kanji Shift-JIS lacks at the very end", "\xe4\xb8\x82", "&#x4E02;"),

    // Words alone, valid in both: read as Shift-JIS, UTF-8's kanji give a kanji of a UTF-8 lead and continuation
    // byte, then a character of a continuation byte and the next lead, then two continuation bytes
    utf8("two common kanji in UTF-8", "\xe5\xb8\x82\xe9\x83\xa8", "\x8e\x73\x95\x94"),  // 市部, not 蟶るΚ
    utf8("two rare kanji in UTF-8", "\xe8\x96\x94\xe8\x96\x87", "\xe5\x4b\xe5\x4e"),  // 薔薇, not 阮碑枚
    utf8("a sign and a kanji in UTF-8", "\xe2\x89\x92\xe8\x83\x8c", "\x81\xe0\x94\x77"),  // ≒背, not 竕定レ
    utf8("two kanji and ASCII letters in UTF-8", "\xe6\x9c\x89\xe5\x8a\xb9ID", "\x97\x4c\x8c\xf8ID"),  // 有効ID
    // 譏る: its る ends in a UTF-8 lead, but no character of UTF-8 follows it
    shiftJis("a kana after a kanji of UTF-8's bytes, at the very end", "\xe6\x98\x82\xe9"),
    // 驕り高, or in UTF-8 遂 and 荂, a kanji Shift-JIS lacks
    shiftJis("a word that reads as UTF-8 with a kanji Shift-JIS lacks", "\xe9\x81\x82\xe8\x8d\x82"),
};

class DetectionTest : public testing::TestWithParam<DetectionCase> {};

TEST_P(DetectionTest, TakesTheScriptForItsEncoding) {
    const Decoded whole = decode(GetParam().script);
    EXPECT_EQ(whole.encoding, GetParam().encoding);
    EXPECT_TRUE(sameRows(whole.rows, readerRows(GetParam().sameAs)));
}

// The judged bytes and a character may be cut anywhere: nothing may change.
TEST_P(DetectionTest, DoesNotDependOnBlocks) {
    const Decoded whole = decode(GetParam().script);
    const std::size_t blockSizes[] = {1, 2, 3, 500, 1023, 1024, 1025, 4096, 65536, kScriptBlockSize};
    for (const std::size_t blockSize : blockSizes) {
        const Decoded cut = decode(GetParam().script, blockSize);
        EXPECT_EQ(cut.encoding, whole.encoding) << "block size " << blockSize;
        EXPECT_TRUE(sameRows(cut.rows, whole.rows)) << "block size " << blockSize;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DetectionTest, testing::ValuesIn(kDetectionCases),
                         [](const testing::TestParamInfo<DetectionCase>& param) {
                             return testName(param.param.label);
                         });

// What a UTF-8 script's names and texts become. Each script starts with the
// byte order mark, which makes it UTF-8 whatever follows.
struct ConversionCase {
    const char* label;
    std::string script;
    Rows rows;
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.label; }

const ConversionCase kConversionCases[] = {
    // Characters with a Shift-JIS form take it
    {"kana and kanji", kBom + "ハルカ\t漢字\r\n", {{"\x83\x6e\x83\x8b\x83\x4a", "\x8a\xbf\x8e\x9a"}}},
    {"half-width katakana take one byte", kBom + "ﾊ\tｱ\r\n", {{"\xca", "\xb1"}}},
    {"heading gets the filler", kBom + "第一\r\n", {{"\x91\xe6\x88\xea", kFiller}}},
    {"empty line gets the filler", kBom + "\r\n", {{"", kFiller}}},
    {"markup, CR and TABs as ever", kBom + "<b>&amp;\r\tx\ty\r\n", {{"<b>&amp;\r", "y"}}},
    {"zero byte ends the field", kBom + "あ\0x\tい\r\n"s, {{"\x82\xa0", "\x82\xa2"}}},

    // Characters without one become references
    {"emoji and heart", kBom + "a\t😀♡\r\n", {{"a", "&#x1F600;&#x2661;"}}},
    {"accented letter", kBom + "café\r\n", {{"caf&#xE9;", kFiller}}},
    {"a second mark is a character", kBom + kBom + "a\r\n", {{"&#xFEFF;a", kFiller}}},

    // Text typed on a Mac: a kana and a sound mark after it are the kana they stand for, where Shift-JIS has it
    {"kana and sound marks composed", kBom + "か\u3099ハ\u309Aス停\tウ\u3099ゝ\u3099\r\n",
     {{"\x82\xaa\x83\x70\x83\x58\x92\xe2", "\x83\x94\x81\x55"}}},
    {"sound marks that compose nothing", kBom + "\u3099う\u3099\u3099ｶ\u3099\tあ\t\u309A\r\n",
     {{"&#x3099;\x82\xa4&#x3099;&#x3099;\xb6&#x3099;", "&#x309A;"}}},
    {"a sound mark after a character that cannot be read", kBom + "\xff\u3099\xef\xa3\xb3\u3099\r\n",
     {{"&#xFFFD;&#x3099;\xff&#x3099;", kFiller}}},

    // Each byte that begins no valid character becomes U+FFFD
    {"bytes that are never UTF-8", kBom + "a\xFF\xFE\xC0\xC1\xF5 \r\n",
     {{"a" + repeated("&#xFFFD;", 5) + " ", kFiller}}},
    {"lone continuation byte", kBom + "\x80x\r\n", {{"&#xFFFD;x", kFiller}}},
    {"text with the filler's bytes is no heading", kBom + "a\t\x81\x40\r\n", {{"a", "&#xFFFD;@"}}},
    {"character cut by a TAB", kBom + "\xE3\x81\tx\r\n", {{"&#xFFFD;&#xFFFD;", "x"}}},
    {"character cut by the line end", kBom + "x\t\xE3\x81\r\n", {{"x", "&#xFFFD;&#xFFFD;"}}},
    {"character cut by the end", kBom + "x\t\xF0\x9F\x98", {{"x", "&#xFFFD;&#xFFFD;&#xFFFD;"}}},
    {"overlong slash", kBom + "\xC0\xAF\xE0\x80\xAF\r\n", {{repeated("&#xFFFD;", 5), kFiller}}},
    {"surrogate", kBom + "\xED\xA0\x80\r\n", {{repeated("&#xFFFD;", 3), kFiller}}},
    {"past U+10FFFF", kBom + "\xF4\x90\x80\x80\r\n", {{repeated("&#xFFFD;", 4), kFiller}}},
    {"highest code point", kBom + "\xF4\x8F\xBF\xBF\r\n", {{"&#x10FFFF;", kFiller}}},
    {"valid character after a bad byte", kBom + "\xE3\xE3\x81\x82\r\n", {{"&#xFFFD;\x82\xa0", kFiller}}},
};

class ConversionTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, ConvertsToShiftJis) {
    for (std::size_t blockSize : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 64}) {
        const Decoded decoded = decode(GetParam().script, blockSize);
        EXPECT_EQ(decoded.encoding, ScriptEncoding::kUtf8);
        EXPECT_EQ(decoded.rows, GetParam().rows) << "block size " << blockSize;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConversionTest, testing::ValuesIn(kConversionCases),
                         [](const testing::TestParamInfo<ConversionCase>& param) {
                             return testName(param.param.label);
                         });

// A 0x1A ends the script as soon as it is fed, even while the encoding is
// still being judged: a script from a pipe that never closes must end there.
TEST(DecoderEndTest, EndsWithTheBlockThatHoldsA0x1A) {
    const std::string scripts[] = {
        "\x82\xa0\t\x82\xa2\r\n\x1a\x82\xa4",  // あ	い, then う after the end
        "\xE3\x81\x82\t\xE3\x81\x84\r\n\x1a\xE3\x81\x86",
        utf16Bytes(u"\x3042\t\x3044\r\n\x1a\x3046", false),
        utf16Bytes(u"\x3042\t\x3044\r\n\x1a\x3046", true),
    };
    for (const std::string& script : scripts) {
        Rows rows;
        ScriptDecoder decoder([&rows](const ScriptRow& row) {
            rows.emplace_back(std::string(row.name), std::string(row.text));
        });
        decoder.feed(script);
        EXPECT_TRUE(decoder.ended()) << testing::PrintToString(script);
        EXPECT_EQ(rows, (Rows{{"\x82\xa0", "\x82\xa2"}})) << testing::PrintToString(script);
    }
}

// A byte order mark decides the encoding at once: the rows after it go on
// without waiting for the bytes that judge a script without one.
TEST(DecoderEndTest, AByteOrderMarkDecidesAtOnce) {
    const std::string scripts[] = {
        kBom + "\xE3\x81\x82\t\xE3\x81\x84\r\nx",
        utf16Bytes(u"\x3042\t\x3044\r\nx", false),
        utf16Bytes(u"\x3042\t\x3044\r\nx", true),
    };
    for (const std::string& script : scripts) {
        Rows rows;
        ScriptDecoder decoder([&rows](const ScriptRow& row) {
            rows.emplace_back(std::string(row.name), std::string(row.text));
        });
        for (const char byte : script) decoder.feed(std::string_view(&byte, 1));
        EXPECT_NE(decoder.encoding(), ScriptEncoding::kShiftJis) << testing::PrintToString(script);
        EXPECT_EQ(rows, (Rows{{"\x82\xa0", "\x82\xa2"}})) << testing::PrintToString(script);
    }
}

// Without a mark, the first kStartBytes decide between UTF-16 and the rest:
// once they are in, the rows after them go on, even where the last of them
// is a 0x1A whose next byte would have told whether it ends the script.
TEST(DecoderEndTest, TheFirstBytesDecideOnceTheyAreIn) {
    std::u16string units = u"\x3042\t\x3044\r\n";
    units.resize(kStartBytes / 2 - 1, u'\x3046');
    units += u"\x1A42\r\n\x3048\t\x304A\r\nx";  // 42 1A: the last byte held is 0x1A
    const std::string script = utf16Bytes(units, false).substr(2);
    Rows rows;
    ScriptDecoder decoder([&rows](const ScriptRow& row) { rows.emplace_back(std::string(row.name), std::string(row.text)); });
    for (std::size_t at = 0; at < script.size(); at += 512) decoder.feed(std::string_view(script).substr(at, 512));
    EXPECT_EQ(decoder.encoding(), ScriptEncoding::kUtf16LittleEndian);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.back(), (Rows::value_type{"\x82\xa6", "\x82\xa8"}));
}

// What cannot be read becomes U+FFFD, and is counted: every "&#xFFFD;" in
// the rows, never a byte of a Shift-JIS script, which passes as it is.
TEST(UnreadableTest, CharactersThatCannotBeReadAreCounted) {
    const struct {
        const char* label;
        std::string script;
        Rows rows;
        std::uint64_t unreadable;
    } cases[] = {
        {"a UTF-16 pair without its second half", utf16Bytes(u"a\xD83D\tb\r\n", false),
         {{"a&#xFFFD;", "b"}}, 1},
        {"a UTF-16 second half alone", utf16Bytes(u"\xDE00x\r\n", true), {{"&#xFFFD;x", kFiller}}, 1},
        {"a UTF-16 pair cut by the end", utf16Bytes(u"x\t\xD83D", false), {{"x", "&#xFFFD;"}}, 1},
        {"a last byte without its pair", utf16Bytes(u"x\ty", false) + "\x41", {{"x", "y&#xFFFD;"}}, 1},
        {"U+FFFD itself in UTF-16", utf16Bytes(u"\xFFFD\r\n", false), {{"&#xFFFD;", kFiller}}, 1},
        {"stray bytes in UTF-8", kBom + "\xE9\r\nA\t\xE3\x81\x82\x92\r\n",
         {{"&#xFFFD;", kFiller}, {"A", "\x82\xa0&#xFFFD;"}}, 2},
        {"bytes no Shift-JIS character begins with", "\xFF\x80\xA0\t\x81\r\n",
         {{"\xFF\x80\xA0", "\x81"}}, 0},
        {"a reference typed in the text", kBom + "a\t&#xFFFD;\r\n", {{"a", "&#xFFFD;"}}, 0},
        // U+F8F3 is the byte FF in Shift-JIS
        {"the character of the byte FF after a stray byte", kBom + "\x92\xEF\xA3\xB3\r\n",
         {{"&#xFFFD;\xFF", kFiller}}, 1},
        {"a whole UTF-16 script", utf16Form(utf8Form(kExample), false), readerRows(kExample), 0},
        // あ sixteen times in EUC-JP, then a pair JIS X 0208 leaves empty and a byte that begins nothing
        {"EUC-JP's empty cells and stray bytes", repeated("\xa4\xa2", 16) + "\t\xa2\xaf\xff\r\n",
         {{repeated("\x82\xa0", 16), "&#xFFFD;&#xFFFD;"}}, 2},
        {"ISO-2022-JP's empty cells and a byte without its pair", "\x1B$B\x24\x22\x22\x2F\x24\t\x1B(Bx\r\n",
         {{"\x82\xa0&#xFFFD;&#xFFFD;", "x"}}, 2},
        // Judged 7-bit on its first bytes: a byte past 7F further on is no character, and FF no escape
        {"ISO-2022-JP's bytes past 7F beyond the judged bytes",
         "\x1B$B\x24\x22\x1B(B\tx\r\n" + repeated("a\tb\r\n", 14000) + "x\t\xFF\"\xFF\xFF\x80\r\n",
         [] {
             Rows rows{{"\x82\xa0", "x"}};
             rows.insert(rows.end(), 14000, {"a", "b"});
             rows.emplace_back("x", "&#xFFFD;\"&#xFFFD;&#xFFFD;&#xFFFD;");
             return rows;
         }(),
         4},
    };
    for (const auto& c : cases) {
        for (std::size_t blockSize : {0, 1, 2, 3, 5, 7}) {
            Rows rows;
            ScriptDecoder decoder([&rows](const ScriptRow& row) {
                rows.emplace_back(std::string(row.name), std::string(row.text));
            });
            const std::size_t size = blockSize == 0 ? c.script.size() + 1 : blockSize;
            for (std::size_t at = 0; at < c.script.size(); at += size) decoder.feed(std::string_view(c.script).substr(at, size));
            decoder.finish();
            EXPECT_EQ(rows, c.rows) << c.label << ", block size " << blockSize;
            EXPECT_EQ(decoder.unreadable(), c.unreadable) << c.label << ", block size " << blockSize;
        }
    }
}

// A UTF-16 script and its UTF-8 twin give the rows of the same text written
// in Shift-JIS with its references: the converted bytes go through the
// reader, so its TABs, line ends, NULs and 0x1A, and what cannot be read,
// must come out as if each row's own fields had been converted.
struct Twins {
    std::string littleEndian, bigEndian, utf8;  // each with its byte order mark
    std::string shiftJis;                       // the same text, "&#xFFFD;" for what cannot be read
};

// The text's code units, with a lone surrogate as U+FFFD and, where `oddByte`,
// one byte more at the end, which UTF-16 cannot read and UTF-8 has as 0xFF;
// after a first half, that byte is the start of its second: one character
// that cannot be read.
Twins twins(std::u16string_view units, bool oddByte = false) {
    Twins out{utf16Bytes(units, false), utf16Bytes(units, true), kBom, ""};
    for (const char32_t c : unicode::fromUtf16(units)) appendUtf8(out.utf8, c);
    // The Shift-JIS text has a kana and a sound mark after it composed.
    for (const char32_t c : unicode::composedKana(unicode::fromUtf16(units))) {
        char form[unicode::kLongestReference];
        std::size_t length = cp932::encode(c, form);
        if (length == 0) length = unicode::writeReference(c, form);
        out.shiftJis.append(form, length);
    }
    if (oddByte) {
        out.littleEndian += 'x';
        out.bigEndian += 'x';
        if (units.empty() || !unicode::isHighSurrogate(units.back())) {
            out.utf8 += '\xFF';
            out.shiftJis += "&#xFFFD;";
        }
    }
    return out;
}

std::uint64_t replacementsIn(const Rows& rows) {
    const std::string reference = "&#xFFFD;";
    std::uint64_t count = 0;
    for (const auto& [name, text] : rows) {
        for (const std::string* field : {&name, &text}) {
            for (std::size_t at = field->find(reference); at != std::string::npos;
                 at = field->find(reference, at + 1)) {
                ++count;
            }
        }
    }
    return count;
}

// Checks the three forms at each block size against the Shift-JIS text's rows.
void expectTwinsRead(const Twins& twins, const std::vector<std::size_t>& blockSizes, const std::string& label) {
    const Rows expected = readerRows(twins.shiftJis);
    for (const std::string* script : {&twins.littleEndian, &twins.bigEndian, &twins.utf8}) {
        const char* const form = script == &twins.utf8        ? "UTF-8"
                                 : script == &twins.bigEndian ? "big-endian"
                                                              : "little-endian";
        for (const std::size_t blockSize : blockSizes) {
            Rows rows;
            ScriptDecoder decoder([&rows](const ScriptRow& row) {
                rows.emplace_back(std::string(row.name), std::string(row.text));
            });
            const std::size_t size = blockSize == 0 ? script->size() + 1 : blockSize;
            for (std::size_t at = 0; at < script->size(); at += size) {
                decoder.feed(std::string_view(*script).substr(at, size));
            }
            decoder.finish();
            EXPECT_TRUE(sameRows(rows, expected)) << label << ", " << form << ", block size " << blockSize;
            EXPECT_EQ(decoder.unreadable(), replacementsIn(expected))
                << label << ", " << form << ", block size " << blockSize;
        }
    }
}

TEST(TwinTest, UnicodeFormsGiveTheRowsOfTheShiftJisText) {
    const struct {
        const char* label;
        std::u16string units;
        bool oddByte;
    } cases[] = {
        // Line ends and fields as the reader has them
        {"CR LF, a lone CR and a bare LF", u"\x3042\t\x3044\r\nb\rc\x6F22\nd\r", false},
        {"a later TAB starts the text again", u"\x540D\t\x4E2D\t\x672B\r\n", false},
        {"NUL ends a field", u"\x3042\0x\t\x3044\0y\r\n"s, false},
        {"0x1A ends the script", u"\x3042\t\x3044\r\n\x1A\x3046\t\xD83D\r\n", false},
        {"an empty line and a heading", u"\r\n\x7B2C\x4E00\r\n", false},
        // What cannot be read, and where it counts
        {"a lone high surrogate before TAB, CR, LF and NUL", u"a\xD83D\t\xD83D\r\n\xD83D\n\xD83D\0"s, false},
        {"a lone low surrogate, and two highs before a low", u"\xDE00\t\xD83D\xD83D\xDE00\r\n", false},
        {"a high surrogate last", u"a\t\xD83D", false},
        {"an odd last byte", u"a\t\x3042", true},
        {"an odd last byte after a high surrogate", u"a\t\xD83D", true},
        {"U+FFFD itself", u"\xFFFD\t\xFFFD\r\n", false},
        // U+F8F1 to U+F8F3 are the single bytes FD to FF in Shift-JIS
        {"the characters of the bytes FD to FF beside ones that cannot be read",
         u"\xF8F3\xD800\xF8F3\t\xF8F1\xF8F2\xF8F3\xDC00\r\n\xF8F3", true},
        {"not counted between TABs, after a NUL or after 0x1A",
         u"a\t\xD800\tb\r\nc\0\xD800\td\0\xDFFF\r\n\x1A\xD800"s, false},
        // Characters of every length, with and without a Shift-JIS form
        {"a pair, and characters without a form", u"\xD83D\xDE00\t\x2661\x00E9\x4E02\r\n", false},
        {"one byte in Shift-JIS: half-width katakana and U+0080", u"\xFF71\x0080\t\xFF9F\r\n", false},
        {"two bytes in UTF-8 with a Shift-JIS pair", u"\x03B1\x0416\t\x00A7\r\n", false},
        {"the forms several code points share", u"\x301C\x2016\x2212\x2014\t\xFF5E\x2225\xFF0D\x2015\r\n", false},
        {"nothing but the mark", u"", false},
        // Text typed on a Mac, composed; a sound mark after a TAB, a line end or a NUL composes nothing
        {"kana and sound marks", u"\x30CF\x309A\x30B9\t\x304B\x3099\x3046\x3099\r\n\x3099\x304B\0\x3099\t\x3099"s, false},
    };
    std::vector<std::size_t> blockSizes = {0, 64};
    for (std::size_t size = 1; size <= 16; ++size) blockSizes.push_back(size);
    for (const auto& c : cases) expectTwinsRead(twins(c.units, c.oddByte), blockSizes, c.label);
}

// A decision on thin or conflicting evidence is doubtful, and says so; a
// clear one, or one by a byte order mark, never.
TEST(DoubtTest, SaysWhenTheEncodingMayBeWrong) {
    const std::string joined = repeated(utf8Form(kExample), 3) + kExample;
    const struct {
        const char* label;
        std::string script;
        ScriptEncoding encoding;
        bool doubtful;
    } cases[] = {
        {"Shift-JIS", kExample, ScriptEncoding::kShiftJis, false},
        {"UTF-8", utf8Form(kExample), ScriptEncoding::kUtf8, false},
        {"UTF-16 without the mark", utf16FormWithoutMark(utf8Form(kExample), false),
         ScriptEncoding::kUtf16LittleEndian, false},
        {"EUC-JP", eucForm(kExample), ScriptEncoding::kEucJp, false},
        {"ISO-2022-JP", isoForm(kExample), ScriptEncoding::kIso2022Jp, false},
        {"one kanji in Shift-JIS", "\x88\xea\r\n", ScriptEncoding::kShiftJis, false},
        {"a short UTF-8 line with a stray byte", "\xe3\x81\x82\xe3\x81\x84\x92\r\n", ScriptEncoding::kUtf8, true},
        {"a UTF-8 script with a stray byte", "\x92" + utf8Form(kExample), ScriptEncoding::kUtf8, false},
        {"plain ASCII with terminal escapes", "\x1B[1mbold\x1B[0m\r\n", ScriptEncoding::kShiftJis, false},
        {"two kanji that read well both ways", "A\t\xe8\x87\x92\x6c\n", ScriptEncoding::kShiftJis, true},
        {"UTF-8 files joined with a Shift-JIS one", joined, ScriptEncoding::kUtf8, true},
        {"UTF-32", "\x42\x30\0\0\x09\0\0\0\x44\x30\0\0\x0a\0\0\0"s, ScriptEncoding::kShiftJis, true},
        {"the UTF-8 mark before Shift-JIS", kBom + kExample, ScriptEncoding::kUtf8, false},
    };
    for (const auto& c : cases) {
        for (std::size_t blockSize : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            ScriptDecoder decoder([](const ScriptRow&) {});
            const std::size_t size = blockSize == 0 ? c.script.size() + 1 : blockSize;
            for (std::size_t at = 0; at < c.script.size(); at += size) decoder.feed(std::string_view(c.script).substr(at, size));
            decoder.finish();
            EXPECT_EQ(decoder.encoding(), c.encoding) << c.label << ", block size " << blockSize;
            EXPECT_EQ(decoder.doubtful(), c.doubtful) << c.label << ", block size " << blockSize;
        }
    }
}

// Files joined, a UTF-8 one three times and a Shift-JIS one: read as UTF-8,
// the Shift-JIS lines' bytes are characters that cannot be read, and counted.
TEST(DoubtTest, JoinedFilesAreReadTheMajoritysWay) {
    Rows rows;
    ScriptDecoder decoder([&rows](const ScriptRow& row) { rows.emplace_back(std::string(row.name), std::string(row.text)); });
    decoder.feed(repeated(utf8Form(kExample), 3) + kExample);
    decoder.finish();
    const Rows example = readerRows(kExample);
    ASSERT_EQ(rows.size(), 4 * example.size());
    EXPECT_EQ(Rows(rows.begin(), rows.begin() + 3 * example.size()), readerRows(repeated(kExample, 3)));
    EXPECT_GT(decoder.unreadable(), 0u);
    EXPECT_EQ(decoder.unreadable(), replacementsIn(Rows(rows.begin() + 3 * example.size(), rows.end())));
}

// A long text of every kind of character, converted a piece at a time: a
// pair, and a character of three UTF-8 bytes, cut where a piece ends.
TEST(TwinTest, LongTextInAnyBlocks) {
    const std::u16string palette[] = {u"\x3042", u"\x30A2", u"\x6F22", u"\x3001", u"a", u"\t", u"\r\n", u"\n", u"\r",
                                      u"\xFF71", u"\x03B1", u"\x00E9", u"\x2661", u"\xD83D\xDE00", u"\xD83D",
                                      u"\xDE00", u"\xFFFD", u"\x0080", u"\x301C", u"\0"s};
    std::u16string units;
    std::uint64_t state = 1;
    while (units.size() < 100 * 1024) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const unsigned pick = static_cast<unsigned>(state >> 33) % 40;
        units += pick < std::size(palette) ? palette[pick] : palette[pick % 4];  // mostly kana and kanji
    }
    // Pieces are 64 KiB of the script after its mark: UTF-8 byte 65535 ends the first, UTF-16 unit 32767.
    // Padded so that an あ takes UTF-8 bytes 65534 to 65536.
    std::size_t utf8Size = 0, at = 0;
    while (utf8Size < 65536 - 40) {
        const bool pair = unicode::isHighSurrogate(units[at]) && unicode::isLowSurrogate(units[at + 1]);
        std::string character;
        for (const char32_t c : unicode::fromUtf16(std::u16string_view(units).substr(at, pair ? 2 : 1))) {
            appendUtf8(character, c);
        }
        utf8Size += character.size();
        at += pair ? 2 : 1;
    }
    units.insert(at, std::u16string(65534 - utf8Size, u'a') + u"\x3042");
    ASSERT_LT(at, 32767u);  // the pairs below leave the UTF-8 bytes before it as they are
    units.replace(32767, 2, u"\xD83D\xDE00");
    units.replace(2 * 32768 - 1, 2, u"\xD83D\xDE00");
    const Twins forms = twins(units);
    ASSERT_EQ(forms.utf8.substr(kBom.size() + 65534, 3), "\xE3\x81\x82");
    expectTwinsRead(forms, {0, 1, 2, 3, 4095, 65535, 65536, 65537, kScriptBlockSize}, "long text");
}

// The page from a script saved as UTF-8 is the page from the same script in
// Shift-JIS, to the byte.
std::string page(std::string_view script, std::size_t blockSize) {
    std::string out;
    Converter converter({"page.htm", {}}, [&out](std::string_view block) {
        out += block;
        return true;
    });
    for (std::size_t at = 0; at < script.size(); at += blockSize) converter.feed(script.substr(at, blockSize));
    EXPECT_TRUE(converter.finish());
    return out;
}

TEST(DecoderPageTest, UnicodeScriptGivesTheShiftJisPage) {
    for (const std::string& shiftJis : {kExample, generated(7, 1024 * 1024)}) {
        const std::string expected = page(shiftJis, kScriptBlockSize);
        for (const std::string& script : {utf8Form(shiftJis), kBom + utf8Form(shiftJis),
                                          utf16Form(utf8Form(shiftJis), false), utf16Form(utf8Form(shiftJis), true)}) {
            for (std::size_t blockSize : {std::size_t{1000}, kScriptBlockSize}) {
                // Not EXPECT_EQ: a failure would print two pages of a megabyte.
                EXPECT_TRUE(page(script, blockSize) == expected)
                    << shiftJis.size() << " bytes, block size " << blockSize
                    << ", starting " << static_cast<int>(static_cast<unsigned char>(script[0]));
            }
        }
    }
}

}  // namespace
}  // namespace taletab
