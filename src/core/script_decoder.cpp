#include "script_decoder.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <utility>

#include "code_page_932.h"
#include "unicode.h"

namespace taletab {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kReplacementInUtf8 = "\xEF\xBF\xBD";
// A UTF-8 script may hold a stray byte (a pasted cp1252 quote, a character cut short) for
// every so many good characters; Shift-JIS read as UTF-8 has far more.
constexpr std::size_t kGoodPerStrayByte = 8;

using Byte = unsigned char;

// The count of bytes before the first one that is not ASCII, eight at a time.
std::size_t asciiPrefix(const Byte* from, const Byte* end) {
    const Byte* at = from;
    for (; end - at >= 8; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        if (word & 0x8080808080808080u) break;
    }
    while (at < end && *at < 0x80) ++at;
    return at - from;
}

std::size_t asciiPrefix(std::string_view bytes) {
    const auto* from = reinterpret_cast<const Byte*>(bytes.data());
    return asciiPrefix(from, from + bytes.size());
}

// What one reading of the judged bytes finds: characters beyond ASCII, bytes
// that begin none, and how likely the characters are in a script (see likeliness).
struct Reading {
    std::size_t characters = 0;
    std::size_t bad = 0;
    std::size_t likeliness = 0;
};

// How likely a character is in a Japanese script, or in the text of other
// languages one may hold: 2 for kana, the common (JIS level 1) kanji, the
// marks, full-width letters, Latin letters and signs beyond ASCII, the
// letters of Greek, Cyrillic, Armenian, Hebrew, Arabic and Thai, and general
// punctuation; 1 for the rarer (level 2) kanji, arrows, mathematical signs,
// box drawing and other symbols; 0 for anything else, kanji that Shift-JIS
// lacks among them.
std::size_t likeliness(char32_t c) {
    if ((c >= 0xA0 && c <= 0x24F) || (c >= 0x370 && c <= 0x6FF) || (c >= 0xE00 && c <= 0xE7F) ||
        (c >= 0x2010 && c <= 0x2027) || (c >= 0x3000 && c <= 0x30FF) || (c >= 0xFF01 && c <= 0xFF5E)) {
        return 2;
    }
    if ((c >= 0x2190 && c <= 0x22FF) || (c >= 0x2500 && c <= 0x26FF)) return 1;
    char bytes[2];
    if (c < 0x4E00 || c > 0x9FFF || cp932::encode(c, bytes) != 2) return 0;
    const unsigned code = static_cast<Byte>(bytes[0]) << 8 | static_cast<Byte>(bytes[1]);
    return code >= 0x889F && code <= 0x9872 ? 2 : code >= 0x989F && code <= 0xEAA4 ? 1 : 0;
}

// An ASCII letter right after a character beyond ASCII counts as an
// unlikely character: in Shift-JIS read as UTF-8 it is most often the second
// byte of a kanji.
Reading readAsUtf8(std::string_view judged, bool toTheEnd) {
    Reading reading;
    bool afterWide = false;
    while (!judged.empty()) {
        const auto first = static_cast<Byte>(judged[0]);
        if (first < 0x80) {
            reading.characters += afterWide && std::isalpha(first);
            afterWide = false;
            judged.remove_prefix(1);
            continue;
        }
        afterWide = true;
        const unicode::Decoded c = unicode::decodeUtf8(judged);
        if (c.length == 0 && c.cut && !toTheEnd) break;  // cut by the end of the judged bytes: no evidence
        if (c.length == 0) {
            ++reading.bad;
            judged.remove_prefix(1);
            continue;
        }
        ++reading.characters;
        reading.likeliness += likeliness(c.codePoint);
        judged.remove_prefix(c.length);
    }
    return reading;
}

// Half-width katakana count as likely (2 each) only in runs of three or more:
// two alone are more often a two-byte UTF-8 character ("©" reads as "ｷｩ").
Reading readAsShiftJis(std::string_view judged) {
    Reading reading;
    std::size_t halfWidthRun = 0;
    while (!judged.empty()) {
        const auto first = static_cast<Byte>(judged[0]);
        const bool halfWidth = first >= 0xA1 && first <= 0xDF;
        halfWidthRun = halfWidth ? halfWidthRun + 1 : 0;
        if (halfWidthRun == 3) reading.likeliness += 6;
        if (halfWidthRun > 3) reading.likeliness += 2;
        if (first < 0x80 || halfWidth) {
            reading.characters += halfWidth;
            judged.remove_prefix(1);
            continue;
        }
        const cp932::Decoded c = cp932::decode(judged);
        if (c.length == 0) {
            if (judged.size() > 1) ++reading.bad;  // a lead byte the judged bytes cut off is no evidence
            judged.remove_prefix(1);
            continue;
        }
        ++reading.characters;
        reading.likeliness += likeliness(c.codePoint);
        judged.remove_prefix(c.length);
    }
    return reading;
}

// Whether bytes that begin with a script's first non-ASCII byte are UTF-8 (see the header).
bool looksLikeUtf8(std::string_view judged, bool toTheEnd) {
    if (const std::size_t eof = judged.find(kEndOfScript); eof != std::string_view::npos) {
        judged = judged.substr(0, eof);  // nothing after a 0x1A belongs to the script
        toTheEnd = true;
    }
    const Reading utf8 = readAsUtf8(judged, toTheEnd);
    const Reading shiftJis = readAsShiftJis(judged);
    if (utf8.characters == 0) return false;
    if (utf8.bad == 0 && shiftJis.bad > 0) return true;
    // Neither reading holds throughout: UTF-8 where it has few bad bytes for its characters, or fewer than Shift-JIS.
    if (utf8.bad > 0) {
        return shiftJis.bad > 0 && (utf8.bad * kGoodPerStrayByte <= utf8.characters || utf8.bad < shiftJis.bad);
    }
    // Both readings hold: the one whose characters are likelier on the whole wins, Shift-JIS on a tie.
    return utf8.likeliness * shiftJis.characters > shiftJis.likeliness * utf8.characters;
}

// Converts the run of kana and kanji (three bytes each, leads E1 to EF but
// ED, which need no check beyond their continuation bytes) that the input
// begins with, as far as each has a Shift-JIS form: nearly all the bytes of
// a Japanese script take this road.
void convertThreeByteRun(const Byte*& in, const Byte* end, char*& out) {
    while (end - in >= 3) {
        const unsigned lead = in[0], second = in[1] ^ 0x80u, third = in[2] ^ 0x80u;
        if (lead <= 0xE0 || lead >= 0xF0 || lead == 0xED || (second | third) > 0x3F) return;
        const auto codePoint = static_cast<char32_t>((lead & 0x0F) << 12 | second << 6 | third);
        const std::size_t written = cp932::encode(codePoint, out);
        if (written == 0) return;
        out += written;
        in += 3;
    }
}

}  // namespace

