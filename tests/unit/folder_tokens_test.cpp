// Folder tokens: how number signs pair, all-or-nothing delivery, each token's
// source, and the fallbacks when the registry or the shell has no answer. The
// 9x fallbacks are reached by setting the platform flag, with the shell made
// to fail through its registry settings.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <tuple>

#include "app/run.h"
#include "paths/folder_tokens.h"

const uint32_t WorkAreaSize = 65500;
const char VersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char ShellKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Measures, then expands into exactly that, as the driver does. A known token
// whose folder cannot be found stays as written.
static std::string Expand(const std::string& source) {
    std::string text(ExpandTokens(nullptr, source.c_str(), WorkAreaSize), 'Z');
    EXPECT_EQ(text.size(), ExpandTokens(&text[0], source.c_str(), uint32_t(text.size() + 1))) << source;
    return text.c_str();
}

static std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    return std::string(folder, GetWindowsDirectoryA(folder, MAX_PATH));
}

static std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder)) << csidl;
    return folder;
}

static void SetInstallDir(const char* folder) {
    static char copy[PathBufferSize];
    InstallDir = strcpy(copy, folder);
}

// Changes one registry value for the length of a test and puts it back.
struct ValueChange {
    ValueChange(HKEY root, const char* path, const char* name) : root(root), path(path), name(name) {
        LONG error = RegGetValueA(root, path, name, RRF_RT_ANY | RRF_NOEXPAND, &savedType, saved, &savedSize);
        if (error != ERROR_SUCCESS) savedType = REG_NONE;
    }
    ~ValueChange() { Set(std::string((const char*)saved, savedSize), savedType); }
    // Stores the bytes as given; REG_NONE deletes the value.
    void Set(const std::string& bytes, DWORD type) {
        if (type == REG_NONE) RegDeleteKeyValueA(root, path, name);
        else RegSetKeyValueA(root, path, name, type, bytes.data(), DWORD(bytes.size()));
    }
    void SetText(const std::string& text) { Set(text + '\0', REG_EXPAND_SZ); }
    HKEY root;
    const char *path, *name;
    DWORD savedType = REG_NONE, savedSize = 1024;
    BYTE saved[1024];
};

