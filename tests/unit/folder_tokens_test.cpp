// Folder tokens: how number signs pair, all-or-nothing delivery whatever the
// lengths, each token's source, and the fallbacks when the registry or the
// shell has no answer. The 9x fallbacks are reached by setting the platform
// flag, with the shell made to fail through its registry settings.
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

// Measures, then expands into exactly that, as the driver does. The guard
// byte after the given size shows an unterminated result.
std::string Expand(const std::string& source) {
    uint32_t length = ExpandTokens(nullptr, source.c_str(), WorkAreaSize);
    std::vector<char> text(length + 2, 'Z');
    text.back() = 0;
    EXPECT_EQ(length, ExpandTokens(text.data(), source.c_str(), length + 1)) << source;
    return text.data();
}

std::string Resolve(const std::string& token) {
    char buffer[PathBufferSize] = {};
    lstrcpynA(buffer, token.c_str(), sizeof buffer);
    ResolveFolderToken(buffer);
    return buffer;
}

// A folder from GetWindowsDirectoryA or GetSystemDirectoryA.
std::string Folder(UINT(WINAPI* get)(LPSTR, UINT)) {
    char folder[MAX_PATH] = {};
    return std::string(folder, get(folder, MAX_PATH));
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder)) << csidl;
    return folder;
}

const char VersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char UserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string VersionValue(const char* name) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value - 1;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, VersionKey, name, RRF_RT_REG_SZ, NULL, value, &size));
    return value;
}

// Changes one registry value for the length of a test and puts it back.
class ValueChange {
public:
    ValueChange(HKEY root, const char* path, const char* name) : name_(name), saved_(1024, '\0') {
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_)) << path;
        DWORD size = DWORD(saved_.size());
        if (RegQueryValueExA(key_, name, NULL, &type_, (BYTE*)&saved_[0], &size) != ERROR_SUCCESS) type_ = REG_NONE;
        saved_.resize(type_ == REG_NONE ? 0 : size);
    }
    ~ValueChange() {
        SetBytes(saved_, type_);
        RegCloseKey(key_);
    }
    // Stores the bytes as given; REG_NONE deletes the value.
    void SetBytes(const std::string& bytes, DWORD type) {
        const BYTE* data = (const BYTE*)bytes.data();
        if (type == REG_NONE) RegDeleteValueA(key_, name_);
        else EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, name_, 0, type, data, DWORD(bytes.size())));
    }
    void Set(const std::string& text) { SetBytes(text + '\0', REG_EXPAND_SZ); }

private:
    HKEY key_ = NULL;
    const char* name_;
    DWORD type_ = REG_NONE;
    std::string saved_;
};

// Sets the platform flag and the install folder for one test, and puts back
// what was there.
class FolderTokenTest : public testing::Test {
protected:
    void SetUp() override {
        SetInstallDir("C:\\qvtest\\App\\");
        IsNtPlatform = 1;
    }
    void TearDown() override {
        IsNtPlatform = savedPlatform_;
        InstallDir = savedInstallDir_;
    }
    void SetInstallDir(const std::string& folder) {
        ASSERT_LT(folder.size(), sizeof installDir_);
        InstallDir = strcpy(installDir_, folder.c_str());
    }

    int savedPlatform_ = IsNtPlatform;
    char* savedInstallDir_ = InstallDir;
    char installDir_[PathBufferSize] = {};
};

