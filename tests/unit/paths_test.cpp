// The folders that must survive every uninstallation.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <tuple>

#include "app/run.h"
#include "paths/path_helpers.h"

static std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(GetSpecialFolder(folder, csidl)) << csidl;
    return folder;
}

// Drive roots and short texts, the Windows and System folders, program files,
// the shell's folders (those of all users on NT only) and Quick Launch below
// application data: with one trailing backslash and in any ASCII letter case,
// but never what lies below them.
TEST(ProtectedFolders, RowsOfEachFamily) {
    const std::string w = ShellFolder(CSIDL_WINDOWS), programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    const std::string appData = ShellFolder(CSIDL_APPDATA), quickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";
    std::string lowerWindows = w;
    for (char& c : lowerWindows) c = char(tolower((unsigned char)c));
    const std::tuple<std::string, bool, bool> rows[] = {
        // The path; whether it is protected on NT and on 9x.
        {"", 1, 1}, {"C:", 1, 1}, {"C:\\", 1, 1}, {"abc", 1, 1}, {"C:\\qvtest-nothing", 0, 0},
        {w, 1, 1}, {w + "\\", 1, 1}, {lowerWindows, 1, 1}, {w + "\\\\", 1, 1}, {w + "\\Temp", 0, 0},
        {ShellFolder(CSIDL_SYSTEM), 1, 1}, {programFiles, 1, 1}, {programFiles + "\\Vendor", 0, 0},
        {ShellFolder(CSIDL_DESKTOPDIRECTORY), 1, 1}, {ShellFolder(CSIDL_STARTUP), 1, 1},
        {ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY), 1, 0}, {ShellFolder(CSIDL_COMMON_STARTMENU) + "\\", 1, 0},
        {appData, 1, 1}, {appData + quickLaunch, 1, 1}, {ShellFolder(CSIDL_COMMON_APPDATA) + quickLaunch + "\\", 1, 1},
        {appData + "\\Microsoft\\Internet Explorer", 0, 0},
    };
    for (int nt = 0; nt <= 1; nt++) {
        IsNtPlatform = nt;
        FindProtectedFolders();
        for (const auto& [path, onNt, onNineX] : rows)
            EXPECT_EQ(nt ? onNt : onNineX, IsProtectedFolder(path.c_str()) != 0) << path << " on " << nt;
    }
    // Only the ASCII letters fold: an accented letter in another case differs.
    EXPECT_FALSE(IsSameFolderName("C:\\\xC9t\xE9", "C:\\\xE9t\xE9"));
}

// Judged by where a path leads, not by its spelling: short names (an
// uninstaller started as C:\PROGRA~1\...), ".." (a pattern "..\*.log" of an
// installation folder spelt short) and trailing dots reach no protected folder.
TEST(ProtectedFolders, AreJudgedByWhereAPathLeads) {
    IsNtPlatform = 1;
    FindProtectedFolders();
    const std::string w = ShellFolder(CSIDL_WINDOWS), programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    char shortForm[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(programFiles.c_str(), shortForm, MAX_PATH), 0u);
    const std::string shortProgramFiles = shortForm;
    ASSERT_NE(std::string::npos, shortProgramFiles.find('~')) << shortProgramFiles;
    for (const std::string& path : {shortProgramFiles, shortProgramFiles + "\\", shortProgramFiles + "\\App\\..",
                                    programFiles + "\\Vendor\\App\\..\\..", w + "\\System32\\..", w + ".", w + "\\.."})
        EXPECT_TRUE(IsProtectedFolder(path.c_str())) << path;
    EXPECT_FALSE(IsProtectedFolder((shortProgramFiles + "\\App").c_str()));
}

// Windows gives the path a program was started by, often short in stored
// uninstall commands; the installation folder is kept in long form.
TEST(InstallDir, IsTheLongFormOfTheFolderTheProgramWasStartedFrom) {
    const std::string folder = "C:\\qvtest\\Long Folder Name\\Vendor Files";
    CreateDirectoryA("C:\\qvtest", NULL);
    CreateDirectoryA("C:\\qvtest\\Long Folder Name", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    CloseHandle(CreateFileA((folder + "\\uninst.exe").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    char shortPath[MAX_PATH], installDir[PathBufferSize];
    ASSERT_GT(GetShortPathNameA((folder + "\\uninst.exe").c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_NE(std::string::npos, std::string(shortPath).find('~')) << shortPath;
    FillInstallDir(installDir, shortPath);
    EXPECT_EQ(folder + "\\", installDir);
    FillInstallDir(installDir, "C:\\uninst.exe");
    EXPECT_EQ("C:\\", std::string(installDir));
}

// On a double-byte code page (run by ctest's unit_double_byte under 932) a
// character's second byte may be a backslash or an ASCII letter: paths are
// stepped by characters, and only single-byte letters fold.
TEST(DoubleBytePaths, AreSteppedByCharacters) {
    if (GetACP() != 932) GTEST_SKIP() << "code page " << GetACP();
    const std::string so = "\x83\x5C", a = "\x83\x41", ha = "\x83\x61";  // ソ, ア, ハ
    char path[PathBufferSize];
    const std::string folder = "C:\\App\\" + so;
    EXPECT_EQ(6, FindLastBackslash(folder.c_str()) - folder.c_str());
    strcpy(path, folder.c_str());
    StripBackslash(path);
    EXPECT_EQ(folder, path);
    ASSERT_TRUE(AppendBackslash(path));
    EXPECT_EQ(folder + "\\", path);
    StripBackslash(path);
    EXPECT_EQ(folder, path);
    EXPECT_EQ(std::string("x") + so, NextChar((std::string("\x83\x5Cx") + so).c_str()));
    EXPECT_FALSE(IsSameFolderName(("C:\\" + a).c_str(), ("C:\\" + ha).c_str()));
    EXPECT_TRUE(IsSameFolderName(("c:\\" + so + "x").c_str(), ("C:\\" + so + "X").c_str()));
    // The protected folders compare the same way, and a cut inside a
    // character never reaches the folder named by its first byte.
    IsNtPlatform = 1;
    FindProtectedFolders();
    const std::string windows = ShellFolder(CSIDL_WINDOWS);
    EXPECT_TRUE(IsProtectedFolder((windows + "\\").c_str()));
    EXPECT_FALSE(IsProtectedFolder((windows + "\\" + so).c_str()));
}
