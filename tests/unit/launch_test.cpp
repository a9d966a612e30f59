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

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> lines = RecordLines();
        if ((!lines.empty() && lines.back().compare(0, 4, "end|") == 0) || GetTickCount() - start > timeoutMs)
            return lines;
        Sleep(25);
    }
}

std::string CurrentFolder() {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return std::string(folder, length);
}

std::string BuildFolder() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    std::string path(self, length);
    if (path.compare(0, 5, "unix\\") == 0) path = "\\\\?\\" + path;
    return path.substr(0, path.rfind('\\') + 1);
}

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
}

// A fresh C:\qvtest\launch with the recorder in "prog dir"; the record file
// and the recorder's options cleared.
class LaunchProgram : public testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\qvtest", NULL);
        CreateDirectoryA(Root.c_str(), NULL);
        CreateDirectoryA(ProgramFolder.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((BuildFolder() + "launch_recorder.exe").c_str(), Recorder.c_str(), FALSE));
        DeleteFileA(RecordFile.c_str());
        SetVariable("QV_RECORD", RecordFile);
        SetEnvironmentVariableA("QV_SLEEP", NULL);
        SetEnvironmentVariableA("QV_WATCH", NULL);
        SetEnvironmentVariableA("QV_EXIT", NULL);
        savedFolder = CurrentFolder();
    }
    void TearDown() override {
        SetCurrentDirectoryA(savedFolder.c_str());
        SetEnvironmentVariableA("QV_RECORD", NULL);
        SetEnvironmentVariableA("QV_SLEEP", NULL);
    }
    std::string savedFolder;
};

// --- Splitting and composing the pre-removal command -----------------------

struct Split {
    std::string program, arguments;
    bool operator==(const Split& other) const { return program == other.program && arguments == other.arguments; }
};

std::ostream& operator<<(std::ostream& out, const Split& split) {
    return out << "[" << split.program << "] [" << split.arguments << "]";
}

Split SplitText(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    char *program = nullptr, *arguments = nullptr;
    SplitCommand(buffer.data(), &program, &arguments);
    EXPECT_TRUE(program && arguments);
    if (!program || !arguments) return {};
    return {program, arguments};
}

TEST(SplitCommand, QuotedProgramIsFollowedByItsArguments) {
    EXPECT_EQ((Split{"C:\\App\\setup.exe", "/remove"}), SplitText("\"C:\\App\\setup.exe\" /remove"));
    EXPECT_EQ((Split{"C:\\My App\\setup.exe", "/a  \"b c\" "}), SplitText("\"C:\\My App\\setup.exe\"   /a  \"b c\" "));
    EXPECT_EQ((Split{"C:\\App\\setup.exe", "/x"}), SplitText("\"C:\\App\\setup.exe\"/x"));
    EXPECT_EQ((Split{"C:\\App\\setup.exe", ""}), SplitText("\"C:\\App\\setup.exe\"   "));
}

TEST(SplitCommand, BlanksInsideTheQuotesAreTrimmed) {
    EXPECT_EQ((Split{"C:\\App\\setup.exe", "/r"}), SplitText("\"  C:\\App\\setup.exe  \" /r"));
    EXPECT_EQ((Split{"", "x"}), SplitText("\"   \" x"));
}

TEST(SplitCommand, AnUnquotedCommandIsOneNameWithoutArguments) {
    EXPECT_EQ((Split{"C:\\App\\setup.exe /remove", ""}), SplitText("C:\\App\\setup.exe /remove"));
    EXPECT_EQ((Split{"C:\\My App\\tool.exe", ""}), SplitText("C:\\My App\\tool.exe"));
    EXPECT_EQ((Split{"C:\\App\\a\"b\" c", ""}), SplitText("C:\\App\\a\"b\" c"));
}

// Neither form can be started with its quotes left inside the program name.
TEST(SplitCommand, QuotedProgramAloneAndUnclosedQuoteLoseTheirQuotes) {
    EXPECT_EQ((Split{"C:\\App\\setup.exe", ""}), SplitText("\"C:\\App\\setup.exe\""));
    EXPECT_EQ((Split{"C:\\App\\setup.exe /remove", ""}), SplitText("\"C:\\App\\setup.exe /remove  "));
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
        for (char c : guard) ASSERT_EQ('g', c);
    }
    // Null when nothing is to be run.
    const char* Compose(const std::string& command) {
        FreeAndClear(&expanded);
        return ComposePreRemovalCommand(command.c_str(), &expanded);
    }
    ~PreRemovalCommand() override { FreeAndClear(&expanded); }
    char installDir[PathBufferSize];
    char workPath[PathBufferSize];
    char guard[64];
    char* expanded = nullptr;
    char* savedInstallDir;
    char* savedWorkPath;
};

