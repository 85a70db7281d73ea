// Windows: every file system it writes to takes parts of at most 255 UTF-16 units.
#include "name_limits.h"

namespace taletab::platform {

bool mayNameAFile(const std::filesystem::path& name) {
    const std::wstring& wide = name.native();
    if (wide.empty() || wide.back() == L'\\' || wide.back() == L'/') return false;
    for (const std::filesystem::path& part : name) {
        if (part.native().size() > 255) return false;
    }
    return true;
}

}  // namespace taletab::platform
