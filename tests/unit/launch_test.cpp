// The launch pieces under Wine: composing and splitting the pre-removal
// command, starting a program, the document fallback, and the batch that
// removes the uninstaller. Everything they touch is under C:\qvtest\launch.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
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
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text(GetFileSize(file, NULL), '\0');
    DWORD read = 0;
    if (!text.empty()) ReadFile(file, &text[0], DWORD(text.size()), &read, NULL);
    CloseHandle(file);
    text.resize(read);
    return text;
}

void WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, NULL);
    CloseHandle(file);
}

std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    std::string text = ReadText(RecordFile);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The recorder's lines once it has ended, or what there is after timeoutMs.
std::vector<std::string> WaitForRecord(DWORD timeoutMs = 10000) {
    for (DWORD start = GetTickCount();; Sleep(25)) {
        std::vector<std::string> lines = RecordLines();
        if ((!lines.empty() && lines.back().compare(0, 4, "end|") == 0) || GetTickCount() - start > timeoutMs)
            return lines;
    }
}

std::string CurrentFolder() {
    char folder[MAX_PATH];
    return std::string(folder, GetCurrentDirectoryA(sizeof folder, folder));
}

std::string BuildFolder() {
    char self[MAX_PATH];
    std::string path(self, GetModuleFileNameA(NULL, self, sizeof self));
    if (path.compare(0, 5, "unix\\") == 0) path = "\\\\?\\" + path;
    return path.substr(0, path.rfind('\\') + 1);
}

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
}

// --- Splitting and composing the pre-removal command -----------------------

