// What the user sees and answers, with the real uninstaller under Wine: the
// confirmation and the switches, files in use, read-only files, shared
// libraries, the progress dialog and damaged data. Which files go in general
// is the soak test's.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "block_writer.h"
#include "data/files.h"
#include "data/message_table.h"
#include "data/records.h"
#include "scenario.h"
#include "stub.h"

namespace {

const DWORD ExitFailure = 0xFFFFFFFF;  // the program's -1
const int ReadOnlyRemove = 6, ReadOnlyKeep = 7, ReadOnlyRemoveAll = 1001, ReadOnlyKeepAll = 1002;
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const std::string Confirm = "Remove everything?", Done = "All done.", InUse = "A file is in use.";

// The read-only prompt shares its caption with every box; it alone has button 1001.
Answer ReadOnlyAnswer(int id) {
    return Answer{TestMessages()[0], id, ReadOnlyRemoveAll};
}

// Message 1 is asked unless a switch makes the run quiet (a word that is no
// switch ends the scan); while a flagged file is in use message 15 follows,
// again on Retry; a carried-out run ends with message 2 unless it is empty.
// A declined run keeps everything.
TEST(RunFlow, SwitchesAnswersAndFilesInUseDecideWhatIsAskedAndDone) {
    const struct {
        const char* switches;
        bool held, emptyFinal;
        std::vector<int> answers;
        std::vector<std::string> shown;
        bool removed;
    } cases[] = {
        {"", false, false, {IDCANCEL}, {Confirm}, false},
        {"", false, false, {IDOK, IDOK}, {Confirm, Done}, true},
        {"", false, true, {IDOK}, {Confirm}, true},
        {"", true, false, {IDOK, IDRETRY, IDRETRY, IDCANCEL}, {Confirm, InUse, InUse, InUse}, false},
        {"foo /Q", false, false, {IDCANCEL}, {Confirm}, false},
        {"/?", false, false, {IDCANCEL}, {Confirm}, false},
        {"/Q", true, false, {}, {}, true},
        {"-s", false, false, {}, {}, true},
        {"/x", false, false, {}, {}, true},
        {"/quiet", false, false, {}, {}, true},
        {"/S/X", false, false, {}, {}, true},
    };
    std::string base = FreshTestFolder();
    int number = 0;
    for (const auto& c : cases) {
        // A folder of its own each time: a carried-out run removes its folder.
        std::string app = base + std::to_string(++number) + "\\";
        MakeFile(app + "busy.exe");
        MakeFile(app + "free.txt");
        PackData data = TestData();
        if (c.emptyFinal) data.messages[2] = "";
        data.files = {{".", "busy.exe", 8}, {".", "free.txt"}};
        std::string exe = WriteUninstaller(app, data);
        // Held for writing: in use for the check, and kept by the quiet run.
        HANDLE held = c.held ? CreateFileA((app + "busy.exe").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) : NULL;
        std::vector<Answer> answers;
        for (int id : c.answers) answers.push_back(BoxAnswer(id));
        RunResult run = RunUninstaller(exe, c.switches, answers);
        if (held) CloseHandle(held);
        EXPECT_EQ(0u, run.exitCode) << number;
        EXPECT_EQ(c.shown, PromptTexts(run)) << number;
        if (c.shown.empty()) EXPECT_TRUE(run.dialogs.empty()) << number;
        EXPECT_EQ(!c.removed, FileExists(app + "free.txt")) << number;
        EXPECT_EQ(!c.removed || c.held, FileExists(app + "busy.exe")) << number;
    }
}

// Asked from the last entry: r5 first. Fonts and COM servers go unasked.
TEST(ReadOnlyFiles, EachAnswerAndTheAnswersForAll) {
    const struct {
        std::vector<int> answers;
        std::vector<std::string> asked, kept;
    } cases[] = {
        // r3's prompt is dismissed; Yes to all at r2 holds for r1.
        {{ReadOnlyRemove, ReadOnlyKeep, IDCANCEL, ReadOnlyRemoveAll}, {"r5", "r4", "r3", "r2"}, {"r4", "r3"}},
        {{ReadOnlyKeepAll}, {"r5"}, {"r5", "r4", "r3", "r2", "r1"}},
    };
    const std::vector<std::string> names = {"server.dll", "font.ttf", "r1", "r2", "r3", "r4", "r5"};
    for (const auto& c : cases) {
        std::string app = FreshTestFolder();
        PackData data = TestData();
        for (const std::string& name : names) {
            MakeFile(app + name, true);
            data.files.push_back({".", name, uint8_t(name == "server.dll" ? 4 : name == "font.ttf" ? 2 : 0)});
        }
        std::vector<Answer> answers;
        for (int id : c.answers) answers.push_back(ReadOnlyAnswer(id));
        std::vector<std::string> asked;
        for (const std::string& name : c.asked) asked.push_back(app + name + " is read-only");
        RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", answers);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(asked, PromptTexts(run));
        for (const std::string& name : names) {
            bool kept = std::count(c.kept.begin(), c.kept.end(), name) > 0;
            EXPECT_EQ(kept, FileExists(app + name)) << name;
        }
    }
}

// -1 when there is no value.
long long SharedCount(const std::string& path) {
    std::string count;
    return ReadValue(HKEY_LOCAL_MACHINE, SharedDlls, path, &count) && count.size() == 4 ? (long long)*(const DWORD*)count.data() : -1;
}

// A count above 1 is lowered and keeps the file; at 1, 0 or without a value
// the user is asked (No keeps the file with the count lowered). A file in use
// keeps its count when it would run out.
TEST(SharedFiles, ReferenceCountsDecideAndAsk) {
    std::string app = FreshTestFolder();
    const struct {
        std::string name;
        long long count, after;
    } files[] = {{"count3.dll", 3, 2}, {"count2.dll", 2, 1}, {"count1yes.dll", 1, -1}, {"count1no.dll", 1, 0},
                 {"count0.dll", 0, -1}, {"novalue.dll", -1, -1}, {"inuse.dll", 1, 1}};
    PackData data = TestData();
    for (const auto& file : files) {
        MakeFile(app + file.name);
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (app + file.name).c_str());
        DWORD count = DWORD(file.count);
        if (file.count >= 0) SetValue(HKEY_LOCAL_MACHINE, SharedDlls, app + file.name, REG_DWORD, std::string((const char*)&count, 4));
        data.files.push_back({".", file.name, 1});
    }
    HANDLE held = CreateFileA((app + "inuse.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S",
                                   {BoxAnswer(IDYES), BoxAnswer(IDYES), BoxAnswer(IDNO), BoxAnswer(IDYES)});
    CloseHandle(held);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> asked;
    for (const char* name : {"novalue.dll", "count0.dll", "count1no.dll", "count1yes.dll"}) asked.push_back("Remove shared " + app + name + "?");
    EXPECT_EQ(asked, PromptTexts(run));
    for (const auto& file : files) {
        EXPECT_EQ(file.after >= 0, FileExists(app + file.name)) << file.name;
        EXPECT_EQ(file.after, SharedCount(app + file.name)) << file.name;
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (app + file.name).c_str());
    }
}

