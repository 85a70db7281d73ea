// Writes a deterministic, realistic script to standard output: Shift-JIS,
// CR LF, about 90 % name TAB text, 2 % lines with two TABs, 5 % headings
// and 3 % empty lines; names of 2 to 8 Japanese characters, texts of 5 to
// 120, most of them short.
//
//   generate_script SEED BYTES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// xorshift64*: the same script for the same seed on every machine.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ULL;
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() >> 33) % n; }
};

// Double-byte characters: hiragana, katakana, a few kanji and punctuation.
void appendCharacter(std::string& out, Random& random) {
    static const char* const kKanji[] = {"\x8e\x84", "\x90\x6c", "\x93\xfa", "\x8c\x8e", "\x96\xbe",
                                         "\x8e\x9e", "\x8a\xd4", "\x8d\x73", "\x97\x88", "\x8c\xa9"};
    const unsigned kind = random.below(100);
    if (kind < 55) {
        out += '\x82';
        out += static_cast<char>(0x9f + random.below(0x53));
    } else if (kind < 80) {
        out += '\x83';
        out += static_cast<char>(0x40 + random.below(0x3f));  // stays below 0x7f
    } else if (kind < 95) {
        out += kKanji[random.below(10)];
    } else {
        out += random.below(2) ? "\x81\x41" : "\x81\x42";  // 、 。
    }
}

void appendCharacters(std::string& out, Random& random, unsigned count) {
    for (unsigned i = 0; i < count; ++i) appendCharacter(out, random);
}

// Text lengths from 5 to 120 characters, most of them short.
unsigned textLength(Random& random) {
    return 5 + (random.below(116) * random.below(116) / 115 + random.below(116)) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: generate_script SEED BYTES\n", stderr);
        return 2;
    }
    Random random{std::strtoull(argv[1], nullptr, 10) * 0x9E3779B97F4A7C15ULL + 1};
    const unsigned long long limit = std::strtoull(argv[2], nullptr, 10);
    std::string line;
    for (unsigned long long written = 0;;) {
        line.clear();
        const unsigned kind = random.below(100);
        if (kind >= 3) {  // 3 %: an empty line
            appendCharacters(line, random, 2 + random.below(7));
            if (kind >= 8) {  // 5 %: a heading
                line += '\t';
                if (kind < 10) {  // 2 %: two TABs
                    appendCharacters(line, random, textLength(random));
                    line += '\t';
                }
                appendCharacters(line, random, textLength(random));
            }
        }
        line += "\r\n";
        if (written + line.size() > limit) break;
        std::fwrite(line.data(), 1, line.size(), stdout);
        written += line.size();
    }
    return 0;
}
