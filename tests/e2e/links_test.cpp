// Links in and on the way to an installation, and the uninstaller started by
// its short path. The links are made from Linux by the stage_links fixture
// (Wine's own call makes none): under C:\qvtest\links, app holds file links
// listed.txt, shared.dll and logs\match.log and a folder link dirlink, all
// into links\outside, whose targets each test lays out anew; linkedapp is a
// folder link to outside\appdir. Under Wine, deleting a link deletes its
// target, and removing a folder link removes the target folder.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

const std::string Links = "C:\\qvtest\\links\\", App = Links + "app\\", Outside = Links + "outside\\";
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

DWORD ReadCount(const std::string& path) {
    std::string bytes;
    if (!ReadValue(HKEY_LOCAL_MACHINE, SharedDlls, path, &bytes) || bytes.size() != 4) return 0;
    return *(const DWORD*)bytes.data();
}

void SetCount(const std::string& path, DWORD count) {
    SetValue(HKEY_LOCAL_MACHINE, SharedDlls, path, REG_DWORD, std::string((const char*)&count, 4));
}

// A listed file, a shared library counted once and a leftover of a pattern,
// each a link to a file outside: the links stay and their targets too, the
// count untouched. A directory entry, the folder of a listed file and a
// folder entry on or beyond a folder link: nothing beyond the link goes,
// though outside\dir\sub is empty and outside\dir would be once it went.
TEST(Links, AreLeftWhereTheyAreAndTheirTargetsStay) {
    for (const char* target : {"precious.txt", "shared.dll", "match.log"}) MakeFile(Outside + target);
    MakeFolders(Outside + "dir\\sub");
    ASSERT_TRUE(FileExists(App + "dirlink") && FileExists(App + "listed.txt")) << "the links are not staged";
    MakeFile(App + "own.txt");
    MakeFile(App + "logs\\own.log");
    SetCount(App + "shared.dll", 1);
    PackData data = TestData();
    data.files = {{".", "own.txt"}, {".", "listed.txt"}, {".", "shared.dll", 1}, {App + "dirlink\\sub", "absent.txt"},
                  {App + "dirlink", ""}};
    data.patterns = {"logs\\*.log"};
    data.directories = {{2, App + "dirlink\\sub", "", ""}};
    RunQuietly(App, data);
    for (const char* target : {"precious.txt", "shared.dll", "match.log", "dir\\sub"}) EXPECT_TRUE(FileExists(Outside + target)) << target;
    EXPECT_EQ(1u, ReadCount(App + "shared.dll"));
    EXPECT_FALSE(FileExists(App + "own.txt"));
    EXPECT_FALSE(FileExists(App + "logs\\own.log"));
    DWORD link = GetFileAttributesA((App + "dirlink").c_str());
    EXPECT_TRUE(link != INVALID_FILE_ATTRIBUTES && (link & FILE_ATTRIBUTE_REPARSE_POINT));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (App + "shared.dll").c_str());
}

// An installation folder that is a link: its files go, the batch removes the
// uninstaller, and the link and its target folder stay.
TEST(Links, AnInstallationFolderThatIsALinkStays) {
    const std::string linked = Links + "linkedapp\\";
    MakeFolders(Outside + "appdir");
    MakeFile(linked + "app.exe");
    PackData data = TestData();
    data.files = {{".", "app.exe"}};
    std::string exe = WriteUninstaller(linked, data);
    EXPECT_EQ(0u, RunUninstaller(exe, "", {BoxAnswer(IDOK), BoxAnswer(IDOK)}).exitCode);
    EXPECT_TRUE(WaitForFileGone(exe, 10000));
    Sleep(500);  // the batch would remove the folder right after
    EXPECT_FALSE(FileExists(Outside + "appdir\\app.exe"));
    EXPECT_TRUE(FileExists(Outside + "appdir"));
}

// Started by its short path, as stored uninstall commands often do: a
// library counted twice is kept and counted once, and the folders go as far
// as when started by the long path. (Wine gives the long path anyway; the
// long form is unit-tested behind the seam that takes the started path.)
TEST(ShortPath, StartedByItsShortPathItKeepsCountsAndClimbsAlike) {
    const std::string app = FreshTestFolder() + "Long Folder Name\\";
    MakeFile(app + "lib.dll");
    MakeFile(app + "sub folder\\f.txt");
    SetCount(app + "lib.dll", 2);
    PackData data = TestData();
    data.files = {{".", "lib.dll", 1}, {".\\sub folder", "f.txt"}};
    std::string exe = WriteUninstaller(app, data);
    char shortExe[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(exe.c_str(), shortExe, MAX_PATH), 0u);
    ASSERT_NE(std::string::npos, std::string(shortExe).find('~'));
    RunResult run = RunUninstaller(shortExe, "", {BoxAnswer(IDOK), BoxAnswer(IDOK)});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<std::string>({TestMessages()[1], TestMessages()[2]}), PromptTexts(run));
    EXPECT_TRUE(FileExists(app + "lib.dll"));
    EXPECT_EQ(1u, ReadCount(app + "lib.dll"));
    EXPECT_FALSE(FileExists(app + "sub folder"));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (app + "lib.dll").c_str());
}

}  // namespace
