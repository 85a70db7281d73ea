// The page: an HTML document whose body is one two-column table, a row per
// script line. The writer never opens a file: it collects the page in a
// large buffer and hands it, a block at a time, to the sink it is given.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

namespace taletab {

// Takes the next block of the page; returns false if it could not be written.
using PageSink = std::function<bool(std::string_view block)>;

class PageWriter {
public:
    explicit PageWriter(PageSink sink);

    // Call in this order: head once, any number of rows, foot once, finish.
    // Title, names and texts are copied byte for byte, markup and all.
    void writeHead(std::string_view title);
    void writeRow(std::string_view name, std::string_view text);
    void writeFoot();

    // Hands the rest of the page to the sink. False if any block of the
    // page failed to reach it; after a failure nothing more is sent.
    bool finish();

private:
    void append(std::string_view bytes);
    void flush();

    PageSink sink_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace taletab
