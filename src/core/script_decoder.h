// A script saved in any encoding it may come in: Shift-JIS, the format's
// own, UTF-8, what editors save by default, or UTF-16 with its byte order
// mark, Notepad's "Unicode". The decoder recognises which from the script's
// first bytes, reads it with a ScriptReader and hands on every row in
// Shift-JIS: a Shift-JIS script's bytes pass through untouched, a UTF-8 or
// UTF-16 script is converted character by character (as page_text.h says).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "script_reader.h"

namespace taletab {

enum class ScriptEncoding { kShiftJis, kUtf8, kUtf16LittleEndian, kUtf16BigEndian, kEucJp, kIso2022Jp };

// How many bytes, from the script's first non-ASCII byte on, decide its
// encoding (all of them where the script has fewer, or up to a 0x1A).
inline constexpr std::size_t kJudgedBytes = 64 * 1024;
// How many of the script's first bytes are held to tell UTF-16 without a mark.
inline constexpr std::size_t kStartBytes = 1024;

// Reads a script like a ScriptReader, from blocks cut anywhere, and hands on
// the same rows whatever the cuts.
//
// A script is UTF-8 when it begins with the byte order mark (which is not
// part of its first row), or when its judged bytes, read both ways, are
// likelier UTF-8 than Shift-JIS: they hold a character beyond ASCII in
// UTF-8 and
// - are valid UTF-8 but not valid Shift-JIS (Greek or Cyrillic text, say);
// - are valid in neither, but have few bytes that begin no UTF-8 character
//   (one for eight characters, as a pasted cp1252 quote or a character cut
//   short leaves), or fewer than begin no Shift-JIS one (or as many, and
//   likelier characters, as below), or more of their
//   lines read as UTF-8 than as Shift-JIS (a UTF-8 file and a Shift-JIS one
//   joined: the other lines' bytes are characters that cannot be read);
// - or are valid in both, and their characters read as UTF-8 are likelier,
//   on the whole, in a script than read as Shift-JIS: kana, common kanji
//   and the letters of other languages over rare kanji, kanji Shift-JIS
//   lacks (each weighs in UTF-8 as two unlikely characters), a half-width
//   katakana or two alone, kanji whose two bytes are the lead and a
//   continuation byte of a UTF-8 character (what UTF-8 read as Shift-JIS is
//   half made of) and the character after such a kanji when its two bytes
//   are a continuation byte and the lead of a UTF-8 symbol, kana or kanji
//   that the next two bytes complete (most of the other half: 市部 in UTF-8
//   reads as Shift-JIS 蟶るΚ, of which only Κ counts). A tie is Shift-JIS.
// A stray byte or two in UTF-8 weighs as an unlikely character: a short line
// with a pasted quote is UTF-8 if its characters are likelier that way.
// A sequence cut by the end of the judged bytes is no evidence either way;
// one cut by the end of the script is a byte that cannot be read.
// Everything else is Shift-JIS, whose bytes then reach the rows unchanged.
//
// A script is EUC-JP (what older Unix and Mac editors save) when its judged
// bytes are not valid UTF-8 but are valid EUC-JP (or have as few stray
// bytes as a UTF-8 script may), read mostly as kana and
// common kanji, and are either not valid Shift-JIS or likelier read as
// EUC-JP: EUC-JP's kana read as Shift-JIS are half-width katakana strewn
// with the half-width marks ､ and ･. It is
// ISO-2022-JP (mail, some old editors) when its judged bytes, which then
// begin at the first ESC, are all 7-bit and switch to JIS X 0208 or another
// of its sets with the usual escape sequences. Both are converted to
// Shift-JIS as UTF-8 is, by row and cell (see jis.h): half-width katakana
// (EUC-JP's 8E, ISO-2022-JP's ESC ( I) take their one byte, JIS X 0212
// (8F, ESC $ ( D) its Shift-JIS form where there is one or its reference.
//
// A script that begins with a UTF-16 byte order mark (FF FE, little-endian
// as Notepad's "Unicode" saves it; FE FF, big-endian) is UTF-16 and is read
// as the same text in UTF-8 would be. Without the mark, a script is UTF-16
// only when its first kStartBytes leave no doubt: read in one byte order
// they hold a TAB or a line end, no NUL and no other control character, no
// surrogate without its other half, and at most one character in ten that
// a script seldom holds; every other script has no NUL bytes at all there.
// A surrogate without its other half, or a last byte without its pair, is a
// character that cannot be read (a first half with the last byte after it,
// one character).
//
// The first kStartBytes are held back, and judged, whatever blocks they
// come in (less where a byte order mark comes first, or a 0x1A that ends the
// script: one after bytes that cannot begin UTF-16, or UTF-16's U+001A; the
// 0x1A of a UTF-16 character, as 通's 1A 90, ends nothing). After them,
// plain ASCII reads the same in every
// encoding but UTF-16, so the rows before the first non-ASCII byte or ESC
// go on at once; from that byte on, at most kJudgedBytes are held back until
// the encoding is known (none after a byte order mark). The decision holds
// for the whole script. A 0x1A in the ASCII before it ends the script there,
// as Shift-JIS: nothing after it is judged.
//
// In a UTF-8 or UTF-16 script a character with no Shift-JIS form becomes a
// numeric character reference (U+1F600 becomes "&#x1F600;") and each
// character that cannot be read (a byte that belongs to no valid UTF-8
// character, say) becomes "&#xFFFD;"; unreadable() counts those.
// The encoding's usual name: "Shift-JIS", "UTF-8", "UTF-16", "EUC-JP", "ISO-2022-JP".
std::string_view encodingName(ScriptEncoding encoding);

// Whether a script's first bytes (kStartBytes, or all of a shorter script)
// are UTF-16 without a mark, as the decoder tells them: for a front end that
// refuses files with NUL bytes, which such a script has.
bool isUtf16WithoutMark(std::string_view start);

class ScriptDecoder {
public:
    explicit ScriptDecoder(ScriptReader::RowHandler onRow);

