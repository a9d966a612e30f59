// The file pass under Wine: what goes, what stays, and what the user is asked.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "scenario.h"

namespace {

const int ReadOnlyRemove = 6, ReadOnlyKeep = 7, ReadOnlyRemoveAll = 1001, ReadOnlyKeepAll = 1002;
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string Caption() {
    return TestMessages()[0];
}

// The read-only prompt shares its caption with every box; it alone has button 1001.
Answer ReadOnlyAnswer(int id) {
    return Answer{Caption(), id, ReadOnlyRemoveAll};
}

void SetSharedCount(const std::string& path, DWORD count) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, SharedDlls, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, (const BYTE*)&count, sizeof count);
    RegCloseKey(key);
}

// -1 when there is no value.
long long SharedCount(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDlls, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD count = 0, size = sizeof count;
    LONG result = RegQueryValueExA(key, path.c_str(), NULL, NULL, (BYTE*)&count, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? (long long)count : -1;
}

void ClearSharedCount(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDlls, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, path.c_str());
    RegCloseKey(key);
}

PackData DataWithFiles(std::vector<PackFile> files) {
    PackData data;
    data.messages = TestMessages();
    data.files = files;
    return data;
}

TEST(FilePass, RemovesFilesAndEmptiedFolderEntries) {
    std::string app = FreshTestFolder();
    CreateDirectoryA((app + "sub").c_str(), NULL);
    CreateDirectoryA((app + "kept").c_str(), NULL);
    CreateDirectoryA((app + "abs").c_str(), NULL);
    MakeFile(app + "a.txt");
    MakeFile(app + "sub\\b.txt");
    MakeFile(app + "kept\\c.txt");
    MakeFile(app + "kept\\not-listed.txt");
    MakeFile(app + "abs\\d.txt");
    MakeFile(app + "unlisted.txt");
    char documents[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_COMMON_DOCUMENTS, NULL, 0, documents)));
    // Folder entries come first: the pass walks the list from its end.
    std::string exe = WriteUninstaller(app, DataWithFiles({
        {".\\sub", ""}, {".\\kept", ""}, {app + "abs", ""}, {documents, ""}, {"C:\\", ""},
        {".", "a.txt"}, {".\\sub", "b.txt"}, {".\\kept", "c.txt"}, {app + "abs", "d.txt"},
        {".", "missing.txt"},
    }));
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(FileExists(app + "a.txt"));
    EXPECT_FALSE(FileExists(app + "sub"));
    EXPECT_FALSE(FileExists(app + "kept\\c.txt"));
    EXPECT_TRUE(FileExists(app + "kept\\not-listed.txt"));
    EXPECT_FALSE(FileExists(app + "abs"));
    EXPECT_TRUE(FileExists(app + "unlisted.txt"));
    EXPECT_TRUE(FileExists(documents));  // protected, even when empty
    EXPECT_TRUE(FileExists(exe));
}

TEST(FilePass, PathsThatDoNotFitAreSkipped) {
    std::string app = FreshTestFolder();
    MakeFile(app + "short.txt");
    std::string longFolder = app + std::string(240 - app.size(), 'f');
    CreateDirectoryA(longFolder.c_str(), NULL);
    MakeFile(longFolder + "\\x.txt");
    // Folder and name together exceed 259 characters; a pass that cut the
    // path instead of skipping the entry would delete this file.
    std::string cut = longFolder + "\\" + std::string(259 - longFolder.size() - 1, 'n');
    MakeFile(cut);
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "short.txt"}, {longFolder, std::string(30, 'n')}, {longFolder, "x.txt"}}));
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists(app + "short.txt"));
    EXPECT_FALSE(FileExists(longFolder + "\\x.txt"));
    EXPECT_TRUE(FileExists(cut));
}

TEST(ReadOnlyFiles, EmptyPromptRemovesThemWithoutAsking) {
    std::string app = FreshTestFolder();
    MakeFile(app + "r1.txt", true);
    MakeFile(app + "r2.txt", true);
    PackData data = DataWithFiles({{".", "r1.txt"}, {".", "r2.txt"}});
    data.messages[9] = "";
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {});
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(FileExists(app + "r1.txt"));
    EXPECT_FALSE(FileExists(app + "r2.txt"));
}