std::string Text(const char* text) {
    return text ? text : "(none)";
}

std::string WindowsFolder() {
    char folder[MAX_PATH];
    return std::string(folder, GetWindowsDirectoryA(folder, sizeof folder));
}

TEST_F(PreRemovalCommand, CommandsWithoutTokenAreTakenRelativeToTheInstallationFolder) {
    EXPECT_EQ("\"C:\\App\\setup.exe\" /remove", Text(Compose("\"setup.exe\" /remove")));
    EXPECT_EQ("C:\\App\\tools\\clean.exe", Text(Compose("tools\\clean.exe")));
    EXPECT_EQ("C:\\App\\setup.exe /remove", Text(Compose("setup.exe /remove")));
    EXPECT_EQ("\"C:\\App\\setup.exe\"", Text(Compose("\"  setup.exe\"")));
    EXPECT_EQ("C:\\App\\x.exe", Text(Compose("   x.exe")));
    // Also an absolute path: the command is always relative.
    EXPECT_EQ("C:\\App\\C:\\Other\\x.exe", Text(Compose("C:\\Other\\x.exe")));
    EXPECT_EQ(nullptr, expanded);
}

TEST_F(PreRemovalCommand, InstallationFolderWithoutBackslashGetsOne) {
    strcpy(installDir, "C:\\App");
    EXPECT_EQ("C:\\App\\x.exe", Text(Compose("x.exe")));
}

TEST_F(PreRemovalCommand, ALeadingTokenIsExpanded) {
    EXPECT_EQ("\"" + WindowsFolder() + "\\notepad.exe\" readme.txt", Text(Compose("\"#Windows#\\notepad.exe\" readme.txt")));
    EXPECT_NE(nullptr, expanded);
    // Every token of the command is expanded, also in the arguments.
    EXPECT_EQ("\"  C:\\App\\bin\\x.exe\" " + WindowsFolder(), Text(Compose("\"  #InstallDir#\\bin\\x.exe\" #Windows#")));
    // An unknown token becomes empty text: the result is no full path.
    EXPECT_EQ("\\x.exe", Text(Compose("#Unknown#\\x.exe")));
}

TEST_F(PreRemovalCommand, ACommandWhoseSignsAreNoTokenIsRelative) {
    EXPECT_EQ("C:\\App\\#setup.exe", Text(Compose("#setup.exe")));
    EXPECT_EQ("\"C:\\App\\#setup.exe\" /r", Text(Compose("\" #setup.exe\" /r")));
    EXPECT_EQ(nullptr, expanded);
}

TEST_F(PreRemovalCommand, ACommandThatDoesNotFitIsNotComposed) {
    // InstallDir (7) and the command together: 259 characters fit, 260 do not.
    std::string fits(252, 'a');
    EXPECT_EQ("C:\\App\\" + fits, Text(Compose(fits)));
    EXPECT_EQ(nullptr, Compose(fits + "a"));
    EXPECT_EQ(nullptr, Compose("\"" + fits));
    EXPECT_EQ(nullptr, Compose(std::string(5000, 'b')));
}

// --- Starting a program ------------------------------------------------------

TEST_F(LaunchProgram, StartsTheQuotedProgramInItsFolder) {
    SetCurrentDirectoryA(Root.c_str());
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "/a \"b c\"", 1));
    EXPECT_EQ(CurrentFolder(), Root.substr(0, Root.size() - 1));  // ours is unchanged
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("start|\"" + Recorder + "\" /a \"b c\"|" + ProgramFolder + "|-", lines[0]);
}

TEST_F(LaunchProgram, WithoutArgumentsAddsNoBlank) {
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), "", 1));
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), nullptr, 1));
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("start|\"" + Recorder + "\"|" + ProgramFolder + "|-", lines[0]);
    EXPECT_EQ(lines[0], lines[2]);
}

TEST_F(LaunchProgram, WaitsOnlyWhenAsked) {
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
}

// A program may end with the code that reads as "still running".
TEST_F(LaunchProgram, WaitEndsWithTheProcessWhateverItsExitCode) {
    SetVariable("QV_EXIT", "259");
    std::packaged_task<int()> task([] { return RunProgram(Recorder.c_str(), "", 1); });
    std::future<int> result = task.get_future();
    std::thread(std::move(task)).detach();
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(1, result.get());
    SetEnvironmentVariableA("QV_EXIT", NULL);
}

