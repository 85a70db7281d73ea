#include "script_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace taletab {

namespace {

constexpr char kTab = '\t';
constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kEndOfFile = '\x1a';

const char* find(const char* from, const char* end, char c) {
    if (from == end) return nullptr;  // an empty view may point nowhere, which memchr must not get
    return static_cast<const char*>(std::memchr(from, c, end - from));
}

const char* find(std::string_view bytes, char c) { return find(bytes.data(), bytes.data() + bytes.size(), c); }

std::string_view untilZero(std::string_view field) {
    const char* zero = find(field, '\0');
    return zero ? field.substr(0, zero - field.data()) : field;
}

// A line without its LF; the CR of a CR LF pair is not part of the line.
std::string_view withoutCr(std::string_view line) {
    if (!line.empty() && line.back() == kCr) line.remove_suffix(1);
    return line;
}

}  // namespace

ScriptReader::ScriptReader(RowHandler onRow) : onRow_(std::move(onRow)) {}

ScriptReader::~ScriptReader() { std::free(carry_); }

void ScriptReader::carry(std::string_view bytes) {
    if (bytes.size() > carryCapacity_ - carrySize_) {
        const std::size_t capacity = std::max({carrySize_ + bytes.size(), 2 * carryCapacity_, std::size_t{256}});
        char* grown = static_cast<char*>(std::realloc(carry_, capacity));
        if (!grown) throw std::bad_alloc();
        carry_ = grown;
        carryCapacity_ = capacity;
    }
    // An empty view may have no data at all, which memcpy must not be given.
    if (!bytes.empty()) std::memcpy(carry_ + carrySize_, bytes.data(), bytes.size());
    carrySize_ += bytes.size();
}

void ScriptReader::feed(std::string_view block) {
    if (ended_) return;
    if (const char* eof = find(block, kEndOfFile)) {
        block = block.substr(0, eof - block.data());
        ended_ = true;
    }
    // Zero bytes are rare: look for them per line only when the block has one.
    const bool mayHoldZero = find(block, '\0') != nullptr;

    if (carrySize_ > 0) {
        const char* lf = find(block, kLf);
        if (!lf) {
            carry(block);
            return;
        }
        carry(block.substr(0, lf - block.data()));
        emitRow(withoutCr(carried()), true);
        carrySize_ = 0;
        block.remove_prefix(lf + 1 - block.data());
    }
    // One cursor runs ahead to each LF and another to each TAB, so that every
    // byte is scanned once per cursor and a line costs no search of its own.
    const char* start = block.data();
    const char* const end = start + block.size();
    const char* tab = find(start, end, kTab);
    while (const char* lf = find(start, end, kLf)) {
        const char* firstTab = nullptr;
        const char* lastTab = nullptr;
        if (tab && tab < lf) {
            firstTab = lastTab = tab;
            while ((tab = find(lastTab + 1, end, kTab)) && tab < lf) lastTab = tab;
        }
        emitRow(withoutCr({start, static_cast<std::size_t>(lf - start)}), firstTab, lastTab, mayHoldZero);
        start = lf + 1;
    }
    carry({start, static_cast<std::size_t>(end - start)});
}

void ScriptReader::finish() {
    if (carrySize_ > 0) emitRow(carried(), true);
    carrySize_ = 0;
    ended_ = true;
}

void ScriptReader::emitRow(std::string_view line, bool mayHoldZero) {
    const char* const end = line.data() + line.size();
    const char* firstTab = find(line.data(), end, kTab);
    const char* lastTab = firstTab;
    while (const char* tab = lastTab ? find(lastTab + 1, end, kTab) : nullptr) lastTab = tab;
    emitRow(line, firstTab, lastTab, mayHoldZero);
}

void ScriptReader::emitRow(std::string_view line, const char* firstTab, const char* lastTab,
                           bool mayHoldZero) {
    ScriptRow row;
    if (!firstTab) {
        row.name = line;
        row.text = kHeadingFiller;
    } else {
        row.name = {line.data(), static_cast<std::size_t>(firstTab - line.data())};
        // A later TAB starts the text again: only what follows the last one stays.
        row.text = {lastTab + 1, static_cast<std::size_t>(line.data() + line.size() - (lastTab + 1))};
    }
    if (mayHoldZero) {
        row.name = untilZero(row.name);
        row.text = untilZero(row.text);
    }
    onRow_(row);
}

}  // namespace taletab
