// How text from Unicode stands in the page: in Shift-JIS, like every byte of
// the page, and a character that Shift-JIS lacks as its numeric character
// reference ("&#x1F600;" for U+1F600), which every browser shows as the
// character. A UTF-8 or UTF-16 script's rows, a page's title typed in
// Unicode and the browser page's fill-in fields all follow this one rule.
#pragma once

#include <string>
#include <string_view>

#include "code_page_932.h"
#include "unicode.h"

namespace taletab {

// Writes the character's form to `out`, which has room for
// unicode::kLongestReference bytes, and returns the end of what it wrote.
inline char* writePageCharacter(char32_t codePoint, char* out) {
    if (const std::size_t length = cp932::encode(codePoint, out)) return out + length;
    return out + unicode::writeReference(codePoint, out);
}

// The text's forms, a kana and the sound mark after it (U+3099, U+309A:
// text typed on a Mac) composed first where Shift-JIS has the kana (unicode.h).
std::string pageText(std::u32string_view text);

// The same, with & < > " as "&amp;" "&lt;" "&gt;" "&quot;": a value that the
// page is to show as it is, markup and all (an author's name, say).
std::string escapedPageText(std::u32string_view text);

}  // namespace taletab
