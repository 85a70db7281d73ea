#include "page_file.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace taletab {

namespace fs = std::filesystem;

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char any) {
               return std::tolower(static_cast<unsigned char>(any)) == lower;
           });
}

constexpr std::string_view kWhiteSpace = " \t\n\f\r";

std::string_view skipWhiteSpace(std::string_view text) {
    const std::size_t start = text.find_first_not_of(kWhiteSpace);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// A tag's name ends at a space or at ">".
bool tagAt(std::string_view text, std::string_view tag) {
    return startsWithNoCase(text, tag) && text.size() > tag.size() &&
           (text[tag.size()] == ' ' || text[tag.size()] == '>');
}

bool beginsWithHtmlTag(std::string_view text) {
    // "<!doctype" and "html" may stand apart by any white space, as editors write them.
    if (startsWithNoCase(text, "<!doctype")) {
        const std::string_view rest = text.substr(9);
        const std::string_view name = skipWhiteSpace(rest);
        return name.size() < rest.size() && tagAt(name, "html");
    }
    for (std::string_view tag : {"<html", "<head", "<script", "<iframe", "<h1", "<div", "<font", "<table", "<a",
                                 "<style", "<title", "<b", "<body", "<br", "<p", "<!--"}) {
        if (tagAt(text, tag)) return true;
    }
    return false;
}

// UTF-16 read as its low bytes: every tag and white space byte is ASCII.
std::string lowHalves(std::string_view text, bool bigEndian) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
        const char high = text[at + (bigEndian ? 0 : 1)];
        bytes += high == 0 ? text[at + (bigEndian ? 1 : 0)] : '\x7f';
    }
    return bytes;
}

}  // namespace

bool beginsLikeHtml(std::string_view head) {
    std::string decoded;
    if (head.substr(0, 3) == "\xEF\xBB\xBF") {
        head.remove_prefix(3);
    } else if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") {
        decoded = lowHalves(head.substr(2), head[0] == '\xFE');
        head = decoded;
    }
    head = skipWhiteSpace(head);
    if (startsWithNoCase(head, "<?xml")) {
        const std::size_t end = head.find("?>");
        if (end == std::string_view::npos) return false;
        head = skipWhiteSpace(head.substr(end + 2));
    }
    return beginsWithHtmlTag(head);
}

PageFile::PageFile(const fs::path& name) : name_(name) { platform::examinePage(name, target_); }

bool PageFile::mayBecomePage() const {
    if (target_.kind != platform::PageTarget::Kind::kExisting) return true;
    if (target_.empty) return true;
    return target_.headRead && beginsLikeHtml(target_.head);
}

bool PageFile::open() {
    using Kind = platform::PageTarget::Kind;
    switch (target_.kind) {
        case Kind::kRefused:
            return false;
        case Kind::kDirect:
            stream_ = platform::openFile(name_, "wb");
            return stream_ != nullptr;
        case Kind::kNew:
            stream_ = platform::createTemporary(target_, true, temporary_);
            way_ = Way::kRename;
            return stream_ != nullptr;
        case Kind::kExisting:
            break;
    }
    if (!target_.writable) return false;
    stream_ = platform::createTemporary(target_, true, temporary_);
    way_ = stream_ && target_.renameKeepsIt ? Way::kRename : Way::kCopyIn;
    if (!stream_) stream_ = platform::createTemporary(target_, false, temporary_);
    return stream_ != nullptr;
}

PageFile::~PageFile() {
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) platform::removeTemporary(temporary_);
}

bool PageFile::commit() {
    using Kind = platform::PageTarget::Kind;
    if (way_ == Way::kRename && !platform::takeOverOwnership(stream_, target_)) {
        if (target_.kind != Kind::kExisting) return false;
        way_ = Way::kCopyIn;  // the new file cannot be the old page in every respect: the old one is kept
    }
    if (way_ == Way::kRename) {
        // The new file must be on the disk before it takes the page's name.
        if (!platform::syncToDisk(stream_)) return false;
        if (platform::renameOver(stream_, temporary_, target_)) {
            temporary_.clear();
            return true;
        }
        // The system refused the rename (another file system, a bind mount): the page is copied in.
        if (!stream_ || target_.kind != Kind::kExisting) return false;
        way_ = Way::kCopyIn;
    }
    const bool copied = way_ != Way::kCopyIn || (std::fflush(stream_) == 0 && platform::copyInto(stream_, target_));
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    return copied && closed;
}

}  // namespace taletab
