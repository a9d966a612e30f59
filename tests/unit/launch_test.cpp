// The text logic of launching under Wine: composing and splitting the
// pre-removal command, refusing programs that are no full path, the document
// fallback, and the self-removal batch. Everything they touch is under
// C:\qvtest\launch.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "data/memory.h"
#include "launch/launch.h"

namespace {

const std::string RootFolder = "C:\\qvtest\\launch";
const std::string Root = RootFolder + "\\";
const std::string ProgramFolder = Root + "prog dir";
const std::string Recorder = ProgramFolder + "\\rec.exe";
const std::string RecordFile = Root + "record.txt";

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// --- Splitting and composing the pre-removal command -----------------------

TEST(SplitCommand, QuotedProgramIsFollowedByItsArgumentsAndAnUnquotedOneHasNone) {
    const char* const cases[][3] = {
        {"\"C:\\My App\\setup.exe\"   /a  \"b c\" ", "C:\\My App\\setup.exe", "/a  \"b c\" "},
        {"\"C:\\App\\setup.exe\"/x", "C:\\App\\setup.exe", "/x"},
        {"\"C:\\App\\setup.exe\"   ", "C:\\App\\setup.exe", ""},
        {"\"  C:\\App\\setup.exe  \" /r", "C:\\App\\setup.exe", "/r"},
        {"C:\\App\\setup.exe /remove", "C:\\App\\setup.exe /remove", ""},
        // No program can be started with its quote left inside its name.
        {"\"C:\\App\\setup.exe /remove  ", "C:\\App\\setup.exe /remove", ""},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(c[0], c[0] + strlen(c[0]) + 1);
        char *program = nullptr, *arguments = nullptr;
        SplitCommand(buffer.data(), &program, &arguments);
        ASSERT_TRUE(program && arguments) << c[0];
        EXPECT_EQ(c[1], std::string(program)) << c[0];
        EXPECT_EQ(c[2], std::string(arguments)) << c[0];
    }
}

// The pre-removal command as composed for an installation in installDir;
// "(overrun)" when anything was written past the 260-byte WorkPath.
std::string Compose(const char* installDir, const std::string& command) {
    char install[PathBufferSize];
    struct {
        char path[PathBufferSize];
        char guard[64];
    } work;
    memset(work.guard, 'g', sizeof work.guard);
    strcpy(install, installDir);
    char* saved[] = {InstallDir, WorkPath};
    InstallDir = install;
    WorkPath = work.path;
    char* expanded = nullptr;
    const char* composed = ComposePreRemovalCommand(command.c_str(), &expanded);
    std::string result = composed ? composed : "(none)";
    FreeAndClear(&expanded);
    InstallDir = saved[0];
    WorkPath = saved[1];
    return std::string(work.guard, sizeof work.guard) == std::string(64, 'g') ? result : "(overrun)";
}

// InstallDir (7) and a relative command together: 259 characters fit, 260
// do not.
TEST(PreRemovalCommand, IsRelativeToTheInstallationFolderUnlessATokenLeads) {
    char folder[MAX_PATH];
    std::string windows(folder, GetWindowsDirectoryA(folder, sizeof folder)), fits(252, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"\"setup.exe\" /remove", "\"C:\\App\\setup.exe\" /remove"},
        {"\"  setup.exe\"", "\"C:\\App\\setup.exe\""},
        {"   x.exe", "C:\\App\\x.exe"},
        {"C:\\Other\\x.exe", "C:\\App\\C:\\Other\\x.exe"},   // always relative
        {"\" #setup.exe\" /r", "\"C:\\App\\#setup.exe\" /r"},  // signs that are no token
        // Every token of the command is expanded, also in the arguments.
        {"\"  #InstallDir#\\bin\\x.exe\" #Windows#", "\"  C:\\App\\bin\\x.exe\" " + windows},
        {"#Unknown#\\x.exe", "\\x.exe"},
        {fits, "C:\\App\\" + fits},
        {fits + "a", "(none)"},
        {"\"" + fits, "(none)"},
        {std::string(5000, 'b'), "(none)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Compose("C:\\App\\", c.first)) << c.first;
    EXPECT_EQ("C:\\App\\x.exe", Compose("C:\\App", "x.exe"));
}

// --- Starting a program and the final document's fallback -------------------

// A fresh C:\qvtest\launch with the recorder in "prog dir", the current
// folder, where a search for a bare name would find it.
class Launch : public testing::Test {
protected:
    void SetUp() override {
        for (const std::string& folder : {std::string("C:\\qvtest"), Root, ProgramFolder, Root + "docs dir"})
            CreateDirectoryA(folder.c_str(), NULL);
        char self[MAX_PATH];
        std::string build(self, GetModuleFileNameA(NULL, self, sizeof self));
        if (build.compare(0, 5, "unix\\") == 0) build = "\\\\?\\" + build;
        build.resize(build.rfind('\\') + 1);
        ASSERT_TRUE(CopyFileA((build + "launch_recorder.exe").c_str(), Recorder.c_str(), FALSE));
        DeleteFileA(RecordFile.c_str());
        SetEnvironmentVariableA("QV_RECORD", RecordFile.c_str());
        char saved[MAX_PATH];
        savedFolder.assign(saved, GetCurrentDirectoryA(sizeof saved, saved));
        SetCurrentDirectoryA(ProgramFolder.c_str());
        // An extension nothing is registered for: the shell cannot open it.
        document = Root + "docs dir\\read me.qvtnone";
        WriteText(document, "document");
        SetClass(Extension, Class);
    }
    void TearDown() override {
        SetCurrentDirectoryA(savedFolder.c_str());
        SetEnvironmentVariableA("QV_RECORD", NULL);
        for (const char* key : {Extension, Class}) RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    }
    static void SetClass(const std::string& key, const std::string& value) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size())));
    }
    // The first line the started program recorded; started programs record
    // within a fraction of a second.
    std::string Opened(const std::string& openCommand, DWORD timeoutMs) {
        SetClass(std::string(Class) + "\\shell\\open\\command", openCommand);
        OpenDocument(document.c_str(), Extension);
        std::string text;
        for (DWORD start = GetTickCount(); (text = ReadText(RecordFile)).find("end|") == std::string::npos &&
                                           GetTickCount() - start < timeoutMs;)
            Sleep(25);
        DeleteFileA(RecordFile.c_str());
        return text.empty() ? "(nothing)" : text.substr(0, text.find("\r\n"));
    }
    static constexpr const char* Extension = ".qvtfallback";
    static constexpr const char* Class = "QvTest.LaunchFallback";
    std::string savedFolder, document;
};

