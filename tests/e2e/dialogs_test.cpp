// What the user sees and answers, with the real uninstaller under Wine: the
// confirmation and the switches, files in use, read-only files, shared
// libraries, the progress dialog and damaged data. Which files go in general
// is the soak test's.
#include <gtest/gtest.h>

#include <algorithm>

#include "block_writer.h"
#include "codepage.h"
#include "data/records.h"
#include "languages.h"
#include "manifest.h"
#include "scenario.h"

namespace {

const int ReadOnlyRemove = 6, ReadOnlyKeep = 7, ReadOnlyRemoveAll = 1001, ReadOnlyKeepAll = 1002;
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const std::string Confirm = "Remove everything?", Done = "All done.", InUse = "A file is in use.";

// Message 1 is asked unless a switch makes the run quiet (a word that is no
// switch ends the scan); while a flagged file is in use message 15 follows,
// again on Retry; a carried-out run ends with message 2 unless it is empty.
// A declined run keeps everything.
TEST(RunFlow, SwitchesAnswersAndFilesInUseDecideWhatIsAskedAndDone) {
    enum FlaggedFile { Free, Held, Missing };
    const struct {
        const char* switches;
        FlaggedFile flagged;
        bool emptyFinal;
        std::vector<int> answers;
        std::vector<std::string> shown;
        bool removed;
    } cases[] = {
        {"", Free, false, {IDCANCEL}, {Confirm}, false},
        {"", Free, false, {IDOK, IDOK}, {Confirm, Done}, true},
        {"", Free, true, {IDOK}, {Confirm}, true},
        {"", Held, false, {IDOK, IDRETRY, IDRETRY, IDCANCEL}, {Confirm, InUse, InUse, InUse}, false},
        // A flagged program that is already gone is not in use.
        {"", Missing, false, {IDOK, IDOK}, {Confirm, Done}, true},
        {"foo /Q", Free, false, {IDCANCEL}, {Confirm}, false},
        {"/?", Free, false, {IDCANCEL}, {Confirm}, false},
        {"/Q", Held, false, {}, {}, true},
        {"-s", Free, false, {}, {}, true},
        {"/x", Free, false, {}, {}, true},
        {"/quiet", Free, false, {}, {}, true},
        {"/S/X", Free, false, {}, {}, true},
    };
    std::string base = FreshTestFolder();
    int number = 0;
    for (const auto& c : cases) {
        // A folder of its own each time: a carried-out run removes its folder.
        std::string app = base + std::to_string(++number) + "\\";
        if (c.flagged != Missing) MakeFile(app + "busy.exe");
        MakeFile(app + "free.txt");
        PackData data = TestData();
        if (c.emptyFinal) data.messages[2] = "";
        data.files = {{".", "busy.exe", 8}, {".", "free.txt"}};
        std::string exe = WriteUninstaller(app, data);
        // Held for writing: in use for the check, and kept by the quiet run.
        HANDLE held = c.flagged == Held ? CreateFileA((app + "busy.exe").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) : NULL;
        std::vector<Answer> answers;
        for (int id : c.answers) answers.push_back(BoxAnswer(id));
        RunResult run = RunUninstaller(exe, c.switches, answers);
        if (held) CloseHandle(held);
        EXPECT_EQ(0u, run.exitCode) << number;
        EXPECT_EQ(c.shown, PromptTexts(run)) << number;
        if (c.shown.empty()) EXPECT_TRUE(run.dialogs.empty()) << number;
        EXPECT_EQ(!c.removed, FileExists(app + "free.txt")) << number;
        EXPECT_EQ(c.flagged != Missing && (!c.removed || c.flagged == Held), FileExists(app + "busy.exe")) << number;
    }
}

// Asked from the last entry: r5 first. Fonts and COM servers go unasked.
// Meanwhile the progress dialog is up, with caption message 0 and status
// message 11, and its close box changes nothing.
TEST(ReadOnlyFiles, EachAnswerAndTheAnswersForAllWhileTheProgressDialogStaysUp) {
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
        std::string app = FreshTestFolder(), progress;
        PackData data = TestData();
        for (const std::string& name : names) {
            MakeFile(app + name, true);
            data.files.push_back({".", name, uint8_t(name == "server.dll" ? 4 : name == "font.ttf" ? 2 : 0)});
        }
        std::vector<Answer> answers = {BoxAnswer(IDOK)};
        // The read-only prompt shares its caption with every box; it alone has button 1001.
        for (int id : c.answers) answers.push_back(Answer{TestMessages()[0], id, ReadOnlyRemoveAll});
        answers.push_back(BoxAnswer(IDOK));
        std::vector<std::string> asked = {Confirm};
        for (const std::string& name : c.asked) asked.push_back(app + name + " is read-only");
        asked.push_back(Done);
        auto lookAtProgress = [&](HWND window, const SeenDialog&) {
            HWND dialog = NULL;
            while (GetDlgItem(window, ReadOnlyRemoveAll) && (dialog = FindWindowExA(NULL, dialog, "#32770", NULL)) != NULL)
                if (GetDlgItem(dialog, 1009)) break;
            if (!dialog) return;
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            Sleep(100);
            progress = ReadWindowText(dialog) + "|" + ReadWindowText(GetDlgItem(dialog, 1000)) + "|" +
                       (IsWindowVisible(dialog) ? "up" : "gone");
        };
        RunResult run = RunUninstaller(WriteUninstaller(app, data), "", answers, 20000, lookAtProgress);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(asked, PromptTexts(run));
        EXPECT_EQ(TestMessages()[0] + "|Removing files|up", progress);
        for (const std::string& name : names) {
            bool kept = std::count(c.kept.begin(), c.kept.end(), name) > 0;
            EXPECT_EQ(kept, FileExists(app + name)) << name;
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
        std::string count;  // -1 when there is no value
        ReadValue(HKEY_LOCAL_MACHINE, SharedDlls, app + file.name, &count);
        EXPECT_EQ(file.after, count.size() == 4 ? (long long)*(const DWORD*)count.data() : -1) << file.name;
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (app + file.name).c_str());
    }
}

