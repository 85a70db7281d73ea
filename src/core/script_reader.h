// The script file format: each line is a name, a TAB and a text; a line
// without a TAB is a heading. The reader never touches a file: it is fed the
// file's bytes and hands each finished line, as a row, to its caller.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace taletab {

// One line of a script. The name is what stands before the line's first TAB,
// the text what stands after its last TAB; a line without a TAB has the
// full-width space "　" as its text. Each field ends at a zero byte if it
// holds one. Both views point into buffers the caller does not own and are
// valid only during the call that receives the row.
struct ScriptRow {
    std::string_view name;
    std::string_view text;
};

// The text of a line that has no TAB: a full-width space (Shift-JIS 0x81 0x40).
// A heading's row points at these very bytes, one array for the whole
// program, so that a caller can tell it from a text that reads the same.
inline constexpr char kHeadingFillerBytes[] = "\x81\x40";  // "　"
inline constexpr std::string_view kHeadingFiller(kHeadingFillerBytes, 2);

// A 0x1A byte (Ctrl-Z) ends a script: nothing after it belongs to it.
inline constexpr char kEndOfScript = '\x1a';

// The program reads a script in blocks of this size; the tests cut their
// scripts at it too.
inline constexpr std::size_t kScriptBlockSize = 256 * 1024;

// Reads a script from blocks of its bytes, cut anywhere; the rows do not
// depend on where the cuts fall. CR LF and a bare LF both end a line, a CR
// elsewhere is kept, and a 0x1A byte ends the script.
class ScriptReader {
public:
    using RowHandler = std::function<void(const ScriptRow&)>;

    explicit ScriptReader(RowHandler onRow);
    ~ScriptReader();
    ScriptReader(const ScriptReader&) = delete;
    ScriptReader& operator=(const ScriptReader&) = delete;

    void feed(std::string_view block);

    // The end of the script. A last line without an LF is still a row.
    void finish();

    // Whether a 0x1A has ended the script: nothing fed after it counts.
    bool ended() const { return ended_; }

private:
    void emitRow(std::string_view line, bool mayHoldZero);
    // The same with the line's first and last TAB already found (null: none).
    void emitRow(std::string_view line, const char* firstTab, const char* lastTab, bool mayHoldZero);
    void carry(std::string_view bytes);
    std::string_view carried() const { return {carry_, carrySize_}; }

    RowHandler onRow_;
    // The start of a line whose LF is in a block not fed yet. It grows to
    // the longest such line and no further. It is grown with realloc, which
    // moves the pages of a very long line instead of copying them, so that
    // memory stays near the line's length.
    char* carry_ = nullptr;
    std::size_t carrySize_ = 0;
    std::size_t carryCapacity_ = 0;
    bool ended_ = false;  // a 0x1A was read: nothing after it counts
};

}  // namespace taletab
