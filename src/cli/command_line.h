// The file names on the command line. Its halves are command_line_posix.cpp
// (names as bytes) and command_line_win32.cpp (names in UTF-16).
#pragma once

#include <vector>

#include "file_name.h"

namespace taletab::platform {

// The names after the program's own.
std::vector<FileName> fileNames(int argc, char** argv);

}  // namespace taletab::platform