TEST_F(FolderTokenTest, SignsPairFromLeftToRightAndOnlyKnownWholeNamesResolve) {
    const std::string w = Folder(GetWindowsDirectoryA), app = "C:\\qvtest\\App";
    const std::pair<std::string, std::string> cases[] = {
        {"#WINDOWS#\\Fonts", w + "\\Fonts"},
        {"\"#inSTALLdir#\\setup.exe\" /remove", "\"" + app + "\\setup.exe\" /remove"},
        // Unknown, empty, not-quite-known and too long tokens are removed.
        {"#NoSuchFolder#\\name", "\\name"},
        {"a##b", "ab"},
        {"#Windows #x", "x"},
        {"#" + std::string(300, 'a') + "#\\x#Windows#", "\\x" + w},
        {"50#off", "50#off"},  // a single sign stays
        // A lone sign pairs with a token's opening sign, leaving its closing one.
        {"#Windows##System#", w + Folder(GetSystemDirectoryA)},
        {"x#y#Windows#\\z", "xWindows#\\z"},
        {"#InstallDir#\\#x#Windows#", app + "\\Windows#"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Expand(c.first)) << c.first;
    // A folder is appended, never scanned again; a root keeps its backslash.
    SetInstallDir("C:\\a#Windows#\\");
    EXPECT_EQ("C:\\a#Windows#\\c" + Folder(GetSystemDirectoryA), Expand("#InstallDir#\\c#System#"));
    SetInstallDir("C:\\");
    EXPECT_EQ("C:\\x", Expand("#InstallDir#x"));
}

// Measuring writes nothing; a result that does not fit leaves empty text and
// nothing written past it or beyond the size given.
TEST_F(FolderTokenTest, AResultIsDeliveredWholeOrNotAtAll) {
    const char source[] = "#Windows#\\x";
    const std::string expanded = Folder(GetWindowsDirectoryA) + "\\x";
    const uint32_t length = uint32_t(expanded.size());
    EXPECT_EQ(length, ExpandTokens(nullptr, source, 0));
    for (uint32_t size : {0u, 1u, length, length + 1}) {
        std::string destination(PathBufferSize, 'Z');
        EXPECT_EQ(length, ExpandTokens(&destination[0], source, size)) << size;
        std::string written = size == 0 ? "" : size > length ? expanded + '\0' : std::string(1, '\0');
        EXPECT_EQ(written + std::string(PathBufferSize - written.size(), 'Z'), destination) << size;
    }
}

// The work area holds 65499 characters and a terminator; a longer text is
// measured in full, tokens after the overflow included, but never delivered.
TEST_F(FolderTokenTest, ATextBeyondTheWorkAreaIsMeasuredButNotDelivered) {
    const std::string folder = "C:\\" + std::string(255, 'f');  // the longest with a backslash
    SetInstallDir(folder + "\\");
    std::string folders;
    for (int i = 0; i < 253; i++) folders += "#InstallDir#";
    const std::string exact = folders + std::string(WorkAreaSize - 1 - 253 * folder.size(), 't');
    std::vector<char> destination(90000, 'Z');
    EXPECT_EQ(WorkAreaSize - 1, ExpandTokens(destination.data(), exact.c_str(), WorkAreaSize));
    EXPECT_EQ(WorkAreaSize - 1, strlen(destination.data()));

    std::string many = folders;
    for (int i = 253; i < 300; i++) many += "#InstallDir#";
    const std::pair<std::string, size_t> tooLong[] = {
        {exact + "t", WorkAreaSize},
        {many + "#Windows#tail", 300 * folder.size() + Folder(GetWindowsDirectoryA).size() + 4},
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

// With the primary sources there, the platform plays no part.
TEST_F(FolderTokenTest, EachTokenGivesTheFolderWineReports) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string commonDocuments = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    const std::pair<const char*, std::string> expected[] = {
        {"#Windows#", Folder(GetWindowsDirectoryA)},
        {"#System#", Folder(GetSystemDirectoryA)},
        {"#TempDir#", std::string(temp).substr(0, strlen(temp) - 1)},
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
        }
    }
}

// A stored folder is taken of any type, terminated or not, without its
// trailing backslash, but never cut short: that would name another folder.
// Common files fall back to program files; a token whose value cannot be
// read stays as written, so that the caller can tell.
TEST_F(FolderTokenTest, RegistryTokensTakeWholeValuesOrStayAsWritten) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.SetBytes("", REG_NONE);
    const std::string longest = "C:\\" + std::string(256, 'p'), stays = "#Program Files#", common = "#CommonFiles#";
    const struct {
        std::string bytes;
        DWORD type;
        std::string programFiles, commonFiles;
    } cases[] = {
        {"C:\\QvProgs", REG_BINARY, "C:\\QvProgs", "C:\\QvProgs\\Common Files"},
        {std::string("C:\\QvProgs\\", 12), REG_SZ, "C:\\QvProgs", "C:\\QvProgs\\Common Files"},
        {longest + '\0', REG_SZ, longest, common},  // no room for "\Common Files"
        {longest + "p" + '\0', REG_SZ, stays, common},
        {longest + "p", REG_BINARY, stays, common},  // all 260 bytes, no terminator
        {"", REG_NONE, stays, common},
    };
    for (const auto& c : cases) {
        programFiles.SetBytes(c.bytes, c.type);
        EXPECT_EQ(c.programFiles, Resolve("#Program Files#")) << c.bytes.size();
        EXPECT_EQ(c.commonFiles, Resolve("#CommonFiles#")) << c.bytes.size();
    }
}

