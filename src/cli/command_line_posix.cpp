// Linux and other POSIX systems: names come as the bytes typed.
#include "command_line.h"

namespace taletab::platform {

std::vector<FileName> fileNames(int argc, char** argv) {
    std::vector<FileName> names;
    for (int i = 1; i < argc; ++i) names.push_back(fileNameFromBytes(std::filesystem::path(argv[i]), argv[i]));
    return names;
}

}  // namespace taletab::platform
