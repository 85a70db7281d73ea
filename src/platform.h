// What differs between Linux and Windows lives behind these calls, and only here.
#pragma once

namespace taletab::platform {

// Standard output carries the program's bytes unchanged: no LF is doubled into CR CR LF.
void setBinaryStdout();

}  // namespace taletab::platform