// The shell answers from these registry values; a folder there that does not
// exist makes it fail, as a missing or damaged profile would. NT rebuilds
// from application data (its grandparent taken for the profiles' root) or
// else below the Windows folder; 9x keeps everything below the Windows folder.
TEST_F(FolderTokenTest, FallbacksWhenTheShellHasNoFolder) {
    const char *root = "C:\\qvtest", *tokens = "C:\\qvtest\\tokens", *user = "C:\\qvtest\\tokens\\user",
               *roaming = "C:\\qvtest\\tokens\\user\\Roaming", *profiles = "C:\\qvtest\\tokens\\profiles",
               *missing = "C:\\qvtest\\tokens\\missing";
    for (const char* folder : {root, tokens, user, roaming, profiles}) CreateDirectoryA(folder, NULL);
    // Wine turns shell paths into item lists through the desktop folder, which
    // it sets up from the profile at the first call.
    Resolve("#AppData#");
    ValueChange profileList(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                            "ProfilesDirectory");
    profileList.Set(profiles);  // with no profile in it
    ValueChange appData(HKEY_CURRENT_USER, UserShellFolders, "AppData");
    ValueChange documents(HKEY_LOCAL_MACHINE, UserShellFolders, "Common Documents");
    ValueChange local(HKEY_CURRENT_USER, UserShellFolders, "Local AppData");
    ValueChange desktop(HKEY_CURRENT_USER, UserShellFolders, "Desktop");
    ValueChange commonAppData(HKEY_LOCAL_MACHINE, UserShellFolders, "Common AppData");
    for (ValueChange* change : {&local, &desktop, &commonAppData}) change->Set(missing);

    const std::string w = Folder(GetWindowsDirectoryA), localData = "\\Local Settings\\Application Data";
    const std::string allData = "\\All Users\\Application Data", allUsers = "\\All Users";
    const struct {
        const char *appData, *documents, *token;
        std::string nt, nineX;
    } cases[] = {
        {roaming, missing, "#LocalAppData#", user + localData, w + "\\Application Data"},
        {roaming, missing, "#UserDir#", user, w},
        {roaming, missing, "#AllUsersAppData#", tokens + allData, w + allData},
        {roaming, missing, "#AllUsersDir#", tokens + allUsers, w + allUsers},
        {missing, missing, "#LocalAppData#", w + "\\Profiles\\Administrator" + localData, w + "\\Application Data"},
        {missing, missing, "#UserDir#", "c:\\", w},
        {missing, missing, "#Desktop#", "#Desktop#", "#Desktop#"},  // no fallback
        {missing, missing, "#AllUsersAppData#", w + "\\Profiles" + allData, w + allData},
        {root, missing, "#AllUsersAppData#", w + "\\Profiles" + allData, w + allData},  // no grandparent
        // The parent of common documents; just below a root, that root.
        {missing, user, "#AllUsersDir#", tokens, tokens},
        {missing, root, "#AllUsersDir#", "C:\\", "C:\\"},
    };
    for (const auto& c : cases) {
        appData.Set(c.appData);
        documents.Set(c.documents);
        for (int platform = 1; platform >= 0; platform--) {
            IsNtPlatform = platform;
            EXPECT_EQ(platform ? c.nt : c.nineX, Resolve(c.token)) << c.token << " platform " << platform
                                                                   << " application data " << c.appData;
        }
    }
    for (const char* folder : {profiles, roaming, user, tokens}) RemoveDirectoryA(folder);
}

}  // namespace
