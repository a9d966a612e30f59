// Folder tokens: how number signs pair, measuring, all-or-nothing results
// whatever the lengths, and every token's source and fallbacks as Wine
// answers them.
//
// Wine gives the same shell folders to a program it presents as Windows 98,
// so the 9x fallbacks are reached here by setting the platform flag, with the
// shell made to fail through its registry settings.
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
    GetWindowsDirectoryA(folder, MAX_PATH);
    return folder;
}

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
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
const char ProfileList[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::string VersionValue(const char* name) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value - 1;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, VersionKey, name, RRF_RT_REG_SZ, NULL, value, &size))
        << name;
    return value;
}

bool HeapsAreSound() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; i++)
        if (!HeapValidate(heaps[i], 0, NULL)) return false;
    return true;
}

// Sets the platform flag and the install folder for one test, and puts back
// what was there, so no other test sees them changed.
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

TEST_F(FolderTokenExpansion, TextWithoutSignsComesOutUnchanged) {
    std::string text = "C:\\Some Folder\\logs\\*.log";
    EXPECT_EQ(text, Expand(text));
    EXPECT_EQ(text.size(), ExpandTokens(nullptr, text.c_str(), WorkAreaSize));
}

TEST_F(FolderTokenExpansion, EmptyTextGivesEmptyText) {
    char destination[8];
    memset(destination, 'Z', sizeof destination);
    EXPECT_EQ(0u, ExpandTokens(destination, "", sizeof destination));
    EXPECT_STREQ("", destination);
}

TEST_F(FolderTokenExpansion, TokensMatchInAnyLetterCase) {
    std::string windows = WindowsFolder();
    EXPECT_EQ(windows, Expand("#windows#"));
    EXPECT_EQ(windows, Expand("#WINDOWS#"));
    EXPECT_EQ("C:\\qvtest\\App", Expand("#inSTALLdir#"));
    EXPECT_EQ(VersionValue("ProgramFilesDir"), Expand("#program files#"));
}

TEST_F(FolderTokenExpansion, TheDataWritesItsOwnBackslashAfterAToken) {
    EXPECT_EQ(WindowsFolder() + "\\Fonts", Expand("#Windows#\\Fonts"));
    EXPECT_EQ("C:\\qvtest\\App\\logs\\*.log", Expand("#InstallDir#\\logs\\*.log"));
    EXPECT_EQ("\"C:\\qvtest\\App\\setup.exe\" /remove", Expand("\"#InstallDir#\\setup.exe\" /remove"));
}

TEST_F(FolderTokenExpansion, InstallDirLosesItsBackslashUnlessItIsARoot) {
    EXPECT_EQ("C:\\qvtest\\App", Resolve("#InstallDir#"));
    SetInstallDir("C:\\");
    EXPECT_EQ("C:\\", Resolve("#InstallDir#"));
    EXPECT_EQ("C:\\x", Expand("#InstallDir#x"));
}

TEST_F(FolderTokenExpansion, UnknownAndEmptyTokensAreRemoved) {
    EXPECT_EQ("\\name", Expand("#NoSuchFolder#\\name"));
    EXPECT_EQ("", Resolve("#NoSuchFolder#"));
    EXPECT_EQ("ab", Expand("a##b"));
    EXPECT_EQ("", Expand("####"));
    // Whole text only: a known name with more around it is another token.
    EXPECT_EQ("x", Expand("#Windows #x"));
    EXPECT_EQ("", Expand("#WindowsDir#"));
}

TEST_F(FolderTokenExpansion, ASingleSignStaysAsWritten) {
    EXPECT_EQ("50#off", Expand("50#off"));
    EXPECT_EQ("#", Expand("#"));
    EXPECT_EQ("abc#", Expand("abc#"));
}

