// The text logic of launching: composing and splitting the pre-removal
// command, and the self-removal batch and its interpreter. Files
// go under C:\qvtest\launch.
#include <gtest/gtest.h>


#include <fstream>

#include "app/run.h"
#include "data/memory.h"
#include "launch/launch.h"
#include "paths/path_helpers.h"

#include <sddl.h>
#include <vector>
#include <iterator>

const std::string Root = "C:\\qvtest\\launch";

// The entry point hands the run what follows the program's own name.
TEST(CommandTail, FollowsTheProgramNameAndTheBlanksAfterIt) {
    const std::string cases[][2] = {
        {"\"C:\\My App\\uninst.exe\" /S", "/S"}, {"\"C:\\u.exe\"/Q", "/Q"}, {"C:\\u.exe  \t /X /S", "/X /S"},
        {"u.exe\t-q", "-q"}, {"\"unterminated /S", ""}, {"u.exe", ""}, {"", ""}, {"\"\" x", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], FindCommandTail(c[0].c_str())) << c[0];
}

TEST(SplitCommand, QuotedProgramIsFollowedByItsArgumentsAndAnUnquotedOneHasNone) {
    std::string cases[][2] = {
        {"\"C:\\My App\\setup.exe\"   /a  \"b c\" ", "C:\\My App\\setup.exe|/a  \"b c\" "},
        {"\"C:\\App\\setup.exe\"/x", "C:\\App\\setup.exe|/x"},
        {"\"  C:\\App\\setup.exe  \" /r", "C:\\App\\setup.exe|/r"},
        {"C:\\App\\setup.exe /remove", "C:\\App\\setup.exe /remove|"},
        // No program can be started with its quote left inside its name.
        {"\"C:\\App\\setup.exe /remove  ", "C:\\App\\setup.exe /remove|"},
    };
    for (auto& c : cases) {
        char *program = nullptr, *arguments = nullptr;
        SplitCommand(&c[0][0], &program, &arguments);
        EXPECT_EQ(c[1], std::string(program) + "|" + arguments);
    }
}

// The command as composed for an installation in C:\App\; "(overrun)" when
// anything was written past the 260-byte WorkPath.
static std::string Compose(const std::string& command) {
    char install[] = "C:\\App\\", work[PathBufferSize + 64], *expanded = nullptr;
    memset(work, 'g', sizeof work);
    InstallDir = install;
    WorkPath = work;
    const char* composed = ComposePreRemovalCommand(command.c_str(), &expanded);
    const std::string result = composed ? composed : "(none)";
    FreeAndClear(&expanded);
    InstallDir = WorkPath = nullptr;
    return std::string(work + PathBufferSize, 64) == std::string(64, 'g') ? result : "(overrun)";
}

