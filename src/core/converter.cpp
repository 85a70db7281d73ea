#include "converter.h"

#include <utility>

namespace taletab {

Converter::Converter(const PageDetails& details, BlockSink sink)
    : Converter(details, [sink = std::move(sink)](PageBuffer& buffer, std::size_t size) {
          return sink({buffer.get(), size});
      }) {}

Converter::Converter(const PageDetails& details, PageSink sink)
    : writer_(std::move(sink), details.credits), decoder_([this](const ScriptRow& row) {
          writer_.writeRow(row.name, row.text);
          ++rows_;
      }) {
    writer_.writeHead(details.title);
}

void Converter::feed(std::string_view block) {
    if (!done()) decoder_.feed(block);
}

bool Converter::finish() {
    decoder_.finish();
    writer_.writeFoot();
    return writer_.finish();
}

std::string convertScript(std::string_view script, const PageDetails& details) {
    std::string page;
    Converter converter(details, [&page](std::string_view block) {
        page += block;
        return true;
    });
    converter.feed(script);
    converter.finish();
    return page;
}

}  // namespace taletab
