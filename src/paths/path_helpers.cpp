#include "paths/path_helpers.h"

#include <string.h>

#include "base/run_state.h"

// On a double-byte code page (932, 936, 949, 950) a lead byte and the byte
// after it are one character, and that byte may be 0x5C, the backslash, or
// an ASCII letter: every step through a path goes by characters. On a
// single-byte code page every byte is a character, and nothing else changes.
#ifdef _WIN32
static int IsLeadByte(char c) {
    static int doubleByte = -1;  // the code page does not change during a run
    if (doubleByte < 0) {
        CPINFO info;
        doubleByte = GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1;
    }
    return doubleByte && IsDBCSLeadByte((BYTE)c);
}
#else
static int IsLeadByte(char) {
    return 0;  // the tools read the data as single bytes
}
#endif

const char* NextChar(const char* at) {
    return IsLeadByte(*at) && at[1] ? at + 2 : at + 1;
}

char* FindLastBackslash(const char* text) {
    const char* found = NULL;
    for (; *text; text = NextChar(text))
        if (*text == '\\') found = text;
    return (char*)found;
}

static int EndsWithBackslash(const char* path, size_t length) {
    return length > 0 && FindLastBackslash(path) == path + length - 1;
}

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
    if (length == 0 || EndsWithBackslash(path, length)) return 1;
    return AppendPath(path, "\\");
}

void StripBackslash(char* path) {
    size_t length = strlen(path);
    if (length > 3 && EndsWithBackslash(path, length)) path[length - 1] = 0;
}

static char FoldAsciiCase(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Compares the first length bytes of path with the whole of folder. The
// second byte of a double-byte character is never folded: it may be an ASCII
// letter, and two different characters would compare equal.
static int IsSameFolderPrefix(const char* path, size_t length, const char* folder) {
    int trail = 0;
    for (size_t i = 0; i < length; i++) {
        if (!folder[i]) return 0;
        if (trail ? path[i] != folder[i] : FoldAsciiCase(path[i]) != FoldAsciiCase(folder[i])) return 0;
        trail = !trail && IsLeadByte(path[i]);
    }
    return folder[length] == 0;
}

int IsSameFolderName(const char* first, const char* second) {
    return IsSameFolderPrefix(first, strlen(first), second);
}

// Folding every byte, trail bytes too, only joins more names: never parts two
// that IsSameFolderPrefix joins.
unsigned HashFolderName(const char* name) {
    unsigned hash = 2166136261u;  // FNV-1a
    for (; *name; name++) hash = (hash ^ (unsigned char)FoldAsciiCase(*name)) * 16777619u;
    return hash;
}

#ifdef _WIN32
#include <shlobj.h>

void* FindKernelFunction(const char* name) {
    return (void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

void MakeLongPath(char* path) {
    // Looked up: Windows 95 and NT 4 do not have it.
    typedef DWORD(WINAPI * GetLongPathNameCall)(LPCSTR, LPSTR, DWORD);
    GetLongPathNameCall getLongPathName = (GetLongPathNameCall)FindKernelFunction("GetLongPathNameA");
    char longPath[PathBufferSize];
    DWORD length = getLongPathName ? getLongPathName(path, longPath, PathBufferSize) : 0;
    if (length > 0 && length < PathBufferSize) memcpy(path, longPath, length + 1);
}

int IsLinkTag(unsigned long tag) {
    return (tag & 0xFFFF0FFF) != 0x9000001A  // IO_REPARSE_TAG_CLOUD, and _CLOUD_1 to _CLOUD_F
           && tag != 0x80000021              // IO_REPARSE_TAG_ONEDRIVE
           && tag != 0x80000013;             // IO_REPARSE_TAG_DEDUP
}

int ReadHandleAttributes(void* handle, unsigned long* attributes, unsigned long* tag) {
    typedef BOOL(WINAPI * GetInformationCall)(HANDLE, int, LPVOID, DWORD);
    static GetInformationCall getInformation;
    static int lookedUp;
    if (!lookedUp) {
        lookedUp = 1;
        getInformation = (GetInformationCall)FindKernelFunction("GetFileInformationByHandleEx");
    }
    struct { DWORD attributes, tag; } information;  // FILE_ATTRIBUTE_TAG_INFO
    if (!getInformation || !getInformation(handle, 9 /* FileAttributeTagInfo */, &information, sizeof information))
        return 0;
    *attributes = information.attributes;
    *tag = information.tag;
    return 1;
}

int IsLinkAt(const char* path, unsigned long attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    // Before Vista there are no cloud files: every reparse point is a link.
    unsigned long handleAttributes, tag;
    int link = !ReadHandleAttributes(handle, &handleAttributes, &tag) || IsLinkTag(tag);
    CloseHandle(handle);
    return link;
}

// How much of a full path no link can be: "c:" or "\\server\share".
static size_t MeasureRoot(const char* path) {
    if (path[0] && path[1] == ':') return 2;
    if (path[0] != '\\' || path[1] != '\\') return 0;
    const char* at = path + 2;
    for (int backslashes = 0; *at; at = NextChar(at))
        if (*at == '\\' && ++backslashes == 2) break;
    return (size_t)(at - path);
}

// Asked part by part from the end, without a trailing backslash: Wine reads a
// folder link named with one as its target. Nothing at path: nothing to
// remove there, and no part above need be asked (the passes try many folders
// that are already gone).
int IsReachedThroughLink(const char* path) {
    char part[PathBufferSize];
    if (!CopyPath(part, path)) return 1;
    size_t root = MeasureRoot(part);
    size_t length = strlen(part);
    if (length > root + 1 && EndsWithBackslash(part, length)) part[length - 1] = 0;
    for (int first = 1;; first = 0) {
        if (strlen(part) <= root + 1) return 0;
        DWORD attributes = GetFileAttributesA(part);
        if (first && attributes == INVALID_FILE_ATTRIBUTES) return 0;
        if (IsLinkAt(part, attributes)) return 1;
        char* last = FindLastBackslash(part);
        if (!last) return 0;
        *last = 0;
    }
}

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
    if (ProtectedFolderCount >= ProtectedFolderLimit || !CopyPath(ProtectedFolders[ProtectedFolderCount], folder)) return;
    // Kept in long form, the form every path is judged in too.
    if (strchr(folder, '~')) MakeLongPath(ProtectedFolders[ProtectedFolderCount]);
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
    IsWow64ProcessCall isWow64Process = (IsWow64ProcessCall)FindKernelFunction("IsWow64Process");
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

static int IsProtectedSpelling(const char* path) {
    size_t length = strlen(path);
    if (length < 4) return 1;  // empty text, a drive designator, a drive root
    if (EndsWithBackslash(path, length)) length--;  // one trailing backslash does not count
    if (ProtectedFolderCount < 0) FindProtectedFolders();
    for (int i = 0; i < ProtectedFolderCount; i++) {
        if (IsSameFolderPrefix(path, length, ProtectedFolders[i])) return 1;
    }
    return 0;
}

// A folder is judged by where it leads, not only by how it is written: with
// "..", trailing dots or short names, "c:\PROGRA~1\App\.." is the program
// files folder, and "#Windows#\.." a drive root, which a pass would clean whole.
int IsProtectedFolder(const char* path) {
    if (IsProtectedSpelling(path)) return 1;
    char real[PathBufferSize];
    DWORD length = GetFullPathNameA(path, PathBufferSize, real, NULL);
    if (length == 0 || length >= PathBufferSize) return 1;  // where it leads is unknown
    if (strchr(real, '~')) MakeLongPath(real);
    return IsProtectedSpelling(real);
}
#endif
