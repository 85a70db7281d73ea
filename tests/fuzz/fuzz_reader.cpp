// Feeds arbitrary bytes to the decoder and its reader, cut into blocks whose
// sizes come from the input, writes the page to memory and checks what must
// hold for any script: the rows do not depend on the cuts, every row of a
// Shift-JIS script comes from the script, every row of a UTF-8 script is
// whole Shift-JIS, and the page is the head, its rows and the foot, to the
// byte. Half the scripts are first turned into UTF-8, and half of those get
// a byte order mark, so that the UTF-8 road is taken often; of the others,
// half get a UTF-16 byte order mark, little- or big-endian, and are read as
// UTF-16 (any bytes are: lone surrogates and an odd last byte included) and
// must give the rows of the same text in UTF-8. Of the scripts left without
// a mark, some are turned into EUC-JP or ISO-2022-JP, or into UTF-16 without
// its mark, so that those roads are taken too. The page fed in
// cuts goes through the threaded sink, the whole one straight to memory; a
// title longer than the writer's buffer makes every page at least two
// blocks, so that the rows pass through the writing thread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "code_page_932.h"
#include "converter.h"
#include "threaded_sink.h"
#include "unicode.h"

namespace {

using namespace taletab;

struct Row {
    std::string name;
    std::string text;
    bool operator==(const Row& other) const { return name == other.name && text == other.text; }
};

void check(bool holds) {
    if (!holds) std::abort();
}

const std::string kTitle(kPageBufferSize + 1, 't');

enum class Sink { kMemory, kThreaded };

// The page and the rows for the script, fed in blocks of the given sizes in turn.
std::vector<Row> convert(std::string_view script, const std::vector<std::size_t>& blockSizes, Sink sinkKind,
                         std::string& page, ScriptEncoding& encoding, std::uint64_t* unreadable = nullptr) {
    std::vector<Row> rows;
    ScriptDecoder decoder([&rows](const ScriptRow& row) { rows.push_back({std::string(row.name), std::string(row.text)}); });
    const auto toMemory = [&page](std::string_view block) {
        page += block;
        return true;
    };
    ThreadedSink threaded(toMemory);
    Converter converter({kTitle, {}}, sinkKind == Sink::kThreaded ? threaded.pageSink()
                                                                  : [&toMemory](PageBuffer& buffer, std::size_t size) {
                                                                        return toMemory({buffer.get(), size});
                                                                    });
    for (std::size_t at = 0, turn = 0; at < script.size(); ++turn) {
        const std::size_t size = blockSizes[turn % blockSizes.size()];
        decoder.feed(script.substr(at, size));
        converter.feed(script.substr(at, size));
        at += size;
    }
    decoder.finish();
    check(converter.finish());
    check(threaded.finish());
    check(converter.rows() == rows.size());
    check(converter.encoding() == decoder.encoding());
    encoding = decoder.encoding();
    if (unreadable) *unreadable = decoder.unreadable();
    return rows;
}

// The bytes as UTF-8, read as code page 932; a byte that begins no character stays as it is.
std::string asUtf8(std::string_view bytes) {
    std::string out;
    while (!bytes.empty()) {
        const cp932::Decoded c = cp932::decode(bytes);
        if (c.length == 0) {
            out += bytes[0];
        } else {
            unicode::appendUtf8(out, c.codePoint);
        }
        bytes.remove_prefix(c.length == 0 ? 1 : c.length);
    }
    return out;
}

// The same text as UTF-8 with its mark, from UTF-16 bytes after their mark: a
// surrogate without its other half as U+FFFD, and so a last byte without its
// pair, which after a first half is one character with it.
std::string utf8Twin(std::string_view utf16, bool bigEndian) {
    std::u16string units;
    for (std::size_t at = 2; at + 1 < utf16.size(); at += 2) {
        const auto first = static_cast<unsigned char>(utf16[at]), second = static_cast<unsigned char>(utf16[at + 1]);
        units += static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    std::string out = "\xEF\xBB\xBF";
    for (const char32_t c : unicode::fromUtf16(units)) unicode::appendUtf8(out, c);
    const bool afterFirstHalf = !units.empty() && unicode::isHighSurrogate(units.back());
    if (utf16.size() % 2 == 1 && !afterFirstHalf) unicode::appendUtf8(out, unicode::kReplacement);
    return out;
}

// The bytes as EUC-JP (`iso2022` false) or ISO-2022-JP, read as code page 932 by JIS X 0208's row and cell
// (half-width katakana as EUC-JP's 8E and a byte, ISO-2022-JP's ESC ( I); any other byte stays as it is.
std::string asJis(std::string_view bytes, bool iso2022) {
    std::string out;
    std::string_view set = "\x1B(B";
    const auto switchTo = [&](std::string_view to) {
        if (iso2022 && to != set) out += to;
        set = to;
    };
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const auto trail = at + 1 < bytes.size() ? static_cast<unsigned char>(bytes[at + 1]) : 0;
        const bool pair = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF)) && trail >= 0x40 &&
                          trail <= 0xFC && trail != 0x7F;
        if (lead >= 0xA1 && lead <= 0xDF) {
            switchTo("\x1B(I");
            out += iso2022 ? std::string{static_cast<char>(lead - 0x80)} : std::string{"\x8E"} + bytes[at];
        } else if (pair) {
            const unsigned row = (lead < 0xA0 ? lead - 0x81 : lead - 0xC1) * 2 + (trail >= 0x9F ? 2 : 1);
            const unsigned cell = trail >= 0x9F ? trail - 0x9E : trail - 0x3F - (trail >= 0x80);
            switchTo("\x1B$B");
            const unsigned offset = iso2022 ? 0x20 : 0xA0;
            out += static_cast<char>(row + offset);
            out += static_cast<char>(cell + offset);
            ++at;
        } else {
            switchTo("\x1B(B");
            out += bytes[at];
        }
    }
    return out;
}

