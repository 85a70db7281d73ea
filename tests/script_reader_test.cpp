#include "script_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace taletab {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::pair<std::string, std::string>>;

const std::string kFiller = "\x81\x40";  // "　"

struct ReaderCase {
    const char* label;
    std::string input;
    Rows rows;
};

void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.label; }

// Feeds the input in blocks of the given size (0: whole) and collects the rows.
Rows readRows(const std::string& input, std::size_t blockSize = 0) {
    Rows rows;
    ScriptReader reader([&rows](const ScriptRow& row) {
        rows.emplace_back(std::string(row.name), std::string(row.text));
    });
    if (blockSize == 0) blockSize = input.size() + 1;
    for (std::size_t at = 0; at < input.size(); at += blockSize) {
        reader.feed(std::string_view(input).substr(at, blockSize));
    }
    reader.finish();
    return rows;
}

const std::string kLongName(5000, 'n');
const std::string kLongText(300000, 't');

const ReaderCase kCases[] = {
    // Line ends
    {"empty file", "", {}},
    {"name tab text", "a\tb\n", {{"a", "b"}}},
    {"CR LF ends a line like LF", "a\tb\r\nc\td\n", {{"a", "b"}, {"c", "d"}}},
    {"CR not before LF is kept", "a\rb\tc\rd\n", {{"a\rb", "c\rd"}}},
    {"CR before a CR LF is kept", "a\r\r\n", {{"a\r", kFiller}}},
    {"empty line between rows", "a\tb\n\nc\td\n", {{"a", "b"}, {"", kFiller}, {"c", "d"}}},

    // TABs, headings, empty lines
    {"heading gets the filler", "\x91\xe6\x88\xea\x8f\xea\n", {{"\x91\xe6\x88\xea\x8f\xea", kFiller}}},
    {"empty line", "\n", {{"", kFiller}}},
    {"empty CR LF line", "\r\n", {{"", kFiller}}},
    {"name and TAB only: empty text, no filler", "a\t\r\n", {{"a", ""}}},
    {"leading TAB: empty name", "\tb\n", {{"", "b"}}},
    {"text after the last TAB wins", "a\tb\tc\n", {{"a", "c"}}},
    {"trailing TAB empties the text", "a\tb\t\n", {{"a", ""}}},
    {"TABs only", "\t\t\n", {{"", ""}}},

    // 0x1A ends the script
    {"0x1A drops what follows", "a\tb\n\x1a" "c\td\n", {{"a", "b"}}},
    {"line cut by 0x1A is still a row", "a\tb\nc\x1a\td\n", {{"a", "b"}, {"c", kFiller}}},
    {"CR cut off by 0x1A is kept", "a\r\x1a\n", {{"a\r", kFiller}}},

    // A zero byte ends its field, the line goes on
    {"zero in the name", "a\0x\tb\n"s, {{"a", "b"}}},
    {"zero in the text", "a\tb\0c\n"s, {{"a", "b"}}},
    {"zero in a lost middle segment", "a\tb\0\tc\n"s, {{"a", "c"}}},
    {"zero in a heading", "x\0y\n"s, {{"x", kFiller}}},

    // Last line without LF
    {"unterminated last line is a row", "a\tb\nc\td", {{"a", "b"}, {"c", "d"}}},
    {"unterminated heading gets the filler", "a\tb\nc", {{"a", "b"}, {"c", kFiller}}},
    {"unterminated CR is kept", "a\r", {{"a\r", kFiller}}},

    // Shift-JIS and markup pass byte for byte
    {"trail bytes 0x5C and 0x7C", "\x83\x5c\x95\x5c\t\x83\x7c\x5c\n",
     {{"\x83\x5c\x95\x5c", "\x83\x7c\x5c"}}},
    {"markup is not escaped", "<b>&amp;\t<i>\"x\"</i>\n", {{"<b>&amp;", "<i>\"x\"</i>"}}},
    {"bytes 0x80 to 0xFF", "\x80\xa0\xfd\xfe\xff\t\xe0\x40\n", {{"\x80\xa0\xfd\xfe\xff", "\xe0\x40"}}},

    // No length limit
    {"long name and text kept whole", kLongName + "\t" + kLongText + "\r\n", {{kLongName, kLongText}}},
    {"long unterminated heading kept whole", kLongText, {{kLongText, kFiller}}},
};

class ReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, ReadsTheExpectedRows) {
    EXPECT_EQ(readRows(GetParam().input), GetParam().rows);
}

// A CR LF, a TAB or a line split between blocks must not change the rows.
TEST_P(ReaderTest, RowsDoNotDependOnBlockSize) {
    for (std::size_t blockSize : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 64, 4096}) {
        EXPECT_EQ(readRows(GetParam().input, blockSize), GetParam().rows) << "block size " << blockSize;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ReaderCase>& param) {
                             std::string name;
                             for (const char* c = param.param.label; *c; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

// The rows of a script of TABs, CRs, LFs and other bytes, by the format's rules
// applied line by line: the model the reader's scanning must agree with.
Rows modelRows(const std::string& input) {
    Rows rows;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t lf = input.find('\n', start);
        const bool ended = lf != std::string::npos;
        std::string line = input.substr(start, ended ? lf - start : std::string::npos);
        if (ended && !line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find('\t');
        if (first == std::string::npos) {
            rows.emplace_back(line, kFiller);
        } else {
            rows.emplace_back(line.substr(0, first), line.substr(line.rfind('\t') + 1));
        }
        start = ended ? lf + 1 : input.size();
    }
    return rows;
}

// TABs and LFs at every distance from each other and from the scanner's
// steps, with blocks cut at every offset; among them 0x08 and 0x0B, the bytes
// that one compare cannot tell from TAB and LF.
TEST(ReaderTest, RowsDoNotDependOnWhereTabsAndLineEndsFall) {
    std::string input;
    unsigned state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        const unsigned pick = (state >> 16) % 16;
        input += pick < 2 ? '\n' : pick < 4 ? '\t' : pick == 4 ? '\r' : pick == 5 ? '\x08' : pick == 6 ? '\x0b'
               : static_cast<char>('a' + pick);
    }
    const Rows expected = modelRows(input);
    ASSERT_GT(expected.size(), 300u);
    for (std::size_t blockSize = 1; blockSize <= 140; ++blockSize) {
        EXPECT_EQ(readRows(input, blockSize), expected) << "block size " << blockSize;
    }
    EXPECT_EQ(readRows(input), expected);
}

TEST(ReaderTest, NothingAfterFinishOrAfter0x1ACounts) {
    Rows rows;
    ScriptReader reader([&rows](const ScriptRow& row) {
        rows.emplace_back(std::string(row.name), std::string(row.text));
    });
    reader.feed("a\tb\nc\x1a");
    reader.feed("d\te\n");
    reader.finish();
    EXPECT_EQ(rows, (Rows{{"a", "b"}, {"c", kFiller}}));
}

}  // namespace
}  // namespace taletab