TEST_F(LaunchProgram, ReportsAProgramThatCannotStart) {
    SetCurrentDirectoryA(Root.c_str());
    EXPECT_EQ(0, RunProgram((ProgramFolder + "\\missing.exe").c_str(), "", 1));
    EXPECT_EQ(0, RunProgram((Root + "no folder\\rec.exe").c_str(), "", 0));
    EXPECT_EQ(CurrentFolder(), Root.substr(0, Root.size() - 1));
}

// A bare name would be searched for, the uninstaller's own folder first.
TEST_F(LaunchProgram, StartsNothingByABareName) {
    SetCurrentDirectoryA(ProgramFolder.c_str());
    EXPECT_EQ(0, RunProgram("rec.exe", "", 1));
    EXPECT_EQ(0, RunProgram("prog dir\\rec.exe", "", 1));
    EXPECT_EQ(0, RunProgram("\\qvtest\\launch\\prog dir\\rec.exe", "", 1));
    EXPECT_TRUE(RecordLines().empty());
}

// Quotes, program, blank and arguments fill 527 bytes and the terminator.
TEST_F(LaunchProgram, StartsNothingThatDoesNotFitItsCommandLine) {
    std::string fits(527 - 3 - Recorder.size(), 'x');
    EXPECT_EQ(0, RunProgram(Recorder.c_str(), (fits + "y").c_str(), 1));
    EXPECT_TRUE(RecordLines().empty());
    ASSERT_EQ(1, RunProgram(Recorder.c_str(), fits.c_str(), 1));
    std::vector<std::string> lines = WaitForRecord();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("start|\"" + Recorder + "\" " + fits + "|" + ProgramFolder + "|-", lines[0]);
}

// --- The final document's association fallback --------------------------------

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
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FallbackExtension);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FallbackClass);
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
        return lines.empty() ? "(nothing)" : lines[0];
    }
    std::string document;
};

TEST_F(LaunchDocumentFallback, QuotedPlaceholderIsCutKeepingTheBlankBeforeIt) {
    SetOpenCommand("\"" + Recorder + "\" \"%1\" /more");
    EXPECT_EQ("start|\"" + Recorder + "\"  " + document + "|" + RootFolder + "|5", Opened());
}

TEST_F(LaunchDocumentFallback, BarePlaceholderIsCut) {
    SetOpenCommand("\"" + Recorder + "\" /open %1 /more");
    EXPECT_EQ("start|\"" + Recorder + "\" /open  " + document + "|" + RootFolder + "|5", Opened());
}

TEST_F(LaunchDocumentFallback, CommandWithoutPlaceholderGetsTheDocumentAfterABlank) {
    SetOpenCommand("\"" + Recorder + "\" /open");
    EXPECT_EQ("start|\"" + Recorder + "\" /open " + document + "|" + RootFolder + "|5", Opened());
}

TEST_F(LaunchDocumentFallback, NoCommandIsRunByABareName) {
    SetCurrentDirectoryA(ProgramFolder.c_str());
    SetOpenCommand("rec.exe \"%1\"");
    EXPECT_EQ("(nothing)", Opened(1500));
    SetOpenCommand("\"rec.exe\" \"%1\"");
    EXPECT_EQ("(nothing)", Opened(1500));
}

// The command (at most 259 bytes), a blank and the document fill 519 bytes.
TEST_F(LaunchDocumentFallback, CommandLineThatDoesNotFitIsNotRun) {
    std::string command = "\"" + Recorder + "\" ";
    SetOpenCommand(command + "\"%1\"");
    std::string folder = Root + "docs dir\\";
    std::string name(519 - command.size() - 1 - folder.size() - 8, 'n');
    // Too long for a file name: the shell fails on it, and the fallback runs.
    document = folder + name + "x.qvtnone";
    EXPECT_EQ("(nothing)", Opened(1500));
    document = folder + name + ".qvtnone";
    EXPECT_EQ("start|" + command + " " + document + "|" + RootFolder + "|5", Opened());
}

TEST_F(LaunchDocumentFallback, MissingClassOrCommandEndsQuietly) {
    SetOpenCommand("\"" + Recorder + "\" \"%1\"");
    OpenDocument(document.c_str(), ".qvtunregistered");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, FallbackClass);
    OpenDocument(document.c_str(), FallbackExtension);
    Sleep(500);
    EXPECT_TRUE(RecordLines().empty());
}

