// The page: an HTML document whose body is one two-column table, a row per
// script line. The writer never opens a file: it collects the page in a
// large buffer and hands it over, a block at a time, to the sink it is given.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace taletab {

// A buffer for a block of the page, kPageBufferSize bytes long.
inline constexpr std::size_t kPageBufferSize = 256 * 1024;
using PageBuffer = std::unique_ptr<char[]>;

// Takes the next block of the page, the first `size` bytes of `buffer`;
// returns false if it could not be written. The writer hands the buffer
// over: a sink may keep it and put another of kPageBufferSize bytes in its
// place (one that writes later does), so the writer never copies a block.
using PageSink = std::function<bool(PageBuffer& buffer, std::size_t size)>;

// The author's name and e-mail address, in Shift-JIS, copied into the page
// byte for byte where it holds placeholders for them; one left empty keeps
// its placeholder.
struct Credits {
    std::string author;
    std::string address;
};

class PageWriter {
public:
    explicit PageWriter(PageSink sink, Credits credits = {});

    // Call in this order: head once, any number of rows, foot once, finish.
    // finish may also come between them, to hand on what is written so far.
    // Title, names and texts are copied byte for byte, markup and all.
    void writeHead(std::string_view title);
    void writeRow(std::string_view name, std::string_view text);
    void writeFoot();

    // Hands the rest of the page to the sink. False if any block of the
    // page failed to reach it; after a failure nothing more is sent.
    bool finish();

    // Whether a block of the page has failed to reach the sink: nothing more will.
    bool failed() const { return failed_; }

private:
    void append(std::string_view bytes);
    void flush();
    std::string_view author() const;

    PageSink sink_;
    Credits credits_;
    // Not zero-filled: a small page then costs only the memory it uses.
    PageBuffer buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace taletab
