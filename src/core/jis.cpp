#include "jis.h"

#include "code_page_932.h"
#include "jis_x_0212_table.h"

namespace taletab::jis {

// Two rows of 94 share a lead byte: an odd row takes trail bytes 40 to 9E
// (7F left out), an even one 9F to FC. Rows 63 on take the leads from E0.
std::uint16_t shiftJisForm(unsigned row, unsigned cell) {
    if (row < 1 || row > 94 || cell < 1 || cell > 94) return 0;
    const unsigned lead = (row + 1) / 2 + (row <= 62 ? 0x80 : 0xC0);
    const unsigned trail = row % 2 == 1 ? cell + 0x3F + (cell >= 64) : cell + 0x9E;
    const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    if (cp932::decode({bytes, 2}).length != 2) return 0;
    return static_cast<std::uint16_t>(lead << 8 | trail);
}

char32_t supplementary(unsigned row, unsigned cell) {
    if (row < 1 || row > 94 || cell < 1 || cell > 94) return 0;
    return table::kJisX0212[(row - 1) * 94 + cell - 1];
}

}  // namespace taletab::jis
