// Windows: every file system it writes to takes parts of at most 255 UTF-16 units.
#include "name_limits.h"

namespace taletab::platform {

NameFit nameFit(const std::filesystem::path& name) {
    const std::wstring& wide = name.native();
    if (wide.empty() || wide.back() == L'\\' || wide.back() == L'/') return NameFit::kNoFileName;
    for (const std::filesystem::path& part : name) {
        if (part.native().size() > 255) return NameFit::kTooLong;
    }
    return NameFit::kFits;
}

}  // namespace taletab::platform
