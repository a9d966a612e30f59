// Proves the dialog watcher on test_boxes, a program that shows the boxes it is told to.
#include <gtest/gtest.h>

#include "run_and_answer.h"

namespace {

// test_boxes.exe is built beside this test.
std::string Boxes(const std::string& args) {
    return "\"" + ExeDirectory() + "test_boxes.exe\" " + args;
}

const DWORD kTimeout = 20000;

}  // namespace

TEST(RunAndAnswer, AnswersByCaptionAndIdAndReadsTheBox) {
    RunResult r = RunAndAnswer(Boxes("First \"Remove it all?\" 4"), {{"Other", IDYES}, {"First", IDNO}}, kTimeout);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, DWORD{IDNO});
    ASSERT_EQ(r.dialogs.size(), 1u);
    const SeenDialog& d = r.dialogs[0];
    EXPECT_EQ(d.caption, "First");
    EXPECT_EQ(d.className, "#32770");
    EXPECT_EQ(d.text, "Remove it all?");
    EXPECT_EQ(d.answeredWith, IDNO);
    bool yes = false, no = false;
    for (const auto& c : d.controls) {
        yes |= c.first == IDYES;
        no |= c.first == IDNO;
    }
    EXPECT_TRUE(yes && no);
}

TEST(RunAndAnswer, SameCaptionAnsweredInOrder) {
    RunResult r = RunAndAnswer(Boxes("Q one 4 Q two 4 Q three 1"), {{"Q", IDYES}, {"Q", IDNO}, {"", IDCANCEL}}, kTimeout);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 672u);
    ASSERT_EQ(r.dialogs.size(), 3u);
    EXPECT_EQ(r.dialogs[0].text, "one");
    EXPECT_EQ(r.dialogs[1].text, "two");
    EXPECT_EQ(r.dialogs[2].answeredWith, IDCANCEL);
}

TEST(RunAndAnswer, UnansweredBoxEndsInTimeout) {
    RunResult r = RunAndAnswer(Boxes("Lonely waiting 0"), {{"Another", IDOK}}, 1500);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_EQ(r.dialogs[0].caption, "Lonely");
    EXPECT_EQ(r.dialogs[0].answeredWith, 0);
}

TEST(RunAndAnswer, ExitCodeMinusOneIsTrue) {
    RunResult r = RunAndAnswer(Boxes("--exit -1"), {}, kTimeout);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0xFFFFFFFFu);
    EXPECT_TRUE(r.dialogs.empty());
}

TEST(RunAndAnswer, FaultEndsWithoutCrashDialog) {
    RunResult r = RunAndAnswer(Boxes("--crash"), {}, kTimeout);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0xC0000005u);
    EXPECT_TRUE(r.dialogs.empty());
}

TEST(RunAndAnswer, MissingProgramIsNotStarted) {
    EXPECT_FALSE(RunAndAnswer("C:\\no\\such\\program.exe", {}, 1000).started);
}

TEST(WaitForFileGone, SeesDeletion) {
    char temp[MAX_PATH] = {}, file[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    ASSERT_NE(GetTempFileNameA(temp, "wfg", 0, file), 0u);
    EXPECT_FALSE(WaitForFileGone(file, 100));
    DeleteFileA(file);
    EXPECT_TRUE(WaitForFileGone(file, 100));
}
