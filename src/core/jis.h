// JIS X 0208 and JIS X 0212, the character sets that EUC-JP and ISO-2022-JP
// scripts are written in, by row and cell (1 to 94 each). JIS X 0208 is
// Shift-JIS's own set, so its characters take their Shift-JIS form by
// arithmetic; JIS X 0212's supplementary kanji are looked up in Unicode
// (jis_x_0212_table.h), since Shift-JIS has only a few of them.
#pragma once

#include <cstdint>

namespace taletab::jis {

// The Shift-JIS form of JIS X 0208's row and cell, lead byte first. Nothing
// (0) where code page 932 has no character there.
std::uint16_t shiftJisForm(unsigned row, unsigned cell);

// The character of JIS X 0212 at the row and cell; 0 where there is none.
char32_t supplementary(unsigned row, unsigned cell);

}  // namespace taletab::jis
