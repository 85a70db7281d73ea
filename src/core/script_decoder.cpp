#include "script_decoder.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "code_page_932.h"
#include "jis.h"
#include "page_text.h"
#include "unicode.h"

namespace taletab {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kReplacementReference = "&#xFFFD;";  // as unicode::writeReference writes U+FFFD
// A UTF-8 script may hold a stray byte (a pasted cp1252 quote, a character cut short) for
// every so many good characters; Shift-JIS read as UTF-8 has far more.
constexpr std::uint64_t kGoodPerStrayByte = 8;

using Byte = unsigned char;

struct ByteOrderMark {
    ScriptEncoding encoding = ScriptEncoding::kShiftJis;
    std::size_t length = 0;  // 0: none
};

// The mark that bytes at the start of a script begin with.
ByteOrderMark markAtStart(std::string_view bytes) {
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) return {ScriptEncoding::kUtf8, kByteOrderMark.size()};
    if (bytes.substr(0, 2) == kUtf16LittleEndianMark) return {ScriptEncoding::kUtf16LittleEndian, 2};
    if (bytes.substr(0, 2) == kUtf16BigEndianMark) return {ScriptEncoding::kUtf16BigEndian, 2};
    return {};
}

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

constexpr char kEscapeByte = '\x1B';  // begins ISO-2022-JP's escape sequences

// The count of bytes before the first one that is not ASCII, or an ESC.
std::size_t plainPrefix(std::string_view bytes) {
    const auto* from = reinterpret_cast<const Byte*>(bytes.data());
    const std::size_t ascii = asciiPrefix(from, from + bytes.size());
    const void* const escape = std::memchr(bytes.data(), kEscapeByte, ascii);
    return escape ? static_cast<const char*>(escape) - bytes.data() : ascii;
}

// An encoding judged, and whether the evidence for it was thin or conflicting.
struct Judgement {
    ScriptEncoding encoding;
    bool doubtful;
};

// What one reading of the judged bytes finds: characters beyond ASCII, bytes
// that begin none, and how likely the characters are in a script (see
// likeliness). 64 bits wide whatever std::size_t is: the judging multiplies
// them, and must come out the same in a 32-bit build (the browser's module).
struct Reading {
    std::uint64_t characters = 0;
    std::uint64_t bad = 0;
    std::uint64_t likeliness = 0;
    std::uint64_t halfWidthMarks = 0;  // ､ and the like among half-width katakana, in a Shift-JIS reading
};

// How likely a character is in a Japanese script, or in the text of other
// languages one may hold: 3 for kana, Latin letters beyond ASCII and the
// letters of Greek, Cyrillic, Armenian, Hebrew, Arabic and Thai (what such
// text is mostly made of); 2 for the common (JIS level 1) kanji, the marks,
// full-width letters, signs beyond ASCII and general punctuation; 1 for the
// rarer (level 2) kanji, arrows, mathematical signs, box drawing and other
// symbols; 0 for anything else, kanji that Shift-JIS lacks among them.
unsigned likeliness(char32_t c) {
    if ((c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || (c >= 0xC0 && c <= 0x24F) ||
        (c >= 0x370 && c <= 0x6FF) || (c >= 0xE00 && c <= 0xE7F)) {
        return 3;
    }
    if ((c >= 0xA0 && c <= 0xBF) || (c >= 0x2010 && c <= 0x2027) || (c >= 0x3000 && c <= 0x30FF) ||
        (c >= 0xFF01 && c <= 0xFF5E)) {
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
// byte of a kanji. A kanji that Shift-JIS lacks counts as two: Shift-JIS
// read as UTF-8 is full of them, Japanese text has few.
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
            // A character cut short by the next one is one bad character, however many bytes it kept.
            ++reading.bad;
            const std::size_t kept = first >= 0xE0 && first <= 0xF4 ? (first >= 0xF0 ? 3 : 2) : 1;
            std::size_t at = 1;
            while (at < kept && at < judged.size() && (static_cast<Byte>(judged[at]) & 0xC0) == 0x80) ++at;
            judged.remove_prefix(at);
            continue;
        }
        char bytes[2];
        const bool lacked = c.codePoint >= 0x4E00 && c.codePoint <= 0x9FFF && cp932::encode(c.codePoint, bytes) != 2;
        reading.characters += 1 + lacked;
        reading.likeliness += likeliness(c.codePoint);
        judged.remove_prefix(c.length);
    }
    return reading;
}

