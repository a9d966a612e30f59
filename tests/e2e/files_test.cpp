// The file pass under Wine: what the user is asked, shared-library counts,
// files in use, and the progress dialog. Which files go in general is the
// soak test's.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>

#include "scenario.h"

namespace {

const int ReadOnlyRemove = 6, ReadOnlyKeep = 7, ReadOnlyRemoveAll = 1001, ReadOnlyKeepAll = 1002;
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The read-only prompt shares its caption with every box; it alone has button 1001.
Answer ReadOnlyAnswer(int id) {
    return Answer{TestMessages()[0], id, ReadOnlyRemoveAll};
}

// -1 when there is no value.
long long SharedCount(const std::string& path) {
    std::string count;
    return ReadValue(HKEY_LOCAL_MACHINE, SharedDlls, path, &count) && count.size() == 4 ? (long long)*(const DWORD*)count.data() : -1;
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
            DWORD attributes = GetFileAttributesA((app + name).c_str());
            if (std::count(c.kept.begin(), c.kept.end(), name)) EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && attributes & FILE_ATTRIBUTE_READONLY) << name;
            else EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes) << name;
        }
    }
}

// A count above 1 is lowered and keeps the file; at 1, 0 or without a value
// the user is asked (No keeps the file with the count lowered). A file in use
// keeps its count when it would run out.
TEST(SharedFiles, ReferenceCountsDecideAndAsk) {
    std::string app = FreshTestFolder();
    const struct {
        std::string name;
        long long count, after;
    } files[] = {{"count3.dll", 3, 2}, {"count1yes.dll", 1, -1}, {"count1no.dll", 1, 0},
                 {"count0.dll", 0, -1}, {"novalue.dll", -1, -1}, {"inuse.dll", 1, 1}};
    PackData data = TestData();
    for (const auto& file : files) {
        MakeFile(app + file.name);
        DeleteValue(HKEY_LOCAL_MACHINE, SharedDlls, app + file.name);
        DWORD count = DWORD(file.count);
        if (file.count >= 0) SetValue(HKEY_LOCAL_MACHINE, SharedDlls, app + file.name, REG_DWORD, std::string((const char*)&count, 4));
        data.files.push_back({".", file.name, 1});
    }
    HANDLE held = CreateFileA((app + "inuse.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
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
        DeleteValue(HKEY_LOCAL_MACHINE, SharedDlls, app + file.name);
    }
}

// Held without leave to write (even with leave to delete), or without leave
// to delete, a file stays; held by a reader that shares everything, it goes
// once that reader lets go.
TEST(FilesInUse, AFileHeldOpenStaysInAQuietRun) {
    std::string app = FreshTestFolder();
    const struct { DWORD share; bool stays; } holds[] = {
        {FILE_SHARE_READ, true}, {FILE_SHARE_READ | FILE_SHARE_DELETE, true}, {FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false}};
    PackData data = TestData();
    data.files = {{".", "busy.exe", 8}, {".", "free.txt"}};
    for (const auto& hold : holds) {
        MakeFile(app + "busy.exe");
        MakeFile(app + "free.txt");
        HANDLE held = CreateFileA((app + "busy.exe").c_str(), GENERIC_READ, hold.share, NULL, OPEN_EXISTING, 0, NULL);
        RunQuietly(app, data);  // quiet: no in-use check
        CloseHandle(held);
        EXPECT_EQ(hold.stays, FileExists(app + "busy.exe")) << hold.share;
        EXPECT_FALSE(FileExists(app + "free.txt"));
    }
}

// After the confirmation, message 15 while a flagged file is in use, again on
// Retry; Cancel ends the run, a free file lets it go on to the final message.
TEST(FilesInUse, PromptRepeatsOnRetryUntilCancelOrTheFileIsFree) {
    const std::string confirm = "Remove everything?", inUse = "A file is in use.";
    const struct {
        bool held;
        std::vector<Answer> answers;
        std::vector<std::string> shown;
    } cases[] = {  // the carried-out run last: it removes its folder
        {true, {BoxAnswer(IDOK), BoxAnswer(IDRETRY), BoxAnswer(IDRETRY), BoxAnswer(IDCANCEL)}, {confirm, inUse, inUse, inUse}},
        {false, {BoxAnswer(IDOK), BoxAnswer(IDOK)}, {confirm, "All done."}},
    };
    for (const auto& c : cases) {
        std::string app = FreshTestFolder();
        MakeFile(app + "busy.exe");
        MakeFile(app + "free.txt");
        PackData data = TestData();
        data.files = {{".", "busy.exe", 8}, {".", "free.txt"}};
        std::string exe = WriteUninstaller(app, data);
        HANDLE held = c.held ? CreateFileA((app + "busy.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) : NULL;
        RunResult run = RunUninstaller(exe, "", c.answers);
        if (held) CloseHandle(held);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(c.shown, PromptTexts(run));
        EXPECT_EQ(c.held, FileExists(app + "busy.exe"));
        EXPECT_EQ(c.held, FileExists(app + "free.txt"));
    }
}

// While the read-only prompt holds the run still, the progress dialog is up:
// caption message 0, status message 11, and Esc or its close box change nothing.
TEST(Progress, DialogShowsCaptionAndStatusAndCannotBeClosed) {
    std::string app = FreshTestFolder();
    MakeFile(app + "a.txt");
    MakeFile(app + "locked.txt", true);
    PackData data = TestData();
    data.files = {{".", "locked.txt"}, {".", "a.txt"}};
    std::string caption, status;
    bool stayedAfterEscape = false, stayedAfterClose = false;
    auto lookAtProgress = [&](HWND window, const SeenDialog&) {
        if (!GetDlgItem(window, ReadOnlyRemoveAll)) return;
        HWND progress = NULL;
        while ((progress = FindWindowExA(NULL, progress, "#32770", NULL)) != NULL)
            if (GetDlgItem(progress, 1009)) break;
        if (!progress) return;
        caption = ReadWindowText(progress);
        status = ReadWindowText(GetDlgItem(progress, 1000));
        PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
        Sleep(300);
        stayedAfterEscape = IsWindow(progress) && IsWindowVisible(progress);
        PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(300);
        stayedAfterClose = IsWindow(progress) && IsWindowVisible(progress);
    };
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "", {BoxAnswer(IDOK), ReadOnlyAnswer(ReadOnlyRemove), BoxAnswer(IDOK)},
                                   20000, lookAtProgress);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(TestMessages()[0], caption);
    EXPECT_EQ("Removing files", status);
    EXPECT_TRUE(stayedAfterEscape);
    EXPECT_TRUE(stayedAfterClose);
    EXPECT_FALSE(FileExists(app + "a.txt"));
    EXPECT_FALSE(FileExists(app + "locked.txt"));
}

// A folder entry removes its folder when empty, never a protected one: all
// users' documents is empty in the test prefix.
TEST(FilePass, FolderEntryNeverRemovesAProtectedFolder) {
    char documents[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_COMMON_DOCUMENTS, NULL, 0, documents)));
    PackData data = TestData();
    data.files = {{documents, ""}, {"C:\\", ""}};
    RunQuietly(FreshTestFolder(), data);
    EXPECT_TRUE(FileExists(documents));
}

// A file or directory entry whose path does not fit 259 characters is skipped,
// never cut: a pass that cut it would delete the file its first 259 characters name.
TEST(LongPaths, EntriesThatDoNotFitAreSkipped) {
    std::string app = FreshTestFolder();
    std::string folder = app + std::string(240 - app.size(), 'f'), name(30, 'n');
    std::string cut = (folder + "\\" + name).substr(0, 259);
    MakeFile(cut);
    MakeFile(app + "short.txt");
    PackData data = TestData();
    data.files = {{".", "short.txt"}, {folder, name}};
    data.directories = {{0, folder, "", name}};
    RunQuietly(app, data);
    EXPECT_TRUE(FileExists(cut));
    EXPECT_FALSE(FileExists(app + "short.txt"));
}

}  // namespace