TEST(FolderTokens, SignsPairFromLeftToRightAndOnlyKnownWholeNamesResolve) {
    const std::string w = WindowsFolder();
    SetInstallDir("C:\\App\\");
    const std::pair<std::string, std::string> cases[] = {
        {"\"#inSTALLdir#\\setup.exe\" /remove", "\"C:\\App\\setup.exe\" /remove"},
        // Unknown, empty, not-quite-known and too long tokens are removed; a single sign stays.
        {"#NoSuchFolder#\\name", "\\name"}, {"a##b", "ab"}, {"#Windows #x", "x"}, {"50#off", "50#off"},
        {"#" + std::string(300, 'a') + "#\\x#Windows#", "\\x" + w},
        // A lone sign pairs with a token's opening sign, leaving its closing one.
        {"x#y#Windows#\\z", "xWindows#\\z"}, {"#InstallDir#\\#x#Windows#", "C:\\App\\Windows#"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Expand(c.first)) << c.first;
    // A folder is appended, never scanned again; a root keeps its backslash.
    SetInstallDir("C:\\a#Windows#\\");
    EXPECT_EQ("C:\\a#Windows#\\c" + w, Expand("#InstallDir#\\c#Windows#"));
    SetInstallDir("C:\\");
    EXPECT_EQ("C:\\x", Expand("#InstallDir#x"));
}

// Size 0 writes nothing. A result that does not fit the size given, or the
// 65499 characters of the work area, leaves empty text and nothing written
// past it; it is still measured in full, tokens after the overflow included.
TEST(FolderTokens, AResultIsDeliveredWholeOrNotAtAll) {
    const std::string x = WindowsFolder() + "\\x", full(WorkAreaSize - 1, 't'), over = full + WindowsFolder();
    const uint32_t length = uint32_t(x.size());
    const std::tuple<std::string, std::string, uint32_t, bool> cases[] = {
        {"#Windows#\\x", x, 0, false}, {"#Windows#\\x", x, 1, false}, {"#Windows#\\x", x, length, false},
        {"#Windows#\\x", x, length + 1, true}, {full, full, WorkAreaSize, true},
        {full + "t", full + "t", 70000, false}, {full + "#Windows#", over, 70000, false},
    };
    for (const auto& [source, expanded, size, delivered] : cases) {
        std::string destination(size + 16, 'Z');
        EXPECT_EQ(expanded.size(), ExpandTokens(&destination[0], source.c_str(), size)) << size;
        const std::string written = delivered ? expanded + '\0' : std::string(size > 0 ? 1 : 0, '\0');
        EXPECT_TRUE(written + std::string(destination.size() - written.size(), 'Z') == destination) << size;
    }
}

// With the primary sources there, the platform plays no part.
TEST(FolderTokens, EachTokenGivesTheFolderWineReports) {
    char temp[MAX_PATH] = {}, system[MAX_PATH] = {};
    std::string documents = ShellFolder(CSIDL_COMMON_DOCUMENTS), tempFolder(temp, GetTempPathA(MAX_PATH, temp) - 1);
    SetInstallDir("C:\\App\\");
    const std::pair<const char*, std::string> expected[] = {
        {"#Windows#", WindowsFolder()}, {"#System#", std::string(system, GetSystemDirectoryA(system, MAX_PATH))},
        {"#TempDir#", tempFolder}, {"#InstallDir#", "C:\\App"}, {"#UserDir#", ShellFolder(CSIDL_PROFILE)},
        {"#MyDocuments#", ShellFolder(CSIDL_PERSONAL)}, {"#Desktop#", ShellFolder(CSIDL_DESKTOPDIRECTORY)},
        {"#AppData#", ShellFolder(CSIDL_APPDATA)}, {"#LocalAppData#", ShellFolder(CSIDL_LOCAL_APPDATA)},
        {"#AllUsersAppData#", ShellFolder(CSIDL_COMMON_APPDATA)}, {"#AllUsersDocuments#", documents},
        {"#AllUsersDesktop#", ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
        {"#AllUsersDir#", documents.substr(0, documents.rfind('\\'))},
    };
    for (int platform = 0; platform <= 1; platform++) {
        IsNtPlatform = platform;
        for (const auto& token : expected)
            EXPECT_EQ(token.second, Expand(token.first)) << token.first << " platform " << platform;
    }
}

// Each from its own value, of any type, terminated or not, without a trailing
// backslash, but never cut short: that would name another folder. Common
// files fall back to program files; a token whose value cannot be read stays
// as written, so that the caller can tell.
TEST(FolderTokens, RegistryTokensTakeWholeValuesOrStayAsWritten) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    const std::string longest = "C:\\" + std::string(256, 'p'), stays = "#Program Files#", common = "#CommonFiles#";
    const std::tuple<std::string, std::string, DWORD, std::string, std::string> cases[] = {
        // CommonFilesDir, ProgramFilesDir and its type; what the two tokens give.
        {"C:\\QvCommon", std::string("C:\\QvProgs\\", 12), REG_SZ, "C:\\QvProgs", "C:\\QvCommon"},
        {"", "C:\\QvProgs", REG_BINARY, "C:\\QvProgs", "C:\\QvProgs\\Common Files"},
        {"", longest + '\0', REG_SZ, longest, common},  // no room for "\Common Files"
        {"", longest + "p", REG_BINARY, stays, common},  // all 260 bytes, no terminator
        {"", "", REG_NONE, stays, common},
    };
    for (const auto& [commonValue, programValue, type, expectedProgramFiles, expectedCommonFiles] : cases) {
        commonFiles.Set(commonValue + '\0', commonValue.empty() ? REG_NONE : REG_SZ);
        programFiles.Set(programValue, type);
        EXPECT_EQ(expectedProgramFiles, Expand("#Program Files#")) << programValue.size();
        EXPECT_EQ(expectedCommonFiles, Expand("#CommonFiles#")) << programValue.size();
    }
}

// The shell answers from these registry values; a folder there that does not
// exist makes it fail, as a missing or damaged profile would. NT rebuilds
// from application data (its grandparent taken for the profiles' root) or
// else below the Windows folder; 9x keeps everything below the Windows folder.
TEST(FolderTokens, FallbacksWhenTheShellHasNoFolder) {
    const std::string root = "C:\\qvtest", tokens = root + "\\tokens", user = tokens + "\\user";
    const std::string roaming = user + "\\Roaming", profiles = tokens + "\\profiles", missing = tokens + "\\missing";
    for (const std::string& folder : {root, tokens, user, roaming, profiles}) CreateDirectoryA(folder.c_str(), NULL);
    // Wine turns shell paths into item lists through the desktop folder, which
    // it sets up from the profile at the first call.
    Expand("#AppData#");
    ValueChange changes[] = {
        {HKEY_CURRENT_USER, ShellKey, "AppData"}, {HKEY_LOCAL_MACHINE, ShellKey, "Common Documents"},
        {HKEY_CURRENT_USER, ShellKey, "Local AppData"}, {HKEY_CURRENT_USER, ShellKey, "Desktop"},
        {HKEY_LOCAL_MACHINE, ShellKey, "Common AppData"},
        {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProfilesDirectory"}};
    for (int i = 2; i < 5; i++) changes[i].SetText(missing);
    changes[5].SetText(profiles);  // with no profile in it
    const std::string w = WindowsFolder(), local = "\\Local Settings\\Application Data";
    const std::string allData = "\\All Users\\Application Data";
    const std::tuple<std::string, std::string, const char*, std::string, std::string> cases[] = {
        // Application data, common documents, the token; what it gives on NT and on 9x.
        {roaming, missing, "#LocalAppData#", user + local, w + "\\Application Data"},
        {roaming, missing, "#UserDir#", user, w},
        {roaming, missing, "#AllUsersAppData#", tokens + allData, w + allData},
        {missing, missing, "#LocalAppData#", w + "\\Profiles\\Administrator" + local, w + "\\Application Data"},
        {missing, missing, "#UserDir#", "c:\\", w},
        {missing, missing, "#Desktop#", "#Desktop#", "#Desktop#"},  // no fallback
        {missing, missing, "#AllUsersAppData#", w + "\\Profiles" + allData, w + allData},
        {root, missing, "#AllUsersAppData#", w + "\\Profiles" + allData, w + allData},  // no grandparent
        // The parent of common documents; just below a root, that root.
        {missing, user, "#AllUsersDir#", tokens, tokens},
        {missing, root, "#AllUsersDir#", "C:\\", "C:\\"},
    };
    for (const auto& [appData, documents, token, nt, nineX] : cases) {
        changes[0].SetText(appData);
        changes[1].SetText(documents);
        for (int platform = 1; platform >= 0; platform--) {
            IsNtPlatform = platform;
            EXPECT_EQ(platform ? nt : nineX, Expand(token)) << token << " " << platform << " " << appData;
        }
    }
}
