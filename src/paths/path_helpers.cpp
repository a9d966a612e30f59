#include "paths/path_helpers.h"

#include <string.h>

#include "base/run_state.h"

int CopyPath(char* path, const char* text) {
    size_t length = strlen(text);
    if (length >= PathBufferSize) return 0;
    memcpy(path, text, length + 1);
    return 1;
}

int AppendPath(char* path, const char* text) {
    size_t used = strlen(path);
    size_t length = strlen(text);
    if (used + length >= PathBufferSize) return 0;
    memcpy(path + used, text, length + 1);
    return 1;
}

int AppendBackslash(char* path) {
    size_t length = strlen(path);
    if (length == 0 || path[length - 1] == '\\') return 1;
    return AppendPath(path, "\\");
}

void StripBackslash(char* path) {
    size_t length = strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = 0;
}

static char FoldAsciiCase(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Compares the first length characters of path with the whole of folder.
static int IsSameFolderPrefix(const char* path, size_t length, const char* folder) {
    for (size_t i = 0; i < length; i++) {
        if (!folder[i] || FoldAsciiCase(path[i]) != FoldAsciiCase(folder[i])) return 0;
    }
    return folder[length] == 0;
}

int IsSameFolderName(const char* first, const char* second) {
    return IsSameFolderPrefix(first, strlen(first), second);
}

#ifdef _WIN32
#include <shlobj.h>

int GetSystemFilePath(char* path, const char* name) {
    UINT length = GetSystemDirectoryA(path, PathBufferSize);
    return length > 0 && length < PathBufferSize && AppendBackslash(path) && AppendPath(path, name);
}

int GetSpecialFolder(char* folder, int csidl) {
    LPITEMIDLIST items = NULL;
    if (FAILED(SHGetSpecialFolderLocation(NULL, csidl, &items)) || !items) return 0;
    int found = SHGetPathFromIDListA(items, folder) != 0;
    IMalloc* allocator;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(items);
        allocator->Release();
    }
    return found;
}

// The protected folders of this run, in the order they are compared. The
// shell folders and those from functions are kept without a trailing
// backslash; the registry values exactly as stored. 64-bit Windows adds four.
enum { ProtectedFolderLimit = 23 };
static char ProtectedFolders[ProtectedFolderLimit][PathBufferSize];
static int ProtectedFolderCount = -1;  // not worked out yet

static void AddProtectedFolder(const char* folder) {
    if (ProtectedFolderCount < ProtectedFolderLimit && CopyPath(ProtectedFolders[ProtectedFolderCount], folder))
        ProtectedFolderCount++;
}

static const char QuickLaunch[] = "Microsoft\\Internet Explorer\\Quick Launch";

// A shell folder, and for the application-data folders the Quick Launch
// folder below them. A folder the shell cannot give takes no part.
static void AddShellFolder(int csidl, int withQuickLaunch) {
    char folder[PathBufferSize];
    if (!GetSpecialFolder(folder, csidl)) return;
    folder[PathBufferSize - 1] = 0;
    StripBackslash(folder);
    AddProtectedFolder(folder);
    if (withQuickLaunch && AppendBackslash(folder) && AppendPath(folder, QuickLaunch)) AddProtectedFolder(folder);
}

static void AddRegistryFolder(HKEY key, const char* name) {
    char value[PathBufferSize + 1];
    DWORD size = PathBufferSize;
    if (RegQueryValueExA(key, name, NULL, NULL, (BYTE*)value, &size) != ERROR_SUCCESS) return;
    value[size < (DWORD)PathBufferSize ? size : (DWORD)PathBufferSize] = 0;  // a stored text need not be terminated
    AddProtectedFolder(value);
}

// The program-files and common-files folders of one registry view: ours, or
// with KEY_WOW64_64KEY the 64-bit one.
static void AddRegistryFolders(REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS)
        return;
    AddRegistryFolder(key, "ProgramFilesDir");
    AddRegistryFolder(key, "CommonFilesDir");
    RegCloseKey(key);
}

// True for a 32-bit program on 64-bit Windows. IsWow64Process is looked up:
// the kernels of 9x and NT before 5.1 do not have it.
static int IsWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessCall)(HANDLE, PBOOL);
    IsWow64ProcessCall isWow64Process =
        (IsWow64ProcessCall)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Under WOW64 the usual names give the 32-bit folders (System32 leads to
// SysWOW64, ProgramFilesDir is "Program Files (x86)"); the 64-bit ones stay
// reachable by their own names: SysWOW64, Sysnative (the 64-bit System32)
// and the program-files folders of the 64-bit registry view.
static void AddWow64Folders(const char* windows) {
    char folder[PathBufferSize];
    if (CopyPath(folder, windows) && AppendBackslash(folder) && AppendPath(folder, "SysWOW64")) AddProtectedFolder(folder);
    if (CopyPath(folder, windows) && AppendBackslash(folder) && AppendPath(folder, "Sysnative")) AddProtectedFolder(folder);
    AddRegistryFolders(KEY_WOW64_64KEY);
}

void FindProtectedFolders() {
    ProtectedFolderCount = 0;
    char windows[PathBufferSize], folder[PathBufferSize];
    UINT length = GetWindowsDirectoryA(windows, PathBufferSize);
    if (length > 0 && length < PathBufferSize) {
        StripBackslash(windows);
        AddProtectedFolder(windows);
    } else {
        windows[0] = 0;
    }
    length = GetSystemDirectoryA(folder, PathBufferSize);
    if (length > 0 && length < PathBufferSize) {
        StripBackslash(folder);
        AddProtectedFolder(folder);
    }
    AddShellFolder(CSIDL_DESKTOP, 0);
    AddShellFolder(CSIDL_DESKTOPDIRECTORY, 0);
    if (IsNtPlatform) AddShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, 0);
    AddShellFolder(CSIDL_FONTS, 0);
    AddShellFolder(CSIDL_PROGRAMS, 0);
    if (IsNtPlatform) AddShellFolder(CSIDL_COMMON_PROGRAMS, 0);
    AddShellFolder(CSIDL_STARTMENU, 0);
    if (IsNtPlatform) AddShellFolder(CSIDL_COMMON_STARTMENU, 0);
    AddShellFolder(CSIDL_STARTUP, 0);
    if (IsNtPlatform) AddShellFolder(CSIDL_COMMON_STARTUP, 0);
    AddShellFolder(CSIDL_APPDATA, 1);
    AddShellFolder(CSIDL_COMMON_APPDATA, 1);
    AddShellFolder(CSIDL_COMMON_DOCUMENTS, 0);
    AddRegistryFolders(0);
    if (windows[0] && IsWow64()) AddWow64Folders(windows);
}

int IsProtectedFolder(const char* path) {
    size_t length = strlen(path);
    if (length < 4) return 1;  // empty text, a drive designator, a drive root
    if (path[length - 1] == '\\') length--;  // one trailing backslash does not count
    if (ProtectedFolderCount < 0) FindProtectedFolders();
    for (int i = 0; i < ProtectedFolderCount; i++) {
        if (IsSameFolderPrefix(path, length, ProtectedFolders[i])) return 1;
    }
    return 0;
}
#endif