TEST(SplitCommand, QuotedProgramIsFollowedByItsArgumentsAndAnUnquotedOneHasNone) {
    const char* const cases[][3] = {
        {"\"C:\\App\\setup.exe\" /remove", "C:\\App\\setup.exe", "/remove"},
        {"\"C:\\My App\\setup.exe\"   /a  \"b c\" ", "C:\\My App\\setup.exe", "/a  \"b c\" "},
        {"\"C:\\App\\setup.exe\"/x", "C:\\App\\setup.exe", "/x"},
        {"\"C:\\App\\setup.exe\"   ", "C:\\App\\setup.exe", ""},
        // Blanks inside the quotes are trimmed.
        {"\"  C:\\App\\setup.exe  \" /r", "C:\\App\\setup.exe", "/r"},
        {"\"   \" x", "", "x"},
        {"C:\\App\\setup.exe /remove", "C:\\App\\setup.exe /remove", ""},
        {"C:\\App\\a\"b\" c", "C:\\App\\a\"b\" c", ""},
        // No program can be started with its quotes left inside its name.
        {"\"C:\\App\\setup.exe\"", "C:\\App\\setup.exe", ""},
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

class PreRemovalCommand : public testing::Test {
protected:
    void SetUp() override {
        savedInstallDir = InstallDir;
        savedWorkPath = WorkPath;
        InstallDir = installDir;
        WorkPath = workPath;
        strcpy(installDir, "C:\\App\\");
        memset(workPath, 'w', sizeof workPath);
        memset(guard, 'g', sizeof guard);
    }
    void TearDown() override {
        InstallDir = savedInstallDir;
        WorkPath = savedWorkPath;
        for (char c : guard) ASSERT_EQ('g', c);  // nothing written past WorkPath
        FreeAndClear(&expanded);
    }
    std::string Compose(const std::string& command) {
        FreeAndClear(&expanded);
        const char* composed = ComposePreRemovalCommand(command.c_str(), &expanded);
        return composed ? composed : "(none)";
    }
    char installDir[PathBufferSize];
    char workPath[PathBufferSize];
    char guard[64];
    char* expanded = nullptr;
    char* savedInstallDir;
    char* savedWorkPath;
};

TEST_F(PreRemovalCommand, IsRelativeToTheInstallationFolderUnlessATokenLeads) {
    char folder[MAX_PATH];
    std::string windows(folder, GetWindowsDirectoryA(folder, sizeof folder));
    const std::pair<std::string, std::string> cases[] = {
        {"\"setup.exe\" /remove", "\"C:\\App\\setup.exe\" /remove"},
        {"setup.exe /remove", "C:\\App\\setup.exe /remove"},
        {"\"  setup.exe\"", "\"C:\\App\\setup.exe\""},
        {"   x.exe", "C:\\App\\x.exe"},
        {"C:\\Other\\x.exe", "C:\\App\\C:\\Other\\x.exe"},  // always relative
        {"#setup.exe", "C:\\App\\#setup.exe"},              // signs that are no token
        {"\" #setup.exe\" /r", "\"C:\\App\\#setup.exe\" /r"},
        // Every token of the command is expanded, also in the arguments.
        {"\"#Windows#\\notepad.exe\" readme.txt", "\"" + windows + "\\notepad.exe\" readme.txt"},
        {"\"  #InstallDir#\\bin\\x.exe\" #Windows#", "\"  C:\\App\\bin\\x.exe\" " + windows},
        {"#Unknown#\\x.exe", "\\x.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Compose(c.first)) << c.first;
        EXPECT_EQ(c.first.find("#") != std::string::npos && c.second.find('#') == std::string::npos,
                  expanded != nullptr)
            << c.first;
    }
    strcpy(installDir, "C:\\App");
    EXPECT_EQ("C:\\App\\x.exe", Compose("x.exe"));
}

TEST_F(PreRemovalCommand, ACommandThatDoesNotFitIsNotComposed) {
    // InstallDir (7) and the command together: 259 characters fit, 260 do not.
    std::string fits(252, 'a');
    EXPECT_EQ("C:\\App\\" + fits, Compose(fits));
    for (const std::string& command : {fits + "a", "\"" + fits, std::string(5000, 'b')})
        EXPECT_EQ("(none)", Compose(command)) << command.size();
}

// --- Starting a program and opening the final document -------------------------

// A fresh C:\qvtest\launch with the recorder in "prog dir"; the record file
// and the recorder's options cleared.
class LaunchProgram : public testing::Test {
protected:
    void SetUp() override {
        for (const std::string& folder : {std::string("C:\\qvtest"), Root, ProgramFolder})
            CreateDirectoryA(folder.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((BuildFolder() + "launch_recorder.exe").c_str(), Recorder.c_str(), FALSE));
        DeleteFileA(RecordFile.c_str());
        SetVariable("QV_RECORD", RecordFile);
        for (const char* name : {"QV_SLEEP", "QV_WATCH", "QV_EXIT"}) SetEnvironmentVariableA(name, NULL);
        savedFolder = CurrentFolder();
    }
    void TearDown() override {
        SetCurrentDirectoryA(savedFolder.c_str());
        for (const char* name : {"QV_RECORD", "QV_SLEEP", "QV_EXIT"}) SetEnvironmentVariableA(name, NULL);
    }
    std::string savedFolder;
};

TEST_F(LaunchProgram, StartsTheQuotedProgramInItsFolder) {
    SetCurrentDirectoryA(Root.c_str());
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "/a \"b c\"", 1));
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "", 1));  // no blank without arguments
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), nullptr, 1));
    EXPECT_EQ(RootFolder, CurrentFolder());  // ours is unchanged
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ("start|\"" + Recorder + "\" /a \"b c\"|" + ProgramFolder + "|-", lines[0]);
    EXPECT_EQ("start|\"" + Recorder + "\"|" + ProgramFolder + "|-", lines[2]);
    EXPECT_EQ(lines[2], lines[4]);
}

TEST_F(LaunchProgram, WaitsOnlyWhenAskedAndUntilTheProcessEnds) {
    SetVariable("QV_SLEEP", "800");
    DWORD start = GetTickCount();
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "", 1));
    EXPECT_GE(GetTickCount() - start, 800u);
    EXPECT_EQ(2u, RecordLines().size());

    DeleteFileA(RecordFile.c_str());
    start = GetTickCount();
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "", 0));
    EXPECT_LT(GetTickCount() - start, 700u);
    Sleep(300);
    EXPECT_EQ(1u, RecordLines().size());  // started, not ended
    EXPECT_EQ(2u, WaitForRecord().size());

    // A program may end with the code that reads as "still running".
    SetEnvironmentVariableA("QV_SLEEP", NULL);
    SetVariable("QV_EXIT", "259");
    std::packaged_task<int()> task([] { return RunProgram(Recorder.c_str(), "", 1); });
    std::future<int> result = task.get_future();
    std::thread(std::move(task)).detach();
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(1, result.get());
}