// While the read-only prompt holds the run still, the progress dialog is up:
// caption message 0, status message 11, and its close box changes nothing.
TEST(Progress, DialogShowsCaptionAndStatusAndCannotBeClosed) {
    std::string app = FreshTestFolder();
    MakeFile(app + "locked.txt", true);
    PackData data = TestData();
    data.files = {{".", "locked.txt"}};
    std::string caption, status;
    bool stayed = false;
    auto lookAtProgress = [&](HWND window, const SeenDialog&) {
        HWND progress = NULL;
        while (GetDlgItem(window, ReadOnlyRemoveAll) && (progress = FindWindowExA(NULL, progress, "#32770", NULL)) != NULL)
            if (GetDlgItem(progress, 1009)) break;
        if (!progress) return;
        caption = ReadWindowText(progress);
        status = ReadWindowText(GetDlgItem(progress, 1000));
        PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(300);
        stayed = IsWindow(progress) && IsWindowVisible(progress);
    };
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "", {BoxAnswer(IDOK), ReadOnlyAnswer(ReadOnlyRemove), BoxAnswer(IDOK)},
                                   20000, lookAtProgress);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(TestMessages()[0], caption);
    EXPECT_EQ("Removing files", status);
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(FileExists(app + "locked.txt"));
}

// Every block the record fuzzer kept, behind a message table of our own, run
// beside files that relative names could reach: a block the reader refuses
// is reported with the message the reader chose (7 or 8) naming the
// uninstaller, in quiet runs and others alike, ends with -1 and touches
// nothing. Blocks the reader accepts are not damage.
TEST(DataBlock, DamagedBlocksAreReportedAndRemoveNothing) {
    const std::string corpus = "C:\\qvtest\\corpus\\records";
    std::string table = EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(TestMessages()));
    std::vector<std::string> blocks;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((corpus + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << "the corpus is not staged";
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) blocks.push_back(ReadWholeFile(corpus + "\\" + found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);

    std::string folder = FreshTestFolder();
    const char* const names[] = {"a.txt", "a", "f", "sub\\b.log", "sub\\deeper\\c.tmp"};
    for (const char* name : names) MakeFile(folder + name);
    int refused = 0, accepted = 0;
    for (size_t i = 0; i < blocks.size(); i++) {
        std::string exe = WriteUninstaller(folder, table + blocks[i]);
        std::string image = ReadWholeFile(exe), error;
        size_t at = 0;
        ASSERT_TRUE(FindDataLocator(image, &at, &error)) << error;
        HANDLE file = OpenExistingFile(exe.c_str(), OpenForRead);
        SetFilePosition(file, ReadDataOffset(image, at));
        int result = ReadRecords(file);
        CloseFile(file);
        char expected[FormattedMessageSize];
        FormatMessageText(expected, result, exe.c_str());
        FreeUninstallData();
        if (result == 0) {
            accepted++;
            continue;
        }
        refused++;
        RunResult run = RunUninstaller(exe, i % 2 ? "" : "/S", {{"", IDOK}});  // a block may bring its own table
        EXPECT_EQ(ExitFailure, run.exitCode) << "block " << i;
        ASSERT_EQ(1u, run.dialogs.size()) << "block " << i;
        EXPECT_EQ(expected, run.dialogs[0].text) << "block " << i;
        for (const char* name : names) EXPECT_EQ("installed file\r\n", ReadWholeFile(folder + name)) << "block " << i << " " << name;
    }
    std::printf("damaged blocks: %d refused and replayed, %d accepted by the reader\n", refused, accepted);
}

}  // namespace
