// The directory passes under Wine: exactly how far the walk of a directory
// entry goes, and the folders that the file pass emptied. That nothing else
// goes is the soak test's.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "scenario.h"

namespace {

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH];
    EXPECT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, folder))) << csidl;
    return folder;
}

// A folder of the running test beside a shared one of the prefix (all users'
// documents, say, protected and empty), gone before and after the test; the
// shared folder itself is put back should a faulty pass have removed it.
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

TEST(DirectoryEntries, FileNameGoesFirstAndLevelsBoundTheWalk) {
    std::string app = FreshTestFolder();
    MakeFile(app + "zero\\inner\\readme.txt");
    MakeFolders(app + "two\\a\\b\\c");
    MakeFolders(app + "absent");
    PackData data = TestData();
    data.directories = {
        {0, app + "zero\\inner", "", "readme.txt"},
        {2, app + "two\\a\\b\\c", "", ""},
        {0, "", "", ""},
        {1, app + "absent\\none", "", "missing.txt"},
    };
    RunQuietly(app, data);
    EXPECT_FALSE(FileExists(app + "zero\\inner"));  // its file went first
    EXPECT_TRUE(FileExists(app + "zero"));  // Levels 0: no parent
    EXPECT_FALSE(FileExists(app + "two\\a"));
    EXPECT_TRUE(FileExists(app + "two"));  // Levels 2: the folder and two parents
    EXPECT_FALSE(FileExists(app + "absent"));  // a missing folder does not end the walk
}

TEST(DirectoryEntries, AltPathIsWalkedInStepAndRefusalsDoNotEndTheWalk) {
    std::string app = FreshTestFolder();
    MakeFolders(app + "main\\x\\y");
    MakeFolders(app + "alt\\p\\q");
    MakeFile(app + "held\\h\\unlisted.txt");
    MakeFolders(app + "free\\f");
    PackData data = TestData();
    data.directories = {
        {1, app + "main\\x\\y", app + "alt\\p\\q", ""},
        // The first folder of the pair keeps its content; its partner still goes, level by level.
        {1, app + "held\\h", app + "free\\f", ""},
    };
    RunQuietly(app, data);
    EXPECT_FALSE(FileExists(app + "main\\x"));
    EXPECT_TRUE(FileExists(app + "main"));
    EXPECT_FALSE(FileExists(app + "alt\\p"));
    EXPECT_TRUE(FileExists(app + "alt"));
    EXPECT_TRUE(FileExists(app + "held\\h\\unlisted.txt"));
    EXPECT_FALSE(FileExists(app + "free"));
}

// The walk ends at the first level at which either folder of the pair is
// protected; all users' documents is, and is empty in the test prefix.
TEST(DirectoryEntries, WalkStopsAtAProtectedFolder) {
    std::string app = FreshTestFolder();
    std::string documents = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    ForeignFolder shared(documents);
    MakeFolders(shared.path() + "\\A");
    MakeFolders(app + "P1\\P2");
    MakeFolders(app + "Q1");
    PackData data = TestData();
    data.directories = {
        {3, app + "P1\\P2", shared.path(), ""},  // at level 1 the partner is all users' documents
        {0, app + "Q1", documents, ""},
        {9, shared.path() + "\\A", "", ""},
    };
    RunQuietly(app, data);
    EXPECT_FALSE(FileExists(app + "P1\\P2"));
    EXPECT_TRUE(FileExists(app + "P1"));
    EXPECT_TRUE(FileExists(app + "Q1"));
    EXPECT_FALSE(FileExists(shared.path()));
    EXPECT_TRUE(FileExists(documents));
}

// A folder that is the process's current directory is held open: the pass
// steps out of it first, whether it is the first folder of the pair or its
// partner. The runs have no patterns, so nothing before the directory pass
// changes the directory they were started in.
TEST(DirectoryEntries, CurrentDirectoryIsLeftBeforeItsRemoval) {
    std::string app = FreshTestFolder();
    const std::vector<std::string> names = {"start1", "other1", "start2", "other2"};
    for (const std::string& name : names) MakeFolders(app + name);
    const struct { std::string current; PackDirectory entry; } runs[] = {
        {app + "start1", {0, app + "start1", app + "other1", ""}},
        {app + "start2", {0, app + "other2", app + "start2", ""}},
    };
    for (const auto& run : runs) {
        PackData data = TestData();
        data.directories = {run.entry};
        RunResult result = RunAndAnswer("\"" + WriteUninstaller(app, data) + "\" /Q", {}, 20000, run.current.c_str());
        EXPECT_EQ(0u, result.exitCode);
    }
    for (const std::string& name : names) EXPECT_FALSE(FileExists(app + name)) << name;
}

// The folders that held installed files go, with every parent this leaves
// empty, up to the first protected one. Font entries take no part: fonts
// live in the Fonts folder. The wildcard pass before leaves the installation
// folder named without its backslash, which relative folders must survive.
TEST(EmptiedFolders, GoUpToTheFirstProtectedOne) {
    std::string app = FreshTestFolder();
    std::string documents = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    ForeignFolder shared(documents);
    MakeFile(shared.path() + "\\App\\x.txt");
    MakeFile(app + "sub\\deep\\f.txt");
    MakeFile(app + "nested\\inner\\g.txt");
    MakeFile(app + "fonts\\face.ttf");
    MakeFile(app + "logs\\run.log");
    PackData data = TestData();
    data.files = {
        {shared.path() + "\\App\\", "x.txt"},
        {".\\sub\\deep", "f.txt"},
        {".", "nested\\inner\\g.txt"},  // a name with folders leaves its deepest one
        {".\\fonts", "face.ttf", 2},
    };
    data.patterns = {"logs\\*.log"};
    RunQuietly(app, data);
    EXPECT_FALSE(FileExists(shared.path()));
    EXPECT_TRUE(FileExists(documents));  // empty, but protected
    EXPECT_FALSE(FileExists(app + "sub"));
    EXPECT_FALSE(FileExists(app + "nested"));
    EXPECT_FALSE(FileExists(app + "fonts\\face.ttf"));
    EXPECT_TRUE(FileExists(app + "fonts"));
    EXPECT_TRUE(FileExists(app + "uninst.exe"));
}

}  // namespace