// A window's text as the user sees it, in UTF-8 whatever the code page.
std::string ReadUtf8(HWND window) {
    wchar_t text[2048];
    char utf8[8192];
    int length = GetWindowTextW(window, text, 2048);
    return std::string(utf8, WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8, NULL, NULL));
}

// In a built-in language, under the ANSI code page of a system set to it
// (ctest runs this with LC_ALL set, QV_LANGUAGE naming the table): the system
// reports the table's code page, and uninstpack.exe, given "auto", makes the
// uninstaller with that table for an installation folder named in the
// language. The user reads the table's texts exactly: the confirmation, the
// read-only prompt with its four buttons, the final message.
TEST(Languages, TheUserReadsTheTablesTexts) {
    const char* tag = getenv("QV_LANGUAGE");
    if (!tag) GTEST_SKIP() << "run by the languages.* tests, with LC_ALL set";
    const Language* language = FindLanguage(tag);
    ASSERT_TRUE(language);
    ASSERT_EQ(UINT(language->codePage), GetACP());
    std::string folder, caption, error;
    ASSERT_TRUE(EncodeText(language->name, language->codePage, &folder, &error)) << error;
    ASSERT_TRUE(EncodeText(language->messages[0], language->codePage, &caption, &error)) << error;
    const std::string app = FreshTestFolder() + folder;
    MakeFile(app + "\\locked.txt", true);
    WriteWholeFile(app + "\\app.json", R"({"language": "auto", "files": [{"folder": ".", "name": "locked.txt"}]})");
    ASSERT_EQ(0u, RunAndAnswer("\"" + BinFolder + "uninstpack.exe\" build \"" + app + "\\app.json\" -o \"" + app + "\\uninst.exe\" --stub \"" +
                                   BinFolder + "uninst.exe\" --install-dir \"" + app + "\"", {}, 20000).exitCode);
    std::vector<std::string> seen;
    auto read = [&](HWND window, const SeenDialog&) {
        if (!GetDlgItem(window, 0xFFFF) && !GetDlgItem(window, 1001)) return;  // not the progress dialog
        for (int id : {0xFFFF, 1000, 6, 1001, 7, 1002})
            if (HWND control = GetDlgItem(window, id)) seen.push_back(ReadUtf8(control));
    };
    RunResult run = RunUninstaller(app + "\\uninst.exe", "",
                                   {{caption, IDOK, 0xFFFF}, {caption, ReadOnlyRemove, 1001}, {caption, IDOK, 0xFFFF}}, 20000, read);
    const std::vector<std::string>& m = language->messages;
    std::string prompt = m[9];
    prompt.replace(prompt.find("%s"), 2, "C:\\qvtest\\" + TestName() + "\\" + language->name + "\\locked.txt");
    EXPECT_EQ((std::vector<std::string>{m[1], prompt, m[3], m[4], m[5], m[6], m[2]}), seen);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists(app + "\\locked.txt"));
}

