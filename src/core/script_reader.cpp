#include "script_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "line_scanner.h"

namespace taletab {

namespace {

constexpr char kCr = '\r';

const char* find(std::string_view bytes, char c) { return findByte(bytes.data(), bytes.data() + bytes.size(), c); }

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
    if (const char* eof = find(block, kEndOfScript)) {
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
    const char* start = block.data();
    const char* const end = start + block.size();
    LineScanner lines(start, end);
    LineEnd line;
    while (lines.next(line)) {
        emitRow(withoutCr({start, static_cast<std::size_t>(line.lf - start)}), line.firstTab, line.lastTab,
                mayHoldZero);
        start = line.lf + 1;
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
    const char* firstTab = findByte(line.data(), end, kTab);
    const char* lastTab = firstTab;
    while (const char* tab = lastTab ? findByte(lastTab + 1, end, kTab) : nullptr) lastTab = tab;
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
