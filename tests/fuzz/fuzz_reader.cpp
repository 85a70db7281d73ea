// Feeds arbitrary bytes to the reader, cut into blocks whose sizes come from
// the input, writes the page to memory and checks what must hold for any
// script: the rows do not depend on the cuts, every row comes from the
// script, and the page is the head, its rows and the foot, to the byte.
// The page fed in cuts goes through the threaded sink, the whole one straight
// to memory; a title longer than the writer's buffer makes every page at
// least two blocks, so that the rows pass through the writing thread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "page_writer.h"
#include "script_reader.h"
#include "threaded_sink.h"

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
                         std::string& page) {
    std::vector<Row> rows;
    const auto toMemory = [&page](std::string_view block) {
        page += block;
        return true;
    };
    ThreadedSink threaded(toMemory);
    PageWriter writer(sinkKind == Sink::kThreaded
                          ? threaded.pageSink()
                          : [&toMemory](PageBuffer& buffer, std::size_t size) {
                                return toMemory({buffer.get(), size});
                            });
    ScriptReader reader([&](const ScriptRow& row) {
        rows.push_back({std::string(row.name), std::string(row.text)});
        writer.writeRow(row.name, row.text);
    });
    writer.writeHead(kTitle);
    for (std::size_t at = 0, turn = 0; at < script.size(); ++turn) {
        const std::size_t size = blockSizes[turn % blockSizes.size()];
        reader.feed(script.substr(at, size));
        at += size;
    }
    reader.finish();
    writer.writeFoot();
    check(writer.finish());
    check(threaded.finish());
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first four bytes choose the block sizes, the rest is the script.
    std::vector<std::size_t> blockSizes;
    while (size > 0 && blockSizes.size() < 4) {
        blockSizes.push_back(1 + *data % 64);
        ++data;
        --size;
    }
    if (blockSizes.empty()) return 0;
    const std::string_view script(reinterpret_cast<const char*>(data), size);

    // Kept from run to run: fresh pages of this size would cost most of a run's time.
    static std::string whole, cut;
    whole.clear();
    cut.clear();
    const std::vector<Row> rows = convert(script, {script.size() + 1}, Sink::kMemory, whole);
    check(convert(script, blockSizes, Sink::kThreaded, cut) == rows);
    check(cut == whole);

    static const std::string empty = [] {
        std::string page;
        convert({}, {1}, Sink::kThreaded, page);
        return page;
    }();
    const std::size_t headSize = 280 + kTitle.size();
    const std::size_t footSize = 105;
    check(empty.size() == headSize + footSize);

    std::size_t expectedSize = headSize + footSize;
    for (const Row& row : rows) {
        expectedSize += 99 + row.name.size() + row.text.size();
        check(script.find(row.name) != std::string_view::npos);
        check(row.text == kHeadingFiller || script.find(row.text) != std::string_view::npos);
        for (char c : {'\t', '\n', '\0'}) {
            check(row.name.find(c) == std::string::npos && row.text.find(c) == std::string::npos);
        }
    }
    check(whole.size() == expectedSize);
    check(whole.compare(0, headSize, empty, 0, headSize) == 0);
    check(whole.compare(whole.size() - footSize, footSize, empty, headSize, footSize) == 0);
    return 0;
}
