// Tells the encoding the decoder takes each of many scripts to be in, for
// bench/encoding_corpus.py. Reads records from standard input, each a 4-byte
// little-endian length and that many bytes of one script, and writes one
// letter a record: S (Shift-JIS), 8 (UTF-8), L and B (UTF-16, little- and
// big-endian), E (EUC-JP) and J (ISO-2022-JP).
//
//   judge_encodings < records > letters
#include <cstdint>
#include <cstdio>
#include <string>

#include "script_decoder.h"

int main() {
    std::string script;
    unsigned char length[4];
    while (std::fread(length, 1, 4, stdin) == 4) {
        script.resize(length[0] | length[1] << 8 | length[2] << 16 | static_cast<std::uint32_t>(length[3]) << 24);
        if (std::fread(script.data(), 1, script.size(), stdin) != script.size()) return 1;
        taletab::ScriptDecoder decoder([](const taletab::ScriptRow&) {});
        decoder.feed(script);
        decoder.finish();
        static constexpr char kLetters[] = {'S', '8', 'L', 'B', 'E', 'J'};
        std::putchar(kLetters[static_cast<int>(decoder.encoding())]);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
