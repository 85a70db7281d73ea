// Text mode, done by the program itself so that the bytes are the same on
// every platform: each LF the program writes goes out as CR LF. Files and
// standard output are opened in binary mode; this is the only place that
// knows the line end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace taletab {

inline constexpr std::string_view kCrLf = "\r\n";

// A fixed text of the program with each LF already turned into CR LF,
// built at compile time so that copying it costs no per-byte work.
template <std::size_t N>
struct CrLfText {
    char bytes[2 * N] = {};
    std::size_t size = 0;

    constexpr std::string_view view() const { return {bytes, size}; }
};

template <std::size_t N>
constexpr CrLfText<N> withCrLf(const char (&text)[N]) {
    CrLfText<N> out;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        if (text[i] == '\n') {
            out.bytes[out.size++] = kCrLf[0];
            out.bytes[out.size++] = kCrLf[1];
        } else {
            out.bytes[out.size++] = text[i];
        }
    }
    return out;
}

// The same at run time, for texts that hold a name typed by the user.
inline void appendWithCrLf(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '\n') {
            out += kCrLf;
        } else {
            out += c;
        }
    }
}

}  // namespace taletab
