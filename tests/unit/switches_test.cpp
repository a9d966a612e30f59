// Scanning the command-line tail for /Q, /S and /X.
#include <gtest/gtest.h>

#include "app/run.h"

namespace {

std::string Scan(const char* tail) {
    QuietMode = SwitchS = SwitchX = 0;
    ScanSwitches(tail);
    std::string flags;
    if (QuietMode) flags += "q";
    if (SwitchS) flags += "s";
    if (SwitchX) flags += "x";
    return flags;
}

TEST(Switches, LettersInEitherCaseAfterSlashOrDash) {
    EXPECT_EQ("", Scan(""));
    EXPECT_EQ("", Scan(nullptr));
    EXPECT_EQ("q", Scan("/Q"));
    EXPECT_EQ("q", Scan("/q"));
    EXPECT_EQ("qs", Scan("-S"));
    EXPECT_EQ("qx", Scan("  /x  "));
    EXPECT_EQ("qsx", Scan("/S /X"));
    EXPECT_EQ("qsx", Scan("/X -s /Q"));
}

TEST(Switches, OnlyTheFirstLetterOfAWordCounts) {
    EXPECT_EQ("q", Scan("/quiet"));
    EXPECT_EQ("qs", Scan("/silent"));
    EXPECT_EQ("qx", Scan("/Xyz"));
    EXPECT_EQ("", Scan("/?"));
    EXPECT_EQ("", Scan("/Z /A"));
    EXPECT_EQ("q", Scan("/QS"));  // S is part of the word, not a switch
}

TEST(Switches, SlashOrDashInsideAWordOpensTheNextSwitch) {
    EXPECT_EQ("qx", Scan("/Q/X"));
    EXPECT_EQ("qs", Scan("/quiet-silent"));
    EXPECT_EQ("", Scan("//Q"));  // "/" is the letter; the rest of the word is skipped
    EXPECT_EQ("qx", Scan("/-/X"));
}

TEST(Switches, AWordThatIsNoSwitchEndsTheScan) {
    EXPECT_EQ("", Scan("foo /Q"));
    EXPECT_EQ("q", Scan("/Q foo /S"));
    EXPECT_EQ("q", Scan("/Q /"));
    EXPECT_EQ("q", Scan("/Q -"));
    EXPECT_EQ("", Scan("\t/Q"));  // only the space character separates
}

}  // namespace
