#include "app/run.h"

#include <commctrl.h>
#include <ole2.h>
#include <string.h>

#include "data/entry_lists.h"
#include "data/memory.h"
#include "data/message_table.h"
#include "data/records.h"
#include "paths/path_helpers.h"

HINSTANCE ModuleInstance;
int IsNtPlatform;
int IsNt6OrLater;
int QuietMode;
int SwitchS;
int SwitchX;
HWND MainWindow;
uint32_t ProgressTotal;
char* InstallDir;
char* ExePath;
char* WorkPath;

typedef void(WINAPI* SetThemeAppPropertiesFunction)(DWORD);
static HMODULE ThemeLibrary;
static SetThemeAppPropertiesFunction SetThemeAppPropertiesProc;

static const char MainWindowClassName[] = "QorvandClass";
enum { MainWindowWidth = 320, MainWindowHeight = 200 };

void SetPlatformFlags() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);  // a failure leaves everything 0
    IsNtPlatform = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    IsNt6OrLater = IsNtPlatform && version.dwMajorVersion > 5;
}

void ScanSwitches(const char* tail) {
    const char* at = tail ? tail : "";
    for (;;) {
        while (*at == ' ') at++;
        if (*at != '/' && *at != '-') return;  // the first word that is no switch ends the scan
        at++;
        if (!*at) return;
        char letter = *at;
        if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
        if (letter == 'Q') {
            QuietMode = 1;
        } else if (letter == 'S') {
            SwitchS = 1;
            QuietMode = 1;
        } else if (letter == 'X') {
            SwitchX = 1;
            QuietMode = 1;
        }
        // Only the first letter of a switch word counts; "/" or "-" after it
        // opens the next switch straight away, as in /Q/S.
        at++;
        while (*at && *at != ' ' && *at != '/' && *at != '-') at++;
    }
}

// Loaded by its full path: a bare name would search the uninstaller's own
// folder first, and that folder may be writable by others.
static void InitThemes() {
    static const char library[] = "\\uxtheme.dll";
    char path[PathBufferSize];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length > 0 && length + sizeof library <= sizeof path) {
        if (path[length - 1] == '\\') length--;
        memcpy(path + length, library, sizeof library);
        ThemeLibrary = LoadLibraryA(path);
        if (ThemeLibrary)
            SetThemeAppPropertiesProc =
                (SetThemeAppPropertiesFunction)(void*)GetProcAddress(ThemeLibrary, "SetThemeAppProperties");
    }
    InitCommonControls();
}

static void RestrictThemeToFrames() {
    if (SetThemeAppPropertiesProc) SetThemeAppPropertiesProc(1);  // STAP_ALLOW_NONCLIENT
}

static void FillInstallDir() {
    GetModuleFileNameA(ModuleInstance, InstallDir, PathBufferSize);
    InstallDir[PathBufferSize - 1] = 0;
    char* lastBackslash = strrchr(InstallDir, '\\');
    if (lastBackslash) *lastBackslash = 0;
    AppendBackslash(InstallDir);
}

int Startup(HINSTANCE instance) {
    ModuleInstance = instance;
    OleInitialize(NULL);
    InitThemes();
    if (!AllocateZeroed(PathBufferSize, &ExePath) || !AllocateZeroed(PathBufferSize, &WorkPath) ||
        !AllocateZeroed(PathBufferSize, &InstallDir))
        return 0;
    FillInstallDir();
    return 1;
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

static ATOM RegisterMainWindowClass() {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = ModuleInstance;
    windowClass.hIcon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(800));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
    windowClass.lpszClassName = MainWindowClassName;
    return RegisterClassA(&windowClass);
}

// Hidden and centred: it only owns the message boxes and dialogs.
static int CreateMainWindow() {
    int x = (GetSystemMetrics(SM_CXSCREEN) - MainWindowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - MainWindowHeight) / 2;
    MainWindow = CreateWindowExA(0, MainWindowClassName, GetMessageText(0, MsgCaption),
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x < 0 ? 0 : x, y < 0 ? 0 : y,
                                 MainWindowWidth, MainWindowHeight, NULL, NULL, ModuleInstance, NULL);
    return MainWindow != NULL;
}

static void RunFinalLoop() {
    DestroyWindow(MainWindow);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
}

void Shutdown() {
    OleUninitialize();
    FreeAndClear(&ExePath);
    FreeAndClear(&InstallDir);
    FreeAndClear(&WorkPath);
    if (ThemeLibrary) {
        FreeLibrary(ThemeLibrary);
        ThemeLibrary = NULL;
        SetThemeAppPropertiesProc = NULL;
    }
}

int RunUninstaller(HINSTANCE instance, const char* tail) {
    SetPlatformFlags();
    if (!Startup(instance)) return 0;
    ScanSwitches(tail);
    if (!ReadUninstallData()) return -1;
    if (!(GetOptionFlags() & OptThemedControls)) RestrictThemeToFrames();
    if (!RegisterMainWindowClass()) return 0;
    if (!CreateMainWindow()) return -1;

    int answer = IDOK;
    if (!QuietMode) answer = ShowMessage(GetMessageText(0, MsgConfirm), MB_OKCANCEL | MB_ICONINFORMATION);

    if (answer == IDOK) {
        if (!QuietMode && *GetMessageText(0, MsgFinished))
            ShowMessage(GetMessageText(0, MsgFinished), MB_OK | MB_ICONINFORMATION);
    }

    RunFinalLoop();
    FreeUninstallData();
    Shutdown();
    return 0;
}
