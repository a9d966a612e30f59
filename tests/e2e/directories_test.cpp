// The directory passes under Wine: the directory list's files and folders with
// their bounded walk upward, and the folders that the file pass emptied.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "scenario.h"

namespace {

std::string TestName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH];
    EXPECT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, folder))) << csidl;
    return folder;
}

// All users' documents: protected, and empty in the test prefix, so a pass
// that ignored the protection would remove it.
std::string PublicDocuments() {
    return ShellFolder(CSIDL_COMMON_DOCUMENTS);
}

std::string ProgramFiles() {
    return ShellFolder(CSIDL_PROGRAM_FILES);
}

// Creates the folder and every missing parent.
// A folder of the running test beside the shared ones of the prefix (program
// files, all users' documents), gone before and after the test; the shared
// folder itself is put back should a faulty pass have removed it.
class ForeignFolder {
public:
    explicit ForeignFolder(const std::string& parent) : parent_(parent), path_(parent + "\\QvTest_" + TestName()) {
        RemoveTree(path_);
    }
    ~ForeignFolder() {
        RemoveTree(path_);
        CreateDirectoryA(parent_.c_str(), NULL);
    }
    const std::string& path() const { return path_; }

private:
    std::string parent_, path_;
};

PackData DataWith(std::vector<PackDirectory> directories, std::vector<PackFile> files = {}) {
    PackData data;
    data.messages = TestMessages();
    data.directories = directories;
    data.files = files;
    return data;
}

void RunQuietly(const std::string& exe) {
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
}

TEST(DirectoryEntries, FileNameGoesFirstAndLevelsBoundTheWalk) {
    std::string app = FreshTestFolder();
    MakeFolders(app + "zero\\inner");
    MakeFile(app + "zero\\inner\\readme.txt");
    MakeFolders(app + "two\\a\\b\\c");
    MakeFolders(app + "kept\\folder");
    MakeFile(app + "kept\\folder\\named.txt");
    MakeFile(app + "kept\\folder\\other.txt");
    MakeFolders(app + "absent");
    RunQuietly(WriteUninstaller(app, DataWith({
        {0, app + "zero\\inner", "", "readme.txt"},
        {2, app + "two\\a\\b\\c", "", ""},
        {0, app + "kept\\folder", "", "named.txt"},
        {0, "", "", ""},
        {1, app + "absent\\none", "", "missing.txt"},
    })));
    // The file went before the folder was tried, so the folder was empty.
    EXPECT_FALSE(FileExists(app + "zero\\inner"));
    EXPECT_TRUE(FileExists(app + "zero"));  // Levels 0: no parent
    EXPECT_FALSE(FileExists(app + "two\\a"));
    EXPECT_TRUE(FileExists(app + "two"));  // Levels 2: the folder and two parents
    EXPECT_FALSE(FileExists(app + "kept\\folder\\named.txt"));
    EXPECT_TRUE(FileExists(app + "kept\\folder\\other.txt"));
    EXPECT_FALSE(FileExists(app + "absent"));  // a missing folder does not end the walk
}

TEST(DirectoryEntries, AltPathIsWalkedInStepAndRefusalsDoNotEndTheWalk) {
    std::string app = FreshTestFolder();
    MakeFolders(app + "main\\x\\y");
    MakeFolders(app + "alt\\p\\q");
    MakeFolders(app + "held\\h");
    MakeFile(app + "held\\h\\unlisted.txt");
    MakeFolders(app + "free\\f");
    RunQuietly(WriteUninstaller(app, DataWith({
        {1, app + "main\\x\\y", app + "alt\\p\\q", ""},
        // The first folder of the pair keeps its content; its partner still goes, level by level.
        {1, app + "held\\h", app + "free\\f", ""},
    })));
    EXPECT_FALSE(FileExists(app + "main\\x"));
    EXPECT_TRUE(FileExists(app + "main"));
    EXPECT_FALSE(FileExists(app + "alt\\p"));
    EXPECT_TRUE(FileExists(app + "alt"));
    EXPECT_TRUE(FileExists(app + "held\\h\\unlisted.txt"));
    EXPECT_FALSE(FileExists(app + "free"));
    EXPECT_TRUE(FileExists(app + "uninst.exe"));
}

