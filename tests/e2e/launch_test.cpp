// The pre-removal program, the final document and the self-removal of the
// real uninstaller under Wine. A staged recorder program stands in for every
// program the uninstaller starts: it appends how it was started to the file
// that QV_RECORD names. Each test gets its own temporary folder (TMP) under
// its C:\qvtest folder, so the batch files it sees are its own.
#include <gtest/gtest.h>

#include <algorithm>

#include "scenario.h"

namespace {

const uint32_t WaitForProgram = 1;
const char DocumentExtension[] = ".qvtdoc";
const char DocumentClass[] = "QvTest.E2eDocument";

std::string Recorder() {
    return BinFolder + "launch_recorder.exe";
}

void CopyRecorder(const std::string& path) {
    ASSERT_TRUE(CopyFileA(Recorder().c_str(), path.c_str(), FALSE)) << path;
}

// The record's lines; given a prefix, once one begins with it (at most 10 s).
std::vector<std::string> Lines(const std::string& record, const std::string& prefix = "") {
    for (DWORD start = GetTickCount();; Sleep(25)) {
        std::vector<std::string> lines;
        std::string text = ReadWholeFile(record);
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        if (prefix.empty() || GetTickCount() - start > 10000) return lines;
        for (const std::string& line : lines)
            if (line.compare(0, prefix.size(), prefix) == 0) return lines;
    }
}

// The NT batches' folders under the Windows folder's Temp.
std::vector<std::string> BatchFolders() {
    char windows[MAX_PATH];
    const std::string temp = std::string(windows, GetWindowsDirectoryA(windows, MAX_PATH)) + "\\Temp\\";
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "QvUninst*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return folders;
    do folders.push_back(temp + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return folders;
}

std::string WithoutBackslash(const std::string& folder) {
    return folder.substr(0, folder.size() - 1);
}

PackData LaunchData(uint32_t flags, const std::string& program, const std::string& document,
                    std::vector<PackFile> files = {}) {
    PackData data = TestData();
    data.options = {true, flags, program, document};
    data.files = files;
    return data;
}

// Keeps the test's environment changes (recorder options, TMP) and its file
// classes from outliving it.
class Launch : public testing::Test {
protected:
    void SetUp() override {
        char value[1024];
        DWORD length = GetEnvironmentVariableA("TMP", value, sizeof value);
        savedTemp = length < sizeof value ? std::string(value, length) : "";
        base = FreshTestFolder();
        // Unquoted in the batch, & ( ) would split its lines into other
        // commands, a blank into other arguments, and % would start a variable.
        temp = base + "temp dir & (x)%";
        CreateDirectoryA(temp.c_str(), NULL);
        SetEnvironmentVariableA("TMP", temp.c_str());
        record = base + "record.txt";
        SetEnvironmentVariableA("QV_RECORD", record.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", savedTemp.empty() ? NULL : savedTemp.c_str());
        for (const char* name : {"QV_RECORD", "QV_SLEEP", "QV_WATCH", "QV_EXIT"}) SetEnvironmentVariableA(name, NULL);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, DocumentExtension);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, DocumentClass);
    }
    // An app folder below the test's folder, ending in a backslash.
    std::string App(const std::string& name) {
        std::string folder = base + name;
        CreateDirectoryA(folder.c_str(), NULL);
        return folder + "\\";
    }
    std::string savedTemp, base, temp, record;
};

// Quoted, relative or after a token, it runs by its full path in its own
// folder; a command line over 528 bytes is not run rather than cut. Waited
// for, the program has ended before anything is removed, also with the exit
// code that reads as "still running"; else it runs on meanwhile. The removal
// goes on either way.
TEST_F(Launch, PreRemovalProgramRunsInItsOwnFolderAndIsWaitedForWhenTheOptionsSay) {
    SetEnvironmentVariableA("QV_SLEEP", "1500");
    SetEnvironmentVariableA("QV_EXIT", "259");
    std::string token = App("token"), fits = App("fits"), tooLong = App("long"), unwaited = App("unwaited");
    CreateDirectoryA((temp + "\\tool dir").c_str(), NULL);
    // Quotes, program, blank and arguments fill the 528-byte command line.
    std::string arguments(528 - 4 - (fits + "setup.exe").size(), 'a');
    const struct {
        std::string app, command, recorderAt, started;
        uint32_t flags;
        std::string ended;
    } forms[] = {
        {token, "\"#TempDir#\\tool dir\\rec.exe\"", temp + "\\tool dir\\rec.exe",
         "start|\"" + temp + "\\tool dir\\rec.exe\"|" + temp + "\\tool dir|-", WaitForProgram, "end|present"},
        {fits, "\"#InstallDir#\\setup.exe\" " + arguments, fits + "setup.exe",
         "start|\"" + fits + "setup.exe\" " + arguments + "|" + WithoutBackslash(fits) + "|-", WaitForProgram, "end|present"},
        {tooLong, "\"#InstallDir#\\setup.exe\" " + arguments + "a", tooLong + "setup.exe", "", WaitForProgram, ""},
        {unwaited, "\"setup.exe\" /remove", unwaited + "setup.exe",
         "start|\"" + unwaited + "setup.exe\" /remove|" + WithoutBackslash(unwaited) + "|-", 0, "end|absent"},
    };
    for (const auto& form : forms) {
        CopyRecorder(form.recorderAt);
        WriteWholeFile(form.app + "victim.txt", "installed");
        SetEnvironmentVariableA("QV_WATCH", (form.app + "victim.txt").c_str());
        DeleteFileA(record.c_str());
        std::string exe = WriteUninstaller(form.app, LaunchData(form.flags, form.command, "", {{".", "victim.txt"}}));
        EXPECT_EQ(0u, RunUninstaller(exe, "/S", {}).exitCode);
        std::vector<std::string> lines = Lines(record, form.ended.empty() ? "" : "end|");
        EXPECT_EQ(form.started + "\n" + form.ended, lines.size() == 2 ? lines[0] + "\n" + lines[1] : "\n") << form.command;
        EXPECT_FALSE(FileExists(form.app + "victim.txt")) << form.command;
    }
}

// The document opens through the shell in its own folder; self-removal takes
// the uninstaller and its emptied folder within seconds, from folders whose
// names the batch must quote, and leaves no batch; a batch name already
// taken belongs to someone else.
TEST_F(Launch, SwitchesDecideProgramDocumentAndSelfRemoval) {
    SetText(HKEY_CLASSES_ROOT, DocumentExtension, "", DocumentClass);
    SetText(HKEY_CLASSES_ROOT, std::string(DocumentClass) + "\\shell\\open\\command", "", "\"" + Recorder() + "\" \"%1\"");
    struct Case {
        const char* switches;
        int confirm;
        bool program, document, selfRemoval;
    };
    const Case cases[] = {
        {"", IDOK, true, true, true},       {"", IDCANCEL, false, false, false}, {"/Q", 0, true, true, true},
        {"/S", 0, true, false, false},      {"/X", 0, false, false, false},      {"/S /X", 0, true, false, false},
    };
    std::vector<std::string> apps, exes, records, documents;
    WriteWholeFile(temp + "\\delme1.bat", "someone else's");
    for (size_t i = 0; i < 6; i++) {
        const Case& c = cases[i];
        apps.push_back(App("case" + std::to_string(i) + " &(1)%"));
        CopyRecorder(apps[i] + "setup.exe");
        documents.push_back(base + "final" + std::to_string(i) + DocumentExtension);
        WriteWholeFile(documents[i], "document");
        PackData data = LaunchData(WaitForProgram, "\"setup.exe\" pre", documents[i], {{".", "setup.exe"}});
        exes.push_back(WriteUninstaller(apps[i], data));
        records.push_back(base + "record" + std::to_string(i) + ".txt");
        SetEnvironmentVariableA("QV_RECORD", records[i].c_str());
        std::vector<Answer> answers;
        if (c.confirm == IDOK) answers = {BoxAnswer(IDOK), BoxAnswer(IDOK)};
        if (c.confirm == IDCANCEL) answers = {BoxAnswer(IDCANCEL)};
        EXPECT_EQ(0u, RunUninstaller(exes[i], c.switches, answers).exitCode) << i;
    }
    // What happens, first; then what must not have happened, by which time
    // it would have had ample time to.
    for (size_t i = 0; i < 6; i++) {
        if (cases[i].document) Lines(records[i], "start|\"" + Recorder());
        if (cases[i].selfRemoval) EXPECT_TRUE(WaitForFileGone(WithoutBackslash(apps[i]), 10000)) << i;
    }
    Sleep(1500);
    for (size_t i = 0; i < 6; i++) {
        const Case& c = cases[i];
        std::vector<std::string> lines = Lines(records[i]);
        std::string program = "start|\"" + apps[i] + "setup.exe\" pre|" + WithoutBackslash(apps[i]) + "|-";
        std::string document = "start|\"" + Recorder() + "\" \"" + documents[i] + "\"|" + WithoutBackslash(base) + "|5";
        EXPECT_EQ(c.program ? 1 : 0, std::count(lines.begin(), lines.end(), program)) << i;
        EXPECT_EQ(c.document ? 1 : 0, std::count(lines.begin(), lines.end(), document)) << i;
        EXPECT_EQ(!c.selfRemoval, FileExists(exes[i])) << i;
        EXPECT_EQ(c.confirm == IDCANCEL, FileExists(apps[i] + "setup.exe")) << i;
    }
    // 9x: the batches in the temporary folder, the first free names. NT: in
    // folders of their own under the Windows folder's Temp, which go too;
    // nothing in the user's temporary folder, which its owner may change.
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme2.bat", 10000));
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme3.bat", 10000));
    EXPECT_EQ("someone else's", ReadWholeFile(temp + "\\delme1.bat"));
    if (FamilyIsNt()) {
        for (DWORD start = GetTickCount(); !BatchFolders().empty() && GetTickCount() - start < 10000;) Sleep(50);
        EXPECT_EQ(std::vector<std::string>(), BatchFolders());
    }
}

// While it runs, an NT batch lies in a folder of its own under the Windows
// folder's Temp; it is run by cmd.exe from the System folder whatever
// ComSpec says, and that folder goes once the batch has ended.
TEST_F(Launch, OnNtTheBatchRunsFromAFolderOfItsOwnUnderTheWindowsTemp) {
    if (!FamilyIsNt()) GTEST_SKIP() << "9x keeps the batch in the temporary folder";
    const std::string app = App("held app");
    PackData data = LaunchData(0, "", "", {{".", "a.txt"}});
    MakeFile(app + "a.txt");
    const std::string exe = WriteUninstaller(app, data);
    SetEnvironmentVariableA("ComSpec", (base + "planted.exe").c_str());
    CopyRecorder(base + "planted.exe");
    // Held open, the uninstaller cannot go until it is let go: meanwhile the
    // batch runs and tries again a second apart.
    HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0u, RunUninstaller(exe, "/Q", {}).exitCode);
    std::vector<std::string> folders;
    for (DWORD start = GetTickCount(); (folders = BatchFolders()).empty() && GetTickCount() - start < 5000;) Sleep(20);
    ASSERT_EQ(1u, folders.size());
    const std::string batch = ReadWholeFile(folders[0] + "\\delme1.bat");
    EXPECT_NE(std::string::npos, batch.find("del /f ")) << batch;
    EXPECT_TRUE(FileExists(exe));
    CloseHandle(held);
    EXPECT_TRUE(WaitForFileGone(exe, 10000));
    EXPECT_TRUE(WaitForFileGone(folders[0], 10000));
    EXPECT_TRUE(WaitForFileGone(WithoutBackslash(app), 10000));
    EXPECT_FALSE(FileExists(record)) << ReadWholeFile(record);  // the planted interpreter never ran
    SetEnvironmentVariableA("ComSpec", NULL);
}

}  // namespace
