// Installations named in a double-byte code page, run under the locale that
// gives one (ctest's double_byte.* entries set LC_ALL). In code page 932, ソ
// is 0x83 0x5C and 表 0x95 0x5C: their second byte is a backslash, and a
// byte-wise step through a path cuts them in half. Wine then drops the lone
// first byte, so a cut path names a real, different folder. The characters
// are chosen from the code page in force, so the same test serves 936 too.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char CurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char UserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

DWORD ReadCount(const std::string& path) {
    std::string bytes;
    return ReadValue(HKEY_LOCAL_MACHINE, SharedDlls, path, &bytes) && bytes.size() == 4 ? *(const DWORD*)bytes.data() : 0;
}

// Every pass, each in a folder whose names end in a character with a
// backslash for its second byte (A and B), with what a byte-wise cut would
// reach laid out beside it: nothing outside the installation goes.
TEST(DoubleByte, EveryPassStepsThroughPathsByCharacters) {
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize < 2) GTEST_SKIP() << "a single-byte code page: " << GetACP();
    std::vector<std::string> slash = FindDoubleByteCharacters(0x5C, 2), plain = FindDoubleByteCharacters(0, 1);
    ASSERT_EQ(2u, slash.size()) << "code page " << GetACP();
    const std::string a = slash[0], b = slash[1], c = plain[0], base = FreshTestFolder();

    // The installation folder ends in A; beside it, names that begin with A.
    const std::string install = base + "App\\" + a + "\\";
    for (const char* name : {"app.exe", "sub\\data.txt", "logs\\z.log", "lib.dll"}) MakeFile(install + name);
    for (const char* name : {"app.exe", "uninst.exe", "sub\\data.txt", "logs\\z.log"}) MakeFile(base + "App\\" + a + name);
    // A listed subfolder ending in B: beside it an unlisted file that a lost
    // separator would name, and an empty folder that a cut would name.
    MakeFile(install + c + b + "\\plugin.dll");
    MakeFile(install + c + b + "plugin.dll");
    MakeFolders(install + c);
    SetValue(HKEY_LOCAL_MACHINE, SharedDlls, install + "lib.dll", REG_DWORD, std::string("\2\0\0\0", 4));
    // A climb of one from a folder ending in B's name, beside the empty
    // folder a cut inside B would name.
    const std::string climbing = base + "PF\\" + a + "ft" + b + "ji";
    MakeFolders(climbing + "\\data");
    MakeFolders(base + "PF\\" + a + "ft");
    // The common-files folder (protected) with an installation below it.
    const std::string common = base + "PF" + a;
    MakeFile(common + "\\" + b + "ji\\x.txt");
    // A user's application data under a user named in the code page.
    const std::string appData = base + "users\\" + b + "ji\\AppData\\Roaming";
    for (const char* name : {"\\Vendor", "\\Vendor\\deep"}) MakeFile(appData + name + a + "\\left.log");
    MakeFile(appData + "\\Vendor" + a + "keep.log");

    // Registry parts ending in A: a key entry below one, and a value entry
    // of one, which a byte-wise reader takes for a value and a whole key.
    const std::string keys = "Software\\QvDoubleByte\\" + a;
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QvDoubleByte");
    SetText(HKEY_CURRENT_USER, keys + "\\sub", "v", "x");
    SetText(HKEY_CURRENT_USER, keys, "val", "x");
    SetText(HKEY_CURRENT_USER, keys, "other", "x");

    PackData data = TestData();
    data.registry = {{0x80000001, keys + "\\sub"}, {0x80000001, keys + "\\\\val"}};
    data.files = {{".", "app.exe"}, {".\\sub", "data.txt"}, {".", "lib.dll", 1}, {".\\" + c + b, "plugin.dll"},
                  {common + "\\" + b + "ji", "x.txt"}};
    data.patterns = {"logs\\*.log", "#AppData#\\Vendor" + a + "\\*.log"};
    data.directories = {{1, climbing + "\\data", "", ""}};
    std::string savedCommon, savedAppData;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, CurrentVersion, "CommonFilesDir", &savedCommon));
    bool hadAppData = ReadValue(HKEY_CURRENT_USER, UserShellFolders, "AppData", &savedAppData);
    SetText(HKEY_LOCAL_MACHINE, CurrentVersion, "CommonFilesDir", common);
    SetText(HKEY_CURRENT_USER, UserShellFolders, "AppData", appData);
    RunResult run = RunUninstaller(WriteUninstaller(install, data), "", {BoxAnswer(IDOK), BoxAnswer(IDOK)});
    SetValue(HKEY_LOCAL_MACHINE, CurrentVersion, "CommonFilesDir", REG_SZ, savedCommon);
    if (hadAppData) SetValue(HKEY_CURRENT_USER, UserShellFolders, "AppData", REG_EXPAND_SZ, savedAppData);
    else RegDeleteKeyValueA(HKEY_CURRENT_USER, UserShellFolders, "AppData");
    EXPECT_EQ(0u, run.exitCode);

    // The shared library is kept for its other user; the uninstaller goes
    // once it has ended.
    EXPECT_EQ(1u, ReadCount(install + "lib.dll"));
    EXPECT_TRUE(FileExists(install + "lib.dll"));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SharedDlls, (install + "lib.dll").c_str());
    EXPECT_TRUE(WaitForFileGone(install + "uninst.exe", 10000));
    for (const char* gone : {"app.exe", "sub", "logs\\z.log"}) EXPECT_FALSE(FileExists(install + gone)) << gone;
    EXPECT_FALSE(FileExists(install + c + b));
    for (const char* name : {"app.exe", "uninst.exe", "sub\\data.txt", "logs\\z.log"}) EXPECT_TRUE(FileExists(base + "App\\" + a + name)) << name;
    EXPECT_TRUE(FileExists(install + c + b + "plugin.dll"));
    EXPECT_TRUE(FileExists(install + c));
    EXPECT_FALSE(FileExists(climbing));
    EXPECT_TRUE(FileExists(base + "PF\\" + a + "ft"));
    EXPECT_FALSE(FileExists(common + "\\" + b + "ji"));
    EXPECT_TRUE(FileExists(common));
    EXPECT_FALSE(FileExists(appData + "\\Vendor" + a));
    EXPECT_TRUE(FileExists(appData + "\\Vendor" + a + "keep.log"));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys + "\\sub", "v"));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys, "val"));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, keys, "other"));
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QvDoubleByte");
}

}  // namespace
