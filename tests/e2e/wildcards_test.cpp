// Wildcard patterns under Wine: tokens, and what a pattern must never reach,
// by its spelling or through a link. Which leftovers go in general is the
// soak test's.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "scenario.h"

namespace {

void RemoveLeftovers(const std::string& app, std::vector<std::string> patterns) {
    PackData data = TestData();
    data.patterns = patterns;
    RunQuietly(app, data);
}

std::string Folder(int csidl) {
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(NULL, csidl, NULL, 0, folder);
    return folder;
}

// The walk cleans the expanded folder and removes what it emptied; a
// read-only match stays, and so does its folder. An unknown token names nothing.
TEST(Wildcards, TokenPatternWorksInTheExpandedFolder) {
    std::string data = Folder(CSIDL_APPDATA) + "\\QvTest Wildcards";
    RemoveTree(data);
    MakeFile(data + "\\cache\\a.tmp");
    MakeFile(data + "\\b.tmp");
    MakeFile(data + "\\notes.txt");
    MakeFile(data + "\\locked\\c.tmp", true);
    RemoveLeftovers(FreshTestFolder(), {"#AppData#\\QvTest Wildcards\\*.tmp", "#NoSuchToken#\\QvTest Wildcards\\*.txt"});
    EXPECT_FALSE(FileExists(data + "\\cache"));
    EXPECT_FALSE(FileExists(data + "\\b.tmp"));
    EXPECT_TRUE(FileExists(data + "\\notes.txt"));
    EXPECT_TRUE(FileExists(data + "\\locked\\c.tmp"));
    RemoveTree(data);
}

// With the shell unable to give the user's application data (its "User Shell
// Folders" entry names a missing folder), #AppData# falls back to the
// family's folder under the Windows folder; neither exists in the prefix.
TEST(Wildcards, TokenFallsBackToTheFamilysFolder) {
    const char shellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    std::string windows = Folder(CSIDL_WINDOWS);
    std::string nt = windows + "\\Profiles\\Administrator\\Application Data\\QvTest\\a.tmp";
    std::string nineX = windows + "\\Application Data\\QvTest\\a.tmp";
    MakeFile(nt);
    MakeFile(nineX);
    std::string saved;
    DWORD type;
    ASSERT_TRUE(ReadValue(HKEY_CURRENT_USER, shellFolders, "AppData", &saved, &type));
    SetText(HKEY_CURRENT_USER, shellFolders, "AppData", "C:\\qvtest\\no such folder");
    RemoveLeftovers(FreshTestFolder(), {"#AppData#\\QvTest\\*.tmp"});
    SetValue(HKEY_CURRENT_USER, shellFolders, "AppData", type, saved);
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
    const char currentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
    std::string app = FreshTestFolder(), saved;
    MakeFile(app + "tree\\common\\inner\\a.log");
    MakeFile(app + "tree\\sibling\\b.log");
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", &saved));
    SetText(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", app + "tree\\common");
    RemoveLeftovers(app, {"tree\\*.log"});
    SetValue(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", REG_SZ, saved);
    EXPECT_TRUE(FileExists(app + "tree\\common\\inner\\a.log"));
    EXPECT_FALSE(FileExists(app + "tree\\sibling"));
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