// A bare or relative name would be searched for, the uninstaller's own
// folder first; a command line of more than 527 bytes would be cut.
TEST_F(LaunchProgram, StartsNothingMissingRelativeOrTooLong) {
    SetCurrentDirectoryA(ProgramFolder.c_str());
    for (const std::string& program : {ProgramFolder + "\\missing.exe", Root + "no folder\\rec.exe",
                                       std::string("rec.exe"), std::string("prog dir\\rec.exe"),
                                       std::string("\\qvtest\\launch\\prog dir\\rec.exe")})
        EXPECT_EQ(0, RunProgram(program.c_str(), "", 1)) << program;
    EXPECT_EQ(ProgramFolder, CurrentFolder());
    // Quotes, program, blank and arguments fill 527 bytes and the terminator.
    std::string fits(527 - 3 - Recorder.size(), 'x');
    EXPECT_EQ(0, RunProgram(Recorder.c_str(), (fits + "y").c_str(), 1));
    EXPECT_TRUE(RecordLines().empty());
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), fits.c_str(), 1));
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("start|\"" + Recorder + "\" " + fits + "|" + ProgramFolder + "|-", lines[0]);
}

const char FallbackExtension[] = ".qvtfallback";
const char FallbackClass[] = "QvTest.LaunchFallback";

class LaunchDocumentFallback : public LaunchProgram {
protected:
    void SetUp() override {
        LaunchProgram::SetUp();
        CreateDirectoryA((Root + "docs dir").c_str(), NULL);
        // An extension nothing is registered for: the shell cannot open it.
        document = Root + "docs dir\\read me.qvtnone";
        WriteText(document, "document");
        SetClass(FallbackExtension, FallbackClass);
        SetCurrentDirectoryA(RootFolder.c_str());
    }
    void TearDown() override {
        for (const char* key : {FallbackExtension, FallbackClass, ".qvtlaunchdoc", "QvTest.LaunchDocument"})
            RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
        LaunchProgram::TearDown();
    }
    static void SetClass(const std::string& key, const std::string& value) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size())));
    }
    void SetOpenCommand(const std::string& command) {
        SetClass(std::string(FallbackClass) + "\\shell\\open\\command", command);
    }
    // Started programs record within a fraction of a second.
    std::string Opened(DWORD timeoutMs = 5000) {
        OpenDocument(document.c_str(), FallbackExtension);
        std::vector<std::string> lines = WaitForRecord(timeoutMs);
        DeleteFileA(RecordFile.c_str());
        return lines.empty() ? "(nothing)" : lines[0];
    }
    std::string document;
};

// The placeholder is cut, keeping the blank before it; without one the
// document follows a blank.
TEST_F(LaunchDocumentFallback, RunsTheClassCommandWithTheDocument) {
    const std::string program = "start|\"" + Recorder + "\"";
    const std::pair<std::string, std::string> cases[] = {
        {" \"%1\" /more", "  "},
        {" /open %1 /more", " /open  "},
        {" /open", " /open "},
    };
    for (const auto& c : cases) {
        SetOpenCommand("\"" + Recorder + "\"" + c.first);
        EXPECT_EQ(program + c.second + document + "|" + RootFolder + "|5", Opened()) << c.first;
    }
}

// The command (at most 259 bytes), a blank and the document fill 519 bytes.
TEST_F(LaunchDocumentFallback, RunsNothingByABareNameTooLongOrWithoutACommand) {
    SetCurrentDirectoryA(ProgramFolder.c_str());
    for (const char* command : {"rec.exe \"%1\"", "\"rec.exe\" \"%1\""}) {
        SetOpenCommand(command);
        EXPECT_EQ("(nothing)", Opened(1500)) << command;
    }
    SetCurrentDirectoryA(RootFolder.c_str());
    std::string command = "\"" + Recorder + "\" ";
    SetOpenCommand(command + "\"%1\"");
    std::string folder = Root + "docs dir\\";
    std::string name(519 - command.size() - 1 - folder.size() - 8, 'n');
    // Too long for a file name: the shell fails on it, and the fallback runs.
    document = folder + name + "x.qvtnone";
    EXPECT_EQ("(nothing)", Opened(1500));
    document = folder + name + ".qvtnone";
    EXPECT_EQ("start|" + command + " " + document + "|" + RootFolder + "|5", Opened());

    OpenDocument(document.c_str(), ".qvtunregistered");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, FallbackClass);
    OpenDocument(document.c_str(), FallbackExtension);
    Sleep(500);
    EXPECT_TRUE(RecordLines().empty());
}

