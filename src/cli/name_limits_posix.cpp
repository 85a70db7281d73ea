// Linux and other POSIX systems: limits a folder's file system sets.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <string>

#include <unistd.h>

#include "files.h"
#include "name_limits.h"

namespace taletab::platform {

NameFit nameFit(const std::filesystem::path& name) {
    const std::string& bytes = name.native();
    if (bytes.empty() || bytes.back() == '/') return NameFit::kNoFileName;
    errno = 0;
    long limit = ::pathconf(directoryOf(name).c_str(), _PC_NAME_MAX);
    if (limit < 0 && errno != 0) limit = NAME_MAX;
    const bool fits = limit < 0 || name.filename().native().size() <= static_cast<std::size_t>(limit);
    return fits ? NameFit::kFits : NameFit::kTooLong;
}

}  // namespace taletab::platform
