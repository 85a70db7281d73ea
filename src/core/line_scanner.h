// Finds the lines of a block of script bytes: each LF, and the first and last
// TAB before it. This is where the reader spends most of its time.
//
// On x86-64 the block is scanned once, 64 bytes at a step, for TAB and LF
// together (SSE2 is in every such processor, so it needs no check at run
// time). Elsewhere, or when built with TALETAB_PORTABLE_SCANNER, one memchr
// cursor runs ahead to each LF and another to each TAB. Both find the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(TALETAB_PORTABLE_SCANNER)
#define TALETAB_SSE2_SCANNER 1
#include <emmintrin.h>
#endif

namespace taletab {

// A line's LF, and its first and last TAB (both null when it has none).
struct LineEnd {
    const char* lf;
    const char* firstTab;
    const char* lastTab;
};

inline constexpr char kTab = '\t';
inline constexpr char kLf = '\n';

// The first `c` in [from, end), or null.
inline const char* findByte(const char* from, const char* end, char c) {
    if (from == end) return nullptr;  // an empty view may point nowhere, which memchr must not get
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

class LineScanner {
public:
    LineScanner(const char* begin, const char* end);

    // The next line's end; false when no LF is left in the block.
    bool next(LineEnd& line);

private:
#ifdef TALETAB_SSE2_SCANNER
    void mark(std::size_t offset);

    const char* const begin_;
    const char* const end_;
    static constexpr std::size_t kStep = 64;  // bytes marked at a time, a bit each

    std::size_t chunk_ = 0;   // where the bytes that marks_ is about begin
    std::size_t next_ = 0;    // where the next step begins
    std::uint64_t marks_ = 0; // a bit for each TAB and LF (and look-alike) not yet looked at
#else
    const char* const end_;
    const char* from_;  // where the next line starts
    const char* tab_;   // the first TAB at or after from_, or null
#endif
};

#ifdef TALETAB_SSE2_SCANNER

inline LineScanner::LineScanner(const char* begin, const char* end) : begin_(begin), end_(end) {}

// Sets the marks for the kStep bytes at `offset`, or for fewer at the block's end.
inline void LineScanner::mark(std::size_t offset) {
    chunk_ = offset;
    const std::size_t size = static_cast<std::size_t>(end_ - begin_);
    if (size - offset >= kStep) {
        // TAB (0x09) and LF (0x0A) are the bytes that read 0x0B with their
        // two lowest bits set, so one compare finds both (and 0x08 and 0x0B,
        // which next() passes over).
        const auto marksOf = [](const char* at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i found = _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x03)), _mm_set1_epi8(0x0B));
            return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(found)));
        };
        const char* const at = begin_ + offset;
        marks_ = marksOf(at) | marksOf(at + 16) << 16 | marksOf(at + 32) << 32 | marksOf(at + 48) << 48;
        return;
    }
    marks_ = 0;
    for (std::size_t i = 0; offset + i < size; ++i) {
        const char c = begin_[offset + i];
        if (c == kLf || c == kTab) marks_ |= std::uint64_t{1} << i;
    }
}

inline bool LineScanner::next(LineEnd& line) {
    line.firstTab = line.lastTab = nullptr;
    const std::size_t size = static_cast<std::size_t>(end_ - begin_);
    for (;;) {
        while (marks_ == 0) {
            if (next_ >= size) return false;
            mark(next_);
            next_ += kStep;
        }
        const unsigned bit = static_cast<unsigned>(__builtin_ctzll(marks_));
        marks_ &= marks_ - 1;
        const char* const at = begin_ + chunk_ + bit;
        if (*at == kLf) {
            line.lf = at;
            return true;
        }
        if (*at != kTab) continue;
        if (!line.firstTab) line.firstTab = at;
        line.lastTab = at;
    }
}

#else

inline LineScanner::LineScanner(const char* begin, const char* end)
    : end_(end), from_(begin), tab_(findByte(begin, end, kTab)) {}

inline bool LineScanner::next(LineEnd& line) {
    line.lf = findByte(from_, end_, kLf);
    if (!line.lf) return false;
    line.firstTab = line.lastTab = nullptr;
    if (tab_ && tab_ < line.lf) {
        line.firstTab = line.lastTab = tab_;
        while ((tab_ = findByte(line.lastTab + 1, end_, kTab)) && tab_ < line.lf) line.lastTab = tab_;
    }
    from_ = line.lf + 1;
    return true;
}

#endif

}  // namespace taletab