// Damage is reported with message 8 naming the uninstaller, in quiet runs
// and others alike; the program ends with -1 and touches nothing. Which
// blocks the reader refuses is for its own tests and the fuzzer.
TEST(DataBlock, DamagedBlocksAreReportedAndRemoveNothing) {
    std::string table = EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(TestMessages())), count;
    AppendU32(&count, 1000);
    const std::string damaged[] = {
        table + EncodeRecord(RecordTypeFileList, EncodeFileList({{".", "a.txt", 0}})),  // no end record
        table + EncodeRecord(RecordTypeFileList, count + EncodeFileList({{".", "a.txt", 0}}).substr(4)) +
            EncodeRecord(RecordTypeEnd, ""),
    };
    std::string folder = FreshTestFolder();
    MakeFile(folder + "a.txt");
    for (const std::string& block : damaged) {
        std::string exe = WriteUninstaller(folder, block);
        for (const char* switches : {"", "/Q"}) {
            RunResult run = RunUninstaller(exe, switches, {BoxAnswer(IDOK)});
            EXPECT_EQ(DWORD(-1), run.exitCode) << switches;
            EXPECT_EQ(std::vector<std::string>{"Damaged data in " + exe}, PromptTexts(run)) << switches;
            EXPECT_TRUE(FileExists(folder + "a.txt"));
        }
    }
}

// A file that another program holds open for writing is in use whatever that
// program lets others do: it stays, and its neighbour goes.
TEST(InUse, AFileHeldForWritingStaysWhateverItsHolderShares) {
    const std::string folder = FreshTestFolder();
    PackData data = TestData();
    data.files = {{".", "free.txt"}, {".", "held.txt"}};
    for (DWORD sharing : {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}) {
        MakeFile(folder + "free.txt");
        MakeFile(folder + "held.txt");
        HANDLE held = CreateFileA((folder + "held.txt").c_str(), GENERIC_READ | GENERIC_WRITE, sharing, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        RunQuietly(folder, data);
        CloseHandle(held);
        EXPECT_TRUE(FileExists(folder + "held.txt")) << sharing;
        EXPECT_FALSE(FileExists(folder + "free.txt")) << sharing;
    }
}

// Started in a window station no one sees (as a deployment tool's SYSTEM
// account is, in session 0), the uninstaller shows no box, which would wait
// until it is killed: a shared library is kept, a read-only file the data
// names goes, damaged data ends the run with -1, and an unanswered
// confirmation removes nothing.
TEST(NoUser, NoBoxWhereNoUserCanAnswer) {
    HWINSTA visible = GetProcessWindowStation(), hidden = CreateWindowStationA("QvHidden", 0, WINSTA_ALL_ACCESS, NULL);
    ASSERT_TRUE(hidden && SetProcessWindowStation(hidden));
    HDESK desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    SetProcessWindowStation(visible);
    ASSERT_TRUE(desktop);
    const std::string folder = FreshTestFolder();
    auto run = [&](const std::string& block, const char* switches) {
        std::string command = "\"" + WriteUninstaller(folder, block) + "\" " + switches;
        STARTUPINFOA startup = {sizeof startup};
        startup.lpDesktop = (char*)"QvHidden\\Default";
        PROCESS_INFORMATION process;
        DWORD code = 0x5EED;
        EXPECT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
        if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 0xDEAD);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return code;
    };
    MakeFile(folder + "shared.dll");
    MakeFile(folder + "locked.txt", true);
    SetValue(HKEY_LOCAL_MACHINE, SharedDlls, folder + "shared.dll", REG_DWORD, std::string("\1\0\0\0", 4));
    PackData data = TestData();
    data.files = {{".", "shared.dll", 1}, {".", "locked.txt"}};
    EXPECT_EQ(0u, run(WriteBlock(data), ""));  // the confirmation goes unanswered
    EXPECT_TRUE(FileExists(folder + "locked.txt"));
    EXPECT_EQ(0u, run(WriteBlock(data), "/Q"));
    EXPECT_TRUE(FileExists(folder + "shared.dll"));
    EXPECT_FALSE(FileExists(folder + "locked.txt"));
    EXPECT_EQ(DWORD(-1), run(EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(TestMessages())), "/Q"));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (folder + "shared.dll").c_str());
    CloseDesktop(desktop);
    CloseWindowStation(hidden);
}

}  // namespace