TEST_F(LaunchDocumentFallback, DocumentTheShellKnowsOpensInItsFolder) {
    const char extension[] = ".qvtlaunchdoc";
    SetClass(extension, "QvTest.LaunchDocument");
    SetClass("QvTest.LaunchDocument\\shell\\open\\command", "\"" + Recorder + "\" \"%1\"");
    document = Root + "docs dir\\read me.qvtlaunchdoc";
    WriteText(document, "document");
    // The fallback class would record something else.
    SetOpenCommand("\"" + Recorder + "\" fallback");
    OpenDocument(document.c_str(), FallbackExtension);
    std::vector<std::string> lines = WaitForRecord(5000);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, extension);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "QvTest.LaunchDocument");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("start|\"" + Recorder + "\" \"" + document + "\"|" + Root + "docs dir|5", lines[0]);
}

// Web addresses get no working folder: only local documents have a folder.
TEST(LaunchWebAddress, IsKnownByItsSchemeInAnyCase) {
    for (const char* address : {"http://x", "https://x", "HTTP://X", "HtTpS://x\\y", "http://"})
        EXPECT_TRUE(IsWebAddress(address)) << address;
    for (const char* other : {"", "http", "http:/", "https:/x", "httpss://x", "httpx://x", "ftp://x", "http:\\\\x",
                              " http://x", "c:\\docs\\http://x"})
        EXPECT_FALSE(IsWebAddress(other)) << other;
}

// --- Reading a key's default value -------------------------------------------

TEST(LaunchDefaultValue, ReadsWhatFitsAndRefusesTheRest) {
    const char key[] = "Software\\QvTest\\LaunchDefault";
    char buffer[400];
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    EXPECT_NE(0, ReadDefaultValue(HKEY_CURRENT_USER, key, buffer));

    std::string fits(259, 'v');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, fits.c_str(), DWORD(fits.size())));
    memset(buffer, 'g', sizeof buffer);
    EXPECT_EQ(0, ReadDefaultValue(HKEY_CURRENT_USER, key, buffer));
    EXPECT_EQ(fits, std::string(buffer));

    std::string tooLong(260, 'v');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, tooLong.c_str(), DWORD(tooLong.size())));
    memset(buffer, 'g', sizeof buffer);
    EXPECT_NE(0, ReadDefaultValue(HKEY_CURRENT_USER, key, buffer));
    for (size_t i = 260; i < sizeof buffer; i++) ASSERT_EQ('g', buffer[i]) << i;

    // Stored without a terminator, 260 bytes fill the buffer: no text in it ends.
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened));
    RegSetValueExA(opened, NULL, 0, REG_SZ, (const BYTE*)tooLong.data(), 260);
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

TEST(RemovalBatch, PlainPathsAreWrittenAsTheyAre) {
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel C:\\PROGRA~1\\APP\\UNINST.EXE\r\n"
              "if exist C:\\PROGRA~1\\APP\\UNINST.EXE goto Repeat\r\nrmdir C:\\PROGRA~1\\APP\r\n"
              "del C:\\Temp\\delme1.bat\r\n",
              Batch("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"));
}

TEST(RemovalBatch, PathsTheInterpreterWouldSplitAreQuoted) {
    for (const char* special : {" ", "&", "(", ")", "^", ",", ";", "="}) {
        std::string folder = std::string("C:\\A") + special + "B";
        EXPECT_EQ("@echo off\r\n:Repeat\r\ndel \"" + folder + "\\U.EXE\"\r\nif exist \"" + folder +
                      "\\U.EXE\" goto Repeat\r\nrmdir \"" + folder + "\"\r\ndel C:\\T\\delme1.bat\r\n",
                  Batch(folder + "\\U.EXE", folder, "C:\\T\\delme1.bat"))
            << special;
    }
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel C:\\A\\U.EXE\r\nif exist C:\\A\\U.EXE goto Repeat\r\nrmdir C:\\A\r\n"
              "del \"C:\\Users\\Jane Doe\\Temp\\delme2.bat\"\r\n",
              Batch("C:\\A\\U.EXE", "C:\\A", "C:\\Users\\Jane Doe\\Temp\\delme2.bat"));
}

// A lone % would start a variable and drop out of the path.
TEST(RemovalBatch, PercentSignsAreDoubled) {
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel C:\\100%%\\U.EXE\r\nif exist C:\\100%%\\U.EXE goto Repeat\r\n"
              "rmdir C:\\100%%\r\ndel \"C:\\a b%%c%%\\delme1.bat\"\r\n",
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
        DWORD length = GetEnvironmentVariableA("TMP", saved, sizeof saved);
        savedTmp = length ? std::string(saved, length) : "";
        SetVariable("TMP", temp);
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", savedTmp.empty() ? NULL : savedTmp.c_str());
        RemoveFolder();
    }
    void RemoveFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string path = temp + "\\" + found.cFileName;
                if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(temp.c_str());
    }
    std::string Create() {
        char path[PathBufferSize];
        memset(path, 0, sizeof path);
        HANDLE file = CreateBatchFile(path);
        if (file == INVALID_HANDLE_VALUE) return "(none)";
        CloseHandle(file);
        return path;
    }
    std::string temp = Root + "batch temp";
    std::string savedTmp;
};