// The all-users desktop and startup folders are protected on NT only: on 9x
// the walk goes on into them, and they are empty in the test prefix.
TEST(DirectoryEntries, WalkStopsAtAProtectedFolder) {
    std::string app = FreshTestFolder();
    std::string desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY), startup = ShellFolder(CSIDL_COMMON_STARTUP);
    ForeignFolder vendor(ProgramFiles());
    ForeignFolder shared(PublicDocuments());
    ForeignFolder onDesktop(desktop), atStartup(startup);
    MakeFolders(vendor.path() + "\\A\\B");
    MakeFolders(shared.path() + "\\A");
    MakeFolders(onDesktop.path());
    MakeFolders(atStartup.path());
    RunQuietly(WriteUninstaller(app, DataWith({
        {9, vendor.path() + "\\A\\B", "", ""},
        {9, shared.path() + "\\A", "", ""},
        {1, onDesktop.path(), "", ""},
        {1, atStartup.path(), "", ""},
    })));
    EXPECT_FALSE(FileExists(vendor.path()));
    EXPECT_TRUE(FileExists(ProgramFiles()));
    EXPECT_FALSE(FileExists(shared.path()));
    EXPECT_TRUE(FileExists(PublicDocuments()));  // empty, but protected
    EXPECT_FALSE(FileExists(onDesktop.path()));
    EXPECT_EQ(FamilyIsNt(), FileExists(desktop));
    EXPECT_EQ(FamilyIsNt(), FileExists(startup));
}

TEST(DirectoryEntries, ProtectedAltPathStopsBoth) {
    std::string app = FreshTestFolder();
    ForeignFolder shared(PublicDocuments());
    MakeFolders(app + "P1\\P2");
    MakeFolders(shared.path());
    MakeFolders(app + "Q1");
    RunQuietly(WriteUninstaller(app, DataWith({
        // Level 0 goes; at level 1 the partner is the protected folder.
        {3, app + "P1\\P2", shared.path(), ""},
        {0, app + "Q1", PublicDocuments(), ""},
    })));
    EXPECT_FALSE(FileExists(app + "P1\\P2"));
    EXPECT_FALSE(FileExists(shared.path()));
    EXPECT_TRUE(FileExists(app + "P1"));
    EXPECT_TRUE(FileExists(PublicDocuments()));
    EXPECT_TRUE(FileExists(app + "Q1"));
}

// A folder that is the process's current directory is held open: the pass
// steps out of it first, whether it is the first folder of the pair or its
// partner. The runs have no patterns, so nothing before the directory pass
// changes the directory they were started in.
TEST(DirectoryEntries, CurrentDirectoryIsLeftBeforeItsRemoval) {
    std::string app = FreshTestFolder();
    for (const char* name : {"start1", "other1", "start2", "other2"}) MakeFolders(app + name);
    std::vector<std::pair<std::string, PackDirectory>> runs = {
        {app + "start1", {0, app + "start1", app + "other1", ""}},
        {app + "start2", {0, app + "other2", app + "start2", ""}},
    };
    for (const auto& run : runs) {
        std::string exe = WriteUninstaller(app, DataWith({run.second}));
        RunResult result = RunAndAnswer("\"" + exe + "\" /Q", {}, 20000, run.first.c_str());
        EXPECT_TRUE(result.started);
        EXPECT_EQ(0u, result.exitCode);
    }
    for (const char* name : {"start1", "other1", "start2", "other2"}) EXPECT_FALSE(FileExists(app + name)) << name;
}

// A folder and file name too long for a path are skipped, never cut short:
// the file named by the first 259 characters stays.
TEST(DirectoryEntries, FileNamesThatDoNotFitAreSkipped) {
    std::string app = FreshTestFolder();
    std::string folder = app + std::string(240 - app.size(), 'd');
    MakeFolders(folder);
    std::string name = "abcdefghijklmnopqrstuvwxyz.txt";
    std::string cut = (folder + "\\" + name).substr(0, 259);
    ASSERT_GT(cut.size(), folder.size() + 1);
    MakeFile(cut);
    MakeFolders(app + "short");
    MakeFile(app + "short\\named.txt");
    RunQuietly(WriteUninstaller(app, DataWith({
        {0, folder, "", name},
        {0, app + "short", "", "named.txt"},
    })));
    EXPECT_TRUE(FileExists(cut));
    EXPECT_FALSE(FileExists(app + "short"));
}