    void feed(std::string_view block);
    void finish();

    // Whether a 0x1A has ended the script: nothing fed after it counts.
    bool ended() const { return reader_.ended(); }

    // Shift-JIS until the script has shown that it is in another encoding.
    ScriptEncoding encoding() const { return encoding_; }

    // Whether the encoding was judged on thin evidence (a few characters
    // that read well either way) or on conflicting evidence (bytes that the
    // encoding taken cannot read, more than a stray one: a file of two
    // encodings joined, or in one this program does not read), so that the
    // page may be garbled. Never after a byte order mark.
    bool doubtful() const { return doubtful_; }

    // How many "&#xFFFD;" went into the rows so far: characters that could
    // not be read. Always 0 for a Shift-JIS script, whose bytes pass as they are.
    std::uint64_t unreadable() const { return unreadable_; }

private:
    using Byte = unsigned char;

    void feedUndecided(std::string_view block);
    void endStart(std::size_t judged);
    void decide(std::string_view judged, bool toTheEnd);
    void decideAs(ScriptEncoding encoding);
    void feedDecided(std::string_view bytes);
    void convertAndFeed(std::string_view bytes);
    const Byte* convert(const Byte* in, const Byte* end, char*& out);
    const Byte* convertUtf8(const Byte* in, const Byte* end, char*& out, bool toTheEnd);
    template <bool kBigEndian>
    const Byte* convertUtf16(const Byte* in, const Byte* end, char*& out);
    const Byte* convertEucJp(const Byte* in, const Byte* end, char*& out);
    const Byte* convertIso2022Jp(const Byte* in, const Byte* end, char*& out);
    char* writeCharacter(char32_t c, char* out, std::uint16_t* entry);
    void convertRow(const ScriptRow& row);
    std::string_view unescaped(std::string_view field, std::string& buffer);

    ScriptReader::RowHandler onRow_;
    ScriptReader reader_;
    ScriptEncoding encoding_ = ScriptEncoding::kShiftJis;
    bool decided_ = false;
    bool doubtful_ = false;
    bool started_ = false;          // the first kStartBytes have been looked at
    std::string start_;             // those bytes, until then
    bool readerFed_ = false;        // some ASCII went to the reader before the first non-ASCII byte
    bool judgedStartsScript_ = false;
    std::size_t bomLeft_ = 0;       // bytes of a byte order mark still to drop
    std::string held_;              // the judged bytes, while they arrive in more than one block
    std::uint64_t unreadable_ = 0;
    // A UTF-8 or UTF-16 script goes to the reader converted, a piece at a time, into this buffer.
    std::unique_ptr<char[]> converted_;
    // The Shift-JIS pairs of the characters met so far (see script_decoder.cpp), from calloc.
    struct Free {
        void operator()(void* memory) const { std::free(memory); }
    };
    std::unique_ptr<std::uint16_t, Free> pairs_;
    // A character cut by the end of the last block, and room to finish it with the next one's first
    // bytes: at most three of UTF-8, of UTF-16 (a first half and one byte), of
    // EUC-JP's 8F and two bytes, or of ISO-2022-JP's escape sequences.
    static constexpr std::size_t kMostPending = 3;
    char pending_[2 * kMostPending];
    std::size_t pendingSize_ = 0;
    // The set an ISO-2022-JP script's escape sequences have switched to.
    enum class JisSet : unsigned char { kAscii, kJisX0208, kHalfWidth, kJisX0212 };
    JisSet jisSet_ = JisSet::kAscii;
    bool escaped_ = false;  // what the reader was given holds an escape (see script_decoder.cpp)
    std::string name_;      // a row's fields with their escapes undone
    std::string text_;
};

}  // namespace taletab
