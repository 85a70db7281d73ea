#include "converter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "page_text.h"

namespace taletab {
namespace {

std::string readFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// "ここに名前を入れてください", "ここにメールアドレスを入れてください" in Shift-JIS.
const std::string kAuthorPlaceholder = pageText(U"ここに名前を入れてください");
const std::string kAddressPlaceholder = pageText(U"ここにメールアドレスを入れてください");

TEST(ConverterTest, TheExampleGivesItsPage) {
    const std::string script = readFile(TALETAB_EXAMPLES "/scene.txt");
    const std::string expected = readFile(TALETAB_TEST_DATA "/scene.htm");
    EXPECT_TRUE(convertScript(script, {"scene.htm", {}}) == expected);
}

TEST(ConverterTest, CreditsFillTheirPlaceholdersAndNothingElse) {
    const std::string empty = readFile(TALETAB_TEST_DATA "/empty_page.htm");
    ASSERT_EQ(replaceAll(empty, kAuthorPlaceholder, "").size(), empty.size() - 2 * kAuthorPlaceholder.size());
    ASSERT_EQ(replaceAll(empty, kAddressPlaceholder, "").size(), empty.size() - kAddressPlaceholder.size());
    struct Case {
        Credits credits;
        std::string expected;
    } cases[] = {
        {{}, empty},
        {{"\x97\x9b", ""}, replaceAll(empty, kAuthorPlaceholder, "\x97\x9b")},
        {{"", "a@b.jp"}, replaceAll(empty, kAddressPlaceholder, "a@b.jp")},
        {{"A", "b"}, replaceAll(replaceAll(empty, kAuthorPlaceholder, "A"), kAddressPlaceholder, "b")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(convertScript("", {"permoa.htm", c.credits}), c.expected) << c.credits.author << c.credits.address;
    }
}

TEST(ConverterTest, UnicodeTextTakesTheShiftJisFormOrAReference) {
    struct Case {
        std::u32string text;
        std::string plain;
        std::string escaped;
    } cases[] = {
        {U"", "", ""},
        {U"Ann & Bo <a@b.jp> \"x\" 'y'", "Ann & Bo <a@b.jp> \"x\" 'y'",
         "Ann &amp; Bo &lt;a@b.jp&gt; &quot;x&quot; 'y'"},
        {U"劇団\U0001F600", "\x8c\x80\x92\x63&#x1F600;", "\x8c\x80\x92\x63&#x1F600;"},
        {U"\uFF5E\u301C\u00E9", "\x81\x60\x81\x60&#xE9;", "\x81\x60\x81\x60&#xE9;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pageText(c.text), c.plain);
        EXPECT_EQ(escapedPageText(c.text), c.escaped);
    }
}

TEST(ConverterTest, RowsAreCountedAndA1AEndsTheScript) {
    std::string page;
    Converter converter({"p.htm", {}}, [&page](std::string_view block) {
        page += block;
        return true;
    });
    converter.feed("\x8f\xea\n\x83\x6e\x83\x8b\x83\x4a\t\x82\xa0\n");
    EXPECT_FALSE(converter.done());
    converter.feed("a\tb\x1a" "c\td\n");
    EXPECT_TRUE(converter.done());
    converter.feed("e\tf\n");
    EXPECT_TRUE(converter.finish());
    EXPECT_EQ(converter.rows(), 3u);
    EXPECT_EQ(converter.encoding(), ScriptEncoding::kShiftJis);
    EXPECT_EQ(page.find("<b>c</b>"), std::string::npos);
    EXPECT_EQ(page.find("<b>e</b>"), std::string::npos);
}

TEST(ConverterTest, AFailedSinkEndsTheConversion) {
    int calls = 0;
    Converter converter({std::string(kPageBufferSize, 't'), {}}, [&calls](std::string_view) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(converter.done());
    converter.feed("a\tb\n");
    EXPECT_FALSE(converter.finish());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(converter.rows(), 0u);
}

}  // namespace
}  // namespace taletab