// A bare or relative name would be searched for, the uninstaller's own folder
// first.
TEST_F(Launch, ProgramsAreStartedByTheirFullPathOnly) {
    for (const char* program : {"rec.exe", "\\qvtest\\launch\\prog dir\\rec.exe"})
        EXPECT_EQ(0, RunProgram(program, "", 1)) << program;
    EXPECT_EQ("", ReadText(RecordFile));
}

// The placeholder is cut, keeping the blank before it; without one the
// document follows a blank. The command runs in the uninstaller's current
// folder, never by a bare name, and not at all, rather than cut, when the
// command (at most 259 bytes), a blank and the document do not fit 519 bytes.
TEST_F(Launch, FallbackRunsTheClassCommandWithTheDocument) {
    const std::string program = "\"" + Recorder + "\"", folder = Root + "docs dir\\";
    const std::string name(519 - program.size() - 2 - folder.size() - 8, 'n');
    const std::string cases[][3] = {
        {program + " \"%1\" /more", document, program + "  "},
        {program + " /open %1 /more", document, program + " /open  "},
        {program + " /open", document, program + " /open "},
        {"rec.exe \"%1\"", document, ""},
        {"\"rec.exe\" \"%1\"", document, ""},
        // Too long for a file name: the shell fails on them, and the fallback runs.
        {program + " \"%1\"", folder + name + "x.qvtnone", ""},
        {program + " \"%1\"", folder + name + ".qvtnone", program + "  "},
    };
    for (const auto& c : cases) {
        document = c[1];
        EXPECT_EQ(c[2].empty() ? "(nothing)" : "start|" + c[2] + document + "|" + ProgramFolder + "|5",
                  Opened(c[0], c[2].empty() ? 1500 : 5000))
            << c[0];
    }
    OpenDocument(document.c_str(), ".qvtunregistered");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, Class);
    OpenDocument(document.c_str(), Extension);
    Sleep(500);
    EXPECT_EQ("", ReadText(RecordFile));
}

