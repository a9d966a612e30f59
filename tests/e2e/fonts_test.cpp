// Fonts under Wine: the installed-fonts entry of the running family goes
// with the file; a file without a full name leaves the registry alone.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"
#include "sfnt_builder.h"

namespace {

const char NtFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char NineXFonts[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

void SetFontEntry(const char* key, const std::string& name, const std::string& file) {
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL));
    RegSetValueExA(handle, name.c_str(), 0, REG_SZ, (const BYTE*)file.c_str(), DWORD(file.size() + 1));
    RegCloseKey(handle);
}

bool HasFontEntry(const char* key, const std::string& name) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    bool found = RegQueryValueExA(handle, name.c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return found;
}

void ClearFontEntry(const char* key, const std::string& name) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
}

// A named font and a nameless one with entries in both families' keys: the
// named one's entry goes from the running family's key alone, and a file
// without a full name leaves the registry alone.
TEST(Fonts, EntryGoesFromTheFamilysKey) {
    const std::string named = "Qorvand Test Sans (TrueType)", nameless = "Sfnt Sample (TrueType)";
    std::string app = FreshTestFolder();
    WriteWholeFile(app + "named.ttf", BuildTrueTypeFont({MacFullName("Qorvand Test Sans")}));
    WriteWholeFile(app + "nameless.ttf", BuildTrueTypeFont({WindowsName(4, "Qorvand Test Sans")}));
    for (const char* key : {NtFonts, NineXFonts}) {
        SetFontEntry(key, named, "named.ttf");
        SetFontEntry(key, nameless, "nameless.ttf");
    }
    PackData data;
    data.messages = TestMessages();
    data.files = {{".", "named.ttf", 2}, {".", "nameless.ttf", 2}};
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(!FamilyIsNt(), HasFontEntry(NtFonts, named));
    EXPECT_EQ(FamilyIsNt(), HasFontEntry(NineXFonts, named));
    for (const char* key : {NtFonts, NineXFonts}) {
        EXPECT_TRUE(HasFontEntry(key, nameless)) << key;
        ClearFontEntry(key, named);
        ClearFontEntry(key, nameless);
    }
    EXPECT_FALSE(FileExists(app + "named.ttf"));
    EXPECT_FALSE(FileExists(app + "nameless.ttf"));
}

struct HungWindow {
    HANDLE release, ready;
};

DWORD WINAPI RunHungWindow(LPVOID parameter) {
    HungWindow* hung = (HungWindow*)parameter;
    HWND window = CreateWindowExA(0, "STATIC", "hung", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetEvent(hung->ready);
    WaitForSingleObject(hung->release, INFINITE);  // no message is handled meanwhile
    DestroyWindow(window);
    return 0;
}

// A window of another program that stops handling messages must not hold
// the uninstaller still: the font change broadcast gives up on it.
TEST(Fonts, HungWindowElsewhereDoesNotHoldTheRun) {
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE windowReady = CreateEventA(NULL, TRUE, FALSE, NULL);
    HungWindow hung = {release, windowReady};
    HANDLE thread = CreateThread(NULL, 0, RunHungWindow, &hung, 0, NULL);
    WaitForSingleObject(windowReady, 5000);

    std::string app = FreshTestFolder();
    WriteWholeFile(app + "named.ttf", BuildTrueTypeFont({MacFullName("Qorvand Hung Sans")}));
    PackData data;
    data.messages = TestMessages();
    data.files = {{".", "named.ttf", 2}};
    DWORD started = GetTickCount();
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {}, 30000);
    DWORD took = GetTickCount() - started;
    SetEvent(release);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(release);
    CloseHandle(windowReady);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(FileExists(app + "named.ttf"));
    EXPECT_LT(took, 20000u);
}

}  // namespace
