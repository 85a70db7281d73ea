// The edges of the code page 932 calls that the comparison with Python's
// codec (code_page_932_codec_test.py) cannot reach: values past Unicode,
// and byte sequences cut short or followed by more.
#include <gtest/gtest.h>

#include <string_view>

#include "code_page_932.h"

namespace taletab::cp932 {
namespace {

TEST(CodePage932, EncodesNothingPastUnicode) {
    char out[kMaxBytes] = {'x', 'x'};
    for (char32_t codePoint : {char32_t{0x110000}, char32_t{0x7FFFFFFF}, char32_t{0xFFFFFFFF}}) {
        EXPECT_EQ(encode(codePoint, out), 0u) << std::hex << codePoint;
    }
    EXPECT_EQ(out[0], 'x');
}

TEST(CodePage932, DecodesTheFirstCharacterOnly) {
    struct Case {
        std::string_view bytes;
        char32_t codePoint;
        std::size_t length;
    };
    const Case cases[] = {
        {"", 0, 0},
        {{"\0", 1}, 0, 1},                // a zero byte is a character
        {"A\x82\xa0", U'A', 1},
        {"\x82\xa0" "A", U'\u3042', 2},  // あ, then more
        {"\xb1\x82", U'\uff71', 1},       // half-width ｱ, then a lead byte
        {"\x82", 0, 0},                   // a lead byte at the end
        {"\x82" "A", 0, 0},               // a lead byte with a trail byte that makes nothing
        {"\x85\x40", 0, 0},               // a lead byte of an empty row
    };
    for (const Case& c : cases) {
        const Decoded decoded = decode(c.bytes);
        EXPECT_EQ(decoded.codePoint, c.codePoint) << testing::PrintToString(std::string(c.bytes));
        EXPECT_EQ(decoded.length, c.length) << testing::PrintToString(std::string(c.bytes));
    }
}

}  // namespace
}  // namespace taletab::cp932
