// Laying out an uninstaller with generated data in the test prefix, and
// running it with its dialogs answered.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pack_model.h"
#include "run_and_answer.h"

// Folder of the staged binaries (uninst.exe, test servers and programs).
const std::string BinFolder = "C:\\qvtest\\bin\\";
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// Removes a folder with everything in it; links are removed, never followed.
void RemoveTree(const std::string& folder);

// "Suite.Name" of the running test.
std::string TestName();
// A fresh, empty folder under C:\qvtest named after the running test.
std::string FreshTestFolder();

// Sixteen messages whose caption is unique to the running test, so that its
// dialogs can be told apart.
std::vector<std::string> TestMessages();

// Answers a message box of the running test (its text is control 0xFFFF),
// never the progress dialog, which shares the caption.
Answer BoxAnswer(int buttonId);

// Data with TestMessages() and nothing to remove yet.
PackData TestData();

// Writes folder\uninst.exe: the stub followed by the given block.
std::string WriteUninstaller(const std::string& folder, const std::string& block);
std::string WriteUninstaller(const std::string& folder, const PackData& data);

// Runs the uninstaller with the switches; answers are matched by caption.
RunResult RunUninstaller(const std::string& exe, const std::string& switches,
                         const std::vector<Answer>& answers, unsigned timeoutMs = 20000,
                         const WindowHook& onNewWindow = nullptr);

// Writes the uninstaller into folder and runs it with /S: it must end with 0
// and show nothing.
void RunQuietly(const std::string& folder, const PackData& data);

// What a run asked or told the user, in order: the texts of its message boxes
// and read-only prompts (control 1000), without the progress dialog (which
// may come and go too quickly to be seen whole, or at all).
std::vector<std::string> PromptTexts(const RunResult& run);

// The first kana and CJK ideographs that are two bytes in the ANSI code page,
// with trail for their second byte (0: any); none on a single-byte one.
std::vector<std::string> FindDoubleByteCharacters(unsigned char trail, size_t count);
// The position of the last backslash character of a path, by characters of
// the ANSI code page (a double-byte character may end in 0x5C), or npos.
size_t FindLastSeparator(const std::string& path);

// A folder with the folders above it.
void MakeFolders(const std::string& path);
// A small file, with the folders above it; read-only when asked.
void MakeFile(const std::string& path, bool readOnly = false);

bool FileExists(const std::string& path);

// A registry value, its key created when missing.
void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& bytes);
void SetText(HKEY root, const std::string& key, const std::string& name, const std::string& text);
// False when there is no such value; else its bytes and type when asked. From
// our registry view, or the 64-bit one with KEY_WOW64_64KEY.
bool ReadValue(HKEY root, const std::string& key, const std::string& name, std::string* bytes = nullptr, DWORD* type = nullptr,
               REGSAM view = 0);

// The platform family that every uninstaller of this test run sees, named as
// Wine names Windows versions: "win98" (the 9x family), "winxp" (NT before 6)
// or "win7" (NT 6 and later), all 32-bit Windows; or "win10x64", Windows 10
// in a 64-bit prefix, where the 32-bit programs run under WOW64. It comes
// from QV_FAMILY (win7 when unset) and is set for every program named
// uninst.exe before the first test starts.
// Every key below path by its path, every value as key, two backslashes and
// name, with its data; from our registry view, or another (KEY_WOW64_64KEY),
// whose names are then marked as such.
typedef std::map<std::string, std::string> RegistrySnapshot;
void RecordKeys(HKEY root, const std::string& path, RegistrySnapshot& keys, REGSAM view = 0);

// Where an installation writes, to compare the machine before and after it:
// folders with everything below them, and registry keys with everything below
// them.
struct WatchedKey {
    HKEY root;
    std::string path;
    REGSAM view = 0;  // KEY_WOW64_64KEY: the 64-bit view of 64-bit Windows
};
struct Watched {
    std::vector<std::string> folders;
    std::vector<WatchedKey> keys;
};
// One line per file (with its size), folder, key and value; sorted.
std::vector<std::string> Snapshot(const Watched& watched);
// Fails with only what differs from before, so that a failure says what.
// Waits a little for it first: the uninstaller's batch ends after its folder
// is gone.
void ExpectAsBefore(const std::vector<std::string>& before, const Watched& watched);

bool FamilyIsNt();
bool FamilyIsNt6OrLater();
// 64-bit Windows: System32, Program Files and HKLM\Software are the 32-bit
// ones for our programs, the 64-bit ones are reached as Sysnative, by the
// 64-bit folder's own name and with KEY_WOW64_64KEY.
bool FamilyIs64Bit();
bool IsWow64();
