// Writes what the code page 932 module makes of every code point and of every
// one- and two-byte sequence, one line each where it finds a character, for
// code_page_932_test.py to hold against Python's codec:
//   E <code point> <bytes>    encoding, e.g. "E 3042 82A0"
//   D <bytes> <code point>    decoding, e.g. "D 82A0 3042"
#include <cstdio>
#include <string>

#include "code_page_932.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: code_page_932_dump OUTPUT\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    char form[taletab::cp932::kMaxBytes];
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const std::size_t length = taletab::cp932::encode(c, form);
        if (length == 1) std::fprintf(out, "E %04X %02X\n", unsigned(c), unsigned(static_cast<unsigned char>(form[0])));
        if (length == 2) {
            std::fprintf(out, "E %04X %02X%02X\n", unsigned(c), unsigned(static_cast<unsigned char>(form[0])),
                         unsigned(static_cast<unsigned char>(form[1])));
        }
    }
    for (unsigned first = 0; first < 256; ++first) {
        const std::string single(1, static_cast<char>(first));
        const taletab::cp932::Decoded one = taletab::cp932::decode(single);
        if (one.length == 1) std::fprintf(out, "D %02X %04X\n", first, unsigned(one.codePoint));
        for (unsigned second = 0; second < 256; ++second) {
            const std::string pair{static_cast<char>(first), static_cast<char>(second)};
            const taletab::cp932::Decoded two = taletab::cp932::decode(pair);
            if (two.length == 2) std::fprintf(out, "D %02X%02X %04X\n", first, second, unsigned(two.codePoint));
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
