// Fonts under Wine: the installed-fonts entry of the running family goes
// with the file; a file without a full name leaves the registry alone.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"
#include "sfnt_builder.h"

namespace {

const char NtFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char NineXFonts[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// A named font and a nameless one with entries in both families' keys: the
// named one's entry goes from the running family's key alone, and a file
// without a full name leaves the registry alone.
TEST(Fonts, EntryGoesFromTheFamilysKey) {
    const std::string named = "Qorvand Test Sans (TrueType)", nameless = "Sfnt Sample (TrueType)";
    std::string app = FreshTestFolder();
    WriteWholeFile(app + "named.ttf", BuildTrueTypeFont({MacFullName("Qorvand Test Sans")}));
    WriteWholeFile(app + "nameless.ttf", BuildTrueTypeFont({WindowsName(4, "Qorvand Test Sans")}));
    for (const char* key : {NtFonts, NineXFonts}) {
        SetText(HKEY_LOCAL_MACHINE, key, named, "named.ttf");
        SetText(HKEY_LOCAL_MACHINE, key, nameless, "nameless.ttf");
    }
    PackData data = TestData();
    data.files = {{".", "named.ttf", 2}, {".", "nameless.ttf", 2}};
    RunQuietly(app, data);
    EXPECT_EQ(!FamilyIsNt(), ReadValue(HKEY_LOCAL_MACHINE, NtFonts, named));
    EXPECT_EQ(FamilyIsNt(), ReadValue(HKEY_LOCAL_MACHINE, NineXFonts, named));
    for (const char* key : {NtFonts, NineXFonts}) {
        EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, key, nameless)) << key;
        DeleteValue(HKEY_LOCAL_MACHINE, key, named);
        DeleteValue(HKEY_LOCAL_MACHINE, key, nameless);
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
    HungWindow hung = {CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE thread = CreateThread(NULL, 0, RunHungWindow, &hung, 0, NULL);
    WaitForSingleObject(hung.ready, 5000);
    std::string app = FreshTestFolder();
    WriteWholeFile(app + "named.ttf", BuildTrueTypeFont({MacFullName("Qorvand Hung Sans")}));
    PackData data = TestData();
    data.files = {{".", "named.ttf", 2}};
    DWORD started = GetTickCount();
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {}, 30000);
    DWORD took = GetTickCount() - started;
    SetEvent(hung.release);
    WaitForSingleObject(thread, 5000);
    for (HANDLE handle : {thread, hung.release, hung.ready}) CloseHandle(handle);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(FileExists(app + "named.ttf"));
    EXPECT_LT(took, 20000u);
}

}  // namespace
