// Folder tokens: how number signs pair, measuring, all-or-nothing results
// whatever the lengths, and each token's source and fallbacks as Wine
// answers them. The 9x fallbacks are reached by setting the platform flag,
// with the shell made to fail through its registry settings.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "paths/folder_tokens.h"
#include "paths/path_helpers.h"

namespace {

const uint32_t WorkAreaSize = 65500;

// Expands the way the driver does: measure, then expand into exactly that.
std::string Expand(const std::string& source) {
    uint32_t length = ExpandTokens(nullptr, source.c_str(), WorkAreaSize);
    std::vector<char> text(length + 1, 'Z');
    EXPECT_EQ(length, ExpandTokens(text.data(), source.c_str(), length + 1)) << source;
    EXPECT_EQ(length, strlen(text.data())) << source;
    return text.data();
}

std::string Resolve(const std::string& token) {
    char buffer[PathBufferSize] = {};
    lstrcpynA(buffer, token.c_str(), sizeof buffer);
    ResolveFolderToken(buffer);
    return buffer;
}

std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    return std::string(folder, GetWindowsDirectoryA(folder, MAX_PATH));
}

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    return std::string(folder, GetSystemDirectoryA(folder, MAX_PATH));
}

std::string WithoutBackslash(std::string path) {
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder)) << csidl;
    return WithoutBackslash(folder);
}

const char VersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char UserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string VersionValue(const char* name) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value - 1;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, VersionKey, name, RRF_RT_REG_SZ, NULL, value, &size));
    return value;
}

// A destination of size bytes is written at most at its first byte (the
// empty result) when the result does not fit.
void ExpectNothingDelivered(const std::vector<char>& destination, const std::string& what) {
    EXPECT_EQ(0, destination[0]) << what;
    EXPECT_EQ(std::string(destination.size() - 1, 'Z'), std::string(destination.begin() + 1, destination.end()))
        << what;
}

// Sets the platform flag and the install folder for one test, and puts back
// what was there.
class FolderTokenTest : public testing::Test {
protected:
    void SetUp() override {
        savedPlatform_ = IsNtPlatform;
        savedInstallDir_ = InstallDir;
        InstallDir = installDir_;
        SetInstallDir("C:\\qvtest\\App\\");
        IsNtPlatform = 1;
    }
    void TearDown() override {
        IsNtPlatform = savedPlatform_;
        InstallDir = savedInstallDir_;
    }
    void SetInstallDir(const std::string& folder) {
        ASSERT_LT(folder.size(), sizeof installDir_);
        strcpy(installDir_, folder.c_str());
    }

private:
    int savedPlatform_ = 0;
    char* savedInstallDir_ = nullptr;
    char installDir_[PathBufferSize] = {};
};

using FolderTokenExpansion = FolderTokenTest;

TEST_F(FolderTokenExpansion, SignsPairFromLeftToRightAndOnlyKnownWholeNamesResolve) {
    const std::string w = WindowsFolder(), app = "C:\\qvtest\\App", longName(300, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"C:\\Some Folder\\logs\\*.log", "C:\\Some Folder\\logs\\*.log"},
        // Any letter case; the data writes its own backslash after a token.
        {"#windows#", w},
        {"#WINDOWS#\\Fonts", w + "\\Fonts"},
        {"#inSTALLdir#", app},
        {"#program files#", VersionValue("ProgramFilesDir")},
        {"\"#InstallDir#\\setup.exe\" /remove", "\"" + app + "\\setup.exe\" /remove"},
        // Unknown, empty and not-quite-known tokens are removed.
        {"#NoSuchFolder#\\name", "\\name"},
        {"a##b", "ab"},
        {"####", ""},
        {"#Windows #x", "x"},
        {"#WindowsDir#", ""},
        {"#" + longName + "#\\x#Windows#", "\\x" + w},  // too long for a path: unknown
        // A single sign stays as written.
        {"50#off", "50#off"},
        {"#", "#"},
        // Strict pairing: a lone sign pairs with a token's opening sign, whose
        // closing sign is then unmatched.
        {"#Windows##System#", w + SystemFolder()},
        {"#Windows#System#Temp", w + "System#Temp"},
        {"x#y#Windows#\\z", "xWindows#\\z"},
        {"#InstallDir#\\#x#Windows#", app + "\\Windows#"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Expand(c.first)) << c.first;
    EXPECT_EQ("", Resolve("#NoSuchFolder#"));
}

