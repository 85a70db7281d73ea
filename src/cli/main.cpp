// taletab: converts a script file (Shift-JIS, UTF-8, UTF-16, EUC-JP or ISO-2022-JP;
// each line a name, a TAB and a text) into an HTML page showing the script as one two-column table.
//
//   taletab SCRIPT [PAGE]
//
// Without PAGE the page is written to "permoa.htm" in the current directory.
// Started by Explorer in a window of its own, with scripts dropped on its icon,
// it makes each script's page beside it, named after it: 二幕.txt → 二幕.htm.

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
#include "html_sniff.h"
#include "name_limits.h"
#include "page_file.h"
#include "script_decoder.h"
#include "signals.h"
#include "taletab_version.h"
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

bool isHelp(const std::vector<FileName>& names) {
    if (names.size() != 1) return false;
    const std::filesystem::path::string_type& name = names[0].path.native();
    for (std::string_view help : {"/?", "-h", "--help"}) {
        if (name == std::filesystem::path::string_type(help.begin(), help.end())) return true;
    }
    return false;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The line that says why a script could not be opened, other than that it is missing.
std::string_view failureCause(platform::OpenFailure failure) {
    switch (failure) {
        case platform::OpenFailure::kFolder:
            return texts::kScriptIsFolder;
        case platform::OpenFailure::kInUse:
            return texts::kScriptInUse;
        case platform::OpenFailure::kMissing:
        case platform::OpenFailure::kOther:
            break;
    }
    return {};
}

enum class Outcome { kConverted, kReadFailed, kWriteFailed };

// Writes the whole page. The page is put in place only when every byte of it has been written.
// `head` holds the script's first bytes, already read from it. `unreadable` is set to the count of
// characters that could not be read; `doubtfulEncoding` to the name of the encoding the script was
// read in where that may be wrong, and left empty elsewhere.
Outcome convert(std::FILE* script, std::string_view head, PageFile& page, std::string_view title,
                std::uint64_t& unreadable, std::string& doubtfulEncoding) {
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
        if (!head.empty()) converter.feed(head);
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

// Converts an open script into the page of the given name: the steps and messages
// every road shares, from the check that the page is not the script on.
int writePage(platform::Console& console, const FileName& script, std::FILE* scriptFile, std::string_view head,
              const FileName& pageName) {
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
    switch (convert(scriptFile, head, page, pageName.title, unreadable, doubtfulEncoding)) {
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
    return kSuccess;
}

int runNamed(platform::Console& console, const std::vector<FileName>& names) {
    if (names.empty()) {
        console.print(texts::kNoFileName);
        printUsage(console);
        return kNoFileName;
    }
    const FileName& script = names[0];
    platform::OpenFailure failure = platform::OpenFailure::kMissing;
    const File scriptFile(platform::openScript(script.path, failure));
    if (!scriptFile) {
        console.print(texts::kScriptMissing, script);
        if (!failureCause(failure).empty()) console.print(failureCause(failure), script);
        printUsage(console);
        return kScriptNotOpened;
    }
    // A third name and beyond are not used: the page goes to the default name then too.
    FileName pageName = fileNameFromBytes(std::filesystem::path(texts::kDefaultPage), texts::kDefaultPage);
    if (names.size() == 2) {
        pageName = names[1];
    } else {
        console.print(texts::kNoPageName);
        console.print(texts::kDefaultPageName, pageName);
    }
    const int status = writePage(console, script, scriptFile.get(), {}, pageName);
    if (status == kSuccess) console.print(texts::kDone);
    return status;
}

// A name as it is shown for a dropped file: its last part, the folders Explorer gave left out.
FileName shortName(const std::filesystem::path& path) {
    return fileNameFromUtf16(path, path.filename().u16string());
}

// "SCRIPT → PAGE", in each form a name is shown in.
FileName convertedName(const FileName& script, const FileName& page) {
    constexpr std::string_view kArrowShiftJis = " \x81\xa8 ";
    constexpr std::string_view kArrowUtf8 = " \xe2\x86\x92 ";
    return {page.path, script.shown + std::string(kArrowShiftJis) + page.shown, {},
            script.unicode + std::string(kArrowUtf8) + page.unicode};
}

// The bytes a dropped file is judged by before it is converted.
constexpr std::size_t kDroppedHeadBytes = 8 * 1024;

// Why a file's first bytes show it is no script, or empty when they do not:
// a word processor's document (a zip such as .docx, an OLE file such as .doc
// or .jtd, RTF, PDF), an HTML page, a file with a NUL byte (UTF-16, with its
// mark or without, excepted), an empty file.
std::string_view notAScript(std::string_view head) {
    constexpr std::string_view kDocumentStarts[] = {std::string_view("PK\x03\x04", 4),
                                                    "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", "{\\rtf", "%PDF-"};
    if (head.empty()) return texts::kScriptEmpty;
    for (std::string_view magic : kDocumentStarts) {
        if (head.substr(0, magic.size()) == magic) return texts::kScriptIsDocument;
    }
    const std::string_view bom = head.substr(0, 2);
    if (bom == "\xff\xfe" || bom == "\xfe\xff") return {};
    const bool binary = head.find('\0') != std::string_view::npos && !isUtf16WithoutMark(head);
    if (binary || beginsLikeHtml(head.substr(0, kSniffedBytes))) {
        return texts::kNotAScript;
    }
    return {};
}

// One dropped file: its page beside it, named after it, or a message why not.
int convertDropped(platform::Console& console, const FileName& named) {
    const FileName script = shortName(named.path);
    platform::OpenFailure failure = platform::OpenFailure::kMissing;
    const File scriptFile(platform::openScript(named.path, failure));
    if (!scriptFile) {
        const std::string_view cause = failureCause(failure);
        console.print(cause.empty() ? texts::kScriptMissing : cause, script);
        return kScriptNotOpened;
    }
    std::string head(kDroppedHeadBytes, '\0');
    std::size_t got = 0;
    for (std::ptrdiff_t more = 1; got < head.size() && more > 0; got += static_cast<std::size_t>(more)) {
        more = platform::readSome(scriptFile.get(), head.data() + got, head.size() - got);
        if (more < 0) {
            console.print(texts::kScriptReadFailed, script);
            return kIoFailed;
        }
    }
    head.resize(got);
    if (const std::string_view why = notAScript(head); !why.empty()) {
        console.print(why, script);
        return kScriptNotOpened;
    }
    std::error_code error;
    std::filesystem::path page = std::filesystem::absolute(named.path, error);
    if (error) page = named.path;
    page.replace_extension(".htm");
    const FileName pageName = shortName(page);
    const int status = writePage(console, script, scriptFile.get(), head, pageName);
    if (status == kSuccess) console.print(texts::kConverted, convertedName(script, pageName));
    return status;
}

// Scripts dropped on the program's icon, each converted in turn whatever befell
// the others; the run's status is the worst of theirs.
int runDropped(platform::Console& console, const std::vector<FileName>& names) {
    int status = kSuccess;
    std::size_t made = 0;
    for (const FileName& name : names) {
        const int one = convertDropped(console, name);
        if (one == kSuccess) ++made;
        if (one > status) status = one;
    }
    const std::string madeCount = std::to_string(made);
    console.print(texts::kPagesMade, fileNameFromBytes(madeCount, madeCount));
    if (made < names.size()) {
        const std::string failed = std::to_string(names.size() - made);
        console.print(texts::kNotConverted, fileNameFromBytes(failed, failed));
    } else {
        console.print(texts::kDone);
    }
    return status;
}

// Double-clicked with nothing dropped: what to do instead.
void printWelcome(const platform::Console& console) {
    for (std::string_view text :
         {texts::kWelcomeDrop, texts::kWelcomeMany, texts::kWelcomeBrowser, texts::kWelcomeGuide}) {
        console.print(text);
    }
    console.print(texts::kWelcomeVersion, fileNameFromBytes(TALETAB_VERSION, TALETAB_VERSION));
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
        if (isHelp(names)) {
            printUsage(console);
            return kSuccess;
        }
        // A window of its own: Explorer started the program, with the scripts dropped on its icon.
        if (console.ownWindow()) {
            if (names.empty()) {
                printWelcome(console);
                return kNoFileName;
            }
            return runDropped(console, names);
        }
        return runNamed(console, names);
    } catch (const std::bad_alloc&) {
        console.printPrepared();
        return kIoFailed;
    }
}

}  // namespace
}  // namespace taletab

int main(int argc, char** argv) { return taletab::run(argc, argv); }