// Web addresses get no working folder: only local documents have a folder.
TEST(LaunchWebAddress, IsKnownByItsSchemeInAnyCase) {
    for (const char* address : {"http://x", "HtTpS://x\\y"}) EXPECT_TRUE(IsWebAddress(address)) << address;
    for (const char* other : {"http:/", "httpss://x", "ftp://x", " http://x"}) EXPECT_FALSE(IsWebAddress(other)) << other;
}

TEST(LaunchDefaultValue, ReadsWhatFitsAndRefusesTheRest) {
    const char key[] = "Software\\QvTest\\LaunchDefault";
    char buffer[400];
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    EXPECT_NE(0, ReadDefaultValue(HKEY_CURRENT_USER, key, buffer));
    for (size_t length : {259, 260}) {
        std::string value(length, 'v');
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, value.c_str(), DWORD(length)));
        memset(buffer, 'g', sizeof buffer);
        LONG result = ReadDefaultValue(HKEY_CURRENT_USER, key, buffer);
        EXPECT_EQ(length == 259 ? value : "(refused)",
                  result == 0 ? std::string(buffer, strnlen(buffer, sizeof buffer)) : "(refused)");
        for (size_t i = 260; i < sizeof buffer; i++) ASSERT_EQ('g', buffer[i]) << length << " at " << i;
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
}

// --- The self-removal batch -----------------------------------------------------

std::string Batch(const std::string& exe, const std::string& folder, const std::string& batch) {
    char text[1040];
    memset(text, 'g', sizeof text);
    uint32_t length = ComposeRemovalBatch(text, sizeof text, exe.c_str(), folder.c_str(), batch.c_str());
    return length ? std::string(text, length) + (text[length] ? "(unterminated)" : "") : "(none)";
}

std::string BatchText(const std::string& exe, const std::string& folder, const std::string& batch) {
    return "@echo off\r\n:Repeat\r\ndel " + exe + "\r\nif exist " + exe + " goto Repeat\r\nrmdir " + folder +
           "\r\ndel " + batch + "\r\n";
}

// Plain paths byte for byte; a path the interpreter would split or act on is
// quoted, and a lone % (which would start a variable) doubled.
TEST(RemovalBatch, PathsAreQuotedOnlyWhereTheInterpreterWouldSplitThem) {
    EXPECT_EQ(BatchText("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"),
              Batch("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"));
    for (const char* special : {" ", "&", "(", ")", "^", ",", ";", "="}) {
        std::string folder = std::string("C:\\A") + special + "B";
        EXPECT_EQ(BatchText("\"" + folder + "\\U.EXE\"", "\"" + folder + "\"", "\"" + folder + "\\delme1.bat\""),
                  Batch(folder + "\\U.EXE", folder, folder + "\\delme1.bat"))
            << special;
    }
    EXPECT_EQ(BatchText("C:\\100%%\\U.EXE", "C:\\100%%", "\"C:\\a b%%c%%\\delme1.bat\""),
              Batch("C:\\100%\\U.EXE", "C:\\100%", "C:\\a b%c%\\delme1.bat"));
}