ScriptDecoder::ScriptDecoder(ScriptReader::RowHandler onRow)
    : onRow_(std::move(onRow)), reader_([this](const ScriptRow& row) { convertRow(row); }) {}

bool ScriptDecoder::isUtf16() const {
    return encoding_ == ScriptEncoding::kUtf16LittleEndian || encoding_ == ScriptEncoding::kUtf16BigEndian;
}

void ScriptDecoder::feed(std::string_view block) {
    // After a 0x1A nothing counts, for the rows or for the encoding.
    if (reader_.ended()) return;
    if (decided_) {
        if (isUtf16()) {
            feedUtf16(block);
        } else {
            reader_.feed(block);
        }
        return;
    }
    if (held_.empty()) {
        const std::size_t ascii = asciiPrefix(block);
        if (ascii > 0) {
            reader_.feed(block.substr(0, ascii));
            readerFed_ = true;
            block.remove_prefix(ascii);
        }
        if (block.empty() || reader_.ended()) return;
        judgedStartsScript_ = !readerFed_;
        if (block.size() >= kJudgedBytes) {  // the usual case: judged where it lies, nothing copied
            decide(block.substr(0, kJudgedBytes), false);
            feedDecided(block);
            return;
        }
    }
    // The judged bytes arrive in more than one block: collect them first.
    const std::size_t taken = std::min(block.size(), kJudgedBytes - held_.size());
    held_.append(block.data(), taken);
    // After a 0x1A nothing more comes to judge: waiting for it could be waiting for ever.
    if (held_.size() < kJudgedBytes && block.substr(0, taken).find(kEndOfScript) == std::string_view::npos) return;
    decide(held_, false);
    feedDecided(held_);
    held_ = std::string();
    feed(block.substr(taken));
}

void ScriptDecoder::finish() {
    if (!decided_ && !held_.empty()) {
        decide(held_, true);
        feedDecided(held_);
        held_ = std::string();
    }
    if (isUtf16() && (oddByte_ >= 0 || highSurrogate_ != 0)) {
        reader_.feed(kReplacementInUtf8);  // a pair or a code unit cut off by the end
    }
    reader_.finish();
}

void ScriptDecoder::decide(std::string_view judged, bool toTheEnd) {
    decided_ = true;
    if (judgedStartsScript_ && judged.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        encoding_ = ScriptEncoding::kUtf8;
        bomLeft_ = kByteOrderMark.size();
    } else if (judgedStartsScript_ && judged.substr(0, 2) == kUtf16LittleEndianMark) {
        encoding_ = ScriptEncoding::kUtf16LittleEndian;
        bomLeft_ = 2;
    } else if (judgedStartsScript_ && judged.substr(0, 2) == kUtf16BigEndianMark) {
        encoding_ = ScriptEncoding::kUtf16BigEndian;
        bomLeft_ = 2;
    } else {
        encoding_ = looksLikeUtf8(judged, toTheEnd) ? ScriptEncoding::kUtf8 : ScriptEncoding::kShiftJis;
    }
}

