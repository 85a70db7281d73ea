// The floor that a converter is measured against: reads the input and writes
// the given number of bytes in 128 KiB blocks, with no work per byte.
//
//   floor INPUT OUTPUT OUTPUT_BYTES
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: floor INPUT OUTPUT OUTPUT_BYTES\n", stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!in || !out) return 1;
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::setvbuf(out, nullptr, _IONBF, 0);
    unsigned long long left = std::strtoull(argv[3], nullptr, 10);
    std::vector<char> block(128 * 1024);
    while (std::fread(block.data(), 1, block.size(), in) > 0) {
    }
    while (left > 0) {
        const std::size_t size = left < block.size() ? left : block.size();
        if (std::fwrite(block.data(), 1, size, out) != size) return 1;
        left -= size;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