// Half-width katakana count as likely (3 each, as kana) only in runs of three or more:
// two alone are more often a two-byte UTF-8 character ("©" reads as "ｷｩ").
// A lead byte cut by the end of the script counts against it.
Reading readAsShiftJis(std::string_view judged, bool toTheEnd) {
    Reading reading;
    std::size_t halfWidthRun = 0;
    bool afterUtf8Like = false;  // the last character was a kanji made of UTF-8's bytes (see below)
    while (!judged.empty()) {
        const auto first = static_cast<Byte>(judged[0]);
        const bool halfWidth = first >= 0xA1 && first <= 0xDF;
        halfWidthRun = halfWidth ? halfWidthRun + 1 : 0;
        if (halfWidthRun == 3) reading.likeliness += 9;
        if (halfWidthRun > 3) reading.likeliness += 3;
        reading.halfWidthMarks += halfWidthRun >= 3 && first <= 0xA5;
        if (first < 0x80 || halfWidth) {
            reading.characters += halfWidth;
            afterUtf8Like = false;
            judged.remove_prefix(1);
            continue;
        }
        const cp932::Decoded c = cp932::decode(judged);
        if (c.length == 0) {
            // A lead byte the judged bytes cut off is no evidence; one the script's end cuts off is.
            if (judged.size() > 1 || toTheEnd) ++reading.bad;
            afterUtf8Like = false;
            judged.remove_prefix(1);
            continue;
        }
        ++reading.characters;
        // A kanji whose bytes are the lead of a UTF-8 symbol, kana or kanji and a continuation byte is what UTF-8
        // text read as Shift-JIS is half made of; in Shift-JIS text it is a rare one. The character after it, when
        // made of a continuation byte and the lead of the next such UTF-8 character, which the two bytes after it
        // complete, is most of the other half.
        const auto trail = c.length == 2 ? static_cast<Byte>(judged[1]) : Byte{0};
        const auto continues = [&](std::size_t at) {
            return at < judged.size() && (static_cast<Byte>(judged[at]) & 0xC0) == 0x80;
        };
        const bool utf8Like = first >= 0xE2 && first <= 0xE9 && trail >= 0x80 && trail <= 0xBF;
        const bool acrossUtf8 =
            afterUtf8Like && first <= 0xBF && trail >= 0xE2 && trail <= 0xE9 && continues(2) && continues(3);
        reading.likeliness += utf8Like || acrossUtf8 ? 0 : likeliness(c.codePoint);
        afterUtf8Like = utf8Like;
        judged.remove_prefix(c.length);
    }
    return reading;
}

// EUC-JP: a pair of bytes A1 to FE is a JIS X 0208 character, 8E and one
// byte a half-width katakana, 8F and a pair a JIS X 0212 one.
Reading readAsEucJp(std::string_view judged, bool toTheEnd) {
    Reading reading;
    while (!judged.empty()) {
        const auto first = static_cast<Byte>(judged[0]);
        if (first < 0x80) {
            judged.remove_prefix(1);
            continue;
        }
        const std::size_t length = first == 0x8F ? 3 : 2;
        if (judged.size() < length) {
            reading.bad += toTheEnd;  // cut by the end of the judged bytes: no evidence
            break;
        }
        const auto second = static_cast<Byte>(judged[1]), third = static_cast<Byte>(judged[length - 1]);
        char32_t c = 0;
        if (first == 0x8E) {
            c = second >= 0xA1 && second <= 0xDF ? 0xFF61 + (second - 0xA1) : 0;
        } else if (first == 0x8F) {
            c = second >= 0xA1 && third >= 0xA1 ? jis::supplementary(second - 0xA0, third - 0xA0) : 0;
        } else if (first >= 0xA1 && second >= 0xA1) {
            const std::uint16_t form = jis::shiftJisForm(first - 0xA0, second - 0xA0);
            const char bytes[2] = {static_cast<char>(form >> 8), static_cast<char>(form)};
            c = form ? cp932::decode({bytes, 2}).codePoint : 0;
        }
        if (c == 0) {
            // As the conversion has it: a pair of the right bytes that is no character is one bad character.
            ++reading.bad;
            judged.remove_prefix(first != 0x8E && second >= 0xA1 && third >= 0xA1 ? length : 1);
            continue;
        }
        ++reading.characters;
        reading.likeliness += first == 0x8E ? 1 : likeliness(c);  // half-width katakana: rare, but meant
        judged.remove_prefix(length);
    }
    return reading;
}

// Whether the judged bytes are 7-bit and switch to one of ISO-2022-JP's sets
// of two bytes or its half-width katakana.
bool looksLikeIso2022Jp(std::string_view judged) {
    if (asciiPrefix(reinterpret_cast<const Byte*>(judged.data()),
                    reinterpret_cast<const Byte*>(judged.data()) + judged.size()) != judged.size()) {
        return false;
    }
    for (const std::string_view escape : {"\x1B$B", "\x1B$@", "\x1B(I", "\x1B$(D", "\x1B$(Q", "\x1B$(O"}) {
        if (judged.find(escape) != std::string_view::npos) return true;
    }
    return false;
}

// Whether the judged bytes are UTF-8 rather than Shift-JIS (see the header),
// given both readings and, where neither holds, the judged bytes themselves.
bool looksLikeUtf8(const Reading& utf8, const Reading& shiftJis, std::string_view judged, bool toTheEnd);

// How many lines of the judged bytes that hold a byte beyond ASCII are each
// UTF-8 and Shift-JIS, judged line by line: two files joined into one, say.
std::pair<std::uint64_t, std::uint64_t> linesEachWay(std::string_view judged, bool toTheEnd) {
    std::uint64_t utf8Lines = 0, shiftJisLines = 0;
    while (!judged.empty()) {
        const std::size_t lineEnd = judged.find('\n');
        const std::string_view line = judged.substr(0, lineEnd);
        judged.remove_prefix(lineEnd == std::string_view::npos ? judged.size() : lineEnd + 1);
        if (plainPrefix(line) == line.size()) continue;
        const bool last = judged.empty() && lineEnd == std::string_view::npos;
        const bool ends = !last || toTheEnd;
        const Reading utf8 = readAsUtf8(line, ends), shiftJis = readAsShiftJis(line, ends);
        // Within a line both readings failing is a line of neither: it takes no side.
        if (utf8.bad > 0 && shiftJis.bad > 0) continue;
        (looksLikeUtf8(utf8, shiftJis, {}, ends) ? utf8Lines : shiftJisLines) += 1;
    }
    return {utf8Lines, shiftJisLines};
}