TEST_F(FolderTokenExpansion, SignsPairStrictlyFromLeftToRight) {
    std::string windows = WindowsFolder();
    EXPECT_EQ(windows + SystemFolder(), Expand("#Windows##System#"));
    EXPECT_EQ(windows + "System#Temp", Expand("#Windows#System#Temp"));
    // A lone sign pairs with the token's opening sign; the token's closing
    // sign is then unmatched, and its name stays unresolved.
    EXPECT_EQ("xWindows#\\z", Expand("x#y#Windows#\\z"));
    EXPECT_EQ("Windows#", Expand("#a#Windows#"));
    EXPECT_EQ("C:\\qvtest\\App\\Windows#", Expand("#InstallDir#\\#x#Windows#"));
}

TEST_F(FolderTokenExpansion, ResolvedFoldersAreNeverScannedAgain) {
    SetInstallDir("C:\\qv#Windows#\\");
    EXPECT_EQ("C:\\qv#Windows#", Expand("#InstallDir#"));
    SetInstallDir("C:\\a#b\\");
    EXPECT_EQ("C:\\a#b\\c" + SystemFolder(), Expand("#InstallDir#\\c#System#"));
    EXPECT_EQ("C:\\a#b#", Expand("#InstallDir##"));
}

TEST_F(FolderTokenExpansion, ATokenTooLongForAPathIsUnknown) {
    std::string name(300, 'a');
    EXPECT_EQ("\\x", Expand("#" + name + "#\\x"));
    EXPECT_EQ("\\x" + WindowsFolder(), Expand("#" + name + "#\\x#Windows#"));
}

TEST_F(FolderTokenExpansion, MeasuringWritesNothing) {
    std::string source = "#Windows#\\x";
    uint32_t length = uint32_t(WindowsFolder().size() + 2);
    EXPECT_EQ(length, ExpandTokens(nullptr, source.c_str(), 0));
    EXPECT_EQ(length, ExpandTokens(nullptr, source.c_str(), WorkAreaSize));
    EXPECT_EQ(length, ExpandTokens(nullptr, source.c_str(), 1));
    char destination[PathBufferSize];
    memset(destination, 'Z', sizeof destination);
    EXPECT_EQ(length, ExpandTokens(destination, source.c_str(), 0));
    EXPECT_EQ(std::string(sizeof destination, 'Z'), std::string(destination, sizeof destination));
}

// A result that does not fit is not delivered at all, and nothing is
// written beyond the size given.
TEST_F(FolderTokenExpansion, AResultThatDoesNotFitGivesEmptyText) {
    std::string source = "#Windows#\\x";
    std::string expanded = WindowsFolder() + "\\x";
    uint32_t length = uint32_t(expanded.size());
    for (uint32_t size : {1u, 2u, length - 1, length}) {
        char destination[PathBufferSize];
        memset(destination, 'Z', sizeof destination);
        EXPECT_EQ(length, ExpandTokens(destination, source.c_str(), size)) << size;
        EXPECT_EQ(0, destination[0]) << size;
        EXPECT_EQ(std::string(sizeof destination - 1, 'Z'), std::string(destination + 1, sizeof destination - 1))
            << size;
    }
    char destination[PathBufferSize];
    memset(destination, 'Z', sizeof destination);
    EXPECT_EQ(length, ExpandTokens(destination, source.c_str(), length + 1));
    EXPECT_EQ(expanded, destination);
    EXPECT_EQ('Z', destination[length + 1]);
}

// The wildcard pass expands into a path buffer and skips what does not fit.
TEST_F(FolderTokenExpansion, APathBufferTakesAtMost259Characters) {
    std::string folder = "C:\\" + std::string(200, 'f');
    SetInstallDir(folder + "\\");
    std::string fits = "#InstallDir#\\" + std::string(259 - folder.size() - 1, 'n');
    char destination[PathBufferSize + 16];
    memset(destination, 'Z', sizeof destination);
    EXPECT_EQ(259u, ExpandTokens(destination, fits.c_str(), PathBufferSize));
    EXPECT_EQ(folder + "\\" + std::string(259 - folder.size() - 1, 'n'), destination);

    memset(destination, 'Z', sizeof destination);
    EXPECT_EQ(260u, ExpandTokens(destination, (fits + "n").c_str(), PathBufferSize));
    EXPECT_EQ(0, destination[0]);
    EXPECT_EQ(std::string(sizeof destination - 1, 'Z'), std::string(destination + 1, sizeof destination - 1));
}

