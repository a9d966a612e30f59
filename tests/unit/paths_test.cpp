// Bounded path composing and the folders that must survive every uninstallation.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "app/run.h"
#include "paths/path_helpers.h"

namespace {

// A refused call leaves the buffer as it was.
TEST(PathComposing, NothingBeyond259CharactersIsComposed) {
    char path[PathBufferSize + 8];
    memset(path, 'Z', sizeof path);
    ASSERT_TRUE(CopyPath(path, std::string(259, 'a').c_str()));
    EXPECT_FALSE(AppendBackslash(path));
    EXPECT_FALSE(AppendPath(path, "b"));
    EXPECT_FALSE(CopyPath(path, std::string(260, 'c').c_str()));
    EXPECT_EQ(std::string(259, 'a'), path);
    EXPECT_EQ('Z', path[PathBufferSize]);
}

std::string Folder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(GetSpecialFolder(folder, csidl)) << csidl;
    return folder;
}

// Drive roots and short texts, the Windows and System folders, program files
// and the shell's folders (the all-users menus and desktop on NT only), and
// Quick Launch below application data: with one trailing backslash and in any
// ASCII letter case, but never what lies below them.
TEST(ProtectedFolders, RowsOfEachFamily) {
    char windows[MAX_PATH], system[MAX_PATH], programFiles[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    DWORD size = sizeof programFiles - 1;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                                          "ProgramFilesDir", RRF_RT_REG_SZ, NULL, programFiles, &size));
    std::string lowerWindows = windows;
    for (char& c : lowerWindows) c = char(tolower((unsigned char)c));
    const std::string w = windows, appData = Folder(CSIDL_APPDATA);
    const std::string quickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";
    const struct {
        std::string path;
        bool nt, nineX;
    } rows[] = {
        {"", 1, 1}, {"C:", 1, 1}, {"C:\\", 1, 1}, {"abc", 1, 1}, {"C:\\qvtest-nothing", 0, 0},
        {w, 1, 1}, {w + "\\", 1, 1}, {lowerWindows, 1, 1}, {w + "\\\\", 0, 0}, {w + "\\Temp", 0, 0},
        {system, 1, 1}, {programFiles, 1, 1}, {std::string(programFiles) + "\\Vendor", 0, 0},
        {Folder(CSIDL_DESKTOPDIRECTORY), 1, 1}, {Folder(CSIDL_FONTS), 1, 1}, {Folder(CSIDL_PROGRAMS), 1, 1},
        {Folder(CSIDL_STARTMENU), 1, 1}, {Folder(CSIDL_STARTUP), 1, 1}, {Folder(CSIDL_COMMON_DOCUMENTS), 1, 1},
        {Folder(CSIDL_COMMON_DESKTOPDIRECTORY), 1, 0}, {Folder(CSIDL_COMMON_PROGRAMS), 1, 0},
        {Folder(CSIDL_COMMON_STARTMENU), 1, 0}, {Folder(CSIDL_COMMON_STARTUP), 1, 0},
        {appData, 1, 1}, {Folder(CSIDL_COMMON_APPDATA), 1, 1}, {appData + quickLaunch, 1, 1},
        {Folder(CSIDL_COMMON_APPDATA) + quickLaunch + "\\", 1, 1},
        {appData + "\\Microsoft", 0, 0}, {appData + "\\Microsoft\\Internet Explorer", 0, 0},
    };
    const int savedPlatform = IsNtPlatform;
    for (int nt = 0; nt <= 1; nt++) {
        IsNtPlatform = nt;
        FindProtectedFolders();
        for (const auto& row : rows)
            EXPECT_EQ(nt ? row.nt : row.nineX, IsProtectedFolder(row.path.c_str()) != 0) << row.path << " on " << nt;
    }
    IsNtPlatform = savedPlatform;
    // Only the ASCII letters fold: an accented letter in another case differs.
    EXPECT_FALSE(IsSameFolderName("C:\\\xC9t\xE9", "C:\\\xE9t\xE9"));
}

}  // namespace