bool looksLikeUtf8(const Reading& utf8, const Reading& shiftJis, std::string_view judged, bool toTheEnd) {
    if (utf8.characters == 0) return false;
    if (utf8.bad == 0 && shiftJis.bad > 0) return true;
    // UTF-8 does not hold throughout. Where it has a stray byte or two (a short line, say): UTF-8 if its
    // characters are likelier, each bad byte an unlikely character. Where Shift-JIS fails too: UTF-8 where it
    // has few bad bytes for its characters, or fewer than Shift-JIS. Either way, UTF-8 where more of the
    // lines are UTF-8.
    if (utf8.bad > 0) {
        if (utf8.bad <= 2 && utf8.likeliness * (shiftJis.characters + shiftJis.bad) >
                                 shiftJis.likeliness * (utf8.characters + utf8.bad)) {
            return true;
        }
        if (shiftJis.bad > 0 && (utf8.bad * kGoodPerStrayByte <= utf8.characters || utf8.bad < shiftJis.bad)) {
            return true;
        }
        // UTF-8 read as Shift-JIS may well hold throughout: UTF-8 lines joined with Shift-JIS ones are told
        // line by line, where bad bytes are not far more than good UTF-8 characters (as in Shift-JIS text).
        if (utf8.bad > 4 * utf8.characters) return false;
        // The first lines tell: reading every line again costs a Shift-JIS script's judging twice over.
        constexpr std::size_t kVotedBytes = 16 * 1024;
        const auto [utf8Lines, shiftJisLines] =
            linesEachWay(judged.substr(0, kVotedBytes), toTheEnd && judged.size() <= kVotedBytes);
        return utf8Lines > shiftJisLines;
    }
    // Both readings hold: the one whose characters are likelier on the whole wins, Shift-JIS on a tie.
    return utf8.likeliness * shiftJis.characters > shiftJis.likeliness * utf8.characters;
}

// Fewer characters beyond ASCII than this, valid in two encodings, make a thin decision.
constexpr std::uint64_t kFewCharacters = 16;

// The encoding of bytes that begin with a script's first non-ASCII byte or ESC (see the header).
Judgement judge(std::string_view judged, bool toTheEnd) {
    if (const std::size_t eof = judged.find(kEndOfScript); eof != std::string_view::npos) {
        judged = judged.substr(0, eof);  // nothing after a 0x1A belongs to the script
        toTheEnd = true;
    }
    if (looksLikeIso2022Jp(judged)) return {ScriptEncoding::kIso2022Jp, false};
    const Reading utf8 = readAsUtf8(judged, toTheEnd);
    const Reading shiftJis = readAsShiftJis(judged, toTheEnd);
    // Doubtful: the reading taken has more bad bytes than a stray one, or both hold over a few characters.
    const auto doubtful = [](const Reading& taken, const Reading& other) {
        return taken.bad * kGoodPerStrayByte > taken.characters ||
               (taken.bad == 0 && other.bad == 0 && taken.characters < kFewCharacters);
    };
    if (utf8.bad > 0) {
        const Reading euc = readAsEucJp(judged, toTheEnd);
        // EUC-JP's kana read as Shift-JIS are half-width katakana and marks: the marks count for nothing.
        const std::uint64_t shiftJisLikeliness =
            shiftJis.likeliness - std::min(shiftJis.likeliness, 3 * shiftJis.halfWidthMarks);
        // EUC-JP text is mostly kana and common kanji; Shift-JIS that happens to be valid EUC-JP reads as rare kanji.
        // A stray byte is borne as in UTF-8.
        if (euc.bad * kGoodPerStrayByte <= euc.characters && euc.characters > 0 && euc.likeliness > euc.characters &&
            (shiftJis.bad > 0 || euc.likeliness * shiftJis.characters > shiftJisLikeliness * euc.characters)) {
            return {ScriptEncoding::kEucJp, doubtful(euc, shiftJis)};
        }
    }
    if (looksLikeUtf8(utf8, shiftJis, judged, toTheEnd)) return {ScriptEncoding::kUtf8, doubtful(utf8, shiftJis)};
    // Plain ASCII after an ESC that switches to nothing is no doubt.
    return {ScriptEncoding::kShiftJis, utf8.characters + shiftJis.characters > 0 && doubtful(shiftJis, utf8)};
}

// Whether the bytes, read as UTF-16 in one byte order, hold only what a
// script may (no NUL or other control character but a TAB, a line end or a
// 0x1A, no surrogate without its other half, at most one character in ten
// that a script seldom holds), and how many TABs and line ends.
struct Utf16Reading {
    bool holds = true;
    std::uint64_t lineBreaks = 0;
};

