#include "app/run.h"

#include <ole2.h>
#include <string.h>

#include "data/entry_lists.h"
#include "data/memory.h"
#include "data/message_table.h"
#include "data/records.h"
#include "launch/launch.h"
#include "paths/folder_tokens.h"
#include "paths/path_helpers.h"
#include "removal/directories.h"
#include "removal/files.h"
#include "removal/wildcards.h"
#include "removal/registry.h"
#include "ui/dialogs.h"

typedef void(WINAPI* SetThemeAppPropertiesFunction)(DWORD);
static HMODULE ThemeLibrary;
static HMODULE CommonControlsLibrary;
static SetThemeAppPropertiesFunction SetThemeAppPropertiesProc;

static const char MainWindowClassName[] = "QorvandClass";
enum { MainWindowWidth = 320, MainWindowHeight = 200, TokenUserSize = 128 };  // a SID is at most 68 bytes

void SetPlatformFlags() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);  // a failure leaves everything 0
    IsNtPlatform = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    IsNt6OrLater = IsNtPlatform && version.dwMajorVersion > 5;
}

// Libraries that are not the system's core come from the System folder only.
// The uninstaller runs elevated, often from a folder that others may write
// to, and a library planted there under a system name would otherwise be
// loaded by the usual search, which looks in the program's own folder first.
// The common controls are therefore loaded here, not imported: an import
// would be resolved, with its own dependencies such as the theming library,
// before any of this code runs.
static HMODULE LoadSystemLibrary(const char* name) {
    char path[PathBufferSize];
    return GetSystemFilePath(path, name) ? LoadLibraryA(path) : NULL;
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef void(WINAPI* InitCommonControlsFunction)();

// Where the system offers it, every library loaded by name from now on, by
// this program or by the system's own libraries on its behalf (OLE creates a
// window, and the first window loads the theming library), is searched in
// the System folder only. Called before anything else can load a library.
static void RestrictLibrarySearch() {
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        (SetDefaultDllDirectoriesFunction)FindKernelFunction("SetDefaultDllDirectories");
    if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

static void InitThemes() {
    ThemeLibrary = LoadSystemLibrary("uxtheme.dll");
    if (ThemeLibrary)
        SetThemeAppPropertiesProc =
            (SetThemeAppPropertiesFunction)(void*)GetProcAddress(ThemeLibrary, "SetThemeAppProperties");

    // By name, not by path: the manifest's activation context then yields
    // version 6, which a full path into the System folder would bypass.
    CommonControlsLibrary = LoadLibraryA("comctl32.dll");
    InitCommonControlsFunction initCommonControls =
        CommonControlsLibrary ? (InitCommonControlsFunction)(void*)GetProcAddress(CommonControlsLibrary, MAKEINTRESOURCEA(17)) : NULL;
    if (initCommonControls) initCommonControls();
}

static void RestrictThemeToFrames() {
    if (SetThemeAppPropertiesProc) SetThemeAppPropertiesProc(1);  // STAP_ALLOW_NONCLIENT
}

void FillInstallDir(char* folder, const char* modulePath) {
    if (!CopyPath(folder, modulePath)) folder[0] = 0;
    char* lastBackslash = FindLastBackslash(folder);
    if (lastBackslash) *lastBackslash = 0;
    if (strchr(folder, '~')) MakeLongPath(folder);
    AppendBackslash(folder);
}

int Startup(HINSTANCE instance) {
    ModuleInstance = instance;
    RestrictLibrarySearch();
    OleInitialize(NULL);
    InitThemes();
    if (!AllocateZeroed(PathBufferSize, &ExePath) || !AllocateZeroed(PathBufferSize, &WorkPath) ||
        !AllocateZeroed(PathBufferSize, &InstallDir))
        return 0;
    char modulePath[PathBufferSize];
    // A cut path would name another folder.
    DWORD length = GetModuleFileNameA(ModuleInstance, modulePath, PathBufferSize);
    if (length == 0 || length >= PathBufferSize) return 0;
    FillInstallDir(InstallDir, modulePath);
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
    ReleaseDialogFont();
    if (ThemeLibrary) {
        FreeLibrary(ThemeLibrary);
        ThemeLibrary = NULL;
        SetThemeAppPropertiesProc = NULL;
    }
}

void SplitCommand(char* command, char** program, char** arguments) {
    char* end = command + strlen(command);
    *arguments = end;
    if (*command == '"') {
        command++;
        char* closing = strchr(command, '"');
        if (closing) {
            *closing = 0;
            end = closing;
            *arguments = closing + 1;
            while (**arguments == ' ') ++*arguments;
        }
        while (*command == ' ') command++;
        while (end > command && end[-1] == ' ') *--end = 0;
    }
    *program = command;
}

enum { ExpansionLimit = 65500 };

char* ComposePreRemovalCommand(const char* command, char** expanded) {
    *expanded = NULL;
    int quoted = command[0] == '"';
    const char* at = command + quoted;
    while (*at == ' ') at++;
    if (*at == '#') {
        uint32_t length = ExpandTokens(NULL, command, ExpansionLimit);
        if (length >= ExpansionLimit || !AllocateZeroed(length + 1, expanded)) return NULL;
        // The second expansion delivers all or nothing; nothing (memory ran
        // out meanwhile) means nothing is run.
        if (ExpandTokens(*expanded, command, length + 1) != length || !(*expanded)[0]) return NULL;
        // Unchanged means no token was recognised: such a command is taken
        // like any other, relative to the installation folder.
        if (length != strlen(command) || (*expanded)[at - command] != '#') return *expanded;
        FreeAndClear(expanded);
    }
    WorkPath[0] = '"';
    WorkPath[quoted] = 0;
    if (!AppendPath(WorkPath, InstallDir) || !AppendBackslash(WorkPath) || !AppendPath(WorkPath, at)) return NULL;
    return WorkPath;
}

// The options' program, run before anything is removed; /X alone skips it.
static void RunPreRemovalProgram() {
    const char* command = GetPreRemovalCommand();
    if (!command || (SwitchX && !SwitchS)) return;
    char* expanded;
    char* composed = ComposePreRemovalCommand(command, &expanded);
    if (composed) {
        char *program, *arguments;
        SplitCommand(composed, &program, &arguments);
        RunProgram(program, arguments, GetOptionFlags() & OptWaitForProgram);
    }
    FreeAndClear(&expanded);
}

int IsDesktopOfAnotherUser(HWND shell) {
    DWORD processId = 0;
    if (!IsNtPlatform || !shell || !GetWindowThreadProcessId(shell, &processId)) return 0;
    int other = 1;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    HANDLE theirs = NULL, ours = NULL;
    if (process && OpenProcessToken(process, TOKEN_QUERY, &theirs) &&
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ours)) {
        union {
            TOKEN_USER user;
            char room[TokenUserSize];
        } theirUser, ourUser;
        DWORD size;
        other = !GetTokenInformation(theirs, TokenUser, &theirUser, sizeof theirUser, &size) ||
                !GetTokenInformation(ours, TokenUser, &ourUser, sizeof ourUser, &size) ||
                !EqualSid(theirUser.user.User.Sid, ourUser.user.User.Sid);
    }
    if (ours) CloseHandle(ours);
    if (theirs) CloseHandle(theirs);
    if (process) CloseHandle(process);
    return other;
}

int RunUninstaller(HINSTANCE instance, const char* tail) {
    SetPlatformFlags();
    if (!Startup(instance)) return 0;
    ScanSwitches(tail);
    KeepPerUserEntries = IsDesktopOfAnotherUser(FindShellWindow());
    if (!ReadUninstallData()) return -1;
    if (!(GetOptionFlags() & OptThemedControls)) RestrictThemeToFrames();
    if (!RegisterMainWindowClass()) return 0;
    if (!CreateMainWindow()) return -1;

    int answer = IDOK;
    if (!QuietMode) {
        answer = ShowMessage(GetMessageText(0, MsgConfirm), MB_OKCANCEL | MB_ICONINFORMATION);
        while (answer == IDOK && AnyFileInUse()) {
            if (ShowMessage(GetMessageText(0, MsgFileInUse), MB_RETRYCANCEL | MB_ICONINFORMATION) == IDCANCEL)
                answer = IDCANCEL;
        }
    }

    if (answer == IDOK) {
        RunPreRemovalProgram();
        if (!QuietMode && OpenProgressDialog()) ProgressTotal = RegistryCount + 2 * FileCount + DirectoryCount;
        RemoveFiles();
        RemoveWildcardLeftovers();
        SetProgressStatus(MsgStatusDirectories);
        RemoveDirectoryFiles();
        RemoveDirectories();
        SetProgressStatus(MsgStatusFolders);
        RemoveEmptiedFolders();
        SetProgressStatus(MsgStatusRegistry);
        RemoveRegistryEntries();
        CloseProgressDialog();
        if (!QuietMode && *GetMessageText(0, MsgFinished))
            ShowMessage(GetMessageText(0, MsgFinished), MB_OK | MB_ICONINFORMATION);
        if (!SwitchS && !SwitchX && GetFinalDocument()) OpenDocument(GetFinalDocument(), ".htm");
    }

    RunFinalLoop();
    FreeUninstallData();
    if (answer == IDOK && !SwitchS && !SwitchX) RemoveSelf();
    Shutdown();
    return 0;
}