// The expansion holds 65499 characters and a terminator; a longer text is
// measured in full but never delivered, whatever the destination's size.
TEST_F(FolderTokenExpansion, ASourceLongerThanTheWorkAreaIsMeasuredButNotDelivered) {
    std::string longest(WorkAreaSize - 1, 'a');
    std::vector<char> destination(80000, 'Z');
    EXPECT_EQ(WorkAreaSize - 1, ExpandTokens(destination.data(), longest.c_str(), WorkAreaSize));
    EXPECT_EQ(longest, destination.data());

    for (size_t length : {size_t(WorkAreaSize), size_t(70000)}) {
        std::string source(length, 'a');
        source[length / 2] = '#';  // an unmatched sign among the rest
        std::fill(destination.begin(), destination.end(), 'Z');
        EXPECT_EQ(length, ExpandTokens(nullptr, source.c_str(), WorkAreaSize));
        EXPECT_EQ(length, ExpandTokens(destination.data(), source.c_str(), uint32_t(length + 1)));
        EXPECT_EQ(0, destination[0]) << length;
        EXPECT_EQ('Z', destination[1]) << length;
        EXPECT_EQ(length, ExpandTokens(destination.data(), source.c_str(), PathBufferSize));
        EXPECT_EQ(0, destination[0]) << length;
    }
    EXPECT_TRUE(HeapsAreSound());
}

TEST_F(FolderTokenExpansion, ManyLongFoldersBeyondTheWorkAreaAreMeasuredButNotDelivered) {
    std::string folder = "C:\\" + std::string(255, 'f');  // 258 characters, the longest with a backslash
    SetInstallDir(folder + "\\");
    ASSERT_EQ(folder, Resolve("#InstallDir#"));

    // Exactly the most the expansion holds, ending in a token and in text.
    std::string source;
    for (int i = 0; i < 253; i++) source += "#InstallDir#";
    std::string tail(WorkAreaSize - 1 - 253 * folder.size(), 't');
    std::vector<char> destination(90000, 'Z');
    EXPECT_EQ(WorkAreaSize - 1, ExpandTokens(destination.data(), (source + tail).c_str(), WorkAreaSize));
    EXPECT_EQ(WorkAreaSize - 1, strlen(destination.data()));
    EXPECT_EQ(folder + folder, std::string(destination.data(), 2 * folder.size()));
    EXPECT_EQ(0, destination[WorkAreaSize - 1]);
    EXPECT_EQ('Z', destination[WorkAreaSize]);

    std::fill(destination.begin(), destination.end(), 'Z');
    EXPECT_EQ(WorkAreaSize, ExpandTokens(destination.data(), (source + tail + "t").c_str(), 80000));
    EXPECT_EQ(0, destination[0]);

    for (int i = 253; i < 300; i++) source += "#InstallDir#";
    source += "#Windows#tail";
    uint32_t length = uint32_t(300 * folder.size() + WindowsFolder().size() + 4);
    std::fill(destination.begin(), destination.end(), 'Z');
    EXPECT_EQ(length, ExpandTokens(nullptr, source.c_str(), WorkAreaSize));
    EXPECT_EQ(length, ExpandTokens(destination.data(), source.c_str(), length + 1));
    EXPECT_EQ(0, destination[0]);
    EXPECT_EQ('Z', destination[1]);
    EXPECT_TRUE(HeapsAreSound());
}

// Reserves the whole free address space and fills the heaps, so that no
// block of the work area's size can be had, until destroyed.
class MemoryHog {
public:
    MemoryHog() {
        reserved_.reserve(1 << 16);
        for (SIZE_T size = SIZE_T(1) << 30; size >= 0x10000; size /= 2) {
            while (reserved_.size() < reserved_.capacity()) {
                void* block = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS);
                if (!block) break;
                reserved_.push_back(block);
            }
        }
        // Chained through the blocks themselves: nothing else is allocated.
        for (void* block; (block = malloc(WorkAreaSize)) != nullptr;) {
            *(void**)block = chain_;
            chain_ = block;
        }
    }
    ~MemoryHog() {
        while (chain_) {
            void* next = *(void**)chain_;
            free(chain_);
            chain_ = next;
        }
        for (void* block : reserved_) VirtualFree(block, 0, MEM_RELEASE);
    }