Utf16Reading readAsUtf16(std::string_view start, bool bigEndian) {
    Utf16Reading reading;
    std::uint64_t beyondAscii = 0, unlikely = 0;
    for (std::size_t at = 0; reading.holds && at + 1 < start.size(); at += 2) {
        const auto low = static_cast<Byte>(start[at + bigEndian]), high = static_cast<Byte>(start[at + !bigEndian]);
        const char32_t unit = static_cast<char32_t>(high << 8 | low);
        if (unit < 0x80) {
            reading.lineBreaks += unit == '\t' || unit == '\n' || unit == '\r';
            reading.holds = unit >= 0x20 || unit == '\t' || unit == '\n' || unit == '\r' || unit == 0x1A;
        } else if (unicode::isHighSurrogate(unit)) {
            const std::size_t next = at + 2;
            reading.holds = next + 1 >= start.size() ||
                            unicode::isLowSurrogate(static_cast<Byte>(start[next + !bigEndian]) << 8 |
                                                    static_cast<Byte>(start[next + bigEndian]));
            ++beyondAscii;
            at += 2;
        } else {
            reading.holds = !unicode::isLowSurrogate(unit);
            ++beyondAscii;
            unlikely += likeliness(unit) == 0;
        }
    }
    reading.holds = reading.holds && unlikely * 10 <= beyondAscii;
    return reading;
}

// UTF-16 without a mark, when the script's first bytes leave no doubt (see the header).
ScriptEncoding utf16WithoutMark(std::string_view start) {
    for (const bool bigEndian : {false, true}) {
        const Utf16Reading reading = readAsUtf16(start, bigEndian);
        if (start.size() >= 4 && reading.holds && reading.lineBreaks > 0) {
            return bigEndian ? ScriptEncoding::kUtf16BigEndian : ScriptEncoding::kUtf16LittleEndian;
        }
    }
    return ScriptEncoding::kShiftJis;
}

// How many of a script's first bytes are judged for UTF-16 without a mark:
// kStartBytes, or all of a shorter script (`whole`: there is no more), or
// fewer where a 0x1A byte ends the script first: one after bytes that cannot
// begin UTF-16, or the U+001A of UTF-16. A 0x1A inside a UTF-16 character
// (通 is 1A 90) ends nothing. Depends on the bytes alone, never on how they
// came; kUndecided until the bytes so far (`start`) can tell.
constexpr std::size_t kUndecided = std::string_view::npos;

std::size_t judgedStartSize(std::string_view start, bool whole) {
    start = start.substr(0, kStartBytes);
    for (std::size_t at = start.find(kEndOfScript); at != std::string_view::npos;
         at = start.find(kEndOfScript, at + 1)) {
        const std::string_view before = start.substr(0, at - at % 2);
        if (!readAsUtf16(before, false).holds && !readAsUtf16(before, true).holds) return at + 1;
        if (at % 2 == 1 && start[at - 1] == '\0') return at + 1;  // big-endian U+001A
        if (at + 1 == start.size()) break;
        if (at % 2 == 0 && start[at + 1] == '\0') return at + 1;  // little-endian U+001A
    }
    return whole || start.size() == kStartBytes ? start.size() : kUndecided;
}

// In the converted bytes a character that cannot be read stands as two
// bytes, kEscape and kUnreadable, until its row is handed on, where it
// becomes "&#xFFFD;": counted there, it is counted only where it reaches a
// row (not after a NUL, say). Every byte is some character's Shift-JIS form,
// so the one character whose form is kEscape (U+F8F3) stands as two
// kEscape. A sound mark, U+3099 or U+309A, stands as kEscape and
// kVoiced or kSemiVoiced, and becomes there, with the kana before it, the
// kana the two stand for (か and U+3099: が, as text typed on a Mac has
// them), or else its reference. No such byte is one the reader looks for.
constexpr char kEscape = '\xFF';
constexpr char kUnreadable = '!';
constexpr char kVoiced = '"';
constexpr char kSemiVoiced = '\'';

// A UTF-8 or UTF-16 script is converted this many bytes at a time; their
// Shift-JIS form is at most four times as long (a UTF-16 unit as "&#xFFFF;").
constexpr std::size_t kPieceSize = 64 * 1024;
constexpr std::size_t kConvertedSize = 4 * kPieceSize;

// The table of Shift-JIS pairs holds, for each character met that has one,
// its two bytes as they lie in memory; 0 for any other, decoded on its own.
// A UTF-8 script's is indexed by a character's three bytes less E0 00 00
// (kana and kanji are E3 to E9 xx xx), with room for any continuation bytes,
// so that looking a character up checks them too; a UTF-16 script's by the
// code unit. Only the entries of characters met are ever written.
constexpr std::uint32_t kThreeByteLeads = 0xE00000;
constexpr std::size_t kUtf8PairsSize = std::size_t{1} << 20;
constexpr std::size_t kUtf16PairsSize = std::size_t{1} << 16;

}  // namespace

bool isUtf16WithoutMark(std::string_view start) {
    return markAtStart(start).length == 0 &&
           utf16WithoutMark(start.substr(0, judgedStartSize(start, true))) != ScriptEncoding::kShiftJis;
}

std::string_view encodingName(ScriptEncoding encoding) {
    switch (encoding) {
        case ScriptEncoding::kShiftJis:
            return "Shift-JIS";
        case ScriptEncoding::kUtf8:
            return "UTF-8";
        case ScriptEncoding::kEucJp:
            return "EUC-JP";
        case ScriptEncoding::kIso2022Jp:
            return "ISO-2022-JP";
        default:
            return "UTF-16";
    }
}

ScriptDecoder::ScriptDecoder(ScriptReader::RowHandler onRow)
    : onRow_(std::move(onRow)), reader_([this](const ScriptRow& row) { convertRow(row); }) {}

