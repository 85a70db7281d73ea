#include "html_sniff.h"

#include <gtest/gtest.h>

#include <string>

namespace taletab {
namespace {

// UTF-16 with its byte order mark, from ASCII.
std::string utf16(std::string_view ascii, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

TEST(HtmlSniff, PagesAsOtherToolsSaveThem) {
    const std::string pages[] = {
        "<!DOCTYPE html>\r\n<html>",
        "<!doctype HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">",
        "<!DOCTYPE\nhtml>",
        "<!DOCTYPE  html>",
        "<!-- saved from url=(0014)about:internet -->\r\n<html>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\">",
        "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\">",
        "<HTML><BODY>",
        "<head><title>t</title>",
        "<body bgcolor=white>",
        "<title>a page</title>",
        "<table border=1>",
        "<p>text",
        "\xEF\xBB\xBF  \r\n\t<html>",
        utf16("<!DOCTYPE html>\r\n<html>", false),
        utf16("<html>", true),
        "\x0c<html lang=ja>",
        // Line breaks inside the first tag, comments before it, an XHTML page's header
        "<?xml version=\"1.0\"?>\n<!DOCTYPE html\n     PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\"\n"
        "     \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">",
        "<html\nlang=\"ja\">",
        "<HTML\r\n>",
        "<html\tlang=ja>",
        "<!DOCTYPE\r\nhtml\r\n>",
        "<!--c-->",
        "<!--\nc-->",
        "<!--c--><svg>",  // a comment first is HTML's, whatever follows
        "<?xml version=\"1.0\"?>\r\n<!-- made by hand -->\r\n<!--\nagain\n-->\n<html>",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--c--><!DOCTYPE html>",
        std::string(kSniffedBytes - 6, ' ') + "<html>",  // the last bytes looked at
    };
    for (const std::string& page : pages) EXPECT_TRUE(beginsLikeHtml(page)) << page;
}

TEST(HtmlSniff, AnythingElseIsNoPage) {
    const std::string others[] = {
        "",
        "   \r\n\t",
        "\xEF\xBB\xBF",
        "\xFF\xFE",
        "<htmlfoo>",
        "<html",  // the tag's name may go on past the bytes looked at
        "<!DOCTYPE htmlx>",
        "<!DOCTYPEhtml>",
        "<?xml version=\"1.0\"?><svg>",
        "<?xml version=\"1.0\"",
        "a script\t<html>",
        "<bodyguard>",
        std::string(kSniffedBytes, ' ') + "<html>",  // past the bytes looked at
        utf16("<htmlfoo>", false),
        "<htmlfoo\n>",
        "<html\x0b>",  // a vertical tab is no white space in HTML
        "<?xml version=\"1.0\"?>\n<!-- a drawing -->\n<svg>",
        "<?xml version=\"1.0\"?><!--c-->",
        "<?xml version=\"1.0\"?><!--<html>",  // a comment not closed
        "<?xml version=\"1.0\"?><!--" + std::string(kSniffedBytes, '-') + "--><html>",
    };
    for (const std::string& other : others) EXPECT_FALSE(beginsLikeHtml(other)) << other;
}

}  // namespace
}  // namespace taletab