private:
    std::vector<void*> reserved_;
    void* chain_ = nullptr;
};

TEST_F(FolderTokenExpansion, WithoutMemoryTheTextComesOutUnexpandedWhenItFits) {
    const char source[] = "#Windows#\\x";
    char fits[32], tooSmall[32];
    memset(fits, 'Z', sizeof fits);
    memset(tooSmall, 'Z', sizeof tooSmall);
    uint32_t fitting, cut, measured;
    {
        MemoryHog hog;
        fitting = ExpandTokens(fits, source, sizeof source);
        cut = ExpandTokens(tooSmall, source, sizeof source - 1);
        measured = ExpandTokens(nullptr, source, 0);
    }
    EXPECT_EQ(sizeof source - 1, fitting);
    EXPECT_STREQ(source, fits);
    EXPECT_EQ(sizeof source - 1, cut);
    EXPECT_EQ(0, tooSmall[0]);
    EXPECT_EQ(std::string(sizeof tooSmall - 1, 'Z'), std::string(tooSmall + 1, sizeof tooSmall - 1));
    EXPECT_EQ(sizeof source - 1, measured);
    // With memory back, the same call expands.
    EXPECT_EQ(WindowsFolder() + "\\x", Expand(source));
}

// Every token against what Wine itself reports, on both platform families:
// with the primary sources there, the platform plays no part.
using FolderTokenSources = FolderTokenTest;

TEST_F(FolderTokenSources, EachTokenGivesTheFolderWineReports) {
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

// Changes one registry value for the length of a test. The original is also
// written to a journal key, so that a test process that dies half-way has it
// put back by the next run: a profiles folder left pointing nowhere would
// break every later test in the prefix.
const char JournalKey[] = "Software\\QvFolderTokenJournal";  // apart from keys other tests clear

std::string JournalName(HKEY root, const std::string& path, const std::string& name) {
    return std::string(root == HKEY_LOCAL_MACHINE ? "M|" : "U|") + path + "|" + name;
}

// Journal entry: the original type, then its data; no bytes when there was
// no value.
void RestoreJournalEntry(const std::string& entry, const std::vector<BYTE>& saved) {
    size_t first = entry.find('|'), last = entry.rfind('|');
    HKEY root = entry[0] == 'M' ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    std::string path = entry.substr(first + 1, last - first - 1), name = entry.substr(last + 1);
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (saved.size() < sizeof(DWORD)) {
        RegDeleteValueA(key, name.c_str());
    } else {
        DWORD type;
        memcpy(&type, saved.data(), sizeof type);
        RegSetValueExA(key, name.c_str(), 0, type, saved.data() + sizeof type, DWORD(saved.size() - sizeof type));
    }
    RegCloseKey(key);
}

void ReplayJournal() {
    HKEY journal;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, JournalKey, 0, KEY_ALL_ACCESS, &journal) != ERROR_SUCCESS) return;
    for (;;) {
        char name[1024];
        DWORD nameSize = sizeof name, size = 0;
        if (RegEnumValueA(journal, 0, name, &nameSize, NULL, NULL, NULL, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> saved(size);
        nameSize = sizeof name;
        RegEnumValueA(journal, 0, name, &nameSize, NULL, NULL, saved.data(), &size);
        RestoreJournalEntry(name, saved);
        RegDeleteValueA(journal, name);
    }
    RegCloseKey(journal);
}

class ValueChange {
public:
    ValueChange(HKEY root, const char* path, const char* name)
        : entry_(JournalName(root, path, name)), root_(root), path_(path), name_(name) {
        HKEY key;
        LONG opened = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
        EXPECT_EQ(ERROR_SUCCESS, opened) << path;
        if (opened != ERROR_SUCCESS) return;
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key, name, NULL, &type, NULL, &size) == ERROR_SUCCESS) {
            saved_.resize(sizeof type + size);
            memcpy(saved_.data(), &type, sizeof type);
            RegQueryValueExA(key, name, NULL, NULL, saved_.data() + sizeof type, &size);
        }
        RegCloseKey(key);
        HKEY journal;
        LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, JournalKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &journal, NULL);
        EXPECT_EQ(ERROR_SUCCESS, created);
        if (created != ERROR_SUCCESS) return;
        RegSetValueExA(journal, entry_.c_str(), 0, REG_BINARY, saved_.data(), DWORD(saved_.size()));
        RegCloseKey(journal);
    }
    ~ValueChange() {
        RestoreJournalEntry(entry_, saved_);
        HKEY journal;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, JournalKey, 0, KEY_ALL_ACCESS, &journal) == ERROR_SUCCESS) {
            RegDeleteValueA(journal, entry_.c_str());
            DWORD values = 1;
            RegQueryInfoKeyA(journal, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
            RegCloseKey(journal);
            if (values == 0) RegDeleteKeyA(HKEY_CURRENT_USER, JournalKey);
        }
    }
    void Set(const std::string& data, DWORD type = REG_EXPAND_SZ) { SetBytes(data.c_str(), DWORD(data.size() + 1), type); }
    void SetBytes(const void* data, DWORD size, DWORD type) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, path_.c_str(), 0, KEY_SET_VALUE, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name_.c_str(), 0, type, (const BYTE*)data, size));
        RegCloseKey(key);
    }
    void Delete() {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, path_.c_str(), 0, KEY_SET_VALUE, &key));
        RegDeleteValueA(key, name_.c_str());
        RegCloseKey(key);
    }

