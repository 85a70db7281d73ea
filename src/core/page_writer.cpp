#include "page_writer.h"

#include <cstring>
#include <string>
#include <utility>

#include "text_mode.h"

namespace taletab {

namespace {

// The templates below are Shift-JIS; the Japanese is given beside the bytes.

constexpr auto kHeadBeforeTitle = withCrLf(
    "<html>\n"
    "<head>\n"
    "\t<title>");
constexpr auto kHeadBeforeAuthor = withCrLf(
    "</title>\n"
    "\t<meta name=\"Copyright\" content=\"");
constexpr auto kHeadBeforeAddress = withCrLf(
    "\">\n"
    "\t<meta name=\"Reply-to\" content=\"");
constexpr auto kHeadAfterAddress = withCrLf(
    "\">\n"
    "</head>\n"
    "\n"
    "<body bgcolor=\"#ffffff\"\n"
    "      text=\"#000000\"\n"
    "      vlink=\"#884422\">\n"
    "\t\n"
    "\t<table cellpadding=\"4\">\n");

// What stands for the author's name and e-mail address until they are filled in.
// "ここに名前を入れてください"
constexpr std::string_view kAuthorPlaceholder =
    "\x82\xb1\x82\xb1\x82\xc9\x96\xbc\x91O\x82\xf0\x93\xfc\x82\xea\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
// "ここにメールアドレスを入れてください"
constexpr std::string_view kAddressPlaceholder =
    "\x82\xb1\x82\xb1\x82\xc9\x83\x81\x81[\x83\x8b\x83" "A\x83h\x83\x8c\x83X\x82\xf0\x93\xfc\x82\xea\x82\xc4"
    "\x82\xad\x82\xbe\x82\xb3\x82\xa2";

constexpr auto kRowBeforeName = withCrLf(
    "\t\t<tr>\n"
    "\t\t\t<td align=\"right\" valign=\"top\" nowrap><b>");
constexpr auto kRowBetween = withCrLf(
    "</b></td>\n"
    "\t\t\t<td valign=\"top\">");
constexpr auto kRowAfterText = withCrLf(
    "</td>\n"
    "\t\t</tr>\n");

constexpr auto kFootBeforeAuthor = withCrLf(
    "\t</table>\n"
    "</body>\n"
    "\n"
    "<address>\n"
    // "\t制作:<strong>"
    "\t\x90\xa7\x8d\xec:<strong>");
constexpr auto kFootAfterAuthor = withCrLf(
    "</strong>\n"
    "</address>\n"
    "</html>\n");

}  // namespace

PageWriter::PageWriter(PageSink sink, Credits credits)
    : sink_(std::move(sink)), credits_(std::move(credits)), buffer_(new char[kPageBufferSize]) {}

void PageWriter::writeHead(std::string_view title) {
    append(kHeadBeforeTitle.view());
    // A file name may hold an LF; in text mode it goes out as CR LF like any other.
    std::string titleBytes;
    appendWithCrLf(titleBytes, title);
    append(titleBytes);
    append(kHeadBeforeAuthor.view());
    append(author());
    append(kHeadBeforeAddress.view());
    append(credits_.address.empty() ? kAddressPlaceholder : credits_.address);
    append(kHeadAfterAddress.view());
}

void PageWriter::writeRow(std::string_view name, std::string_view text) {
    constexpr std::size_t kTemplateSize = kRowBeforeName.size + kRowBetween.size + kRowAfterText.size;
    if (kTemplateSize + name.size() + text.size() > kPageBufferSize - used_) {
        append(kRowBeforeName.view());
        append(name);
        append(kRowBetween.view());
        append(text);
        append(kRowAfterText.view());
        return;
    }
    // The common case: the whole row fits, so copy without further checks.
    // The templates' sizes are constants, so their copies need no library call.
    char* out = buffer_.get() + used_;
    const auto put = [&out](std::string_view bytes) {
        std::memcpy(out, bytes.data(), bytes.size());
        out += bytes.size();
    };
    put(kRowBeforeName.view());
    put(name);
    put(kRowBetween.view());
    put(text);
    put(kRowAfterText.view());
    used_ = out - buffer_.get();
}

void PageWriter::writeFoot() {
    append(kFootBeforeAuthor.view());
    append(author());
    append(kFootAfterAuthor.view());
}

std::string_view PageWriter::author() const {
    return credits_.author.empty() ? kAuthorPlaceholder : std::string_view(credits_.author);
}

bool PageWriter::finish() {
    flush();
    return !failed_;
}

void PageWriter::append(std::string_view bytes) {
    // What does not fit fills the buffer, which goes out; a very long line so goes out a buffer at a time.
    while (bytes.size() > kPageBufferSize - used_) {
        const std::size_t room = kPageBufferSize - used_;
        std::memcpy(buffer_.get() + used_, bytes.data(), room);
        used_ += room;
        bytes.remove_prefix(room);
        flush();
    }
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void PageWriter::flush() {
    if (used_ > 0 && !failed_ && !sink_(buffer_, used_)) failed_ = true;
    used_ = 0;
}

}  // namespace taletab