// Whether the bytes are whole code page 932 characters, as a converted row must be.
bool isShiftJis(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t length = cp932::decode(bytes).length;
        if (length == 0) return false;
        bytes.remove_prefix(length);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first four bytes choose the block sizes, the fifth the encoding, the rest is the script.
    std::vector<std::size_t> blockSizes;
    while (size > 0 && blockSizes.size() < 4) {
        blockSizes.push_back(1 + *data % 64);
        ++data;
        --size;
    }
    if (size == 0) return 0;
    const std::uint8_t choice = *data++;
    --size;
    std::string script(reinterpret_cast<const char*>(data), size);
    if (choice & 1) script = asUtf8(script);
    const bool utf8Mark = (choice & 3) == 3;
    if (utf8Mark) script.insert(0, "\xEF\xBB\xBF");
    const bool utf16Mark = !utf8Mark && (choice & 4);
    if (utf16Mark) script.insert(0, choice & 8 ? "\xFE\xFF" : "\xFF\xFE");
    // Of the scripts with no mark, some are turned into EUC-JP or ISO-2022-JP, or UTF-16 without its mark.
    if (!utf8Mark && !utf16Mark && (choice & 16)) script = asJis(script, choice & 32);
    if (!utf8Mark && !utf16Mark && !(choice & 16) && (choice & 32)) {
        std::u16string units;
        for (std::string_view rest = script; !rest.empty();) {
            const cp932::Decoded c = cp932::decode(rest);
            unicode::appendUtf16(units, c.length > 0 ? c.codePoint : unicode::kReplacement);
            rest.remove_prefix(c.length > 0 ? c.length : 1);
        }
        script.clear();
        for (const char16_t unit : units) script += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    }

    // Kept from run to run: fresh pages of this size would cost most of a run's time.
    static std::string whole, cut;
    whole.clear();
    cut.clear();
    ScriptEncoding encoding;
    std::uint64_t unreadable = 0;
    const std::vector<Row> rows = convert(script, {script.size() + 1}, Sink::kMemory, whole, encoding, &unreadable);
    ScriptEncoding cutEncoding;
    check(convert(script, blockSizes, Sink::kThreaded, cut, cutEncoding) == rows);
    check(cut == whole);
    check(cutEncoding == encoding);
    check(!utf8Mark || encoding == ScriptEncoding::kUtf8);
    check(!utf16Mark || encoding == (choice & 8 ? ScriptEncoding::kUtf16BigEndian : ScriptEncoding::kUtf16LittleEndian));
    // A UTF-16 script is converted on a road of its own: it must give the rows of its UTF-8 twin.
    if (utf16Mark) {
        static std::string twinPage;
        twinPage.clear();
        ScriptEncoding twinEncoding;
        std::uint64_t twinUnreadable = 0;
        check(convert(utf8Twin(script, choice & 8), {script.size() + 1}, Sink::kMemory, twinPage, twinEncoding,
                      &twinUnreadable) == rows);
        check(twinPage == whole);
        check(twinUnreadable == unreadable);
    }

    static const std::string empty = [] {
        std::string page;
        ScriptEncoding none;
        convert({}, {1}, Sink::kThreaded, page, none);
        return page;
    }();
    const std::size_t headSize = 280 + kTitle.size();
    const std::size_t footSize = 105;
    check(empty.size() == headSize + footSize);

    std::size_t expectedSize = headSize + footSize;
    for (const Row& row : rows) {
        expectedSize += 99 + row.name.size() + row.text.size();
        if (encoding == ScriptEncoding::kShiftJis) {
            check(script.find(row.name) != std::string::npos);
            check(row.text == kHeadingFiller || script.find(row.text) != std::string::npos);
        } else {
            check(isShiftJis(row.name) && isShiftJis(row.text));
        }
        for (char c : {'\t', '\n', '\0'}) {
            check(row.name.find(c) == std::string::npos && row.text.find(c) == std::string::npos);
        }
    }
    check(whole.size() == expectedSize);
    check(whole.compare(0, headSize, empty, 0, headSize) == 0);
    check(whole.compare(whole.size() - footSize, footSize, empty, headSize, footSize) == 0);
    return 0;
}