private:
    std::string entry_;
    HKEY root_;
    std::string path_, name_;
    std::vector<BYTE> saved_;
};

// Puts back what a test process that died half-way left changed.
class FolderTokenRegistry : public FolderTokenTest {
protected:
    static void SetUpTestSuite() { ReplayJournal(); }
};

TEST_F(FolderTokenRegistry, CommonFilesFallsBackToProgramFiles) {
    std::string programFiles = VersionValue("ProgramFilesDir");
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    commonFiles.Delete();
    EXPECT_EQ(programFiles + "\\Common Files", Resolve("#CommonFiles#"));
    EXPECT_EQ(programFiles + "\\Common Files\\x", Expand("#CommonFiles#\\x"));
}

// A token whose value cannot be read stays as written, so that the caller
// can tell; "Common Files" is not appended to nothing.
TEST_F(FolderTokenRegistry, WithoutTheValuesTheTokensStayAsWritten) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.Delete();
    programFiles.Delete();
    EXPECT_EQ("#CommonFiles#", Resolve("#CommonFiles#"));
    EXPECT_EQ("#Program Files#\\x#CommonFiles#", Expand("#Program Files#\\x#CommonFiles#"));
}

TEST_F(FolderTokenRegistry, ValuesAreTakenOfAnyTypeTerminatedAndWithoutBackslash) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.Delete();
    programFiles.SetBytes("C:\\QvProgs", 10, REG_BINARY);  // no terminator
    EXPECT_EQ("C:\\QvProgs", Resolve("#Program Files#"));
    EXPECT_EQ("C:\\QvProgs\\Common Files", Resolve("#CommonFiles#"));
    programFiles.Set("C:\\QvProgs\\", REG_SZ);
    EXPECT_EQ("C:\\QvProgs", Resolve("#Program Files#"));
    EXPECT_EQ("C:\\QvProgs\\Common Files", Resolve("#CommonFiles#"));
}