TEST(RemovalBatch, TextThatDoesNotFitIsNotComposed) {
    std::string exe = "C:\\" + std::string(250, 'e');
    std::string text = Batch(exe, "C:\\F", "C:\\T\\delme1.bat");
    ASSERT_NE("(none)", text);
    for (uint32_t size : {uint32_t(text.size()), uint32_t(text.size() + 1)}) {
        std::vector<char> buffer(size + 16, 'g');
        uint32_t length = ComposeRemovalBatch(buffer.data(), size, exe.c_str(), "C:\\F", "C:\\T\\delme1.bat");
        EXPECT_EQ(size > text.size() ? text.size() : 0u, length) << size;
        for (size_t i = size; i < buffer.size(); i++) ASSERT_EQ('g', buffer[i]) << size;
    }
    // Four long paths full of percent signs need far more than 1040 bytes.
    std::string percent = "C:\\" + std::string(250, '%');
    EXPECT_EQ("(none)", Batch(percent, percent, percent));
}

// A readable file of that name belongs to someone else; one that can be
// neither read nor created is skipped too.
TEST(BatchFile, TakesTheFirstFreeNumberAndLeavesOthersFilesAlone) {
    const std::string temp = Root + "batch temp";
    auto clear = [&] {
        RemoveDirectoryA((temp + "\\delme2.bat").c_str());
        for (const char* name : {"\\delme1.bat", "\\delme3.bat", "\\delme4.bat"}) DeleteFileA((temp + name).c_str());
    };
    for (const std::string& folder : {std::string("C:\\qvtest"), Root, temp}) CreateDirectoryA(folder.c_str(), NULL);
    clear();
    char saved[MAX_PATH], path[PathBufferSize];
    std::string savedTmp(saved, GetEnvironmentVariableA("TMP", saved, sizeof saved));
    SetEnvironmentVariableA("TMP", temp.c_str());
    WriteText(temp + "\\delme1.bat", "someone else's");
    CreateDirectoryA((temp + "\\delme2.bat").c_str(), NULL);
    HANDLE held = CreateFileA((temp + "\\delme3.bat").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    HANDLE file = CreateBatchFile(path);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(temp + "\\delme4.bat", std::string(path));
    CloseHandle(file);
    CloseHandle(held);
    EXPECT_EQ("someone else's", ReadText(temp + "\\delme1.bat"));
    // The folder and its backslash fit 259 bytes; with "delme1.bat" they do not.
    SetEnvironmentVariableA("TMP", (Root + std::string(252 - Root.size(), 'd')).c_str());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateBatchFile(path));
    SetEnvironmentVariableA("TMP", savedTmp.empty() ? NULL : savedTmp.c_str());
    clear();
}

// command.com where the folder holds it (Wine has none, so only here), else
// what ComSpec names when it exists, else cmd.exe in the System folder.
TEST(BatchInterpreter, IsCommandComElseAnExistingComSpecElseSystemCmd) {
    const std::string withCommandCom = Root + "with command", shell = Root + "my shell.exe";
    for (const std::string& folder : {std::string("C:\\qvtest"), Root, withCommandCom}) CreateDirectoryA(folder.c_str(), NULL);
    WriteText(withCommandCom + "\\command.com", "");
    WriteText(shell, "");
    char saved[MAX_PATH], folder[MAX_PATH];
    std::string savedComSpec(saved, GetEnvironmentVariableA("ComSpec", saved, sizeof saved));
    std::string systemCmd = std::string(folder, GetSystemDirectoryA(folder, sizeof folder)) + "\\cmd.exe";
    auto find = [](const std::string& in, const char* comSpec) {
        SetEnvironmentVariableA("ComSpec", comSpec);
        char path[PathBufferSize];
        int kind = FindCommandInterpreter(path, in.c_str());
        return std::string(kind == InterpreterCommandCom ? "command.com " : kind == InterpreterOther ? "other " : "none ") + path;
    };
    EXPECT_EQ("command.com " + withCommandCom + "\\command.com", find(withCommandCom, shell.c_str()));
    EXPECT_EQ("other " + systemCmd, find(RootFolder, "C:\\qvtest\\launch\\missing.exe"));
    EXPECT_EQ("other " + systemCmd, find(RootFolder, nullptr));
    SetEnvironmentVariableA("ComSpec", savedComSpec.empty() ? NULL : savedComSpec.c_str());
}

}  // namespace