TEST_F(LaunchDocumentFallback, DocumentTheShellKnowsOpensInItsFolder) {
    SetClass(".qvtlaunchdoc", "QvTest.LaunchDocument");
    SetClass("QvTest.LaunchDocument\\shell\\open\\command", "\"" + Recorder + "\" \"%1\"");
    document = Root + "docs dir\\read me.qvtlaunchdoc";
    WriteText(document, "document");
    SetOpenCommand("\"" + Recorder + "\" fallback");  // would record something else
    EXPECT_EQ("start|\"" + Recorder + "\" \"" + document + "\"|" + Root + "docs dir|5", Opened());
}

// Web addresses get no working folder: only local documents have a folder.
TEST(LaunchWebAddress, IsKnownByItsSchemeInAnyCase) {
    for (const char* address : {"http://x", "https://x", "HTTP://X", "HtTpS://x\\y", "http://"})
        EXPECT_TRUE(IsWebAddress(address)) << address;
    for (const char* other : {"", "http", "http:/", "https:/x", "httpss://x", "httpx://x", "ftp://x", "http:\\\\x",
                              " http://x", "c:\\docs\\http://x"})
        EXPECT_FALSE(IsWebAddress(other)) << other;
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
        if (length == 259) EXPECT_EQ(value, std::string(result == 0 ? buffer : "(refused)"));
        else EXPECT_NE(0, result);
        for (size_t i = 260; i < sizeof buffer; i++) ASSERT_EQ('g', buffer[i]) << length << " at " << i;
    }
    // Stored without a terminator, 260 bytes fill the buffer: no text in it ends.
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened));
    RegSetValueExA(opened, NULL, 0, REG_SZ, (const BYTE*)std::string(260, 'v').data(), 260);
    RegCloseKey(opened);
    memset(buffer, 'g', sizeof buffer);
    if (ReadDefaultValue(HKEY_CURRENT_USER, key, buffer) == 0) EXPECT_EQ(259u, strnlen(buffer, 260));
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
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel C:\\PROGRA~1\\APP\\UNINST.EXE\r\n"
              "if exist C:\\PROGRA~1\\APP\\UNINST.EXE goto Repeat\r\nrmdir C:\\PROGRA~1\\APP\r\n"
              "del C:\\Temp\\delme1.bat\r\n",
              Batch("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"));
    for (const char* special : {" ", "&", "(", ")", "^", ",", ";", "="}) {
        std::string folder = std::string("C:\\A") + special + "B";
        EXPECT_EQ(BatchText("\"" + folder + "\\U.EXE\"", "\"" + folder + "\"", "C:\\T\\delme1.bat"),
                  Batch(folder + "\\U.EXE", folder, "C:\\T\\delme1.bat"))
            << special;
    }
    EXPECT_EQ(BatchText("C:\\A\\U.EXE", "C:\\A", "\"C:\\Users\\Jane Doe\\Temp\\delme2.bat\""),
              Batch("C:\\A\\U.EXE", "C:\\A", "C:\\Users\\Jane Doe\\Temp\\delme2.bat"));
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

