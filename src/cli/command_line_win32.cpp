// Windows: names come in UTF-16, whatever the console's code page.
#include <windows.h>
// These need the types of windows.h.
#include <shellapi.h>

#include <string>
#include <string_view>

#include "command_line.h"

namespace taletab::platform {

std::vector<FileName> fileNames(int, char**) {
    std::vector<FileName> names;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return names;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view typed = arguments[i];
        names.push_back(
            fileNameFromUtf16(std::filesystem::path(typed), std::u16string(typed.begin(), typed.end())));
    }
    LocalFree(arguments);
    return names;
}

}  // namespace taletab::platform
