// The floors that a converter is measured against: read the input and write
// the given number of bytes in 128 KiB blocks, with no work per byte. One
// does both on one thread, one after the other; with --two-threads the read
// and the write run side by side, the limit for a program on two cores.
//
//   floor [--two-threads] INPUT OUTPUT OUTPUT_BYTES
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

constexpr std::size_t kBlockSize = 128 * 1024;

void readAll(std::FILE* in) {
    const std::unique_ptr<char[]> block(new char[kBlockSize]);
    while (std::fread(block.get(), 1, kBlockSize, in) > 0) {
    }
}

bool write(std::FILE* out, unsigned long long bytes) {
    const std::unique_ptr<char[]> block(new char[kBlockSize]());
    while (bytes > 0) {
        const std::size_t size = bytes < kBlockSize ? bytes : kBlockSize;
        if (std::fwrite(block.get(), 1, size, out) != size) return false;
        bytes -= size;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool twoThreads = argc == 5 && std::strcmp(argv[1], "--two-threads") == 0;
    if (argc != 4 && !twoThreads) {
        std::fputs("usage: floor [--two-threads] INPUT OUTPUT OUTPUT_BYTES\n", stderr);
        return 2;
    }
    char** const names = argv + (twoThreads ? 2 : 1);
    std::FILE* in = std::fopen(names[0], "rb");
    std::FILE* out = std::fopen(names[1], "wb");
    if (!in || !out) return 1;
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::setvbuf(out, nullptr, _IONBF, 0);
    const unsigned long long bytes = std::strtoull(names[2], nullptr, 10);
    bool written;
    if (twoThreads) {
        std::thread reader(readAll, in);
        written = write(out, bytes);
        reader.join();
    } else {
        readAll(in);
        written = write(out, bytes);
    }
    return written && std::fclose(out) == 0 ? 0 : 1;
}