TEST_F(FolderTokenExpansion, InstallDirIsTakenAsItIsAndNeverScannedAgain) {
    EXPECT_EQ("C:\\qvtest\\App", Resolve("#InstallDir#"));
    SetInstallDir("C:\\");  // a root keeps its backslash
    EXPECT_EQ("C:\\", Resolve("#InstallDir#"));
    EXPECT_EQ("C:\\x", Expand("#InstallDir#x"));
    SetInstallDir("C:\\qv#Windows#\\");
    EXPECT_EQ("C:\\qv#Windows#", Expand("#InstallDir#"));
    SetInstallDir("C:\\a#b\\");
    EXPECT_EQ("C:\\a#b\\c" + SystemFolder(), Expand("#InstallDir#\\c#System#"));
    EXPECT_EQ("C:\\a#b#", Expand("#InstallDir##"));
}

// Measuring writes nothing; a result that does not fit is not delivered at
// all, and nothing is written beyond the size given.
TEST_F(FolderTokenExpansion, AResultIsDeliveredWholeOrNotAtAll) {
    const char source[] = "#Windows#\\x";
    std::string expanded = WindowsFolder() + "\\x";
    uint32_t length = uint32_t(expanded.size());
    for (uint32_t size : {0u, 1u, WorkAreaSize}) EXPECT_EQ(length, ExpandTokens(nullptr, source, size));
    for (uint32_t size : {0u, 1u, 2u, length - 1, length}) {
        std::vector<char> destination(PathBufferSize, 'Z');
        EXPECT_EQ(length, ExpandTokens(destination.data(), source, size)) << size;
        if (size == 0) EXPECT_EQ(std::string(PathBufferSize, 'Z'), std::string(destination.begin(), destination.end()));
        else ExpectNothingDelivered(destination, std::to_string(size));
    }
    std::vector<char> destination(PathBufferSize, 'Z');
    EXPECT_EQ(length, ExpandTokens(destination.data(), source, length + 1));
    EXPECT_EQ(expanded, destination.data());
    EXPECT_EQ('Z', destination[length + 1]);
}

// The wildcard pass expands into a path buffer and skips what does not fit.
TEST_F(FolderTokenExpansion, APathBufferTakesAtMost259Characters) {
    std::string folder = "C:\\" + std::string(200, 'f');
    SetInstallDir(folder + "\\");
    std::string name(259 - folder.size() - 1, 'n');
    std::vector<char> destination(PathBufferSize + 16, 'Z');
    EXPECT_EQ(259u, ExpandTokens(destination.data(), ("#InstallDir#\\" + name).c_str(), PathBufferSize));
    EXPECT_EQ(folder + "\\" + name, destination.data());
    std::fill(destination.begin(), destination.end(), 'Z');
    EXPECT_EQ(260u, ExpandTokens(destination.data(), ("#InstallDir#\\" + name + "n").c_str(), PathBufferSize));
    ExpectNothingDelivered(destination, "260");
}

