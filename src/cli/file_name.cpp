#include "file_name.h"

#include <utility>

#include "code_page_932.h"
#include "page_text.h"
#include "unicode.h"

namespace taletab {

namespace {

FileName fromCodePoints(std::filesystem::path path, std::u32string_view typed) {
    const std::u32string codePoints = unicode::composedKana(typed);  // a name typed on a Mac: が, not か and ゛
    FileName name{std::move(path), {}, pageText(codePoints), {}};
    for (const char32_t codePoint : codePoints) {
        unicode::appendUtf8(name.unicode, codePoint);
        char form[cp932::kMaxBytes];
        const std::size_t length = cp932::encode(codePoint, form);
        name.shown.append(length > 0 ? std::string_view(form, length) : "?");
    }
    return name;
}

}  // namespace

FileName fileNameFromBytes(std::filesystem::path path, std::string_view typed) {
    if (const auto codePoints = unicode::fromUtf8(typed)) return fromCodePoints(std::move(path), *codePoints);

    return {std::move(path), std::string(typed), std::string(typed), unicode::utf8FromShiftJis(typed)};
}

FileName fileNameFromUtf16(std::filesystem::path path, std::u16string_view typed) {
    return fromCodePoints(std::move(path), unicode::fromUtf16(typed));
}

}  // namespace taletab