void ScriptDecoder::feedDecided(std::string_view bytes) {
    bytes.remove_prefix(bomLeft_);  // the judged bytes hold the whole mark
    bomLeft_ = 0;
    if (isUtf16()) {
        feedUtf16(bytes);
    } else {
        reader_.feed(bytes);
    }
}

// UTF-16 goes to the reader as UTF-8, the form the rows are converted from;
// a code unit or a pair cut by the end of the block is finished by the next.
void ScriptDecoder::feedUtf16(std::string_view bytes) {
    const bool bigEndian = encoding_ == ScriptEncoding::kUtf16BigEndian;
    const auto unit = [bigEndian](unsigned first, unsigned second) {
        return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
    };
    // No code unit takes more than three bytes in UTF-8, nor a pair more than four; the
    // slack is for a unit or pair left from the block before.
    utf8_.resize(bytes.size() / 2 * 3 + 8);
    char* out = utf8_.data();
    std::size_t at = 0;
    if (oddByte_ >= 0 && !bytes.empty()) {
        appendUtf16Unit(unit(static_cast<unsigned>(oddByte_), static_cast<Byte>(bytes[0])), out);
        oddByte_ = -1;
        at = 1;
    }
    for (; at + 1 < bytes.size(); at += 2) {
        appendUtf16Unit(unit(static_cast<Byte>(bytes[at]), static_cast<Byte>(bytes[at + 1])), out);
    }
    if (at < bytes.size()) oddByte_ = static_cast<Byte>(bytes[at]);
    reader_.feed({utf8_.data(), static_cast<std::size_t>(out - utf8_.data())});
}

void ScriptDecoder::appendUtf16Unit(char16_t unit, char*& out) {
    const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (highSurrogate_ != 0) {
        const char16_t first = highSurrogate_;
        highSurrogate_ = 0;
        if (low) {
            out = unicode::writeUtf8(0x10000 + (static_cast<char32_t>(first - 0xD800) << 10) + (unit - 0xDC00), out);
            return;
        }
        out = unicode::writeUtf8(unicode::kReplacement, out);  // a first half without its second
    }
    if (high) {
        highSurrogate_ = unit;
    } else {
        out = unicode::writeUtf8(low ? unicode::kReplacement : unit, out);  // a second half alone cannot be read
    }
}

// The Shift-JIS form of a UTF-8 field, written into the buffer, which only
// ever grows so that a row costs no allocation once the longest has been seen.
std::string_view ScriptDecoder::toShiftJis(std::string_view field, std::string& buffer) {
    const auto* in = reinterpret_cast<const Byte*>(field.data());
    const auto* const end = in + field.size();
    // Room for the rest of the input and one reference more is kept at every
    // step: a character never takes more bytes in Shift-JIS than in UTF-8.
    const std::size_t room = field.size() + unicode::kLongestReference;
    if (buffer.size() < room) buffer.resize(room);
    char* out = buffer.data();
    while (in < end) {
        if (*in < 0x80) {
            const std::size_t ascii = asciiPrefix(in, end);
            std::memcpy(out, in, ascii);
            out += ascii;
            in += ascii;
            continue;
        }
        const Byte* const before = in;
        convertThreeByteRun(in, end, out);
        if (in != before) continue;
        const unicode::Decoded c =
            unicode::decodeUtf8({reinterpret_cast<const char*>(in), static_cast<std::size_t>(end - in)});
        if (c.length > 0) {
            if (const std::size_t written = cp932::encode(c.codePoint, out)) {
                out += written;
                in += c.length;
                continue;
            }
        }
        const std::size_t used = out - buffer.data();
        const std::size_t needed = used + (end - in) + 2 * unicode::kLongestReference;
        if (buffer.size() < needed) buffer.resize(std::max(needed, 2 * buffer.size()));
        out = buffer.data() + used;
        const char32_t shown = c.length > 0 ? c.codePoint : unicode::kReplacement;
        unreadable_ += shown == unicode::kReplacement;
        out += unicode::writeReference(shown, out);
        in += c.length > 0 ? c.length : 1;  // a byte that begins no character stands alone
    }
    return {buffer.data(), static_cast<std::size_t>(out - buffer.data())};
}

void ScriptDecoder::convertRow(const ScriptRow& row) {
    // Rows before the decision are plain ASCII, the same in either encoding.
    if (encoding_ == ScriptEncoding::kShiftJis) {
        onRow_(row);
        return;
    }
    ScriptRow converted;
    converted.name = toShiftJis(row.name, name_);
    // A heading's text is the reader's own filler, already Shift-JIS.
    converted.text = row.text.data() == kHeadingFiller.data() ? row.text : toShiftJis(row.text, text_);
    onRow_(converted);
}

}  // namespace taletab
