#include "console.h"

#include <gtest/gtest.h>

namespace taletab::platform {
namespace {

#ifdef _WIN32
// Explorer makes a console for the program alone; cmd, PowerShell and a batch
// file share theirs, and redirected output is no window at all.
TEST(ConsoleTest, AWindowOfItsOwnIsOneExplorerMadeForTheProgram) {
    const struct {
        const char* started;
        unsigned long processesOnConsole;
        bool outputIsConsole;
        bool ownWindow;
    } cases[] = {
        {"by Explorer", 1, true, true},
        {"from cmd", 2, true, false},
        {"from a batch file run by cmd", 2, true, false},
        {"from PowerShell in Windows Terminal", 3, true, false},
        {"by Explorer, output redirected", 1, false, false},
        {"from cmd, output redirected", 2, false, false},
        {"where the console cannot be asked", 0, true, false},
    };
    for (const auto& c : cases) EXPECT_EQ(isOwnWindow(c.processesOnConsole, c.outputIsConsole), c.ownWindow) << c.started;
}
#endif

}  // namespace
}  // namespace taletab::platform
