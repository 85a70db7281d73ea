#include "code_page_932.h"

#include <cstdint>

#include "code_page_932_table.h"

namespace taletab::cp932 {

std::size_t encodeBeyondAscii(char32_t codePoint, char* out) {
    if (codePoint > 0xFFFF) return 0;  // the code page has nothing beyond the BMP
    const std::uint16_t form = table::kPages[table::kPageOf[codePoint >> 8]][codePoint & 0xFF];
    if (form == 0) return 0;
    if (form < 0x100) {
        out[0] = static_cast<char>(form);
        return 1;
    }
    out[0] = static_cast<char>(form >> 8);
    out[1] = static_cast<char>(form & 0xFF);
    return 2;
}

Decoded decodeBeyondAscii(std::string_view bytes) {
    constexpr Decoded kNone{0, 0};
    if (bytes.empty()) return kNone;
    const auto first = static_cast<unsigned char>(bytes[0]);
    const std::uint16_t single = table::kSingle[first];
    if (single != table::kNotSingle) return {single, 1};
    const std::uint8_t row = table::kLeadRow[first];
    if (row == 0 || bytes.size() < 2) return kNone;
    const std::uint16_t pair = table::kRows[row - 1][static_cast<unsigned char>(bytes[1])];
    if (pair == 0) return kNone;
    return {pair, 2};
}

}  // namespace taletab::cp932
