// Linux and other POSIX systems.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "console_output.h"
#include "platform.h"

namespace taletab::platform {

namespace fs = std::filesystem;

namespace {

// Whether the user's locale has the character set UTF-8, as the C library
// finds it: the first of LC_ALL, LC_CTYPE and LANG that is set and not empty
// names the locale, and its character set follows the "." ("ja_JP.UTF-8",
// "C.utf8"; an "@" starts a modifier). The variables are read here, not
// through setlocale() and nl_langinfo(CODESET): those find a locale only
// where it is installed and, in this statically linked program, only where
// the installed files suit the C library linked in; a package built on one
// system would then show Shift-JIS on a UTF-8 terminal of another. The name
// the user set says how the terminal is set even where the locale is not
// installed.
bool localeIsUtf8() {
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(variable);
        if (locale && *locale) break;
    }
    if (!locale || !*locale) return false;
    const char* dot = std::strchr(locale, '.');
    if (!dot) return false;
    std::string codeset;
    for (const char* c = dot + 1; *c && *c != '@'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (std::isalnum(byte)) codeset += static_cast<char>(std::tolower(byte));
    }
    return codeset == "utf8";
}

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

Console::Console() : terminal_(::isatty(STDOUT_FILENO) == 1), utf8_(terminal_ && localeIsUtf8()) {
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
}

Console::~Console() {
    if (terminal_) std::fwrite(kColourReset.data(), 1, kColourReset.size(), stdout);
    std::fflush(stdout);
}

void Console::print(std::string_view text, const FileName& name) const {
    const std::string out = utf8_ ? inUtf8(text, name.unicode) : inShiftJis(text, name.shown);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

std::vector<FileName> fileNames(int argc, char** argv) {
    std::vector<FileName> names;
    for (int i = 1; i < argc; ++i) names.push_back(fileNameFromBytes(fs::path(argv[i]), argv[i]));
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