// C:\App\ (7) and a relative command together: 259 characters fit, 260 do not.
TEST(PreRemovalCommand, IsRelativeToTheInstallationFolderUnlessATokenLeads) {
    char folder[MAX_PATH];
    const std::string windows(folder, GetWindowsDirectoryA(folder, sizeof folder)), fits(252, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"\"setup.exe\" /remove", "\"C:\\App\\setup.exe\" /remove"},
        {"\"  setup.exe\"", "\"C:\\App\\setup.exe\""},
        {"   x.exe", "C:\\App\\x.exe"},
        {"C:\\Other\\x.exe", "C:\\App\\C:\\Other\\x.exe"},   // always relative
        {"\" #setup.exe\" /r", "\"C:\\App\\#setup.exe\" /r"},  // signs that are no token
        // Every token of the command is expanded, also in the arguments.
        {"\"  #InstallDir#\\bin\\x.exe\" #Windows#", "\"  C:\\App\\bin\\x.exe\" " + windows},
        {fits, "C:\\App\\" + fits}, {fits + "a", "(none)"}, {"\"" + fits, "(none)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Compose(c.first)) << c.first;
}

static std::string Batch(const std::string& exe, const char* folder, const std::string& batch, const char* ping = nullptr) {
    char text[1040];
    memset(text, 'g', sizeof text);
    uint32_t length = ComposeRemovalBatch(text, sizeof text, exe.c_str(), folder, batch.c_str(), ping, "60");
    return length ? std::string(text, length) + (text[length] ? "(unterminated)" : "") : "(none)";
}

static std::string BatchText(const std::string& exe, const std::string& folder, const std::string& batch) {
    return "@echo off\r\n:Repeat\r\ndel " + exe + "\r\nif exist " + exe + " goto Repeat\r\nrmdir " + folder +
           "\r\ndel " + batch + "\r\n";
}

// Plain paths byte for byte; a path the interpreter would split or act on is
// quoted, and a % (which would start a variable) doubled. Text that does not
// fit is not composed at all.
TEST(RemovalBatch, PathsAreQuotedOnlyWhereTheInterpreterWouldSplitThem) {
    EXPECT_EQ(BatchText("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"),
              Batch("C:\\PROGRA~1\\APP\\UNINST.EXE", "C:\\PROGRA~1\\APP", "C:\\Temp\\delme1.bat"));
    for (const char* special : {" ", "&", "(", ")", "^", ",", ";", "="}) {
        const std::string folder = std::string("C:\\A") + special + "B";
        EXPECT_EQ(BatchText("\"" + folder + "\\U.EXE\"", "\"" + folder + "\"", "\"" + folder + "\\delme1.bat\""),
                  Batch(folder + "\\U.EXE", folder.c_str(), folder + "\\delme1.bat"))
            << special;
    }
    EXPECT_EQ(BatchText("C:\\100%%\\U.EXE", "C:\\100%%", "\"C:\\a b%%c%%\\delme1.bat\""),
              Batch("C:\\100%\\U.EXE", "C:\\100%", "C:\\a b%c%\\delme1.bat"));
    const std::string percent = "C:\\" + std::string(250, '%');
    EXPECT_EQ("(none)", Batch(percent, percent.c_str(), percent));
}

// On NT: del /f, a pause by ping's full path, a bound of 60 tries after which
// the batch still deletes itself; an installation folder that is a link keeps
// its line out.
TEST(RemovalBatch, OnNtForcesDeletionPausesAndGivesUp) {
    const std::string loop = "@echo off\r\nset n=60\r\n:Repeat\r\ndel /f C:\\APP\\U.EXE\r\nif not exist C:\\APP\\U.EXE goto Removed\r\n"
                             "set /a n-=1\r\nif %n%==0 goto Removed\r\n\"C:\\WIN DOWS\\ping.exe\" -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n"
                             ":Removed\r\n";
    EXPECT_EQ(loop + "rmdir C:\\APP\r\ndel C:\\T\\delme1.bat\r\n",
              Batch("C:\\APP\\U.EXE", "C:\\APP", "C:\\T\\delme1.bat", "C:\\WIN DOWS\\ping.exe"));
    EXPECT_EQ(loop + "del C:\\T\\delme1.bat\r\n", Batch("C:\\APP\\U.EXE", nullptr, "C:\\T\\delme1.bat", "C:\\WIN DOWS\\ping.exe"));
    EXPECT_EQ("@echo off\r\n:Repeat\r\ndel C:\\U.EXE\r\nif exist C:\\U.EXE goto Repeat\r\ndel C:\\T\\delme1.bat\r\n",
              Batch("C:\\U.EXE", nullptr, "C:\\T\\delme1.bat"));
}

static std::string SystemFile(const char* name) {
    char folder[MAX_PATH];
    return std::string(folder, GetSystemDirectoryA(folder, sizeof folder)) + "\\" + name;
}

// 9x: command.com where the folder holds it (Wine has none, so only here),
// else what ComSpec names by a full path when it exists, else cmd.exe in the
// System folder. NT: cmd.exe in the System folder whatever is there or set.
TEST(BatchInterpreter, IsCommandComOnlyOn9xAndSystemCmdOnNt) {
    const std::string withCommandCom = Root + "\\with command", shell = Root + "\\my shell.exe";
    for (const std::string& folder : {std::string("C:\\qvtest"), Root, withCommandCom})
        CreateDirectoryA(folder.c_str(), NULL);
    std::ofstream(withCommandCom + "\\command.com").close();
    std::ofstream(shell).close();
    char path[PathBufferSize];
    const std::string systemCmd = SystemFile("cmd.exe");
    const char* const kinds[] = {"none", "other", "command.com"};
    const std::string cases[][4] = {
        // folder, ComSpec, on 9x, on NT
        {withCommandCom, Root + "\\missing.exe", "command.com " + withCommandCom + "\\command.com", "other " + systemCmd},
        {Root, shell, "other " + shell, "other " + systemCmd},
        {Root, Root + "\\missing.exe", "other " + systemCmd, "other " + systemCmd},
        {Root, "cmd.exe", "other " + systemCmd, "other " + systemCmd},  // a bare name would be searched for beside the uninstaller
    };
    for (int nt = 0; nt <= 1; nt++) {
        IsNtPlatform = nt;
        for (const auto& c : cases) {
            SetEnvironmentVariableA("ComSpec", c[1].c_str());
            const int kind = FindCommandInterpreter(path, c[0].c_str());
            EXPECT_EQ(c[2 + nt], std::string(kinds[kind]) + " " + path) << c[1] << " on " << nt;
        }
    }
    IsNtPlatform = 1;
}

// NT: no AutoRun commands (/D), extensions on for set /a, no delayed
// expansion; the batch's folder goes after the batch has ended. A path cmd
// would expand even between quotes is refused.
TEST(BatchInterpreter, CommandLineTurnsOffAutoRunAndRemovesTheBatchFolder) {
    char text[1024];
    ASSERT_TRUE(ComposeBatchCommand(text, "C:\\W\\system32\\cmd.exe", InterpreterOther, "C:\\W\\Temp\\Q 1\\delme1.bat", "C:\\W\\Temp\\Q 1"));
    EXPECT_STREQ("\"C:\\W\\system32\\cmd.exe\" /D /E:ON /V:OFF /C \"\"C:\\W\\Temp\\Q 1\\delme1.bat\" & rmdir \"C:\\W\\Temp\\Q 1\"\"", text);
    EXPECT_FALSE(ComposeBatchCommand(text, "C:\\W\\cmd.exe", InterpreterOther, "C:\\W\\Temp\\Q%x%\\delme1.bat", "C:\\W\\Temp\\Q%x%"));
    ASSERT_TRUE(ComposeBatchCommand(text, "C:\\W\\command.com", InterpreterCommandCom, "C:\\TEMP\\delme1.bat", nullptr));
    EXPECT_STREQ("\"C:\\W\\command.com\" /C C:\\TEMP\\delme1.bat", text);
}

// Only SYSTEM and Administrators, with full access inherited by what is made
// inside, and nothing inherited from the Temp folder (whose users may create
// there). Wine does not enforce it, so the descriptor itself is the proof.
TEST(BatchFolder, OnlyAdministratorsAndSystemMayWriteIt) {
    PSECURITY_DESCRIPTOR descriptor = CreateAdminOnlyDescriptor();
    ASSERT_NE(nullptr, descriptor);
    SECURITY_DESCRIPTOR_CONTROL control;
    DWORD revision;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present, defaulted;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl);
    std::vector<std::string> found;
    for (DWORD i = 0; i < acl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace;
        ASSERT_TRUE(GetAce(acl, i, (void**)&ace));
        char* sid = nullptr;
        ConvertSidToStringSidA(&ace->SidStart, &sid);
        found.push_back(std::to_string(ace->Header.AceType) + " " + std::to_string(ace->Header.AceFlags) + " " +
                        std::to_string(ace->Mask) + " " + (sid ? sid : "?"));
        LocalFree(sid);
    }
    const std::string all = std::to_string(FILE_ALL_ACCESS), inherit = std::to_string(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ((std::vector<std::string>{"0 " + inherit + " " + all + " S-1-5-18", "0 " + inherit + " " + all + " S-1-5-32-544"}), found);
    LocalFree(descriptor);
}

static std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The NT batch run by cmd from a fresh folder under the Windows folder's
// Temp: a free file goes and with it its folder and the batch's; one held
// open is given up after the tries, and the batch deletes itself all the same
// (two tries here instead of sixty).
TEST(RemovalBatch, EndsWhenTheFileStaysHeldOpen) {
    char windows[MAX_PATH];
    const std::string temp = std::string(windows, GetWindowsDirectoryA(windows, MAX_PATH)) + "\\Temp\\QvUninst";
    std::string previous;
    for (bool held : {false, true}) {
        char batchFolder[PathBufferSize], batchPath[PathBufferSize], text[1040], command[1024];
        const std::string app = Root + (held ? "\\held app" : "\\free app"), exe = app + "\\uninst.exe";
        for (const std::string& folder : {std::string("C:\\qvtest"), Root, app}) CreateDirectoryA(folder.c_str(), NULL);
        std::ofstream(exe) << "x";
        HANDLE holder = held ? CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) : INVALID_HANDLE_VALUE;
        ASSERT_EQ(held, holder != INVALID_HANDLE_VALUE) << exe;
        ASSERT_TRUE(CreateBatchFolder(batchFolder));
        EXPECT_EQ(0u, std::string(batchFolder).find(temp)) << batchFolder;
        EXPECT_NE(previous, batchFolder);
        previous = batchFolder;
        HANDLE file = CreateBatchFile(batchPath, batchFolder);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        const std::string ping = SystemFile("ping.exe");
        uint32_t size = ComposeRemovalBatch(text, sizeof text, exe.c_str(), app.c_str(), batchPath, ping.c_str(), "2");
        DWORD written;
        WriteFile(file, text, size, &written, NULL);
        CloseHandle(file);
        StripBackslash(batchFolder);
        ASSERT_TRUE(ComposeBatchCommand(command, SystemFile("cmd.exe").c_str(), InterpreterOther, batchPath, batchFolder));
        PROCESS_INFORMATION process;
        ASSERT_TRUE(StartProgram(command, NULL, 1, &process));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000)) << ReadText(batchPath);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        EXPECT_EQ(held, GetFileAttributesA(exe.c_str()) != INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(held, GetFileAttributesA(app.c_str()) != INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(batchFolder)) << batchFolder;
        DeleteFileA(exe.c_str());
        RemoveDirectoryA(app.c_str());
    }
}
