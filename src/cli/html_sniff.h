// Whether a file is an HTML page, judged from its first bytes as a browser
// sniffs a document it is given without a type: only such a file, an empty
// one or none at all may be replaced by a page.
#pragma once

#include <cstddef>
#include <string_view>

namespace taletab {

// The bytes a page is judged on, as many as a browser looks at: more are
// not looked at.
inline constexpr std::size_t kSniffedBytes = 1445;

// After an optional byte order mark (UTF-8; UTF-16 is read by its low
// bytes) and white space, a comment ("<!--") or one of the tags a document
// begins with ("<!DOCTYPE HTML", "<html", "<head", "<body", "<title",
// "<table", "<p", ...: any case, followed by white space or ">"). After an
// XML declaration, one of those tags past any comments, each closed within
// the bytes looked at. Only white space, or nothing, is no page.
bool beginsLikeHtml(std::string_view head);

}  // namespace taletab
