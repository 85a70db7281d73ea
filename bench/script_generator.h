// Deterministic, realistic scripts for the benchmark and the tests:
// Shift-JIS, CR LF, about 90 % name TAB text, 2 % lines with two TABs, 5 %
// headings and 3 % empty lines; names of 2 to 8 Japanese characters, texts
// of 5 to 120, most of them short.
#pragma once

#include <cstdint>
#include <string>

namespace taletab::bench {

// xorshift64*: the same script for the same seed on every machine.
class ScriptGenerator {
public:
    explicit ScriptGenerator(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}

    // The next line, CR LF included, replacing what the string held.
    void nextLine(std::string& line) {
        line.clear();
        const unsigned kind = below(100);
        if (kind >= 3) {  // 3 %: an empty line
            appendCharacters(line, 2 + below(7));
            if (kind >= 8) {  // 5 %: a heading
                line += '\t';
                if (kind < 10) {  // 2 %: two TABs
                    appendCharacters(line, textLength());
                    line += '\t';
                }
                appendCharacters(line, textLength());
            }
        }
        line += "\r\n";
    }

private:
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 2685821657736338717ULL;
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() >> 33) % n; }

    // Double-byte characters: hiragana, katakana, a few kanji and punctuation.
    void appendCharacter(std::string& out) {
        static const char* const kKanji[] = {"\x8e\x84", "\x90\x6c", "\x93\xfa", "\x8c\x8e", "\x96\xbe",
                                             "\x8e\x9e", "\x8a\xd4", "\x8d\x73", "\x97\x88", "\x8c\xa9"};
        const unsigned kind = below(100);
        if (kind < 55) {
            out += '\x82';
            out += static_cast<char>(0x9f + below(0x53));
        } else if (kind < 80) {
            out += '\x83';
            out += static_cast<char>(0x40 + below(0x3f));  // stays below 0x7f
        } else if (kind < 95) {
            out += kKanji[below(10)];
        } else {
            out += below(2) ? "\x81\x41" : "\x81\x42";  // 、 。
        }
    }

    void appendCharacters(std::string& out, unsigned count) {
        for (unsigned i = 0; i < count; ++i) appendCharacter(out);
    }

    // Text lengths from 5 to 120 characters, most of them short.
    unsigned textLength() { return 5 + (below(116) * below(116) / 115 + below(116)) / 2; }

    std::uint64_t state_;
};

// A whole script of at most the given size: the lines that fit.
inline std::string generateScript(std::uint64_t seed, std::size_t limit) {
    ScriptGenerator generator(seed);
    std::string script, line;
    for (;;) {
        generator.nextLine(line);
        if (script.size() + line.size() > limit) return script;
        script += line;
    }
}

}  // namespace taletab::bench
