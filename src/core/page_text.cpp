#include "page_text.h"

namespace taletab {

// Both compose a kana and the sound mark after it first (unicode.h): a title or a name typed on a Mac.
std::string pageText(std::u32string_view typed) {
    const std::u32string text = unicode::composedKana(typed);
    std::string out;
    for (const char32_t codePoint : text) {
        char form[unicode::kLongestReference];
        out.append(form, writePageCharacter(codePoint, form));
    }
    return out;
}

std::string escapedPageText(std::u32string_view typed) {
    const std::u32string text = unicode::composedKana(typed);
    std::string out;
    for (const char32_t codePoint : text) {
        switch (codePoint) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: {
                char form[unicode::kLongestReference];
                out.append(form, writePageCharacter(codePoint, form));
            }
        }
    }
    return out;
}

}  // namespace taletab
