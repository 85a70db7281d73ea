// Linux and other POSIX systems.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "platform.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// The new file gets the old page's permission bits and owner, or those a new file would get.
void takeOverMode(int descriptor, const fs::path& target) {
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) {
        (void)::fchown(descriptor, old.st_uid, old.st_gid);  // only the owner or root may
        ::fchmod(descriptor, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(descriptor, 0666 & ~mask);
    }
}

}  // namespace

Console::Console() { std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024); }

Console::~Console() { std::fflush(stdout); }

std::vector<FileName> fileNames(int argc, char** argv) {
    std::vector<FileName> names;
    for (int i = 1; i < argc; ++i) names.push_back({fs::path(argv[i]), argv[i]});
    return names;
}

std::FILE* openFile(const fs::path& name, const char* mode) { return std::fopen(name.c_str(), mode); }

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

std::FILE* createTemporaryBeside(const fs::path& target, fs::path& temporary) {
    std::string name = (folderOf(target) / ".taletab-XXXXXX").string();
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0) return nullptr;
    temporary = name;
    takeOverMode(descriptor, target);
    std::FILE* stream = ::fdopen(descriptor, "wb");
    if (!stream) {
        ::close(descriptor);
        ::unlink(name.c_str());
    }
    return stream;
}

bool replace(const fs::path& temporary, const fs::path& target) {
    return std::rename(temporary.c_str(), target.c_str()) == 0;
}

}  // namespace taletab::platform
