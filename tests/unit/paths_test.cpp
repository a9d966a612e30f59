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
        {w, 1, 1}, {w + "\\", 1, 1}, {lowerWindows, 1, 1}, {w + "\\\\", 0, 0}, {w + "\\Temp", 0, 0},
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