TEST_F(BatchFile, TakesTheFirstFreeNumber) {
    EXPECT_EQ(temp + "\\delme1.bat", Create());
    EXPECT_EQ(temp + "\\delme2.bat", Create());
}

TEST_F(BatchFile, LeavesAReadableFileAlone) {
    WriteText(temp + "\\delme1.bat", "someone else's");
    EXPECT_EQ(temp + "\\delme2.bat", Create());
    EXPECT_EQ("someone else's", ReadText(temp + "\\delme1.bat"));
}

TEST_F(BatchFile, SkipsNamesItCanNeitherReadNorCreate) {
    CreateDirectoryA((temp + "\\delme1.bat").c_str(), NULL);
    HANDLE held = CreateFileA((temp + "\\delme2.bat").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(temp + "\\delme3.bat", Create());
    CloseHandle(held);
}

TEST_F(BatchFile, GivesUpAfterNumber998) {
    for (int number = 1; number <= 997; number++) WriteText(temp + "\\delme" + std::to_string(number) + ".bat", "");
    EXPECT_EQ(temp + "\\delme998.bat", Create());
    EXPECT_EQ("(none)", Create());
    EXPECT_FALSE(Exists(temp + "\\delme999.bat"));
}

TEST_F(BatchFile, TemporaryFolderThatLeavesNoRoomForTheNameGivesNone) {
    // The folder and its backslash fit 259 bytes; with "delme1.bat" they do not.
    SetVariable("TMP", Root + std::string(252 - Root.size(), 'd'));
    EXPECT_EQ("(none)", Create());
}

// --- Which interpreter runs the batch -------------------------------------------

class BatchInterpreter : public testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA("C:\\qvtest", NULL);
        CreateDirectoryA(Root.c_str(), NULL);
        CreateDirectoryA(withCommandCom.c_str(), NULL);
        CreateDirectoryA(without.c_str(), NULL);
        WriteText(withCommandCom + "\\command.com", "");
        WriteText(shell, "");
        char saved[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("ComSpec", saved, sizeof saved);
        savedComSpec = std::string(saved, length);
    }
    void TearDown() override {
        SetEnvironmentVariableA("ComSpec", savedComSpec.empty() ? NULL : savedComSpec.c_str());
    }
    std::string Find(const std::string& folder, int expectedKind) {
        char path[PathBufferSize];
        int kind = FindCommandInterpreter(path, folder.c_str());
        EXPECT_EQ(expectedKind, kind) << folder;
        return kind ? path : "(none)";
    }
    std::string SystemCmd() {
        char folder[MAX_PATH];
        return std::string(folder, GetSystemDirectoryA(folder, sizeof folder)) + "\\cmd.exe";
    }
    std::string withCommandCom = Root + "with command";
    std::string without = Root + "without";
    std::string shell = Root + "my shell.exe";
    std::string savedComSpec;
};

TEST_F(BatchInterpreter, CommandComWhereTheFolderHoldsIt) {
    SetVariable("ComSpec", shell);
    EXPECT_EQ(withCommandCom + "\\command.com", Find(withCommandCom, InterpreterCommandCom));
    EXPECT_EQ(withCommandCom + "\\command.com", Find(withCommandCom + "\\", InterpreterCommandCom));
}

TEST_F(BatchInterpreter, ElseWhatComSpecNamesByItsFullPath) {
    SetVariable("ComSpec", shell);
    EXPECT_EQ(shell, Find(without, InterpreterOther));
}

TEST_F(BatchInterpreter, ElseCmdInTheSystemFolder) {
    for (const char* comSpec : {"cmd.exe", "my shell.exe", "qvtest\\launch\\my shell.exe", "C:\\qvtest\\launch\\missing.exe", ""}) {
        SetVariable("ComSpec", comSpec);
        EXPECT_EQ(SystemCmd(), Find(without, InterpreterOther)) << comSpec;
    }
    SetEnvironmentVariableA("ComSpec", NULL);
    EXPECT_EQ(SystemCmd(), Find(without, InterpreterOther));
}

}  // namespace
