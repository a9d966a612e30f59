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
// shell folders and the two from functions are kept without a trailing
// backslash; the two registry values exactly as stored.
enum { ProtectedFolderLimit = 19 };
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

void FindProtectedFolders() {
    ProtectedFolderCount = 0;
    char folder[PathBufferSize];
    UINT length = GetWindowsDirectoryA(folder, PathBufferSize);
    if (length > 0 && length < PathBufferSize) {
        StripBackslash(folder);
        AddProtectedFolder(folder);
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
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        AddRegistryFolder(key, "ProgramFilesDir");
        AddRegistryFolder(key, "CommonFilesDir");
        RegCloseKey(key);
    }
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
