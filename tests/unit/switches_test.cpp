// Scanning the command-line tail for /Q, /S and /X.
#include <gtest/gtest.h>

#include "app/run.h"

// The switches found, as "q", "s" and "x"; /S and /X imply /Q.
static std::string Scan(const char* tail) {
    QuietMode = SwitchS = SwitchX = 0;
    ScanSwitches(tail);
    return std::string(QuietMode ? "q" : "") + (SwitchS ? "s" : "") + (SwitchX ? "x" : "");
}

TEST(Switches, FirstLetterOfEachWordUpToTheFirstWordThatIsNoSwitch) {
    const char* const cases[][2] = {
        {"", ""}, {nullptr, ""}, {"/q", "q"}, {"-S", "qs"}, {"  /x  ", "qx"}, {"/X -s /Q", "qsx"},
        {"/quiet", "q"}, {"/Xyz", "qx"}, {"/?", ""}, {"/QS", "q"},  // only the first letter counts
        {"/Q/X", "qx"}, {"/quiet-silent", "qs"}, {"//Q", ""},  // a slash or dash inside a word opens a switch
        {"foo /Q", ""}, {"/Q foo /S", "q"}, {"/Q -", "q"}, {"\t/Q", ""},  // only the space separates
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], Scan(c[0])) << (c[0] ? c[0] : "(null)");
}
