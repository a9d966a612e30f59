// The pre-removal program, the final document and the self-removal of the
// real uninstaller under Wine. A staged recorder program stands in for every
// program the uninstaller starts: it appends how it was started to the file
// that QV_RECORD names. Each test gets its own temporary folder (TMP) under
// its C:\qvtest folder, so the batch files it sees are its own.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

const uint32_t WaitForProgram = 1;
const char DocumentExtension[] = ".qvtdoc";
const char DocumentClass[] = "QvTest.E2eDocument";
const char HtmlFallbackClass[] = "QvTest.E2eHtml";

std::string Recorder() {
    return BinFolder() + "launch_recorder.exe";
}

void CopyRecorder(const std::string& path) {
    ASSERT_TRUE(CopyFileA(Recorder().c_str(), path.c_str(), FALSE)) << path;
}

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
}

std::string Variable(const char* name) {
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : "";
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(path);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Polls until the record holds a line beginning with prefix; returns all lines.
std::vector<std::string> WaitForLine(const std::string& record, const std::string& prefix, DWORD timeoutMs = 10000) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> lines = Lines(record);
        for (const std::string& line : lines)
            if (line.compare(0, prefix.size(), prefix) == 0) return lines;
        if (GetTickCount() - start > timeoutMs) return lines;
        Sleep(25);
    }
}

std::string WithoutBackslash(const std::string& folder) {
    return folder.substr(0, folder.size() - 1);
}

std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return length && length < sizeof buffer ? std::string(buffer, length) : "(no short path)";
}

std::string SystemFolder() {
    char folder[MAX_PATH];
    return std::string(folder, GetSystemDirectoryA(folder, sizeof folder));
}

// The delme*.bat files in a folder.
std::vector<std::string> Batches(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\delme*.bat").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void SetDefaultValue(const std::string& key, const std::string& value) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size())));
}

PackData LaunchData(uint32_t flags, const std::string& program, const std::string& document,
                    std::vector<PackFile> files = {}) {
    PackData data;
    data.messages = TestMessages();
    data.options.present = true;
    data.options.flags = flags;
    data.options.program = program;
    data.options.document = document;
    data.files = files;
    return data;
}

// Keeps the test's environment changes (recorder options, TMP, ComSpec) and
// its file classes from outliving it.
class LaunchScenario : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TMP", "TEMP", "ComSpec"}) saved.push_back({name, Variable(name)});
        for (const char* name : {"QV_RECORD", "QV_SLEEP", "QV_WATCH", "QV_EXIT"}) SetEnvironmentVariableA(name, NULL);
        base = FreshTestFolder();
        temp = base + "tmp";
        CreateDirectoryA(temp.c_str(), NULL);
        SetVariable("TMP", temp);
        SetVariable("TEMP", temp);
        record = base + "record.txt";
        SetVariable("QV_RECORD", record);
    }
    void TearDown() override {
        for (const auto& variable : saved)
            SetEnvironmentVariableA(variable.first, variable.second.empty() ? NULL : variable.second.c_str());
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
    // Documents of type .qvtdoc open in the recorder.
    void RegisterDocumentClass() {
        SetDefaultValue(DocumentExtension, DocumentClass);
        SetDefaultValue(std::string(DocumentClass) + "\\shell\\open\\command", "\"" + Recorder() + "\" \"%1\"");
    }
    std::vector<std::pair<const char*, std::string>> saved;
    std::string base, temp, record;
};

// --- The pre-removal program ---------------------------------------------------

class PreRemovalProgram : public LaunchScenario {};