// The expansion holds 65499 characters and a terminator; a longer one is
// measured in full but never delivered, whatever the destination's size.
TEST_F(FolderTokenExpansion, ATextBeyondTheWorkAreaIsMeasuredButNotDelivered) {
    std::string folder = "C:\\" + std::string(255, 'f');  // the longest with a backslash
    SetInstallDir(folder + "\\");
    std::string folders;
    for (int i = 0; i < 253; i++) folders += "#InstallDir#";
    std::string exact = folders + std::string(WorkAreaSize - 1 - 253 * folder.size(), 't');
    std::vector<char> destination(90000, 'Z');
    EXPECT_EQ(WorkAreaSize - 1, ExpandTokens(destination.data(), exact.c_str(), WorkAreaSize));
    EXPECT_EQ(WorkAreaSize - 1, strlen(destination.data()));
    EXPECT_EQ(folder + folder, std::string(destination.data(), 2 * folder.size()));
    EXPECT_EQ('Z', destination[WorkAreaSize]);

    std::string unmatched(70000, 'a');
    unmatched[35000] = '#';
    std::string many = folders;
    for (int i = 253; i < 300; i++) many += "#InstallDir#";
    const std::pair<std::string, size_t> tooLong[] = {
        {exact + "t", WorkAreaSize},
        {unmatched, unmatched.size()},
        {many + "#Windows#tail", 300 * folder.size() + WindowsFolder().size() + 4},
    };
    for (const auto& c : tooLong) {
        uint32_t length = uint32_t(c.second);
        std::fill(destination.begin(), destination.end(), 'Z');
        EXPECT_EQ(length, ExpandTokens(nullptr, c.first.c_str(), WorkAreaSize));
        EXPECT_EQ(length, ExpandTokens(destination.data(), c.first.c_str(), length + 1));
        EXPECT_EQ(0, destination[0]) << length;
        EXPECT_EQ('Z', destination[1]) << length;
    }
    HANDLE heaps[64];
    for (DWORD i = 0, count = GetProcessHeaps(64, heaps); i < count && i < 64; i++)
        EXPECT_TRUE(HeapValidate(heaps[i], 0, NULL)) << "heap " << i;
}

// Every token against what Wine itself reports, on both platform families:
// with the primary sources there, the platform plays no part.
TEST_F(FolderTokenTest, EachTokenGivesTheFolderWineReports) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string commonDocuments = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    const std::pair<const char*, std::string> expected[] = {
        {"#Windows#", WindowsFolder()},
        {"#System#", SystemFolder()},
        {"#TempDir#", WithoutBackslash(temp)},
        {"#CommonFiles#", VersionValue("CommonFilesDir")},
        {"#Program Files#", VersionValue("ProgramFilesDir")},
        {"#MyDocuments#", ShellFolder(CSIDL_PERSONAL)},
        {"#Desktop#", ShellFolder(CSIDL_DESKTOPDIRECTORY)},
        {"#AppData#", ShellFolder(CSIDL_APPDATA)},
        {"#LocalAppData#", ShellFolder(CSIDL_LOCAL_APPDATA)},
        {"#AllUsersAppData#", ShellFolder(CSIDL_COMMON_APPDATA)},
        {"#AllUsersDocuments#", commonDocuments},
        {"#AllUsersDesktop#", ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
        {"#UserDir#", ShellFolder(CSIDL_PROFILE)},
        {"#AllUsersDir#", commonDocuments.substr(0, commonDocuments.rfind('\\'))},
        {"#InstallDir#", "C:\\qvtest\\App"},
    };
    for (int platform = 0; platform <= 1; platform++) {
        IsNtPlatform = platform;
        for (const auto& token : expected) {
            ASSERT_GT(token.second.size(), 3u) << token.first;
            EXPECT_EQ(token.second, Resolve(token.first)) << token.first << " platform " << platform;
            EXPECT_EQ(token.second + "\\x", Expand(std::string(token.first) + "\\x")) << token.first;
        }
    }
}

// Changes one registry value for the length of a test and puts it back.
class ValueChange {
public:
    ValueChange(HKEY root, const char* path, const char* name) : root_(root), path_(path), name_(name) {
        HKEY key;
        DWORD size = 0;
        if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
            ADD_FAILURE() << path;
            return;
        }
        if (RegQueryValueExA(key, name, NULL, &type_, NULL, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            RegQueryValueExA(key, name, NULL, NULL, saved_.data(), &size);
            existed_ = true;
        }
        RegCloseKey(key);
    }
    ~ValueChange() {
        if (existed_) SetBytes(saved_.data(), DWORD(saved_.size()), type_);
        else Delete();
    }
    // Deletes the value when data is null.
    void SetBytes(const void* data, DWORD size, DWORD type) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, path_.c_str(), 0, KEY_SET_VALUE, &key));
        if (data) EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name_.c_str(), 0, type, (const BYTE*)data, size));
        else RegDeleteValueA(key, name_.c_str());
        RegCloseKey(key);
    }
    void Set(const std::string& data, DWORD type = REG_EXPAND_SZ) { SetBytes(data.c_str(), DWORD(data.size() + 1), type); }
    void Delete() { SetBytes(nullptr, 0, 0); }