TEST(EmptiedFolders, InstalledFoldersGoUpToTheFirstProtectedOne) {
    std::string app = FreshTestFolder();
    ForeignFolder vendor(ProgramFiles());
    ForeignFolder shared(PublicDocuments());
    MakeFolders(vendor.path() + "\\App\\data");
    MakeFile(vendor.path() + "\\App\\app.exe");
    MakeFile(vendor.path() + "\\App\\data\\d.txt");
    MakeFolders(shared.path() + "\\App");
    MakeFile(shared.path() + "\\App\\x.txt");
    MakeFolders(app + "sub\\deep");
    MakeFile(app + "sub\\deep\\f.txt");
    MakeFolders(app + "nested\\inner");
    MakeFile(app + "nested\\inner\\g.txt");
    MakeFolders(app + "partly\\inner");
    MakeFile(app + "partly\\inner\\h.txt");
    MakeFile(app + "partly\\unlisted.txt");
    MakeFile(app + "top.txt");
    RunQuietly(WriteUninstaller(app, DataWith({}, {
        {vendor.path() + "\\App", "app.exe"},
        {vendor.path() + "\\App\\data", "d.txt"},
        {shared.path() + "\\App\\", "x.txt"},
        {".\\sub\\deep", "f.txt"},
        {".", "nested\\inner\\g.txt"},  // a name with folders leaves its deepest one
        {".\\partly\\inner", "h.txt"},
        {".", "top.txt"},
    })));
    // Program files is never empty; all users' documents is, and stays too.
    EXPECT_FALSE(FileExists(vendor.path()));
    EXPECT_TRUE(FileExists(ProgramFiles()));
    EXPECT_FALSE(FileExists(shared.path()));
    EXPECT_TRUE(FileExists(PublicDocuments()));
    EXPECT_FALSE(FileExists(app + "sub"));
    EXPECT_FALSE(FileExists(app + "nested"));
    EXPECT_FALSE(FileExists(app + "partly\\inner"));
    EXPECT_TRUE(FileExists(app + "partly\\unlisted.txt"));
    EXPECT_TRUE(FileExists(app + "uninst.exe"));
}

// The wildcard pass leaves the installation folder without its backslash;
// folders relative to it must still be composed right afterwards.
TEST(EmptiedFolders, FoldersUnderTheInstallationFolderAfterAWildcardPattern) {
    std::string app = FreshTestFolder();
    MakeFolders(app + "logs");
    MakeFile(app + "logs\\run.log");
    MakeFolders(app + "sub");
    MakeFile(app + "sub\\f.txt");
    PackData data = DataWith({}, {{".\\sub", "f.txt"}});
    data.patterns = {"logs\\*.log"};  // its walk stays out of "sub"
    RunQuietly(WriteUninstaller(app, data));
    EXPECT_FALSE(FileExists(app + "logs\\run.log"));
    EXPECT_FALSE(FileExists(app + "sub"));
    EXPECT_TRUE(FileExists(app + "uninst.exe"));
}

TEST(EmptiedFolders, FontEntriesTakeNoPart) {
    std::string app = FreshTestFolder();
    MakeFolders(app + "fonts");
    MakeFile(app + "fonts\\face.ttf");
    MakeFolders(app + "other");
    MakeFile(app + "other\\plain.txt");
    RunQuietly(WriteUninstaller(app, DataWith({}, {
        {".\\fonts", "face.ttf", 2},
        {".\\other", "plain.txt"},
    })));
    EXPECT_FALSE(FileExists(app + "fonts\\face.ttf"));
    EXPECT_TRUE(FileExists(app + "fonts"));
    EXPECT_FALSE(FileExists(app + "other"));
}

}  // namespace
