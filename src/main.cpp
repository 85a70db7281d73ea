// taletab: converts a script file (Shift-JIS; each line a name, a TAB and a
// text) into an HTML page showing the script as one two-column table.
//
//   taletab SCRIPT [PAGE]
//
// Without PAGE the page is written to "permoa.htm" in the current directory.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console_texts.h"
#include "page_writer.h"
#include "platform.h"
#include "script_reader.h"
#include "text_mode.h"
#include "threaded_sink.h"

namespace taletab {
namespace {

enum ExitStatus : int {
    kSuccess = 0,
    kNoFileName = 1,       // no script file named
    kScriptNotOpened = 2,  // the script file is missing, unreadable or a directory
    kPageNotOpened = 3,    // the page cannot be created, or is the script itself
    kIoFailed = 4,         // the script could not be read, or the page written, to its end
};

constexpr std::size_t kReadBlockSize = 256 * 1024;

void print(std::string_view text) {
    std::string bytes;
    appendWithCrLf(bytes, text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

// Prints a message with a file name, as typed, in its "%s" slot.
void print(std::string_view message, std::string_view fileName) {
    const std::size_t slot = message.find("%s");
    std::string filled(message.substr(0, slot));
    filled += fileName;
    filled += message.substr(slot + 2);
    print(filled);
}

void printBanner() {
    for (std::string_view text :
         {texts::kBannerTitle, texts::kBannerVersion, texts::kBannerNotice, texts::kBannerEnd}) {
        print(text);
    }
}

void printUsage() {
    for (std::string_view text : {texts::kUsageColour, texts::kUsageTitle, texts::kUsageSynopsis,
                                  texts::kUsageScript, texts::kUsageScriptNote, texts::kUsagePage}) {
        print(text);
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

enum class Outcome { kConverted, kReadFailed, kWriteFailed };

// Writes the whole page: head, a row per script line, foot. The page is put
// in place only when every byte of it has been written.
Outcome convert(std::FILE* script, platform::PageFile& page, std::string_view title) {
    // Both sides move large blocks of their own; the stdio buffers would only add a copy.
    std::setvbuf(script, nullptr, _IONBF, 0);
    std::setvbuf(page.stream(), nullptr, _IONBF, 0);
    ThreadedSink sink([&page](std::string_view block) {
        return std::fwrite(block.data(), 1, block.size(), page.stream()) == block.size();
    });
    PageWriter writer(sink.pageSink());
    ScriptReader reader(
        [&writer](const ScriptRow& row) { writer.writeRow(row.name, row.text); });

    writer.writeHead(title);
    // Not zero-filled: a small script pays only for the bytes it reads.
    const std::unique_ptr<char[]> block(new char[kReadBlockSize]);
    try {
        std::size_t got;
        while ((got = std::fread(block.get(), 1, kReadBlockSize, script)) > 0) {
            reader.feed({block.get(), got});
        }
    } catch (const std::bad_alloc&) {
        return Outcome::kReadFailed;  // a line longer than the memory there is to hold it
    }
    if (std::ferror(script)) return Outcome::kReadFailed;
    reader.finish();
    writer.writeFoot();
    return writer.finish() && sink.finish() && page.commit() ? Outcome::kConverted : Outcome::kWriteFailed;
}

int run(int argc, char** argv) {
    const platform::Console console;
    printBanner();
    const std::vector<platform::FileName> names = platform::fileNames(argc, argv);
    if (names.empty()) {
        print(texts::kNoFileName);
        printUsage();
        return kNoFileName;
    }
    const platform::FileName& script = names[0];
    const File scriptFile = openScript(script.path);
    if (!scriptFile) {
        print(texts::kScriptMissing, script.shown);
        printUsage();
        return kScriptNotOpened;
    }
    // A third name and beyond are not used: the page goes to the default name then too.
    platform::FileName pageName{std::filesystem::path(texts::kDefaultPage), std::string(texts::kDefaultPage)};
    if (names.size() == 2) {
        pageName = names[1];
    } else {
        print(texts::kNoPageName);
        print(texts::kDefaultPageName, pageName.shown);
    }
    if (platform::sameFile(script.path, pageName.path)) {
        print(texts::kPageIsScript, pageName.shown);
        return kPageNotOpened;
    }
    platform::PageFile page(pageName.path);
    if (!page.stream()) {
        print(texts::kPageNotCreated, pageName.shown);
        return kPageNotOpened;
    }
    switch (convert(scriptFile.get(), page, pageName.shown)) {
        case Outcome::kReadFailed:
            print(texts::kScriptReadFailed, script.shown);
            return kIoFailed;
        case Outcome::kWriteFailed:
            print(texts::kPageWriteFailed, pageName.shown);
            return kIoFailed;
        case Outcome::kConverted:
            break;
    }
    print(texts::kDone);
    return kSuccess;
}

}  // namespace
}  // namespace taletab

int main(int argc, char** argv) { return taletab::run(argc, argv); }
