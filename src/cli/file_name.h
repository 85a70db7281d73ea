// A file name from the command line and the forms it is shown in. Names are
// shown in Shift-JIS, like every text of the program; one that holds Unicode
// (a UTF-8 name on Linux, any name on Windows) is turned into Shift-JIS with
// the program's own code page 932 table, so both platforms give the same
// bytes. A character without a Shift-JIS form stands as "?" in the console
// texts and as a numeric character reference ("&#x1F600;") in the page
// title, which a browser shows as the character.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace taletab {

struct FileName {
    std::filesystem::path path;  // to open the file by: the name exactly as typed
    std::string shown;           // Shift-JIS, in the console texts
    std::string title;           // Shift-JIS, in the page title
    std::string unicode;         // UTF-8, for a console that shows Unicode
};

// A name typed as bytes (Linux). A name that is valid UTF-8 is Unicode; any
// other (Shift-JIS bytes, say) is shown as typed and, where the console shows
// Unicode, read as Shift-JIS.
FileName fileNameFromBytes(std::filesystem::path path, std::string_view typed);

// A name typed in UTF-16 (the Windows command line).
FileName fileNameFromUtf16(std::filesystem::path path, std::u16string_view typed);

}  // namespace taletab