TEST(ReadOnlyFiles, EachAnswerAndYesToAllCarryingOver) {
    std::string app = FreshTestFolder();
    for (const char* name : {"r1", "r2", "r3", "r4", "r5"}) MakeFile(app + name, true);
    MakeFile(app + "font.ttf", true);
    // Processed from the last entry: r5 (Yes), r4 (No), r3 (dismissed), r2 (Yes to all), r1, font.
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "font.ttf", 2}, {".", "r1"}, {".", "r2"}, {".", "r3"}, {".", "r4"}, {".", "r5"}}));
    RunResult run = RunUninstaller(exe, "/S", {ReadOnlyAnswer(ReadOnlyRemove), ReadOnlyAnswer(ReadOnlyKeep), ReadOnlyAnswer(IDCANCEL), ReadOnlyAnswer(ReadOnlyRemoveAll)});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<std::string>{app + "r5 is read-only", app + "r4 is read-only", app + "r3 is read-only", app + "r2 is read-only"}), PromptTexts(run));
    EXPECT_FALSE(FileExists(app + "r5"));
    EXPECT_TRUE(FileExists(app + "r4"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), GetFileAttributesA((app + "r4").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FileExists(app + "r3"));
    EXPECT_FALSE(FileExists(app + "r2"));
    EXPECT_FALSE(FileExists(app + "r1"));
    EXPECT_FALSE(FileExists(app + "font.ttf"));
}

TEST(ReadOnlyFiles, NoToAllKeepsLaterOnesButNotFontsAndComServers) {
    std::string app = FreshTestFolder();
    for (const char* name : {"r1", "r2", "font.ttf", "server.dll"}) MakeFile(app + name, true);
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "server.dll", 4}, {".", "font.ttf", 2}, {".", "r1"}, {".", "r2"}}));
    RunResult run = RunUninstaller(exe, "/S", {ReadOnlyAnswer(ReadOnlyKeepAll)});
    EXPECT_EQ(std::vector<std::string>{app + "r2 is read-only"}, PromptTexts(run));
    EXPECT_TRUE(FileExists(app + "r2"));
    EXPECT_TRUE(FileExists(app + "r1"));
    EXPECT_FALSE(FileExists(app + "font.ttf"));
    EXPECT_FALSE(FileExists(app + "server.dll"));
}

TEST(SharedFiles, ReferenceCountsDecideAndAsk) {
    std::string app = FreshTestFolder();
    const char* names[] = {"count3.dll", "count1yes.dll", "count1no.dll", "count0.dll", "novalue.dll", "inuse.dll"};
    for (const char* name : names) MakeFile(app + name);
    SetSharedCount(app + "count3.dll", 3);
    SetSharedCount(app + "count1yes.dll", 1);
    SetSharedCount(app + "count1no.dll", 1);
    SetSharedCount(app + "count0.dll", 0);
    ClearSharedCount(app + "novalue.dll");
    SetSharedCount(app + "inuse.dll", 1);
    HANDLE held = CreateFileA((app + "inuse.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    std::vector<PackFile> files;
    for (const char* name : names) files.push_back({".", name, 1});
    // Processed from the last entry: inuse, novalue (ask), count0 (ask), count1no (ask), count1yes (ask), count3.
    RunResult run = RunUninstaller(WriteUninstaller(app, DataWithFiles(files)), "/S",
                                   {BoxAnswer(IDYES), BoxAnswer(IDYES), BoxAnswer(IDNO), BoxAnswer(IDYES)});
    CloseHandle(held);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<std::string>{"Remove shared " + app + "novalue.dll?", "Remove shared " + app + "count0.dll?",
                                        "Remove shared " + app + "count1no.dll?", "Remove shared " + app + "count1yes.dll?"}),
              PromptTexts(run));
    EXPECT_TRUE(FileExists(app + "count3.dll"));
    EXPECT_EQ(2, SharedCount(app + "count3.dll"));
    EXPECT_FALSE(FileExists(app + "count1yes.dll"));
    EXPECT_EQ(-1, SharedCount(app + "count1yes.dll"));
    EXPECT_TRUE(FileExists(app + "count1no.dll"));
    EXPECT_EQ(0, SharedCount(app + "count1no.dll"));
    EXPECT_FALSE(FileExists(app + "count0.dll"));
    EXPECT_EQ(-1, SharedCount(app + "count0.dll"));
    EXPECT_FALSE(FileExists(app + "novalue.dll"));
    EXPECT_TRUE(FileExists(app + "inuse.dll"));
    EXPECT_EQ(1, SharedCount(app + "inuse.dll"));
    for (const char* name : names) ClearSharedCount(app + name);
}

