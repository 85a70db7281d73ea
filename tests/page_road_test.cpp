#include "page_road.h"

#include <gtest/gtest.h>

namespace taletab {
namespace {

using Kind = PageFound::Kind;

PageFound file(unsigned long links = 1, bool ownerKept = true, bool extras = false, bool writable = true,
               bool locked = true) {
    PageFound found;
    found.kind = Kind::kFile;
    found.links = links;
    found.ownerKept = ownerKept;
    found.extras = extras;
    found.writable = writable;
    found.locked = locked;
    return found;
}

PageFound of(Kind kind) {
    PageFound found;
    found.kind = kind;
    return found;
}

// Every row of the rule: what was found, whether a rename may put a new file there, the road.
TEST(PageRoadTest, EveryRow) {
    const struct {
        const char* label;
        PageFound found;
        bool mayRename;
        PageRoad road;
    } cases[] = {
        {"a new page", of(Kind::kNone), true, {Road::kRename, Refusal::kNone}},
        {"a new page where no file can be made", of(Kind::kNone), false, {Road::kRefuse, Refusal::kNoNewFile}},
        {"a device or pipe", of(Kind::kStream), true, {Road::kDirect, Refusal::kNone}},
        {"a device or pipe, no file made beside", of(Kind::kStream), false, {Road::kDirect, Refusal::kNone}},
        {"a disk", of(Kind::kDisk), true, {Road::kRefuse, Refusal::kDisk}},
        {"a kernel file", of(Kind::kPseudo), true, {Road::kRefuse, Refusal::kPseudo}},
        {"a directory or no file at all", of(Kind::kOther), true, {Road::kRefuse, Refusal::kNotAFile}},
        {"a page a new file can be", file(), true, {Road::kRename, Refusal::kNone}},
        {"a page, no file made beside it", file(), false, {Road::kCopyIn, Refusal::kNone}},
        {"a hard-linked page", file(2), true, {Road::kCopyIn, Refusal::kNone}},
        {"another user's page", file(1, false), true, {Road::kCopyIn, Refusal::kNone}},
        {"an access list or file flags", file(1, true, true), true, {Road::kCopyIn, Refusal::kNone}},
        {"a page the user may not write", file(1, true, false, false, false), true,
         {Road::kRefuse, Refusal::kNotWritable}},
        {"a hard-linked page the user may not write", file(2, true, false, false, false), false,
         {Road::kRefuse, Refusal::kNotWritable}},
        {"a page another program holds", file(1, true, false, true, false), true, {Road::kRefuse, Refusal::kInUse}},
        {"a hard-linked page another program holds", file(2, true, false, true, false), true,
         {Road::kRefuse, Refusal::kInUse}},
    };
    for (const auto& c : cases) {
        const PageRoad road = roadFor(c.found, c.mayRename);
        EXPECT_EQ(road.road, c.road.road) << c.label;
        EXPECT_EQ(road.why, c.road.why) << c.label;
    }
}

}  // namespace
}  // namespace taletab
