// taletab: converts a script file (Shift-JIS, UTF-8 or UTF-16; each line a name, a
// TAB and a text) into an HTML page showing the script as one two-column table.
//
//   taletab SCRIPT [PAGE]
//
// Without PAGE the page is written to "permoa.htm" in the current directory
// (beside the script, when Explorer started the program in a window of its own).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command_line.h"
#include "console.h"
#include "console_texts.h"
#include "converter.h"
#include "file_name.h"
#include "files.h"
#include "name_limits.h"
#include "page_file.h"
#include "signals.h"
#include "threaded_sink.h"

namespace taletab {
namespace {

enum ExitStatus : int {
    kSuccess = 0,
    kNoFileName = 1,       // no script file named
    kScriptNotOpened = 2,  // the script file is missing, unreadable or a directory
    kPageNotOpened = 3,    // the page cannot be created, is the script itself, or is no page
    kIoFailed = 4,         // the script could not be read, or the page written, to its end
};

void printBanner(const platform::Console& console) {
    for (std::string_view text :
         {texts::kBannerTitle, texts::kBannerVersion, texts::kBannerNotice, texts::kBannerEnd}) {
        console.print(text);
    }
}

void printUsage(const platform::Console& console) {
    for (std::string_view text : {texts::kUsageColour, texts::kUsageTitle, texts::kUsageSynopsis,
                                  texts::kUsageScript, texts::kUsageScriptNote, texts::kUsagePage}) {
        console.print(text);
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A directory is no script, even where the system lets it be opened for reading.
File openScript(const std::filesystem::path& name) {
    File file(platform::openFile(name, "rb"));
    std::error_code error;
    if (file && std::filesystem::is_directory(name, error)) file.reset();
    return file;
}

// The page of the given name in the script's directory, named in full; titled as before.
FileName besideScript(const FileName& script, const FileName& page) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(script.path, error).parent_path() / page.path;
    if (error) return page;
    FileName beside = fileNameFromUtf16(full, full.u16string());
    beside.title = page.title;
    return beside;
}

enum class Outcome { kConverted, kReadFailed, kWriteFailed };

// Writes the whole page. The page is put in place only when every byte of it has been written.
// `unreadable` is set to the count of characters that could not be read; `doubtfulEncoding` to the
// name of the encoding the script was read in where that may be wrong, and left empty elsewhere.
Outcome convert(std::FILE* script, PageFile& page, std::string_view title, std::uint64_t& unreadable,
                std::string& doubtfulEncoding) {
    // The page's writer moves large blocks of its own; the stdio buffer would only add a copy.
    std::setvbuf(page.stream(), nullptr, _IONBF, 0);
    ThreadedSink sink([&page](std::string_view block) { return page.write(block); });
    bool written = false;
    try {
        Converter converter({std::string(title), {}}, sink.pageSink());
        // Not zero-filled: a small script pays only for the bytes it reads.
        const std::unique_ptr<char[]> block(new char[kScriptBlockSize]);
        // Reading stops where the script ends, at a 0x1A, or where the page can no longer be written.
        std::ptrdiff_t got = 0;
        while (!converter.done() && (got = platform::readSome(script, block.get(), kScriptBlockSize)) > 0) {
            converter.feed({block.get(), static_cast<std::size_t>(got)});
        }
        if (got < 0) return Outcome::kReadFailed;
        written = converter.finish();
        unreadable = converter.unreadable();
        if (converter.encodingDoubtful()) doubtfulEncoding = std::string(encodingName(converter.encoding()));
    } catch (const std::bad_alloc&) {
        return Outcome::kReadFailed;  // a line longer than the memory there is to hold it
    }
    return written && sink.finish() && page.commit() ? Outcome::kConverted : Outcome::kWriteFailed;
}

// After a page's failure, the line that says why, where the cause is one a user meets.
void printCause(const platform::Console& console, platform::Cause cause) {
    using Cause = platform::Cause;
    switch (cause) {
        case Cause::kDiskFull: console.print(texts::kCauseDiskFull); break;
        case Cause::kNoPermission: console.print(texts::kCauseNoPermission); break;
        case Cause::kReadOnly: console.print(texts::kCauseReadOnly); break;
        case Cause::kNameTooLong: console.print(texts::kCauseNameTooLong); break;
        case Cause::kInUse: console.print(texts::kCauseInUse); break;
        case Cause::kNone: break;
    }
}

int runNamed(platform::Console& console, const std::vector<FileName>& names) {
    if (names.empty()) {
        console.print(texts::kNoFileName);
        printUsage(console);
        return kNoFileName;
    }
    const FileName& script = names[0];
    const File scriptFile = openScript(script.path);
    if (!scriptFile) {
        console.print(texts::kScriptMissing, script);
        printUsage(console);
        return kScriptNotOpened;
    }
    // A third name and beyond are not used: the page goes to the default name then too.
    FileName pageName = fileNameFromBytes(std::filesystem::path(texts::kDefaultPage), texts::kDefaultPage);
    if (names.size() == 2) {
        pageName = names[1];
    } else {
        // A window that closes with the program came from Explorer, whose current directory
        // is no place of the user's: the page goes beside the script, and its full name is shown.
        if (console.ownWindow()) pageName = besideScript(script, pageName);
        console.print(texts::kNoPageName);
        console.print(texts::kDefaultPageName, pageName);
    }
    if (platform::sameFile(script.path, pageName.path)) {
        console.print(texts::kPageIsScript, pageName);
        return kPageNotOpened;
    }
    // Refused before the script is read, which may take long or never end.
    if (const platform::NameFit fit = platform::nameFit(pageName.path); fit != platform::NameFit::kFits) {
        console.print(texts::kPageNotCreated, pageName);
        if (fit == platform::NameFit::kTooLong) printCause(console, platform::Cause::kNameTooLong);
        return kPageNotOpened;
    }
    PageFile page(pageName.path, platform::systemFiles(), [&] {
        console.print(texts::kPageBusy, pageName);
        std::fflush(stdout);
    });
    // Standard output that is the page gets the page alone.
    if (page.isStandardOutput()) console.silence();
    if (!page.mayBecomePage()) {
        console.print(texts::kPageNotHtml, pageName);
        return kPageNotOpened;
    }
    // A long run shows its banner at once; not before the page is examined, which may be standard output.
    std::fflush(stdout);
    if (!page.open()) {
        console.print(texts::kPageNotCreated, pageName);
        printCause(console, page.cause());
        return kPageNotOpened;
    }
    std::uint64_t unreadable = 0;
    std::string doubtfulEncoding;
    switch (convert(scriptFile.get(), page, pageName.title, unreadable, doubtfulEncoding)) {
        case Outcome::kReadFailed:
            console.print(texts::kScriptReadFailed, script);
            return kIoFailed;
        case Outcome::kWriteFailed:
            console.print(texts::kPageWriteFailed, pageName);
            printCause(console, page.cause());
            return kIoFailed;
        case Outcome::kConverted:
            break;
    }
    if (unreadable > 0) {
        const std::string count = std::to_string(unreadable);  // ASCII digits: the same in every form of a name
        console.print(texts::kUnreadable, fileNameFromBytes(count, count));
    }
    if (!doubtfulEncoding.empty()) {
        console.print(texts::kEncodingDoubtful, fileNameFromBytes(doubtfulEncoding, doubtfulEncoding));  // ASCII
    }
    console.print(texts::kDone);
    return kSuccess;
}

int run(int argc, char** argv) {
    platform::prepareProcess();
    platform::Console console;
    printBanner(console);
    try {
        // Out of memory anywhere ends the run as a script that could not be read, the page
        // file's temporary file already gone with the stack. The message is made while there is memory.
        console.prepare(texts::kScriptReadFailed, FileName{});
        const std::vector<FileName> names = platform::fileNames(argc, argv);
        if (!names.empty()) console.prepare(texts::kScriptReadFailed, names[0]);
        return runNamed(console, names);
    } catch (const std::bad_alloc&) {
        console.printPrepared();
        return kIoFailed;
    }
}

}  // namespace
}  // namespace taletab

int main(int argc, char** argv) { return taletab::run(argc, argv); }
