#include "page_road.h"

namespace taletab {

PageRoad roadFor(const PageFound& found, bool mayRename) {
    using Kind = PageFound::Kind;
    switch (found.kind) {
        case Kind::kNone:
            return mayRename ? PageRoad{Road::kRename, Refusal::kNone} : PageRoad{Road::kRefuse, Refusal::kNoNewFile};
        case Kind::kStream:
            return {Road::kDirect, Refusal::kNone};
        case Kind::kDisk:
            return {Road::kRefuse, Refusal::kDisk};  // a disk's bytes are no page
        case Kind::kPseudo:
            return {Road::kRefuse, Refusal::kPseudo};
        case Kind::kOther:
            return {Road::kRefuse, Refusal::kNotAFile};
        case Kind::kFile:
            break;
    }
    if (!found.writable) return {Road::kRefuse, Refusal::kNotWritable};
    if (!found.locked) return {Road::kRefuse, Refusal::kInUse};
    // A renamed new file must be the old page in every respect a user sees.
    const bool renameKeepsIt = found.links == 1 && found.ownerKept && !found.extras;
    return {mayRename && renameKeepsIt ? Road::kRename : Road::kCopyIn, Refusal::kNone};
}

}  // namespace taletab
