// The benchmark's script generator as a module for node, so that the tests
// of the browser page convert the same generated scripts as the others.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "script_generator.h"

namespace {
std::string script;
}

extern "C" {

// The script of the seed, at most `limit` bytes; its size is taletab_generated_size().
EMSCRIPTEN_KEEPALIVE const char* taletab_generate(double seed, double limit) {
    script = taletab::bench::generateScript(static_cast<std::uint64_t>(seed), static_cast<std::size_t>(limit));
    return script.data();
}

EMSCRIPTEN_KEEPALIVE double taletab_generated_size() { return static_cast<double>(script.size()); }

}  // extern "C"