void ScriptDecoder::feed(std::string_view block) {
    // After a 0x1A nothing counts, for the rows or for the encoding.
    if (reader_.ended()) return;
    if (decided_) {
        feedDecided(block);
        return;
    }
    if (!started_) {
        const std::size_t taken = std::min(block.size(), kStartBytes - start_.size());
        start_.append(block.data(), taken);
        // A byte order mark, or a 0x1A that ends the script, ends the wait at once.
        const std::size_t judged = judgedStartSize(start_, false);
        if (judged == kUndecided && markAtStart(start_).length == 0) return;
        endStart(judged);
        block.remove_prefix(taken);
        if (block.empty()) return;
        feed(block);
        return;
    }
    feedUndecided(block);
}

// The script's first bytes are UTF-16 without a mark, as the first `judged` of them tell,
// or go on to be judged as any other bytes.
void ScriptDecoder::endStart(std::size_t judged) {
    started_ = true;
    const std::string start = std::move(start_);
    start_ = std::string();
    if (markAtStart(start).length == 0) {
        const std::string_view judgedBytes = std::string_view(start).substr(0, judged);
        const ScriptEncoding utf16 = utf16WithoutMark(judgedBytes);
        if (utf16 != ScriptEncoding::kShiftJis) {
            decideAs(utf16);
            feedDecided(start);
            return;
        }
        // Many NUL bytes that are not UTF-16: an encoding this program does not read (UTF-32, say), or no text.
        doubtful_ = !judgedBytes.empty() &&
                    4 * static_cast<std::size_t>(std::count(judgedBytes.begin(), judgedBytes.end(), '\0')) >=
                        judgedBytes.size();
    }
    feedUndecided(start);
}

