// The text logic of launching: composing and splitting the pre-removal
// command, and the self-removal batch and its interpreter. Files
// go under C:\qvtest\launch.
#include <gtest/gtest.h>


#include <fstream>

#include "app/run.h"
#include "data/memory.h"
#include "launch/launch.h"

const std::string Root = "C:\\qvtest\\launch";

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

static std::string Batch(const std::string& exe, const std::string& folder, const std::string& batch) {
    char text[1040];
    memset(text, 'g', sizeof text);
    uint32_t length = ComposeRemovalBatch(text, sizeof text, exe.c_str(), folder.c_str(), batch.c_str());
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
                  Batch(folder + "\\U.EXE", folder, folder + "\\delme1.bat"))
            << special;
    }
    EXPECT_EQ(BatchText("C:\\100%%\\U.EXE", "C:\\100%%", "\"C:\\a b%%c%%\\delme1.bat\""),
              Batch("C:\\100%\\U.EXE", "C:\\100%", "C:\\a b%c%\\delme1.bat"));
    const std::string percent = "C:\\" + std::string(250, '%');
    EXPECT_EQ("(none)", Batch(percent, percent, percent));
}

// command.com where the folder holds it (Wine has none, so only here), else
// what ComSpec names by a full path when it exists, else cmd.exe in the System folder.
TEST(BatchInterpreter, IsCommandComElseAnExistingComSpecElseSystemCmd) {
    const std::string withCommandCom = Root + "\\with command", shell = Root + "\\my shell.exe";
    for (const std::string& folder : {std::string("C:\\qvtest"), Root, withCommandCom})
        CreateDirectoryA(folder.c_str(), NULL);
    std::ofstream(withCommandCom + "\\command.com").close();
    std::ofstream(shell).close();
    char folder[MAX_PATH], path[PathBufferSize];
    const std::string systemCmd = std::string(folder, GetSystemDirectoryA(folder, sizeof folder)) + "\\cmd.exe";
    const char* const kinds[] = {"none", "other", "command.com"};
    const std::string cases[][3] = {
        {withCommandCom, Root + "\\missing.exe", "command.com " + withCommandCom + "\\command.com"},
        {Root, shell, "other " + shell},
        {Root, Root + "\\missing.exe", "other " + systemCmd},
        {Root, "cmd.exe", "other " + systemCmd},  // a bare name would be searched for beside the uninstaller
    };
    for (const auto& c : cases) {
        SetEnvironmentVariableA("ComSpec", c[1].c_str());
        const int kind = FindCommandInterpreter(path, c[0].c_str());
        EXPECT_EQ(c[2], std::string(kinds[kind]) + " " + path) << c[1];
    }
}
