#include "scenario.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>

#include "block_writer.h"
#include "file_io.h"
#include "stub.h"

std::string ReadWholeFile(const std::string& path) {
    std::string bytes, error;
    ReadWholeFile(path, &bytes, &error);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(path, bytes, &error)) << error;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link is removed as a link, never followed.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (!RemoveDirectoryA(path.c_str())) DeleteFileA(path.c_str());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string TestName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

std::string FreshTestFolder() {
    std::string folder = "C:\\qvtest\\" + TestName();
    RemoveTree(folder);
    CreateDirectoryA("C:\\qvtest", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder + "\\";
}

std::vector<std::string> TestMessages() {
    std::vector<std::string> texts = {
        "Uninstall " + TestName(), "Remove everything?", "All done.", "Yes", "Yes to all", "No",
        "No to all", "Out of memory reading %s", "Damaged data in %s", "%s is read-only",
        "Remove shared %s?", "Removing files", "Removing folders", "Removing emptied folders",
        "Removing registry entries", "A file is in use."};
    return texts;
}

PackData TestData() {
    PackData data;
    data.messages = TestMessages();
    return data;
}

Answer BoxAnswer(int buttonId) {
    return Answer{TestMessages()[0], buttonId, 0xFFFF};
}

std::string WriteUninstaller(const std::string& folder, const std::string& block) {
    std::string image, error;
    EXPECT_TRUE(MakeUninstaller(ReadWholeFile(BinFolder + "uninst.exe"), block, &image, &error)) << error;
    std::string path = folder + "uninst.exe";
    WriteWholeFile(path, image);
    return path;
}

std::string WriteUninstaller(const std::string& folder, const PackData& data) {
    return WriteUninstaller(folder, WriteBlock(data));
}

RunResult RunUninstaller(const std::string& exe, const std::string& switches,
                         const std::vector<Answer>& answers, unsigned timeoutMs,
                         const WindowHook& onNewWindow) {
    std::string command = "\"" + exe + "\"";
    if (!switches.empty()) command += " " + switches;
    RunResult result = RunAndAnswer(command, answers, timeoutMs, nullptr, onNewWindow);
    EXPECT_TRUE(result.started) << command;
    EXPECT_FALSE(result.timedOut) << command << " did not end; dialogs seen: " << result.dialogs.size();
    return result;
}

void RunQuietly(const std::string& folder, const PackData& data) {
    RunResult run = RunUninstaller(WriteUninstaller(folder, data), "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
}

static bool HasControl(const SeenDialog& dialog, int id) {
    for (const auto& control : dialog.controls)
        if (control.first == id) return true;
    return false;
}

std::vector<std::string> PromptTexts(const RunResult& run) {
    std::vector<std::string> texts;
    for (const SeenDialog& dialog : run.dialogs) {
        // A message box has its text in control 0xFFFF, the read-only prompt has
        // button 1001; the progress dialog may be caught before its controls exist.
        if (!HasControl(dialog, 0xFFFF) && !HasControl(dialog, 1001)) continue;
        std::string text = dialog.text;
        for (const auto& control : dialog.controls)
            if (control.first == 1000) text = control.second;
        texts.push_back(text);
    }
    return texts;
}

void MakeFolders(const std::string& path) {
    SHCreateDirectoryExA(NULL, path.c_str(), NULL);
}

std::vector<std::string> FindDoubleByteCharacters(unsigned char trail, size_t count) {
    std::vector<std::string> found;
    for (wchar_t c = 0x30A1; c < 0x9FA5 && found.size() < count; c++) {
        char bytes[4];
        BOOL lossy = FALSE;
        int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, sizeof bytes, NULL, &lossy);
        if (length == 2 && !lossy && (!trail || (unsigned char)bytes[1] == trail)) found.push_back(std::string(bytes, 2));
    }
    return found;
}

size_t FindLastSeparator(const std::string& path) {
    size_t last = std::string::npos;
    for (const char* at = path.c_str(); *at; at = CharNextA(at))
        if (*at == '\\') last = size_t(at - path.c_str());
    return last;
}

void MakeFile(const std::string& path, bool readOnly) {
    MakeFolders(path.substr(0, FindLastSeparator(path)));
    WriteWholeFile(path, "installed file\r\n");
    if (readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root, key.c_str(), name.c_str(), type, bytes.data(), DWORD(bytes.size()))) << key;
}