void ScriptDecoder::feedUndecided(std::string_view block) {
    if (reader_.ended()) return;
    if (decided_) {
        feedDecided(block);
        return;
    }
    if (held_.empty()) {
        const std::size_t plain = plainPrefix(block);
        if (plain > 0) {
            reader_.feed(block.substr(0, plain));
            readerFed_ = true;
            block.remove_prefix(plain);
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
    // A byte order mark decides at once.
    if (held_.size() < kJudgedBytes && block.substr(0, taken).find(kEndOfScript) == std::string_view::npos &&
        !(judgedStartsScript_ && markAtStart(held_).length > 0)) {
        return;
    }
    decide(held_, false);
    feedDecided(held_);
    held_ = std::string();
    feedUndecided(block.substr(taken));
}

void ScriptDecoder::finish() {
    if (!started_) endStart(judgedStartSize(start_, true));
    if (!decided_ && !held_.empty()) {
        decide(held_, true);
        feedDecided(held_);
        held_ = std::string();
    }
    if (pendingSize_ > 0 && !reader_.ended()) {
        const auto* const pending = reinterpret_cast<const Byte*>(pending_);
        char* out = converted_.get();
        if (encoding_ == ScriptEncoding::kUtf8) {
            convertUtf8(pending, pending + pendingSize_, out, true);  // each byte of a cut character stands alone
        } else {
            out = writeCharacter(unicode::kReplacement, out, nullptr);  // a character cut off by the end
        }
        reader_.feed({converted_.get(), static_cast<std::size_t>(out - converted_.get())});
    }
    pendingSize_ = 0;
    reader_.finish();
}

void ScriptDecoder::decide(std::string_view judged, bool toTheEnd) {
    const ByteOrderMark mark = judgedStartsScript_ ? markAtStart(judged) : ByteOrderMark{};
    bomLeft_ = mark.length;
    if (mark.length > 0) {
        decideAs(mark.encoding);
        return;
    }
    const Judgement judgement = judge(judged, toTheEnd);
    doubtful_ = doubtful_ || judgement.doubtful;
    decideAs(judgement.encoding);
}

void ScriptDecoder::decideAs(ScriptEncoding encoding) {
    decided_ = true;
    encoding_ = encoding;
    if (encoding_ == ScriptEncoding::kShiftJis) return;
    // Zero pages from the system: a small script does not pay for the table's size.
    const std::size_t entries = encoding_ == ScriptEncoding::kUtf8 ? kUtf8PairsSize : kUtf16PairsSize;
    pairs_.reset(static_cast<std::uint16_t*>(std::calloc(entries, sizeof(std::uint16_t))));
    if (!pairs_) throw std::bad_alloc();
    converted_.reset(new char[kConvertedSize]);
    if (encoding_ == ScriptEncoding::kEucJp || encoding_ == ScriptEncoding::kIso2022Jp) {
        // JIS X 0208 by its two bytes in EUC-JP, A1 to FE each (ISO-2022-JP's, 21 to 7E, with 80 added).
        for (unsigned row = 1; row <= 94; ++row) {
            for (unsigned cell = 1; cell <= 94; ++cell) {
                const std::uint16_t form = jis::shiftJisForm(row, cell);
                const char bytes[2] = {static_cast<char>(form >> 8), static_cast<char>(form)};
                if (form) std::memcpy(&pairs_.get()[(row + 0xA0) << 8 | (cell + 0xA0)], bytes, 2);
            }
        }
    }
}

void ScriptDecoder::feedDecided(std::string_view bytes) {
    bytes.remove_prefix(bomLeft_);  // the judged bytes hold the whole mark
    bomLeft_ = 0;
    if (encoding_ == ScriptEncoding::kShiftJis) {
        reader_.feed(bytes);
    } else {
        convertAndFeed(bytes);
    }
}

// The reader is given the script in Shift-JIS, so that each byte is looked
// at once on the way and the reader finds its lines in the shorter form. The
// rows come out the same as if the script's own fields were converted: TAB,
// LF, CR, NUL and 0x1A are themselves in both, and no other character's
// Shift-JIS form or reference holds one of those bytes.
void ScriptDecoder::convertAndFeed(std::string_view bytes) {
    const auto* in = reinterpret_cast<const Byte*>(bytes.data());
    const Byte* const end = in + bytes.size();
    if (pendingSize_ > 0 && in != end && !reader_.ended()) {
        // The character cut by the last block, finished with the first bytes of this one.
        const std::size_t added = std::min<std::size_t>(kMostPending, end - in);
        std::memcpy(pending_ + pendingSize_, in, added);
        const auto* const joined = reinterpret_cast<const Byte*>(pending_);
        char* out = converted_.get();
        const std::size_t used = convert(joined, joined + pendingSize_ + added, out) - joined;
        reader_.feed({converted_.get(), static_cast<std::size_t>(out - converted_.get())});
        if (used < pendingSize_) {  // still cut: the block was shorter than the character
            std::memmove(pending_, pending_ + used, pendingSize_ + added - used);
            pendingSize_ += added - used;
            return;
        }
        in += used - pendingSize_;
        pendingSize_ = 0;
    }
    while (in != end && !reader_.ended()) {
        const Byte* const pieceEnd = end - in > static_cast<std::ptrdiff_t>(kPieceSize) ? in + kPieceSize : end;
        char* out = converted_.get();
        const Byte* const stop = convert(in, pieceEnd, out);
        reader_.feed({converted_.get(), static_cast<std::size_t>(out - converted_.get())});
        if (stop != pieceEnd && pieceEnd == end) {  // a character cut by the end of the block
            pendingSize_ = end - stop;
            std::memcpy(pending_, stop, pendingSize_);
            return;
        }
        in = stop;
    }
}

const Byte* ScriptDecoder::convert(const Byte* in, const Byte* end, char*& out) {
    switch (encoding_) {
        case ScriptEncoding::kUtf8:
            return convertUtf8(in, end, out, false);
        case ScriptEncoding::kUtf16LittleEndian:
            return convertUtf16<false>(in, end, out);
        case ScriptEncoding::kEucJp:
            return convertEucJp(in, end, out);
        case ScriptEncoding::kIso2022Jp:
            return convertIso2022Jp(in, end, out);
        default:
            return convertUtf16<true>(in, end, out);
    }
}

// Runs of JIS X 0208 pairs take one look-up each, as UTF-16's code units do.
const Byte* ScriptDecoder::convertEucJp(const Byte* in, const Byte* end, char*& converted) {
    char* out = converted;
    const std::uint16_t* const pairs = pairs_.get();
    while (in != end) {
        for (std::uint16_t pair; end - in >= 2 && (pair = pairs[in[0] << 8 | in[1]]) != 0; in += 2, out += 2) {
            std::memcpy(out, &pair, 2);
        }
        if (in == end) break;
        const Byte first = *in;
        if (first < 0x80) {
            // Between runs mostly a TAB or a line end, as in UTF-8.
            while (in != end && *in < 0x80) *out++ = static_cast<char>(*in++);
            continue;
        }
        const std::ptrdiff_t length = first == 0x8F ? 3 : first == 0x8E || first >= 0xA1 ? 2 : 1;
        if (end - in < length) break;  // finished by the bytes that follow
        const Byte second = length > 1 ? in[1] : 0, third = in[length - 1];
        if (first == 0x8E && second >= 0xA1 && second <= 0xDF) {
            *out++ = static_cast<char>(second);  // a half-width katakana: its one byte
            in += 2;
            continue;
        }
        char32_t c = 0;
        if (first == 0x8F && second >= 0xA1 && third >= 0xA1) c = jis::supplementary(second - 0xA0, third - 0xA0);
        // A pair of the right bytes that is no character is one that cannot be read; any other byte stands alone.
        const bool pairOfJis = first != 0x8E && length > 1 && second >= 0xA1 && third >= 0xA1;
        out = writeCharacter(c != 0 ? c : unicode::kReplacement, out, nullptr);
        in += pairOfJis ? length : 1;
    }
    converted = out;
    return in;
}

const Byte* ScriptDecoder::convertIso2022Jp(const Byte* in, const Byte* end, char*& converted) {
    char* out = converted;
    const std::uint16_t* const pairs = pairs_.get();
    const auto isJis = [](Byte b) { return b >= 0x21 && b <= 0x7E; };
    while (in != end) {
        if (jisSet_ == JisSet::kJisX0208) {
            for (std::uint16_t pair; end - in >= 2 && isJis(in[0]) && isJis(in[1]) &&
                                     (pair = pairs[(in[0] << 8 | in[1]) | 0x8080]) != 0;
                 in += 2, out += 2) {
                std::memcpy(out, &pair, 2);
            }
            if (in == end) break;
        }
        const Byte first = *in;
        if (first == kEscapeByte) {
            // ESC ( B and ESC ( J: ASCII; ESC ( I: half-width katakana; ESC $ @, ESC $ B and JIS X 0213's
            // ESC $ ( Q and ESC $ ( O: JIS X 0208; ESC $ ( D: JIS X 0212. Any other ESC is a byte as it is.
            static constexpr struct {
                std::string_view bytes;
                JisSet set;
            } kEscapes[] = {{"\x1B(B", JisSet::kAscii},       {"\x1B(J", JisSet::kAscii},
                            {"\x1B(I", JisSet::kHalfWidth},   {"\x1B$@", JisSet::kJisX0208},
                            {"\x1B$B", JisSet::kJisX0208},    {"\x1B$(Q", JisSet::kJisX0208},
                            {"\x1B$(O", JisSet::kJisX0208},   {"\x1B$(D", JisSet::kJisX0212}};
            const std::string_view rest(reinterpret_cast<const char*>(in), end - in);
            constexpr std::ptrdiff_t kCutEscape = -1;  // the bytes end before the sequence can be told
            std::ptrdiff_t length = 0;
            for (const auto& escape : kEscapes) {
                if (rest.size() < escape.bytes.size() && escape.bytes.substr(0, rest.size()) == rest) {
                    length = kCutEscape;
                } else if (rest.substr(0, escape.bytes.size()) == escape.bytes) {
                    jisSet_ = escape.set;
                    length = static_cast<std::ptrdiff_t>(escape.bytes.size());
                    break;
                }
            }
            if (length == kCutEscape) break;  // finished by the bytes that follow
            if (length > 0) {
                in += length;
                continue;
            }
        }
        // No byte of the script is beyond 7F: one that is would reach the page as it is, or pass for an escape.
        if (first >= 0x80) {
            out = writeCharacter(unicode::kReplacement, out, nullptr);
            ++in;
            continue;
        }
        // Control characters and the space are themselves in every set.
        if (first <= 0x20 || first == 0x7F || jisSet_ == JisSet::kAscii) {
            *out++ = static_cast<char>(first);
            ++in;
            continue;
        }
        if (jisSet_ == JisSet::kHalfWidth) {
            out = first <= 0x5F ? (*out = static_cast<char>(first | 0x80), out + 1)
                                : writeCharacter(unicode::kReplacement, out, nullptr);
            ++in;
            continue;
        }
        if (end - in < 2) break;  // finished by the bytes that follow
        if (!isJis(in[1])) {  // a byte without its pair
            out = writeCharacter(unicode::kReplacement, out, nullptr);
            ++in;
            continue;
        }
        const char32_t c = jisSet_ == JisSet::kJisX0212 ? jis::supplementary(first - 0x20, in[1] - 0x20) : 0;
        out = writeCharacter(c != 0 ? c : unicode::kReplacement, out, nullptr);  // JIS X 0208 here has no character
        in += 2;
    }
    converted = out;
    return in;
}

// Nearly every byte of a Japanese script is in a character of three bytes
// (kana and kanji) with a Shift-JIS pair: a run of those takes one look-up
// each; everything else is decoded on its own.
const Byte* ScriptDecoder::convertUtf8(const Byte* in, const Byte* end, char*& converted, bool toTheEnd) {
    // Kept in locals: the compiler cannot know that writing the output leaves the table's address alone.
    char* out = converted;
    std::uint16_t* const pairs = pairs_.get();
    // A run reads four bytes for a character of three, which the compiler makes one load of:
    // it stops three bytes before the end.
    const Byte* const runEnd = end - std::min<std::ptrdiff_t>(end - in, 3);
    while (in != end) {
        for (; in < runEnd; in += 3, out += 2) {
            const std::uint32_t four = std::uint32_t{in[0]} << 24 | std::uint32_t{in[1]} << 16 | in[2] << 8 | in[3];
            const std::uint32_t index = (four >> 8) - kThreeByteLeads;
            if (index >= kUtf8PairsSize) break;
            const std::uint16_t pair = pairs[index];
            if (pair == 0) break;
            std::memcpy(out, &pair, 2);
        }
        if (in == end) break;
        if (*in < 0x80) {
            // Between runs mostly a TAB or a line end: a few bytes one by one, a long stretch at once.
            const Byte* const fewEnd = in + std::min<std::ptrdiff_t>(end - in, 8);
            while (in != fewEnd && *in < 0x80) *out++ = static_cast<char>(*in++);
            if (in == fewEnd) {
                const std::size_t ascii = asciiPrefix(in, end);
                std::memcpy(out, in, ascii);
                in += ascii;
                out += ascii;
            }
            continue;
        }
        const unicode::Decoded c =
            unicode::decodeUtf8({reinterpret_cast<const char*>(in), static_cast<std::size_t>(end - in)});
        if (c.length == 0 && c.cut && !toTheEnd) break;  // finished by the bytes that follow
        std::uint16_t* const entry =
            c.length == 3 ? &pairs[(std::uint32_t{in[0]} << 16 | in[1] << 8 | in[2]) - kThreeByteLeads] : nullptr;
        out = writeCharacter(c.length > 0 ? c.codePoint : unicode::kReplacement, out, entry);
        in += c.length > 0 ? c.length : 1;  // a byte that begins no character stands alone
    }
    converted = out;
    return in;
}

template <bool kBigEndian>
const Byte* ScriptDecoder::convertUtf16(const Byte* in, const Byte* end, char*& converted) {
    const auto unitAt = [](const Byte* at) {
        return static_cast<char16_t>(kBigEndian ? at[0] << 8 | at[1] : at[1] << 8 | at[0]);
    };
    char* out = converted;
    std::uint16_t* const pairs = pairs_.get();
    const Byte* const unitsEnd = in + ((end - in) & ~std::ptrdiff_t{1});  // where the last whole unit ends
    while (in < unitsEnd) {
        // Runs of kana and kanji, and of ASCII, the bulk of a script.
        for (std::uint16_t pair; in < unitsEnd && (pair = pairs[unitAt(in)]) != 0; in += 2, out += 2) {
            std::memcpy(out, &pair, 2);
        }
        for (; in < unitsEnd && unitAt(in) < 0x80; in += 2) *out++ = static_cast<char>(unitAt(in));
        if (in == unitsEnd) break;
        const char16_t unit = unitAt(in);
        if (pairs[unit] != 0) continue;
        if (unicode::isHighSurrogate(unit)) {
            if (unitsEnd - in < 4) break;  // finished by the bytes that follow
            const char16_t next = unitAt(in + 2);
            if (unicode::isLowSurrogate(next)) {
                out = writeCharacter(unicode::fromSurrogates(unit, next), out, nullptr);
                in += 4;
                continue;
            }
        }
        // A surrogate without its other half cannot be read.
        const bool surrogate = unicode::isHighSurrogate(unit) || unicode::isLowSurrogate(unit);
        out = writeCharacter(surrogate ? unicode::kReplacement : unit, out, surrogate ? nullptr : &pairs[unit]);
        in += 2;
    }
    converted = out;
    return in;
}

// Writes the character's Shift-JIS form, or its reference, and remembers a
// pair in the table's entry for it, where it has one.
char* ScriptDecoder::writeCharacter(char32_t c, char* out, std::uint16_t* entry) {
    if (c == unicode::kReplacement || unicode::isKanaSoundMark(c)) {
        out[0] = kEscape;
        out[1] = c == unicode::kReplacement ? kUnreadable : c == 0x3099 ? kVoiced : kSemiVoiced;
        escaped_ = true;
        return out + 2;
    }
    char* const end = writePageCharacter(c, out);
    const std::ptrdiff_t written = end - out;  // 1 or 2 for a Shift-JIS form; a reference is longer
    if (written == 2 && entry) std::memcpy(entry, out, 2);
    if (written == 1 && out[0] == kEscape) {
        out[1] = kEscape;
        escaped_ = true;
        return out + 2;
    }
    return end;
}

void ScriptDecoder::convertRow(const ScriptRow& row) {
    if (!escaped_) {
        onRow_(row);
        return;
    }
    ScriptRow shown;
    shown.name = unescaped(row.name, name_);
    shown.text = unescaped(row.text, text_);
    onRow_(shown);
}

namespace {

// Whether the byte begins a character of two bytes in Shift-JIS.
bool isLeadByte(char byte) {
    const auto b = static_cast<Byte>(byte);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Puts a sound mark after the buffer's last character, which begins at `last`: the kana the two stand
// for in its place where Shift-JIS has it, or else the mark's reference. Returns where the buffer's last
// character now begins, npos for none that a mark may follow.
std::size_t composeKana(std::string& buffer, std::size_t last, char32_t mark) {
    if (last != std::string::npos && buffer.size() - last == 2) {
        const char32_t base = cp932::decode(std::string_view(buffer).substr(last)).codePoint;
        char form[cp932::kMaxBytes];
        if (const char32_t kana = unicode::composedKana(base, mark); kana != 0 && cp932::encode(kana, form) == 2) {
            buffer.replace(last, 2, form, 2);
            return last;
        }
    }
    char reference[unicode::kLongestReference];
    buffer.append(reference, unicode::writeReference(mark, reference));
    return std::string::npos;
}

}  // namespace

// The field with "&#xFFFD;" for each character that could not be read, in
// the buffer when it has one, which only ever grows so that a row costs no
// allocation once the longest has been seen. The reader never cuts a field
// between the two bytes of an escape.
std::string_view ScriptDecoder::unescaped(std::string_view field, std::string& buffer) {
    std::size_t at = field.find(kEscape);
    if (at == std::string_view::npos) return field;
    buffer.clear();
    std::size_t from = 0;
    std::size_t lastCharacter = std::string::npos;  // where the last character put in the buffer begins
    for (; at != std::string_view::npos; from = at + 2, at = field.find(kEscape, from)) {
        const std::string_view before = field.substr(from, at - from);
        // The last character of the bytes before: each begins where the one before it ends.
        for (std::size_t i = 0; i < before.size(); i += isLeadByte(before[i]) && i + 1 < before.size() ? 2 : 1) {
            lastCharacter = buffer.size() + i;
        }
        buffer += before;
        const char kind = at + 1 < field.size() ? field[at + 1] : kUnreadable;
        if (kind == kEscape) {
            lastCharacter = buffer.size();
            buffer += kEscape;
        } else if (kind == kVoiced || kind == kSemiVoiced) {
            const std::size_t composed = composeKana(buffer, lastCharacter, kind == kVoiced ? 0x3099 : 0x309A);
            lastCharacter = composed;
        } else {
            lastCharacter = std::string::npos;  // a reference is no kana
            buffer += kReplacementReference;
            ++unreadable_;
        }
    }
    if (from < field.size()) buffer.append(field.data() + from, field.size() - from);
    return buffer;
}

}  // namespace taletab
