// The conversion, whole: a script, fed in blocks cut anywhere, becomes its
// page, handed on a block at a time. This is the one entry to the conversion
// for every front end; it never sees a file, a console or a thread.
//
// The page is the head, a row per script line, and the foot, exactly as the
// page writer makes them; the script is read in the encoding it was saved in
// (see script_decoder.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "page_writer.h"
#include "script_decoder.h"

namespace taletab {

// What the page says besides the script's rows, in Shift-JIS (page_text.h
// makes it from Unicode).
struct PageDetails {
    std::string title;  // copied byte for byte, as a page's file name is
    Credits credits;    // fills the author's name and e-mail address in
};

class Converter {
public:
    // Takes the next block of the page; false if it could not keep it.
    using BlockSink = std::function<bool(std::string_view block)>;

    // Both write the head at once. The second form is for a sink that keeps
    // the writer's buffers rather than copy them (see PageSink).
    Converter(const PageDetails& details, BlockSink sink);
    Converter(const PageDetails& details, PageSink sink);
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The script's next block. Once done(), more blocks change nothing.
    void feed(std::string_view block);

    // Ends the script and writes the foot; false if any block of the page
    // failed to reach the sink.
    bool finish();

    // Whether nothing fed from now on can change the page: a 0x1A has ended
    // the script, or the sink has failed.
    bool done() const { return decoder_.ended() || writer_.failed(); }

    ScriptEncoding encoding() const { return decoder_.encoding(); }
    std::uint64_t rows() const { return rows_; }
    // Whether the encoding was judged on thin or conflicting evidence, so
    // that the page may be garbled: the user is to be told (script_decoder.h).
    bool encodingDoubtful() const { return decoder_.doubtful(); }
    // Characters that could not be read, each "&#xFFFD;" in the page.
    std::uint64_t unreadable() const { return decoder_.unreadable(); }

private:
    PageWriter writer_;
    ScriptDecoder decoder_;
    std::uint64_t rows_ = 0;
};

// The page of a whole script, in one call.
std::string convertScript(std::string_view script, const PageDetails& details);

}  // namespace taletab
