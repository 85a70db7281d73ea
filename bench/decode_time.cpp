// How long the decoder alone takes on each script: the script is held in
// memory and copied into one block at a time, as the program reads it, and
// the rows are taken but not written; no file, no page, no thread. Beside a
// whole run, timed by bench/run.py, it shows what reading a UTF-8 or UTF-16
// script into Shift-JIS costs. The scripts take turns, round by round, so
// that other work on the machine falls on them alike; each one's best of 15
// rounds is printed, a line each: its bytes, the milliseconds and the rows.
//
//   decode_time SCRIPT...
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "script_decoder.h"

namespace {

constexpr int kRounds = 15;

struct Timed {
    std::string script;
    double best = 0;  // seconds
    std::uint64_t rows = 0;
};

double decodeOnce(Timed& timed, char* block) {
    const std::string& script = timed.script;
    std::uint64_t rows = 0;
    const auto start = std::chrono::steady_clock::now();
    taletab::ScriptDecoder decoder([&rows](const taletab::ScriptRow&) { ++rows; });
    for (std::size_t at = 0; at < script.size(); at += taletab::kScriptBlockSize) {
        const std::size_t size = std::min(taletab::kScriptBlockSize, script.size() - at);
        std::memcpy(block, script.data() + at, size);
        decoder.feed({block, size});
    }
    decoder.finish();
    timed.rows = rows;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: decode_time SCRIPT...\n", stderr);
        return 2;
    }
    std::vector<Timed> scripts(argc - 1);
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "decode_time: cannot read %s\n", argv[i]);
            return 1;
        }
        std::ostringstream bytes;
        bytes << file.rdbuf();
        scripts[i - 1].script = bytes.str();
    }
    const std::unique_ptr<char[]> block(new char[taletab::kScriptBlockSize]);
    for (int round = 0; round < kRounds; ++round) {
        for (Timed& timed : scripts) {
            const double seconds = decodeOnce(timed, block.get());
            if (round == 0 || seconds < timed.best) timed.best = seconds;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const Timed& timed = scripts[i - 1];
        std::printf("%s %zu %.3f %llu\n", argv[i], timed.script.size(), timed.best * 1e3,
                    static_cast<unsigned long long>(timed.rows));
    }
    return 0;
}
