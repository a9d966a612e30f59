// Path composing and the folders that must survive every uninstallation.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "app/run.h"
#include "paths/path_helpers.h"

namespace {

std::string Folder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(GetSpecialFolder(folder, csidl)) << csidl;
    return folder;
}

std::string WindowsFolder() {
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    return folder;
}

bool Protected(const std::string& path) {
    return IsProtectedFolder(path.c_str()) != 0;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower((unsigned char)c));
    return text;
}

class ProtectedFolders : public testing::Test {
protected:
    void SetUp() override {
        IsNtPlatform = 1;
        FindProtectedFolders();
    }
    void TearDown() override {
        IsNtPlatform = 1;
        FindProtectedFolders();
    }
};

TEST(PathComposing, BoundedCopyAppendAndBackslashes) {
    char path[PathBufferSize + 8];
    memset(path, 'Z', sizeof path);
    ASSERT_TRUE(CopyPath(path, std::string(259, 'a').c_str()));
    EXPECT_FALSE(AppendBackslash(path));
    EXPECT_FALSE(AppendPath(path, "b"));
    EXPECT_EQ(std::string(259, 'a'), path);
    EXPECT_FALSE(CopyPath(path, std::string(260, 'c').c_str()));
    EXPECT_EQ('Z', path[PathBufferSize]);

    strcpy(path, "");
    AppendBackslash(path);
    EXPECT_STREQ("", path);
    strcpy(path, "C:\\App");
    AppendBackslash(path);
    AppendBackslash(path);
    EXPECT_STREQ("C:\\App\\", path);
    StripBackslash(path);
    EXPECT_STREQ("C:\\App", path);
    strcpy(path, "c:\\");
    StripBackslash(path);
    EXPECT_STREQ("c:\\", path);
    strcpy(path, "C:\\App\\\\");
    StripBackslash(path);
    EXPECT_STREQ("C:\\App\\", path);
}

TEST_F(ProtectedFolders, DriveRootsAndShortTexts) {
    EXPECT_TRUE(Protected(""));
    EXPECT_TRUE(Protected("C:"));
    EXPECT_TRUE(Protected("C:\\"));
    EXPECT_TRUE(Protected("abc"));
    EXPECT_FALSE(Protected("C:\\qvtest-nothing"));
}

TEST_F(ProtectedFolders, OneTrailingBackslashAndLetterCase) {
    std::string windows = WindowsFolder();
    EXPECT_TRUE(Protected(windows));
    EXPECT_TRUE(Protected(windows + "\\"));
    EXPECT_TRUE(Protected(Lower(windows)));
    EXPECT_FALSE(Protected(windows + "\\\\"));
    EXPECT_FALSE(Protected(windows + "\\Temp"));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_TRUE(Protected(system));
    // Only the ASCII letters fold: an accented letter in another case differs.
    EXPECT_TRUE(IsSameFolderName("C:\\ABC", "c:\\abc"));
    EXPECT_FALSE(IsSameFolderName("C:\\\xC9t\xE9", "C:\\\xE9t\xE9"));
}

TEST_F(ProtectedFolders, ShellFoldersAndQuickLaunch) {
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_FONTS, CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_STARTUP,
                      CSIDL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_DESKTOPDIRECTORY,
                      CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP})
        EXPECT_TRUE(Protected(Folder(csidl))) << csidl;
    std::string appData = Folder(CSIDL_APPDATA);
    EXPECT_TRUE(Protected(appData + "\\Microsoft\\Internet Explorer\\Quick Launch"));
    EXPECT_TRUE(Protected(Folder(CSIDL_COMMON_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch\\"));
    EXPECT_FALSE(Protected(appData + "\\Microsoft"));
    EXPECT_FALSE(Protected(appData + "\\Microsoft\\Internet Explorer"));
    EXPECT_FALSE(Protected(appData + "\\Vendor"));
}

TEST_F(ProtectedFolders, AllUsersMenusAndDesktopOnlyOnNt) {
    IsNtPlatform = 0;
    FindProtectedFolders();
    for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP})
        EXPECT_FALSE(Protected(Folder(csidl))) << csidl;
    EXPECT_TRUE(Protected(Folder(CSIDL_COMMON_APPDATA)));
    EXPECT_TRUE(Protected(Folder(CSIDL_COMMON_DOCUMENTS)));
    EXPECT_TRUE(Protected(Folder(CSIDL_PROGRAMS)));
}

// Program files and common files come from the registry, compared as stored.
TEST_F(ProtectedFolders, RegistryFoldersAsStored) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_ALL_ACCESS, &key));
    char programFiles[MAX_PATH] = {};
    DWORD size = sizeof programFiles;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "ProgramFilesDir", NULL, NULL, (BYTE*)programFiles, &size));
    EXPECT_TRUE(Protected(programFiles));
    EXPECT_TRUE(Protected(std::string(programFiles) + "\\"));
    EXPECT_FALSE(Protected(std::string(programFiles) + "\\Vendor"));

    std::string withBackslash = std::string(programFiles) + "\\";
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, (const BYTE*)withBackslash.c_str(), DWORD(withBackslash.size() + 1));
    FindProtectedFolders();
    EXPECT_FALSE(Protected(programFiles));  // a stored trailing backslash never matches
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, (const BYTE*)programFiles, DWORD(strlen(programFiles) + 1));
    RegCloseKey(key);
}

}  // namespace
