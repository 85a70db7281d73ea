// A script saved in either encoding it may come in: Shift-JIS, the format's
// own, or UTF-8, what editors save by default. The decoder recognises which
// from the script's first bytes, reads it with a ScriptReader and hands on
// every row in Shift-JIS: a Shift-JIS script's bytes pass through untouched,
// a UTF-8 script's names and texts are converted character by character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "script_reader.h"

namespace taletab {

enum class ScriptEncoding { kShiftJis, kUtf8 };

// How many bytes, from the script's first non-ASCII byte on, decide its
// encoding (all of them where the script has fewer).
inline constexpr std::size_t kJudgedBytes = 1024;

// Reads a script like a ScriptReader, from blocks cut anywhere, and hands on
// the same rows whatever the cuts.
//
// A script is UTF-8 when it begins with the byte order mark (which is not
// part of its first row), or when its judged bytes are valid UTF-8 and hold
// at least one character of three or four bytes (every kana and kanji is
// one); a sequence cut by the end of the judged bytes counts as valid, one
// cut by the end of the script does not. Everything else is Shift-JIS: in
// Shift-JIS a few half-width katakana can pair up as two-byte UTF-8, and a
// kanji at the very end can look like the start of a three-byte one.
//
// Plain ASCII reads the same in both encodings, so the rows before the first
// non-ASCII byte go on at once; from that byte on, at most kJudgedBytes are
// held back until the encoding is known. The decision holds for the whole
// script.
//
// In a UTF-8 script a character with no Shift-JIS form becomes a numeric
// character reference (U+1F600 becomes "&#x1F600;") and each byte that
// belongs to no valid character becomes "&#xFFFD;".
class ScriptDecoder {
public:
    explicit ScriptDecoder(ScriptReader::RowHandler onRow);

    void feed(std::string_view block);
    void finish();

    // Whether a 0x1A has ended the script: nothing fed after it counts.
    bool ended() const { return reader_.ended(); }

    // Shift-JIS until the script has shown that it is UTF-8.
    ScriptEncoding encoding() const { return encoding_; }

private:
    void decide(std::string_view judged, bool toTheEnd);
    void feedDecided(std::string_view bytes);
    void convertRow(const ScriptRow& row);

    ScriptReader::RowHandler onRow_;
    ScriptReader reader_;
    ScriptEncoding encoding_ = ScriptEncoding::kShiftJis;
    bool decided_ = false;
    bool readerFed_ = false;        // some ASCII went to the reader before the first non-ASCII byte
    bool judgedStartsScript_ = false;
    std::size_t bomLeft_ = 0;       // bytes of a byte order mark still to drop
    std::string held_;              // the judged bytes, while they arrive in more than one block
    std::string name_;              // a UTF-8 row's fields in Shift-JIS
    std::string text_;
};

}  // namespace taletab