class BatchFile : public testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\qvtest", NULL);
        CreateDirectoryA(Root.c_str(), NULL);
        RemoveFolder();
        ASSERT_TRUE(CreateDirectoryA(temp.c_str(), NULL));
        char saved[MAX_PATH];
        savedTmp = std::string(saved, GetEnvironmentVariableA("TMP", saved, sizeof saved));
        SetVariable("TMP", temp);
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", savedTmp.empty() ? NULL : savedTmp.c_str());
        RemoveFolder();
    }
    void RemoveFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "\\*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
            std::string path = temp + "\\" + found.cFileName;
            if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
        }
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        RemoveDirectoryA(temp.c_str());
    }
    std::string Create() {
        char path[PathBufferSize] = {};
        HANDLE file = CreateBatchFile(path);
        if (file == INVALID_HANDLE_VALUE) return "(none)";
        CloseHandle(file);
        return path;
    }
    std::string temp = Root + "batch temp";
    std::string savedTmp;
};

// A readable file of that name belongs to someone else; one that can be
// neither read nor created is skipped too.
TEST_F(BatchFile, TakesTheFirstFreeNumberAndLeavesOthersFilesAlone) {
    WriteText(temp + "\\delme1.bat", "someone else's");
    CreateDirectoryA((temp + "\\delme2.bat").c_str(), NULL);
    HANDLE held = CreateFileA((temp + "\\delme3.bat").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(temp + "\\delme4.bat", Create());
    EXPECT_EQ(temp + "\\delme5.bat", Create());
    CloseHandle(held);
    EXPECT_EQ("someone else's", ReadText(temp + "\\delme1.bat"));
}

TEST_F(BatchFile, GivesUpAfterNumber998OrWithoutRoomForTheName) {
    for (int number = 1; number <= 997; number++) WriteText(temp + "\\delme" + std::to_string(number) + ".bat", "");
    EXPECT_EQ(temp + "\\delme998.bat", Create());
    EXPECT_EQ("(none)", Create());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((temp + "\\delme999.bat").c_str()));
    // The folder and its backslash fit 259 bytes; with "delme1.bat" they do not.
    SetVariable("TMP", Root + std::string(252 - Root.size(), 'd'));
    EXPECT_EQ("(none)", Create());
}

// command.com where the folder holds it, else what ComSpec names by a full
// path, else cmd.exe in the System folder: never by a search.
TEST(BatchInterpreter, IsTakenByItsFullPath) {
    const std::string withCommandCom = Root + "with command", without = Root + "without", shell = Root + "my shell.exe";
    for (const std::string& folder : {std::string("C:\\qvtest"), Root, withCommandCom, without})
        CreateDirectoryA(folder.c_str(), NULL);
    WriteText(withCommandCom + "\\command.com", "");
    WriteText(shell, "");
    char saved[MAX_PATH], folder[MAX_PATH];
    std::string savedComSpec(saved, GetEnvironmentVariableA("ComSpec", saved, sizeof saved));
    std::string systemCmd = std::string(folder, GetSystemDirectoryA(folder, sizeof folder)) + "\\cmd.exe";
    const char* const noComSpec = nullptr;
    const struct {
        std::string folder;
        const char* comSpec;
        int kind;
        std::string expected;
    } cases[] = {
        {withCommandCom, shell.c_str(), InterpreterCommandCom, withCommandCom + "\\command.com"},
        {withCommandCom + "\\", shell.c_str(), InterpreterCommandCom, withCommandCom + "\\command.com"},
        {without, shell.c_str(), InterpreterOther, shell},
        {without, "cmd.exe", InterpreterOther, systemCmd},
        {without, "my shell.exe", InterpreterOther, systemCmd},
        {without, "qvtest\\launch\\my shell.exe", InterpreterOther, systemCmd},
        {without, "C:\\qvtest\\launch\\missing.exe", InterpreterOther, systemCmd},
        {without, "", InterpreterOther, systemCmd},
        {without, noComSpec, InterpreterOther, systemCmd},
    };
    for (const auto& c : cases) {
        SetEnvironmentVariableA("ComSpec", c.comSpec);
        char path[PathBufferSize];
        EXPECT_EQ(c.kind, FindCommandInterpreter(path, c.folder.c_str())) << c.folder << " " << (c.comSpec ? c.comSpec : "-");
        EXPECT_EQ(c.expected, std::string(path)) << c.folder << " " << (c.comSpec ? c.comSpec : "-");
    }
    SetEnvironmentVariableA("ComSpec", savedComSpec.empty() ? NULL : savedComSpec.c_str());
}

}  // namespace
