// The conversion core for the browser page: a Converter behind plain C
// functions that the page's worker calls, and the page's head and foot alone
// for other details, so that an edit of them needs no second conversion.
// Text comes in as UTF-16 code units, as JavaScript holds it; the page goes
// out a block at a time to the module's takeBlock function, which copies the
// block out of the module's memory before the next one is made.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "converter.h"
#include "page_text.h"
#include "page_writer.h"
#include "unicode.h"

// clang-format off
EM_JS(void, taletab_take_block, (const char* data, std::size_t size), {
    Module.takeBlock(HEAPU8.subarray(data, data + size));
});
// clang-format on

namespace {

std::u32string codePoints(const char16_t* units, std::size_t size) {
    return taletab::unicode::fromUtf16({units, size});
}

// A page's title (its file name, put in the page as the program puts a typed
// name), author's name and e-mail address (shown as typed; empty leaves the placeholder).
taletab::PageDetails detailsOf(const char16_t* title, std::size_t titleSize, const char16_t* author,
                               std::size_t authorSize, const char16_t* address, std::size_t addressSize) {
    taletab::PageDetails details;
    details.title = taletab::pageText(codePoints(title, titleSize));
    details.credits.author = taletab::escapedPageText(codePoints(author, authorSize));
    details.credits.address = taletab::escapedPageText(codePoints(address, addressSize));
    return details;
}

}  // namespace

extern "C" {

// A converter for a page of the given details (see detailsOf).
EMSCRIPTEN_KEEPALIVE taletab::Converter* taletab_create(const char16_t* title, std::size_t titleSize,
                                                        const char16_t* author, std::size_t authorSize,
                                                        const char16_t* address, std::size_t addressSize) {
    return new taletab::Converter(detailsOf(title, titleSize, author, authorSize, address, addressSize),
                                  [](std::string_view block) {
                                      taletab_take_block(block.data(), block.size());
                                      return true;
                                  });
}

// The head and the foot of a page of the given details, as two blocks: the
// rows of any conversion go between them.
EMSCRIPTEN_KEEPALIVE void taletab_frame(const char16_t* title, std::size_t titleSize, const char16_t* author,
                                        std::size_t authorSize, const char16_t* address, std::size_t addressSize) {
    const taletab::PageDetails details = detailsOf(title, titleSize, author, authorSize, address, addressSize);
    std::string part;
    taletab::PageWriter writer(
        [&part](taletab::PageBuffer& buffer, std::size_t size) {
            part.append(buffer.get(), size);
            return true;
        },
        details.credits);
    writer.writeHead(details.title);
    writer.finish();
    taletab_take_block(part.data(), part.size());
    part.clear();
    writer.writeFoot();
    writer.finish();
    taletab_take_block(part.data(), part.size());
}

EMSCRIPTEN_KEEPALIVE void taletab_feed(taletab::Converter* converter, const char* bytes, std::size_t size) {
    converter->feed({bytes, size});
}

// 1 once a 0x1A has ended the script: what follows need not be read.
EMSCRIPTEN_KEEPALIVE int taletab_done(const taletab::Converter* converter) { return converter->done() ? 1 : 0; }

EMSCRIPTEN_KEEPALIVE int taletab_finish(taletab::Converter* converter) { return converter->finish() ? 1 : 0; }

// 0 Shift-JIS, 1 UTF-8, 2 UTF-16 little-endian, 3 UTF-16 big-endian, 4 EUC-JP, 5 ISO-2022-JP.
EMSCRIPTEN_KEEPALIVE int taletab_encoding(const taletab::Converter* converter) {
    return static_cast<int>(converter->encoding());
}

// 1 where the encoding was judged on thin or conflicting evidence: the page may be garbled.
EMSCRIPTEN_KEEPALIVE int taletab_encoding_doubtful(const taletab::Converter* converter) {
    return converter->encodingDoubtful() ? 1 : 0;
}

// 1 where a script's first bytes are UTF-16 without a byte order mark (which has NUL bytes).
EMSCRIPTEN_KEEPALIVE int taletab_utf16_without_mark(const char* bytes, int size) {
    return taletab::isUtf16WithoutMark({bytes, static_cast<std::size_t>(size)}) ? 1 : 0;
}

// Counts as doubles, which JavaScript reads as numbers (exact below 2^53).
EMSCRIPTEN_KEEPALIVE double taletab_rows(const taletab::Converter* converter) {
    return static_cast<double>(converter->rows());
}

EMSCRIPTEN_KEEPALIVE double taletab_unreadable(const taletab::Converter* converter) {
    return static_cast<double>(converter->unreadable());
}

EMSCRIPTEN_KEEPALIVE void taletab_destroy(taletab::Converter* converter) { delete converter; }

}  // extern "C"