private:
    HKEY root_;
    std::string path_, name_;
    DWORD type_ = 0;
    bool existed_ = false;
    std::vector<BYTE> saved_;
};

using FolderTokenRegistry = FolderTokenTest;

// A token whose value cannot be read stays as written, so that the caller
// can tell; "Common Files" is not appended to nothing.
TEST_F(FolderTokenRegistry, CommonFilesFallsBackToProgramFilesElseStaysAsWritten) {
    std::string programFilesDir = VersionValue("ProgramFilesDir");
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.Delete();
    EXPECT_EQ(programFilesDir + "\\Common Files\\x", Expand("#CommonFiles#\\x"));
    programFiles.Delete();
    EXPECT_EQ("#CommonFiles#", Resolve("#CommonFiles#"));
    EXPECT_EQ("#Program Files#\\x#CommonFiles#", Expand("#Program Files#\\x#CommonFiles#"));
}

// Any type, terminated or not, without a trailing backslash; a stored folder
// is never cut short, which would name another folder.
TEST_F(FolderTokenRegistry, ValuesUpTo259CharactersAreTakenOfAnyType) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.Delete();
    programFiles.SetBytes("C:\\QvProgs", 10, REG_BINARY);  // no terminator
    EXPECT_EQ("C:\\QvProgs", Resolve("#Program Files#"));
    EXPECT_EQ("C:\\QvProgs\\Common Files", Resolve("#CommonFiles#"));
    programFiles.Set("C:\\QvProgs\\", REG_SZ);
    EXPECT_EQ("C:\\QvProgs", Resolve("#Program Files#"));
    EXPECT_EQ("C:\\QvProgs\\Common Files", Resolve("#CommonFiles#"));

    std::string longest = "C:\\" + std::string(256, 'p');  // 259 characters
    programFiles.Set(longest, REG_SZ);
    EXPECT_EQ(longest, Resolve("#Program Files#"));
    EXPECT_EQ("#CommonFiles#", Resolve("#CommonFiles#"));  // no room for "\Common Files"
    programFiles.Set(longest + "p", REG_SZ);
    EXPECT_EQ("#Program Files#", Resolve("#Program Files#"));
    programFiles.SetBytes((longest + "p").c_str(), 260, REG_BINARY);  // all 260 bytes, no terminator
    EXPECT_EQ("#Program Files#", Resolve("#Program Files#"));
    EXPECT_EQ("#CommonFiles#", Resolve("#CommonFiles#"));
}

// The shell answers from these registry values; a folder there that does
// not exist makes it fail, as a missing or damaged profile would.
const char TestRoot[] = "C:\\qvtest";
const char TokensFolder[] = "C:\\qvtest\\tokens";
const char UserFolder[] = "C:\\qvtest\\tokens\\user";
const char RoamingFolder[] = "C:\\qvtest\\tokens\\user\\Roaming";
const char ProfilesFolder[] = "C:\\qvtest\\tokens\\profiles";  // with no profile in it
const char MissingFolder[] = "C:\\qvtest\\tokens\\missing";

class FolderTokenFallbacks : public FolderTokenRegistry {
protected:
    void SetUp() override {
        FolderTokenRegistry::SetUp();
        CreateDirectoryA(TestRoot, NULL);
        for (const char* folder : {TokensFolder, UserFolder, RoamingFolder, ProfilesFolder})
            ASSERT_TRUE(CreateDirectoryA(folder, NULL) || GetLastError() == ERROR_ALREADY_EXISTS) << folder;
    }
    void TearDown() override {
        for (const char* folder : {ProfilesFolder, RoamingFolder, UserFolder, TokensFolder}) RemoveDirectoryA(folder);
        FolderTokenRegistry::TearDown();
    }
    void ExpectFolders(const char* token, const std::string& nt, const std::string& nineX) {
        IsNtPlatform = 1;
        EXPECT_EQ(nt, Resolve(token)) << token << " on NT";
        IsNtPlatform = 0;
        EXPECT_EQ(nineX, Resolve(token)) << token << " on 9x";
        IsNtPlatform = 1;
    }

