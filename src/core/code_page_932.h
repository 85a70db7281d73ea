// Code page 932 (Shift-JIS as Windows defines it), both ways, from the
// program's own table so that Linux and Windows give the same bytes; no
// system converter is asked. The mapping is that of Python's cp932 codec:
// its encoder takes the JIS-style 〜 ‖ − ¢ £ ¬ to the bytes of ～ ∥ － ￠ ￡ ￢,
// and the table adds U+2014 — to the bytes of ― (0x815C), which decode as
// U+2015. Several code points can share one form, so decoding what was
// encoded may give another code point (the same glyph).
//
// Both calls are table look-ups meant for a loop over every character; ASCII
// is handled inline. Neither allocates or fails in any other way than saying
// "none".
#pragma once

#include <cstddef>
#include <string_view>

namespace taletab::cp932 {

inline constexpr std::size_t kMaxBytes = 2;

std::size_t encodeBeyondAscii(char32_t codePoint, char* out);

// Writes the form of one code point, one or two bytes, to out (room for
// kMaxBytes) and returns how many. Returns 0 and writes nothing when the
// code point has no form: most of Unicode, surrogates, anything past 0x10FFFF.
inline std::size_t encode(char32_t codePoint, char* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    return encodeBeyondAscii(codePoint, out);
}

struct Decoded {
    char32_t codePoint;
    std::size_t length;  // bytes taken, 1 or 2; 0 when there is no character
};

Decoded decodeBeyondAscii(std::string_view bytes);

// The character the bytes begin with. Length 0 (and code point 0) when the
// bytes are empty, begin with a byte the code page leaves unassigned, or
// with a lead byte whose trail byte is missing or makes no character.
inline Decoded decode(std::string_view bytes) {
    if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) < 0x80) {
        return {static_cast<unsigned char>(bytes[0]), 1};
    }
    return decodeBeyondAscii(bytes);
}

}  // namespace taletab::cp932
