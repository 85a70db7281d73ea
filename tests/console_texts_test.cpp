#include "console_texts.h"

#include <gtest/gtest.h>

namespace taletab {
namespace {

// Byte counts of the Shift-JIS texts, with LF line ends and "%s" in place:
// a wrong or missing byte in any escape shows here.
TEST(ConsoleTextsTest, ByteCounts) {
    const struct {
        const char* label;
        std::string_view text;
        std::size_t size;
    } cases[] = {
        {"banner title", texts::kBannerTitle, 45},
        {"banner version", texts::kBannerVersion, 23},
        {"banner end", texts::kBannerEnd, 5},
        {"usage colour", texts::kUsageColour, 8},
        {"usage title", texts::kUsageTitle, 24},
        {"usage synopsis", texts::kUsageSynopsis, 39},
        {"usage script", texts::kUsageScript, 41},
        {"usage script note", texts::kUsageScriptNote, 46},
        {"usage page", texts::kUsagePage, 49},
        {"no file name", texts::kNoFileName, 39},
        {"script missing", texts::kScriptMissing, 43},
        {"no page name", texts::kNoPageName, 49},
        {"default page name", texts::kDefaultPageName, 47},
        {"done", texts::kDone, 22},
        {"page is script", texts::kPageIsScript, 59},
        {"page not created", texts::kPageNotCreated, 49},
        {"page not html", texts::kPageNotHtml, 77},
        {"page write failed", texts::kPageWriteFailed, 57},
        {"script read failed", texts::kScriptReadFailed, 51},
        {"press a key", texts::kPressAKey, 35},
        {"unreadable", texts::kUnreadable, 39},
        {"page busy", texts::kPageBusy, 81},
        {"cause: disk full", texts::kCauseDiskFull, 37},
        {"cause: no permission", texts::kCauseNoPermission, 37},
        {"cause: read-only", texts::kCauseReadOnly, 35},
        {"cause: name too long", texts::kCauseNameTooLong, 33},
        {"cause: in use", texts::kCauseInUse, 37},
        {"encoding doubtful", texts::kEncodingDoubtful, 67},
        {"script is folder", texts::kScriptIsFolder, 33},
        {"script in use", texts::kScriptInUse, 73},
        {"script is document", texts::kScriptIsDocument, 85},
        {"not a script", texts::kNotAScript, 67},
        {"script empty", texts::kScriptEmpty, 49},
        {"converted", texts::kConverted, 25},
        {"pages made", texts::kPagesMade, 35},
        {"not converted", texts::kNotConverted, 47},
        {"welcome drop", texts::kWelcomeDrop, 80},
        {"welcome many", texts::kWelcomeMany, 101},
        {"welcome browser", texts::kWelcomeBrowser, 75},
        {"welcome guide", texts::kWelcomeGuide, 60},
        {"welcome version", texts::kWelcomeVersion, 12},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text.size(), c.size) << c.label;
}

TEST(ConsoleTextsTest, BannerNoticeIsFiveTabsBlueTextAndTwoLineFeeds) {
    const std::string_view notice = texts::kBannerNotice;
    EXPECT_EQ(notice.substr(0, 10), "\t\t\t\t\t\x1b[34m");
    EXPECT_EQ(notice.substr(notice.size() - 2), "\n\n");
}

}  // namespace
}  // namespace taletab