void SetText(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
    SetValue(root, key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

bool ReadValue(HKEY root, const std::string& key, const std::string& name, std::string* bytes, DWORD* type, REGSAM view) {
    char data[1024];
    DWORD size = sizeof data;
    const DWORD flags = view == KEY_WOW64_64KEY ? RRF_SUBKEY_WOW6464KEY : 0;
    LONG result = RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND | flags, type, data, &size);
    if (bytes) bytes->assign(data, result == ERROR_SUCCESS ? size : 0);
    return result == ERROR_SUCCESS;
}

// Every key by its path, every value as the data names it (key, two
// backslashes, name), with its data.
void RecordKeys(HKEY root, const std::string& path, RegistrySnapshot& keys, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    const std::string tag = view ? "(64-bit view) " : "";
    keys[tag + path] = "";
    static char name[16384];
    static BYTE data[65536];
    DWORD nameLength = sizeof name, dataLength = sizeof data;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &nameLength, NULL, NULL, data, &dataLength) == ERROR_SUCCESS; i++) {
        keys[tag + path + "\\\\" + name] = std::string((const char*)data, dataLength);
        nameLength = sizeof name, dataLength = sizeof data;
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0; nameLength = sizeof name, RegEnumKeyExA(key, i, name, &nameLength, NULL, NULL, NULL, NULL) == ERROR_SUCCESS; i++)
        subkeys.push_back(name);
    RegCloseKey(key);
    for (const std::string& subkey : subkeys) RecordKeys(root, path + "\\" + subkey, keys, view);
}

// Files and folders below a folder, each with its size.
static void ListTree(const std::string& folder, std::vector<std::string>& names) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName, path = folder + "\\" + name;
        if (name == "." || name == "..") continue;
        names.push_back(path + " " + std::to_string(found.nFileSizeLow));
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListTree(path, names);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::vector<std::string> Snapshot(const Watched& watched) {
    std::vector<std::string> lines;
    for (const std::string& folder : watched.folders) ListTree(folder, lines);
    for (const auto& key : watched.keys) {
        RegistrySnapshot keys;
        RecordKeys(key.root, key.path, keys, key.view);
        const std::string root = std::string(key.view & KEY_WOW64_64KEY ? "64:" : "") +
                                 (key.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : key.root == HKEY_CURRENT_USER ? "HKCU\\" : "HKEY\\");
        for (const auto& entry : keys) lines.push_back(root + entry.first + "=" + entry.second);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void ExpectAsBefore(const std::vector<std::string>& before, const Watched& watched) {
    std::vector<std::string> after = Snapshot(watched);
    for (int wait = 0; wait < 50 && after != before; ++wait) {
        Sleep(100);
        after = Snapshot(watched);
    }
    std::vector<std::string> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    EXPECT_EQ(std::vector<std::string>(), gone);
    EXPECT_EQ(std::vector<std::string>(), added);
}

static std::string Family() {
    char family[16];
    DWORD length = GetEnvironmentVariableA("QV_FAMILY", family, sizeof family);
    return length && length < sizeof family ? family : "win7";
}

bool FamilyIsNt() {
    return Family() != "win98";
}

bool FamilyIsNt6OrLater() {
    return Family() == "win7" || FamilyIs64Bit();
}

bool FamilyIs64Bit() {
    return Family() == "win10x64";
}

bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

namespace {

const char AppDefaultsKey[] = "Software\\Wine\\AppDefaults\\uninst.exe";

// Wine reports the family's version to every program of that file name.
class FamilyVersion : public testing::Environment {
public:
    void SetUp() override {
        std::string family = Family();
        ASSERT_TRUE(family == "win98" || family == "winxp" || family == "win7" || family == "win10x64") << "QV_FAMILY=" << family;
        // The 64-bit family only in a 64-bit prefix, the others never there.
        ASSERT_EQ(FamilyIs64Bit(), IsWow64()) << "QV_FAMILY=" << family << " in a prefix of the other kind";
        SetText(HKEY_CURRENT_USER, AppDefaultsKey, "Version", FamilyIs64Bit() ? "win10" : family);
    }
    void TearDown() override { RegDeleteKeyValueA(HKEY_CURRENT_USER, AppDefaultsKey, "Version"); }
};

testing::Environment* const Registered = testing::AddGlobalTestEnvironment(new FamilyVersion);

}  // namespace