TEST_F(PreRemovalProgram, CommandFormsRunInTheProgramsOwnFolder) {
    struct Form {
        std::string command, recorderAt, expected;
    };
    std::string quoted = App("quoted"), relative = App("relative"), blanks = App("blanks"), unquoted = App("unquoted");
    CreateDirectoryA((relative + "tools").c_str(), NULL);
    CreateDirectoryA((temp + "\\tool dir").c_str(), NULL);
    std::string token = App("token");
    std::vector<Form> forms = {
        {"\"setup.exe\" /remove", quoted + "setup.exe",
         "start|\"" + quoted + "setup.exe\" /remove|" + WithoutBackslash(quoted) + "|-"},
        {"tools\\clean.exe", relative + "tools\\clean.exe", "start|\"" + relative + "tools\\clean.exe\"|" + relative + "tools|-"},
        {"\"#TempDir#\\tool dir\\rec.exe\" readme.txt", temp + "\\tool dir\\rec.exe",
         "start|\"" + temp + "\\tool dir\\rec.exe\" readme.txt|" + temp + "\\tool dir|-"},
        {"my tool.exe", blanks + "my tool.exe", "start|\"" + blanks + "my tool.exe\"|" + WithoutBackslash(blanks) + "|-"},
        // One program name, "setup.exe /remove", which does not exist.
        {"setup.exe /remove", unquoted + "setup.exe", "(nothing)"},
    };
    std::vector<std::string> apps = {quoted, relative, token, blanks, unquoted};
    for (size_t i = 0; i < forms.size(); i++) {
        CopyRecorder(forms[i].recorderAt);
        std::string exe = WriteUninstaller(apps[i], LaunchData(WaitForProgram, forms[i].command, ""));
        DeleteFileA(record.c_str());
        RunResult run = RunUninstaller(exe, "/S", {});
        EXPECT_EQ(0u, run.exitCode);
        std::vector<std::string> lines = Lines(record);
        EXPECT_EQ(forms[i].expected, lines.empty() ? "(nothing)" : lines[0]) << forms[i].command;
    }
}

TEST_F(PreRemovalProgram, WaitedProgramEndsBeforeTheRemovalStarts) {
    std::string app = App("app");
    CopyRecorder(app + "setup.exe");
    WriteWholeFile(app + "victim.txt", "installed");
    SetVariable("QV_SLEEP", "1500");
    SetVariable("QV_WATCH", app + "victim.txt");
    std::string exe = WriteUninstaller(app, LaunchData(WaitForProgram, "\"setup.exe\"", "", {{".", "victim.txt"}}));
    DWORD start = GetTickCount();
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_GE(GetTickCount() - start, 1500u);
    std::vector<std::string> lines = Lines(record);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("end|present", lines[1]);
    EXPECT_FALSE(FileExists(app + "victim.txt"));
}

TEST_F(PreRemovalProgram, UnwaitedProgramRunsOnWhileTheRemovalGoesAhead) {
    std::string app = App("app");
    CopyRecorder(app + "setup.exe");
    WriteWholeFile(app + "victim.txt", "installed");
    SetVariable("QV_SLEEP", "1500");
    SetVariable("QV_WATCH", app + "victim.txt");
    std::string exe = WriteUninstaller(app, LaunchData(0, "\"setup.exe\"", "", {{".", "victim.txt"}}));
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(1u, WaitForLine(record, "start|").size());  // still asleep when the run has ended
    std::vector<std::string> lines = WaitForLine(record, "end|");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("end|absent", lines[1]);
}

// Nothing is started rather than a cut command; the removal goes on.
TEST_F(PreRemovalProgram, CommandsThatDoNotFitAreNotRun) {
    struct Case {
        std::string name;
        bool runs;
    };
    for (const Case& test : {Case{"fits", true}, Case{"long", false}, Case{"composed", false}}) {
        std::string app = App(test.name);
        CopyRecorder(app + "setup.exe");
        WriteWholeFile(app + "victim.txt", "installed");
        std::string program = app + "setup.exe";
        // Quotes, program, blank and arguments fill the 528-byte command line.
        std::string arguments(528 - 4 - program.size(), 'a');
        std::string command = "\"#InstallDir#\\setup.exe\" " + arguments;
        if (test.name == "long") command += "a";
        // Relative commands are composed in a 260-byte buffer.
        if (test.name == "composed") command = "\"setup.exe\" " + std::string(260 - app.size() - 12, 'a');
        std::string exe = WriteUninstaller(app, LaunchData(WaitForProgram, command, "", {{".", "victim.txt"}}));
        DeleteFileA(record.c_str());
        RunResult run = RunUninstaller(exe, "/S", {});
        EXPECT_EQ(0u, run.exitCode) << test.name;
        std::vector<std::string> lines = Lines(record);
        if (test.runs) {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ("start|\"" + program + "\" " + arguments + "|" + WithoutBackslash(app) + "|-", lines[0]);
        } else {
            EXPECT_TRUE(lines.empty()) << test.name;
        }
        EXPECT_FALSE(FileExists(app + "victim.txt")) << test.name;
    }
}

