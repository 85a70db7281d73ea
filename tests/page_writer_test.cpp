#include "page_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace taletab {
namespace {

std::string readFile(const std::string& name) {
    std::ifstream file(std::string(TALETAB_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Row {
    std::string name;
    std::string text;
};

// The page for a title and rows, as the sink receives it.
std::string page(const std::string& title, const std::vector<Row>& rows) {
    std::string out;
    PageWriter writer([&out](PageBuffer& buffer, std::size_t size) {
        out.append(buffer.get(), size);
        return true;
    });
    writer.writeHead(title);
    for (const Row& row : rows) writer.writeRow(row.name, row.text);
    writer.writeFoot();
    EXPECT_TRUE(writer.finish());
    return out;
}

TEST(PageWriterTest, EmptyScriptGivesHeadAndFootExactly) {
    const std::string expected = readFile("empty_page.htm");
    ASSERT_EQ(expected.size(), 395u);
    EXPECT_EQ(page("permoa.htm", {}), expected);
}

TEST(PageWriterTest, SizesAreHeadPlusRowsPlusFoot) {
    const struct {
        std::string title;
        std::vector<Row> rows;
    } cases[] = {
        {"", {}},
        {"t", {{"", ""}}},
        {"dir/sub/page.htm", {{"name", "text"}, {"", "\x81\x40"}, {"a", ""}}},
        {"x", {{std::string(300000, 'n'), std::string(200000, 't')}, {"b", "c"}}},
    };
    for (const auto& c : cases) {
        std::size_t expected = 280 + c.title.size() + 105;
        for (const Row& row : c.rows) expected += 99 + row.name.size() + row.text.size();
        EXPECT_EQ(page(c.title, c.rows).size(), expected) << "title " << c.title;
    }
}

TEST(PageWriterTest, FieldsStandInTheirSlotsUnchanged) {
    const std::string title = "a<b>&\"c\"/d.htm";
    const std::string name = "<i>\x83\x5c&amp;</i>";
    const std::string text = "\"q\" & <br>\x95\x5c";
    const std::string out = page(title, {{name, text}});
    EXPECT_NE(out.find("\t<title>" + title + "</title>\r\n"), std::string::npos);
    EXPECT_NE(out.find("\t\t<tr>\r\n\t\t\t<td align=\"right\" valign=\"top\" nowrap><b>" + name +
                       "</b></td>\r\n\t\t\t<td valign=\"top\">" + text + "</td>\r\n\t\t</tr>\r\n"),
              std::string::npos);
}

TEST(PageWriterTest, EveryLineEndsInCrLf) {
    const std::string out = page("p.htm", {{"n", "t"}, {"", ""}});
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n') {
            EXPECT_TRUE(i > 0 && out[i - 1] == '\r') << "LF at " << i;
        } else if (out[i] == '\r') {
            EXPECT_TRUE(i + 1 < out.size() && out[i + 1] == '\n') << "CR at " << i;
        }
    }
    EXPECT_EQ(out.substr(out.size() - 9), "</html>\r\n");
}

TEST(PageWriterTest, ALineEndInTheTitleGoesOutAsCrLf) {
    EXPECT_NE(page("a\nb", {}).find("<title>a\r\nb</title>"), std::string::npos);
}

TEST(PageWriterTest, AFailedBlockIsReportedAndNothingFollowsIt) {
    int calls = 0;
    PageWriter writer([&calls](PageBuffer&, std::size_t) {
        ++calls;
        return false;
    });
    writer.writeHead("p.htm");
    // Rows enough to fill the buffer several times over, one of them larger than it.
    for (int i = 0; i < 20000; ++i) writer.writeRow("name", "text");
    writer.writeRow(std::string(600000, 'n'), "t");
    writer.writeFoot();
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(calls, 1);
}

TEST(PageWriterTest, BlocksReachTheSinkInOrder) {
    std::vector<Row> rows;
    for (int i = 0; i < 5000; ++i) rows.push_back({"n" + std::to_string(i), std::string(i % 300, 'x')});
    rows.push_back({std::string(400000, 'L'), "end"});
    const std::string out = page("p", rows);
    std::size_t at = 0;
    for (const Row& row : rows) {
        at = out.find("<b>" + row.name + "</b>", at);
        ASSERT_NE(at, std::string::npos) << row.name.substr(0, 10);
    }
}

}  // namespace
}  // namespace taletab
