#include "html_sniff.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace taletab {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char any) {
               return std::tolower(static_cast<unsigned char>(any)) == lower;
           });
}

constexpr std::string_view kWhiteSpace = " \t\n\f\r";

std::string_view skipWhiteSpace(std::string_view text) {
    const std::size_t start = text.find_first_not_of(kWhiteSpace);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// A tag's name ends at white space (a line break too, as editors wrap a tag) or at ">".
bool tagAt(std::string_view text, std::string_view tag) {
    return startsWithNoCase(text, tag) && text.size() > tag.size() &&
           (kWhiteSpace.find(text[tag.size()]) != std::string_view::npos || text[tag.size()] == '>');
}

bool beginsWithHtmlTag(std::string_view text) {
    // "<!doctype" and "html" may stand apart by any white space, as editors write them.
    if (startsWithNoCase(text, "<!doctype")) {
        const std::string_view rest = text.substr(9);
        const std::string_view name = skipWhiteSpace(rest);
        return name.size() < rest.size() && tagAt(name, "html");
    }
    for (std::string_view tag : {"<html", "<head", "<script", "<iframe", "<h1", "<div", "<font", "<table", "<a",
                                 "<style", "<title", "<b", "<body", "<br", "<p"}) {
        if (tagAt(text, tag)) return true;
    }
    return false;
}

constexpr std::string_view kCommentStart = "<!--";

// Passes over the comments at the start of the text and the white space
// around them; false where one is not closed within it.
bool skipComments(std::string_view& text) {
    while (text.substr(0, kCommentStart.size()) == kCommentStart) {
        const std::size_t end = text.find("-->", kCommentStart.size());
        if (end == std::string_view::npos) return false;
        text = skipWhiteSpace(text.substr(end + 3));
    }
    return true;
}

// UTF-16 read as its low bytes: every tag and white space byte is ASCII.
std::string lowHalves(std::string_view text, bool bigEndian) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
        const char high = text[at + (bigEndian ? 0 : 1)];
        bytes += high == 0 ? text[at + (bigEndian ? 1 : 0)] : '\x7f';
    }
    return bytes;
}

}  // namespace

bool beginsLikeHtml(std::string_view head) {
    head = head.substr(0, kSniffedBytes);
    std::string decoded;
    if (head.substr(0, 3) == "\xEF\xBB\xBF") {
        head.remove_prefix(3);
    } else if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") {
        decoded = lowHalves(head.substr(2), head[0] == '\xFE');
        head = decoded;
    }
    head = skipWhiteSpace(head);
    if (startsWithNoCase(head, "<?xml")) {
        // An XML document is a page only where the root it goes on to is HTML's, past any comments.
        const std::size_t end = head.find("?>");
        if (end == std::string_view::npos) return false;
        head = skipWhiteSpace(head.substr(end + 2));
        return skipComments(head) && beginsWithHtmlTag(head);
    }
    // A comment first is HTML's, whatever it holds and whatever follows it.
    return head.substr(0, kCommentStart.size()) == kCommentStart || beginsWithHtmlTag(head);
}

}  // namespace taletab