// --- The final document -----------------------------------------------------------

class FinalDocument : public LaunchScenario {
protected:
    void TearDown() override {
        RestoreHtmlClass();
        RegDeleteTreeA(HKEY_CLASSES_ROOT, HtmlFallbackClass);
        LaunchScenario::TearDown();
    }
    // Points ".htm" at a class whose open command is the recorder, for the
    // length of the test.
    void RedirectHtmlClass(const std::string& openCommand) {
        char value[MAX_PATH];
        LONG size = sizeof value;
        htmlSaved = RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", value, &size) == ERROR_SUCCESS;
        if (htmlSaved) htmlClass = value;
        SetDefaultValue(".htm", HtmlFallbackClass);
        SetDefaultValue(std::string(HtmlFallbackClass) + "\\shell\\open\\command", openCommand);
        redirected = true;
    }
    void RestoreHtmlClass() {
        if (!redirected) return;
        if (htmlSaved) SetDefaultValue(".htm", htmlClass);
        else RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
        redirected = false;
    }
    bool redirected = false, htmlSaved = false;
    std::string htmlClass;
};

TEST_F(FinalDocument, LocalFileOpensThroughTheShellInItsFolder) {
    RegisterDocumentClass();
    std::string docs = App("docs dir");
    std::string document = docs + "read me.qvtdoc";
    WriteWholeFile(document, "document");
    std::string exe = WriteUninstaller(App("app"), LaunchData(0, "", document));
    RunResult run = RunUninstaller(exe, "/Q", {});
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = WaitForLine(record, "start|");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("start|\"" + Recorder() + "\" \"" + document + "\"|" + WithoutBackslash(docs) + "|5", lines[0]);
}

// A document the shell cannot open goes to the open command of the class
// that ".htm" names, cut before its "%1", with the document after a blank.
TEST_F(FinalDocument, DocumentTheShellCannotOpenGoesToTheHtmlOpenCommand) {
    RedirectHtmlClass("\"" + Recorder() + "\" \"%1\"");
    std::string docs = App("docs dir");
    std::string document = docs + "read me.qvtnone";
    WriteWholeFile(document, "document");
    std::string exe = WriteUninstaller(App("app"), LaunchData(0, "", document));
    RunResult run = RunUninstaller(exe, "/Q", {});
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = WaitForLine(record, "start|");
    RestoreHtmlClass();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("start|\"" + Recorder() + "\"  " + document + "|")) << lines[0];
}

// --- The switches ---------------------------------------------------------------

class LaunchSwitches : public LaunchScenario {};

TEST_F(LaunchSwitches, DecideProgramDocumentAndSelfRemoval) {
    RegisterDocumentClass();
    struct Case {
        const char* switches;
        bool program, document, selfRemoval;
    };
    const Case cases[] = {
        {"", true, true, true},     {"/Q", true, true, true},     {"/S", true, false, false},
        {"/X", false, false, false}, {"/S /X", true, false, false},
    };
    std::vector<std::string> exes, records;
    for (size_t i = 0; i < 5; i++) {
        std::string app = App("case" + std::to_string(i));
        CopyRecorder(app + "setup.exe");
        WriteWholeFile(app + "final.qvtdoc", "document");
        exes.push_back(WriteUninstaller(app, LaunchData(WaitForProgram, "\"setup.exe\" pre", app + "final.qvtdoc")));
        records.push_back(base + "record" + std::to_string(i) + ".txt");
        SetVariable("QV_RECORD", records[i]);
        std::vector<Answer> answers;
        if (!*cases[i].switches) answers = {BoxAnswer(IDOK), BoxAnswer(IDOK)};
        RunResult run = RunUninstaller(exes[i], cases[i].switches, answers);
        EXPECT_EQ(0u, run.exitCode) << cases[i].switches;
    }
    // What happens, first; then what must not have happened, by which time
    // it would have had ample time to.
    for (size_t i = 0; i < 5; i++) {
        if (cases[i].document) WaitForLine(records[i], "start|\"" + Recorder());
        if (cases[i].selfRemoval) EXPECT_TRUE(WaitForFileGone(exes[i], 10000)) << cases[i].switches;
    }
    Sleep(1500);
    for (size_t i = 0; i < 5; i++) {
        std::vector<std::string> lines = Lines(records[i]);
        size_t programLines = 0, documentLines = 0;
        for (const std::string& line : lines) {
            if (line.find("setup.exe\" pre|") != std::string::npos) programLines++;
            if (line.find("final.qvtdoc") != std::string::npos) documentLines++;
        }
        EXPECT_EQ(cases[i].program ? 1u : 0u, programLines) << cases[i].switches;
        EXPECT_EQ(cases[i].document ? 1u : 0u, documentLines) << cases[i].switches;
        EXPECT_EQ(!cases[i].selfRemoval, FileExists(exes[i])) << cases[i].switches;
    }
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme1.bat", 10000));
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme2.bat", 10000));
    EXPECT_EQ(std::vector<std::string>{}, Batches(temp));
}

