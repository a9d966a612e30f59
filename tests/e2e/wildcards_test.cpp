// Leftovers removed by wildcard patterns under Wine.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "scenario.h"

namespace {

RunResult RemoveLeftovers(const std::string& app, std::vector<std::string> patterns) {
    PackData data;
    data.messages = TestMessages();
    data.patterns = patterns;
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    return run;
}

std::string Folder(int csidl) {
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(NULL, csidl, NULL, 0, folder);
    return folder;
}

TEST(Wildcards, RelativePatternCleansTheTreeAndItsEmptiedFolders) {
    std::string app = FreshTestFolder();
    MakeFile(app + "logs\\a.log");
    MakeFile(app + "logs\\old\\b.LOG");
    MakeFile(app + "logs\\old\\deeper\\c.log");
    MakeFile(app + "keep\\logs\\d.log");  // outside the pattern's folder
    MakeFile(app + "other\\notes.txt");
    MakeFile(app + "stays\\e.log");
    MakeFile(app + "stays\\readme.txt");
    CreateDirectoryA((app + "logs\\empty").c_str(), NULL);
    RemoveLeftovers(app, {"logs\\*.log", "stays\\*.log"});
    EXPECT_FALSE(FileExists(app + "logs"));
    EXPECT_TRUE(FileExists(app + "keep\\logs\\d.log"));
    EXPECT_TRUE(FileExists(app + "other\\notes.txt"));
    EXPECT_FALSE(FileExists(app + "stays\\e.log"));
    EXPECT_TRUE(FileExists(app + "stays\\readme.txt"));
}

TEST(Wildcards, MaskAloneWorksOnTheInstallationFolder) {
    std::string app = FreshTestFolder();
    MakeFile(app + "a.tmp");
    MakeFile(app + "sub\\b.tmp");
    MakeFile(app + "sub\\deep\\c.tmp");
    MakeFile(app + "x.txt");
    MakeFile(app + "folder.tmp\\inner.txt");  // a folder named like the mask is no file
    RemoveLeftovers(app, {"*.tmp"});
    EXPECT_FALSE(FileExists(app + "a.tmp"));
    EXPECT_FALSE(FileExists(app + "sub"));
    EXPECT_TRUE(FileExists(app + "x.txt"));
    EXPECT_TRUE(FileExists(app + "folder.tmp\\inner.txt"));
    EXPECT_TRUE(FileExists(app + "uninst.exe"));
}

TEST(Wildcards, TokenPatternWorksInTheExpandedFolder) {
    std::string app = FreshTestFolder();
    std::string data = Folder(CSIDL_APPDATA) + "\\QvTest Wildcards";
    MakeFile(data + "\\cache\\a.tmp");
    MakeFile(data + "\\b.tmp");
    MakeFile(data + "\\notes.txt");
    RemoveLeftovers(app, {"#AppData#\\QvTest Wildcards\\*.tmp", "#NoSuchToken#\\QvTest Wildcards\\*.txt"});
    EXPECT_FALSE(FileExists(data + "\\cache"));
    EXPECT_FALSE(FileExists(data + "\\b.tmp"));
    EXPECT_TRUE(FileExists(data + "\\notes.txt"));
    DeleteFileA((data + "\\notes.txt").c_str());
    RemoveDirectoryA(data.c_str());
}

// With the shell unable to give the user's application data (its "User Shell
// Folders" entry names a missing folder), #AppData# falls back to the
// family's folder under the Windows folder; neither exists in the prefix.
TEST(Wildcards, TokenFallsBackToTheFamilysFolder) {
    std::string windows = Folder(CSIDL_WINDOWS);
    std::string nt = windows + "\\Profiles\\Administrator\\Application Data\\QvTest\\a.tmp";
    std::string nineX = windows + "\\Application Data\\QvTest\\a.tmp";
    MakeFile(nt);
    MakeFile(nineX);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", 0, KEY_ALL_ACCESS, &key));
    char saved[MAX_PATH] = {};
    DWORD type, size = sizeof saved;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "AppData", NULL, &type, (BYTE*)saved, &size));
    const char missing[] = "C:\\qvtest\\no such folder";
    RegSetValueExA(key, "AppData", 0, REG_SZ, (const BYTE*)missing, sizeof missing);
    RemoveLeftovers(FreshTestFolder(), {"#AppData#\\QvTest\\*.tmp"});
    RegSetValueExA(key, "AppData", 0, type, (const BYTE*)saved, size);
    RegCloseKey(key);
    EXPECT_EQ(!FamilyIsNt(), FileExists(nt));
    EXPECT_EQ(FamilyIsNt(), FileExists(nineX));
    RemoveTree(windows + "\\Profiles");
    RemoveTree(windows + "\\Application Data");
}

