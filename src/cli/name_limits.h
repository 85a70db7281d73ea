// Names no file can have on this system, told from the name alone, before
// anything is read: an empty name, one that ends in a separator (a folder's),
// and one with a part longer than its file system takes. Its halves are
// name_limits_posix.cpp and name_limits_win32.cpp.
#pragma once

#include <filesystem>

namespace taletab::platform {

enum class NameFit {
    kFits,
    kNoFileName,  // empty, or a folder's
    kTooLong,
};

// Whether a file can be made under a name. On Linux the file's own name is
// held to its folder's limit (pathconf's _PC_NAME_MAX, NAME_MAX where the
// folder cannot be asked); on Windows every part to 255 UTF-16 units. A name
// that fits may still be refused once the file is opened.
NameFit nameFit(const std::filesystem::path& name);

}  // namespace taletab::platform