// --- Self-removal ---------------------------------------------------------------

class SelfRemoval : public LaunchScenario {};

TEST_F(SelfRemoval, CarriedOutRunRemovesTheProgramAndItsEmptiedFolder) {
    for (const char* switches : {"", "/Q"}) {
        std::string app = App(*switches ? "quiet" : "asked");
        WriteWholeFile(app + "data.txt", "installed");
        std::string exe = WriteUninstaller(app, LaunchData(0, "", "", {{".", "data.txt"}}));
        std::vector<Answer> answers;
        if (!*switches) answers = {BoxAnswer(IDOK), BoxAnswer(IDOK)};
        RunResult run = RunUninstaller(exe, switches, answers);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(WaitForFileGone(exe, 10000)) << switches;
        EXPECT_TRUE(WaitForFileGone(WithoutBackslash(app), 10000)) << switches;
        EXPECT_TRUE(WaitForFileGone(temp + "\\delme1.bat", 10000)) << switches;
        EXPECT_EQ(std::vector<std::string>{}, Batches(temp));
    }
}

TEST_F(SelfRemoval, DeclinedRunLeavesEverythingInPlace) {
    RegisterDocumentClass();
    std::string app = App("app");
    WriteWholeFile(app + "data.txt", "installed");
    WriteWholeFile(app + "final.qvtdoc", "document");
    CopyRecorder(app + "setup.exe");
    std::string exe = WriteUninstaller(app, LaunchData(0, "\"setup.exe\"", app + "final.qvtdoc", {{".", "data.txt"}}));
    RunResult run = RunUninstaller(exe, "", {BoxAnswer(IDCANCEL)});
    EXPECT_EQ(0u, run.exitCode);
    Sleep(2000);
    EXPECT_TRUE(FileExists(exe));
    EXPECT_TRUE(FileExists(app + "data.txt"));
    EXPECT_EQ(std::vector<std::string>{}, Batches(temp));
    EXPECT_TRUE(Lines(record).empty());  // neither program nor document
}

// The batch keeps trying while the uninstaller's file is held open, which
// leaves time to read it; it finishes once the file is let go.
class HeldSelfRemoval : public SelfRemoval {
protected:
    // Runs exe /Q while holding it open; returns the text of the batch named name.
    std::string RunHeld(const std::string& exe, const std::string& name) {
        HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, held);
        RunResult run = RunUninstaller(exe, "/Q", {});
        EXPECT_EQ(0u, run.exitCode);
        std::string batch = temp + "\\" + name, text;
        DWORD start = GetTickCount();
        while ((text = ReadWholeFile(batch)).empty() && GetTickCount() - start < 10000) Sleep(25);
        Sleep(300);
        EXPECT_TRUE(FileExists(exe));  // the batch has not got past its loop
        CloseHandle(held);
        return text;
    }
};