TEST(Wildcards, ProtectedFoldersAreNeverSearched) {
    std::string app = FreshTestFolder();
    std::string windows = Folder(CSIDL_WINDOWS);
    MakeFile(windows + "\\qvtest-left.qvleft");
    MakeFile(app + "abs\\x.qvleft");
    // The Windows folder itself, also when reached through ".." or written with a
    // trailing dot; an absolute path behind a relative pattern names nothing.
    RemoveLeftovers(app, {"#Windows#\\*.qvleft", "#Windows#\\system32\\..\\*.qvleft", "#Windows#.\\*.qvleft",
                          "C:\\qvtest\\*.qvleft"});
    EXPECT_TRUE(FileExists(windows + "\\qvtest-left.qvleft"));
    EXPECT_TRUE(FileExists(app + "abs\\x.qvleft"));
    DeleteFileA((windows + "\\qvtest-left.qvleft").c_str());
}

// A protected folder inside the tree (here the common-files folder, pointed
// into the tree for the run) is left with everything in it; its siblings are cleaned.
TEST(Wildcards, ProtectedFolderInsideTheTreeIsLeftWhole) {
    std::string app = FreshTestFolder();
    MakeFile(app + "tree\\common\\inner\\a.log");
    MakeFile(app + "tree\\sibling\\b.log");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS, &key));
    char saved[MAX_PATH] = {};
    DWORD size = sizeof saved;
    RegQueryValueExA(key, "CommonFilesDir", NULL, NULL, (BYTE*)saved, &size);
    std::string common = app + "tree\\common";
    RegSetValueExA(key, "CommonFilesDir", 0, REG_SZ, (const BYTE*)common.c_str(), DWORD(common.size() + 1));
    RemoveLeftovers(app, {"tree\\*.log"});
    RegSetValueExA(key, "CommonFilesDir", 0, REG_SZ, (const BYTE*)saved, DWORD(strlen(saved) + 1));
    RegCloseKey(key);
    EXPECT_TRUE(FileExists(app + "tree\\common\\inner\\a.log"));
    EXPECT_FALSE(FileExists(app + "tree\\sibling"));
    EXPECT_TRUE(FileExists(app + "tree"));
}

TEST(Wildcards, ReadOnlyMatchStaysWithItsFolders) {
    std::string app = FreshTestFolder();
    MakeFile(app + "logs\\sub\\locked.log");
    MakeFile(app + "logs\\free.log");
    SetFileAttributesA((app + "logs\\sub\\locked.log").c_str(), FILE_ATTRIBUTE_READONLY);
    RemoveLeftovers(app, {"logs\\*.log"});
    EXPECT_TRUE(FileExists(app + "logs\\sub\\locked.log"));
    EXPECT_FALSE(FileExists(app + "logs\\free.log"));
    SetFileAttributesA((app + "logs\\sub\\locked.log").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The links are made from Linux by the stage_links fixture: tree\logs\linked
// and tree\linkedroot point at ..\outside, which the patterns never name:
// neither as their own folder nor as a folder on the way to it.
TEST(Wildcards, ReparsePointsAreNeverFollowed) {
    std::string root = "C:\\qvtest\\reparse\\";
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              GetFileAttributesA((root + "tree\\logs\\linked").c_str()) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    MakeFile(root + "outside\\victim.log");
    MakeFile(root + "outside\\deeper\\victim.log");
    MakeFile(root + "tree\\logs\\a.log");
    RemoveLeftovers(root + "tree\\", {"logs\\*.log", "linkedroot\\*.log", "linkedroot\\deeper\\*.log",
                                      "#InstallDir#\\logs\\linked\\deeper\\*.*"});
    EXPECT_FALSE(FileExists(root + "tree\\logs\\a.log"));
    EXPECT_TRUE(FileExists(root + "outside\\victim.log"));
    EXPECT_TRUE(FileExists(root + "outside\\deeper\\victim.log"));
    EXPECT_TRUE(FileExists(root + "tree\\logs\\linked"));
}

}  // namespace