// A stored folder is never cut short: that would name another folder.
TEST_F(FolderTokenRegistry, AValueLongerThanAPathIsNotTaken) {
    ValueChange commonFiles(HKEY_LOCAL_MACHINE, VersionKey, "CommonFilesDir");
    ValueChange programFiles(HKEY_LOCAL_MACHINE, VersionKey, "ProgramFilesDir");
    commonFiles.Delete();
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
        windows_ = WindowsFolder();
    }
    void TearDown() override {
        for (const char* folder : {ProfilesFolder, RoamingFolder, UserFolder, TokensFolder}) RemoveDirectoryA(folder);
        FolderTokenRegistry::TearDown();
    }
    // token -> {NT, 9x}
    void ExpectFolders(const char* token, const std::string& nt, const std::string& nineX) {
        IsNtPlatform = 1;
        EXPECT_EQ(nt, Resolve(token)) << token << " on NT";
        IsNtPlatform = 0;
        EXPECT_EQ(nineX, Resolve(token)) << token << " on 9x";
        IsNtPlatform = 1;
    }

    std::string windows_;
    ValueChange appData_{HKEY_CURRENT_USER, UserShellFolders, "AppData"};
};

TEST_F(FolderTokenFallbacks, AppDataIsRebuiltBelowTheWindowsFolder) {
    appData_.Set(MissingFolder);
    ExpectFolders("#AppData#", windows_ + "\\Profiles\\Administrator\\Application Data",
                  windows_ + "\\Application Data");
    IsNtPlatform = 0;
    EXPECT_EQ(windows_ + "\\Application Data\\Vendor", Expand("#AppData#\\Vendor"));
}

TEST_F(FolderTokenFallbacks, LocalAppDataIsBesideAppDataOnNt) {
    ValueChange local(HKEY_CURRENT_USER, UserShellFolders, "Local AppData");
    local.Set(MissingFolder);
    appData_.Set(RoamingFolder);
    ASSERT_EQ(RoamingFolder, Resolve("#AppData#"));
    ExpectFolders("#LocalAppData#", std::string(UserFolder) + "\\Local Settings\\Application Data",
                  windows_ + "\\Application Data");
    appData_.Set(MissingFolder);
    ExpectFolders("#LocalAppData#", windows_ + "\\Profiles\\Administrator\\Local Settings\\Application Data",
                  windows_ + "\\Application Data");
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
    for (const auto& token : tokens)
        ExpectFolders(token.first, TokensFolder + token.second, windows_ + token.second);
    // One folder below the root has no grandparent; no folder has none.
    for (const char* appData : {TestRoot, MissingFolder}) {
        appData_.Set(appData);
        for (const auto& token : tokens)
            ExpectFolders(token.first, windows_ + "\\Profiles" + token.second, windows_ + token.second);
    }
}

TEST_F(FolderTokenFallbacks, AllUsersDirIsTheParentOfTheCommonDocuments) {
    ValueChange commonDocuments(HKEY_LOCAL_MACHINE, UserShellFolders, "Common Documents");
    commonDocuments.Set(UserFolder);
    ExpectFolders("#AllUsersDir#", TokensFolder, TokensFolder);
    commonDocuments.Set(TestRoot);  // just below a drive root: that root, backslash kept
    ExpectFolders("#AllUsersDir#", "C:\\", "C:\\");
    EXPECT_EQ("C:\\x", Expand("#AllUsersDir#x"));
}

TEST_F(FolderTokenFallbacks, UserDirIsTheParentOfAppDataOnNt) {
    // Wine turns every shell path into an item list through the desktop
    // folder, which it sets up from the profile at the first call.
    Resolve("#AppData#");
    ValueChange profiles(HKEY_LOCAL_MACHINE, ProfileList, "ProfilesDirectory");
    profiles.Set(ProfilesFolder);
    appData_.Set(RoamingFolder);
    ExpectFolders("#UserDir#", UserFolder, windows_);
    appData_.Set(MissingFolder);
    ExpectFolders("#UserDir#", "c:\\", windows_);
    EXPECT_EQ("c:\\x", Expand("#UserDir#x"));
}

// Desktop has no fallback: its token stays as written. (Documents has none
// either, but Wine answers for a missing one with a garbled path.)
TEST_F(FolderTokenFallbacks, DesktopStaysAsWritten) {
    ValueChange desktop(HKEY_CURRENT_USER, UserShellFolders, "Desktop");
    desktop.Set(MissingFolder);
    ExpectFolders("#Desktop#", "#Desktop#", "#Desktop#");
    EXPECT_EQ("#Desktop#\\x.lnk", Expand("#Desktop#\\x.lnk"));
}

}  // namespace
