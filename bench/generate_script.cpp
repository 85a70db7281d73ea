// Writes a deterministic, realistic script (see script_generator.h) of at
// most BYTES bytes to standard output.
//
//   generate_script SEED BYTES
#include <cstdio>
#include <cstdlib>
#include <string>

#include "script_generator.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: generate_script SEED BYTES\n", stderr);
        return 2;
    }
    taletab::bench::ScriptGenerator generator(std::strtoull(argv[1], nullptr, 10));
    const unsigned long long limit = std::strtoull(argv[2], nullptr, 10);
    std::string line;
    for (unsigned long long written = 0;;) {
        generator.nextLine(line);
        if (written + line.size() > limit) break;
        std::fwrite(line.data(), 1, line.size(), stdout);
        written += line.size();
    }
    return 0;
}