    std::string windows_ = WindowsFolder();
    ValueChange appData_{HKEY_CURRENT_USER, UserShellFolders, "AppData"};
};

// Desktop has no fallback: its token stays as written. (Documents has none
// either, but Wine answers for a missing one with a garbled path.)
TEST_F(FolderTokenFallbacks, PerUserFoldersAreRebuiltFromApplicationDataOrTheWindowsFolder) {
    // Wine turns every shell path into an item list through the desktop
    // folder, which it sets up from the profile at the first call.
    Resolve("#AppData#");
    ValueChange profiles(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                         "ProfilesDirectory");
    ValueChange local(HKEY_CURRENT_USER, UserShellFolders, "Local AppData");
    ValueChange desktop(HKEY_CURRENT_USER, UserShellFolders, "Desktop");
    profiles.Set(ProfilesFolder);
    local.Set(MissingFolder);
    desktop.Set(MissingFolder);
    appData_.Set(RoamingFolder);
    ExpectFolders("#LocalAppData#", std::string(UserFolder) + "\\Local Settings\\Application Data",
                  windows_ + "\\Application Data");
    ExpectFolders("#UserDir#", UserFolder, windows_);
    appData_.Set(MissingFolder);
    ExpectFolders("#AppData#", windows_ + "\\Profiles\\Administrator\\Application Data",
                  windows_ + "\\Application Data");
    ExpectFolders("#LocalAppData#", windows_ + "\\Profiles\\Administrator\\Local Settings\\Application Data",
                  windows_ + "\\Application Data");
    ExpectFolders("#UserDir#", "c:\\", windows_);
    ExpectFolders("#Desktop#", "#Desktop#", "#Desktop#");
    EXPECT_EQ("c:\\x", Expand("#UserDir#x"));
    EXPECT_EQ("#Desktop#\\x.lnk", Expand("#Desktop#\\x.lnk"));
    IsNtPlatform = 0;
    EXPECT_EQ(windows_ + "\\Application Data\\Vendor", Expand("#AppData#\\Vendor"));
}

TEST_F(FolderTokenFallbacks, AllUsersFoldersAreBesideTheProfileOnNt) {
    ValueChange commonAppData(HKEY_LOCAL_MACHINE, UserShellFolders, "Common AppData");
    ValueChange commonDocuments(HKEY_LOCAL_MACHINE, UserShellFolders, "Common Documents");
    ValueChange commonDesktop(HKEY_LOCAL_MACHINE, UserShellFolders, "Common Desktop");
    for (ValueChange* change : {&commonAppData, &commonDocuments, &commonDesktop}) change->Set(MissingFolder);
    const std::pair<const char*, std::string> tokens[] = {
        {"#AllUsersAppData#", "\\All Users\\Application Data"},
        {"#AllUsersDocuments#", "\\All Users\\Documents"},
        {"#AllUsersDesktop#", "\\All Users\\Desktop"},
        {"#AllUsersDir#", "\\All Users"},
    };
    // Application data's grandparent is taken for the profiles' root.
    appData_.Set(RoamingFolder);
    for (const auto& token : tokens) ExpectFolders(token.first, TokensFolder + token.second, windows_ + token.second);
    // One folder below the root has no grandparent; no folder has none.
    for (const char* appData : {TestRoot, MissingFolder}) {
        appData_.Set(appData);
        for (const auto& token : tokens)
            ExpectFolders(token.first, windows_ + "\\Profiles" + token.second, windows_ + token.second);
    }
    // With the common documents there, the all-users folder is their parent;
    // just below a drive root that is the root, backslash kept.
    commonDocuments.Set(UserFolder);
    ExpectFolders("#AllUsersDir#", TokensFolder, TokensFolder);
    commonDocuments.Set(TestRoot);
    ExpectFolders("#AllUsersDir#", "C:\\", "C:\\");
    EXPECT_EQ("C:\\x", Expand("#AllUsersDir#x"));
}

}  // namespace