// Held without leave to write (even with leave to delete), or without leave
// to delete, a file stays; held by a reader that shares everything, it goes
// once that reader lets go.
TEST(FilesInUse, AFileHeldOpenStaysInAQuietRun) {
    std::string app = FreshTestFolder();
    struct Hold { DWORD share; bool stays; };
    for (Hold hold : {Hold{FILE_SHARE_READ, true}, Hold{FILE_SHARE_READ | FILE_SHARE_DELETE, true},
                      Hold{FILE_SHARE_READ | FILE_SHARE_WRITE, true},
                      Hold{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false}}) {
        MakeFile(app + "busy.exe");
        MakeFile(app + "free.txt");
        HANDLE held = CreateFileA((app + "busy.exe").c_str(), GENERIC_READ, hold.share, NULL, OPEN_EXISTING, 0, NULL);
        RunResult run = RunUninstaller(WriteUninstaller(app, DataWithFiles({{".", "busy.exe", 8}, {".", "free.txt"}})), "/S", {});
        CloseHandle(held);
        EXPECT_TRUE(run.dialogs.empty());  // quiet: no in-use check
        EXPECT_EQ(hold.stays, FileExists(app + "busy.exe")) << hold.share;
        EXPECT_FALSE(FileExists(app + "free.txt"));
    }
}

TEST(FilesInUse, PromptRepeatsOnRetryAndCancelEndsTheRun) {
    std::string app = FreshTestFolder();
    MakeFile(app + "busy.exe");
    MakeFile(app + "free.txt");
    HANDLE held = CreateFileA((app + "busy.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "busy.exe", 8}, {".", "free.txt"}}));
    RunResult run = RunUninstaller(exe, "", {BoxAnswer(IDOK), BoxAnswer(IDRETRY), BoxAnswer(IDRETRY), BoxAnswer(IDCANCEL)});
    CloseHandle(held);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<std::string>{"Remove everything?", "A file is in use.", "A file is in use.", "A file is in use."}), PromptTexts(run));
    EXPECT_TRUE(FileExists(app + "busy.exe"));
    EXPECT_TRUE(FileExists(app + "free.txt"));
}

TEST(FilesInUse, FileNotInUseLetsTheRunGoOn) {
    std::string app = FreshTestFolder();
    MakeFile(app + "idle.exe");
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "idle.exe", 8}}));
    RunResult run = RunUninstaller(exe, "", {BoxAnswer(IDOK), BoxAnswer(IDOK)});
    EXPECT_EQ((std::vector<std::string>{"Remove everything?", "All done."}), PromptTexts(run));
    EXPECT_FALSE(FileExists(app + "idle.exe"));
}

// While the read-only prompt holds the run still, the progress dialog is up:
// caption message 0, status message 11, and Esc or its close box change nothing.
TEST(Progress, DialogShowsCaptionAndStatusAndCannotBeClosed) {
    std::string app = FreshTestFolder();
    MakeFile(app + "a.txt");
    MakeFile(app + "locked.txt", true);
    std::string exe = WriteUninstaller(app, DataWithFiles({{".", "locked.txt"}, {".", "a.txt"}}));
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
    RunResult run = RunUninstaller(exe, "", {BoxAnswer(IDOK), ReadOnlyAnswer(ReadOnlyRemove), BoxAnswer(IDOK)}, 20000, lookAtProgress);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Caption(), caption);
    EXPECT_EQ("Removing files", status);
    EXPECT_TRUE(stayedAfterEscape);
    EXPECT_TRUE(stayedAfterClose);
    EXPECT_FALSE(FileExists(app + "a.txt"));
    EXPECT_FALSE(FileExists(app + "locked.txt"));
}

}  // namespace