TEST_F(HeldSelfRemoval, AnExistingBatchNameIsLeftAloneAndTheNextOneUsed) {
    WriteWholeFile(temp + "\\delme1.bat", "someone else's");
    std::string app = App("app");
    std::string exe = WriteUninstaller(app, LaunchData(0, "", ""));
    std::string exeShort = ShortPath(exe), folderShort = ShortPath(WithoutBackslash(app));
    std::string text = RunHeld(exe, "delme2.bat");
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel " + exeShort + "\r\nif exist " + exeShort + " goto Repeat\r\nrmdir " +
                  folderShort + "\r\ndel " + temp + "\\delme2.bat\r\n",
              text);
    EXPECT_TRUE(WaitForFileGone(exe, 10000));
    EXPECT_TRUE(WaitForFileGone(WithoutBackslash(app), 10000));
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme2.bat", 10000));
    EXPECT_EQ("someone else's", ReadWholeFile(temp + "\\delme1.bat"));
}

// Unquoted, & ( ) would split the lines into other commands, a blank into
// other arguments, and % would start a variable.
TEST_F(HeldSelfRemoval, PathsThatNeedQuotesStillWork) {
    std::string app = App("x&y(1)%");
    temp = base + "temp dir & (x)";
    CreateDirectoryA(temp.c_str(), NULL);
    SetVariable("TMP", temp);
    std::string exe = WriteUninstaller(app, LaunchData(0, "", ""));
    std::string folderShort = ShortPath(WithoutBackslash(app));
    ASSERT_NE(std::string::npos, folderShort.find("&y(1)%")) << folderShort;  // still special when short
    std::string folderInBatch = "\"" + folderShort.substr(0, folderShort.size() - 1) + "%%\"";
    std::string exeInBatch = "\"" + folderShort.substr(0, folderShort.size() - 1) + "%%\\" +
                             ShortPath(exe).substr(folderShort.size() + 1) + "\"";
    std::string text = RunHeld(exe, "delme1.bat");
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel " + exeInBatch + "\r\nif exist " + exeInBatch + " goto Repeat\r\nrmdir " +
                  folderInBatch + "\r\ndel \"" + temp + "\\delme1.bat\"\r\n",
              text);
    EXPECT_TRUE(WaitForFileGone(exe, 10000));
    EXPECT_TRUE(WaitForFileGone(WithoutBackslash(app), 10000));
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme1.bat", 10000));
}

// Where there is no command.com, what ComSpec names runs the batch: by its
// full path, hidden, from the System folder (the Windows folder on 9x).
TEST_F(SelfRemoval, ComSpecRunsTheBatchHiddenByItsFullPath) {
    std::string shell = App("shell dir") + "my shell.exe";
    CopyRecorder(shell);
    SetVariable("ComSpec", shell);
    temp = base + "temp dir";
    CreateDirectoryA(temp.c_str(), NULL);
    SetVariable("TMP", temp);
    char windows[MAX_PATH];
    std::string folder = FamilyIsNt() ? SystemFolder() : std::string(windows, GetWindowsDirectoryA(windows, sizeof windows));
    std::string exe = WriteUninstaller(App("app"), LaunchData(0, "", ""));
    RunResult run = RunUninstaller(exe, "/Q", {});
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = WaitForLine(record, "end|");
    ASSERT_FALSE(lines.empty());
    std::string batch = temp + "\\delme1.bat";
    EXPECT_EQ("start|\"" + shell + "\" /C \"\"" + batch + "\"\"|" + folder + "|0", lines[0]);
    EXPECT_TRUE(FileExists(exe));  // the stand-in ran nothing
    EXPECT_NE("", ReadWholeFile(batch));
}

// A bare interpreter name would be looked for in the uninstaller's own folder
// first, where anyone able to write there could have put a program of that name.
TEST_F(SelfRemoval, InterpretersPlantedBesideTheUninstallerDoNotRun) {
    std::string app = App("app");
    CopyRecorder(app + "cmd.exe");
    CopyRecorder(app + "command.com");
    // They do run when started.
    RunResult control = RunAndAnswer("\"" + app + "cmd.exe\" control", {}, 10000);
    ASSERT_TRUE(control.started);
    ASSERT_EQ(2u, Lines(record).size());
    DeleteFileA(record.c_str());

    SetVariable("ComSpec", "cmd.exe");
    std::string exe = WriteUninstaller(app, LaunchData(0, "", ""));
    RunResult run = RunUninstaller(exe, "/Q", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(WaitForFileGone(exe, 10000));
    EXPECT_TRUE(WaitForFileGone(temp + "\\delme1.bat", 10000));
    EXPECT_TRUE(Lines(record).empty());
}

}  // namespace
