#include "paths/folder_tokens.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "base/run_state.h"
#include "paths/path_helpers.h"

enum { WorkAreaSize = 65500 };

// Where a token's folder comes from first.
enum FolderSource : uint8_t {
    FromWindowsDirectory,
    FromSystemDirectory,
    FromTempPath,
    FromRegistry,      // text names the value
    FromShell,         // csidl names the folder
    FromParentOfShell, // the parent of the shell folder csidl
    FromInstallDir,
};

// What is tried when the first source fails; text is the literal the
// rebuilt folder ends with.
enum FolderFallback : uint8_t {
    NoFallback,
    CommonFilesFallback,  // program files and "Common Files"
    PerUserFallback,      // below the Windows folder
    LocalFallback,        // beside application data on NT, else as per-user
    AllUsersFallback,     // beside the user's profile on NT, else below the Windows folder
    UserDirFallback,      // parent of application data on NT, the Windows folder on 9x
};

struct FolderToken {
    const char* name;
    FolderSource source;
    uint8_t csidl;
    FolderFallback fallback;
    const char* text;
    uint8_t perUser;  // the folder of the account the process runs as
};

static const FolderToken FolderTokens[] = {
    {"#Windows#", FromWindowsDirectory, 0, NoFallback, 0, 0},
    {"#System#", FromSystemDirectory, 0, NoFallback, 0, 0},
    {"#TempDir#", FromTempPath, 0, NoFallback, 0, 1},
    {"#CommonFiles#", FromRegistry, 0, CommonFilesFallback, "CommonFilesDir", 0},
    {"#Program Files#", FromRegistry, 0, NoFallback, "ProgramFilesDir", 0},
    {"#MyDocuments#", FromShell, CSIDL_PERSONAL, NoFallback, 0, 1},
    {"#Desktop#", FromShell, CSIDL_DESKTOPDIRECTORY, NoFallback, 0, 1},
    {"#AppData#", FromShell, CSIDL_APPDATA, PerUserFallback, "\\Application Data", 1},
    {"#LocalAppData#", FromShell, CSIDL_LOCAL_APPDATA, LocalFallback, "\\Local Settings\\Application Data", 1},
    {"#AllUsersAppData#", FromShell, CSIDL_COMMON_APPDATA, AllUsersFallback, "\\All Users\\Application Data", 0},
    {"#AllUsersDocuments#", FromShell, CSIDL_COMMON_DOCUMENTS, AllUsersFallback, "\\All Users\\Documents", 0},
    {"#AllUsersDesktop#", FromShell, CSIDL_COMMON_DESKTOPDIRECTORY, AllUsersFallback, "\\All Users\\Desktop", 0},
    {"#UserDir#", FromShell, CSIDL_PROFILE, UserDirFallback, 0, 1},
    {"#AllUsersDir#", FromParentOfShell, CSIDL_COMMON_DOCUMENTS, AllUsersFallback, "\\All Users", 0},
    {"#InstallDir#", FromInstallDir, 0, NoFallback, 0, 0},
};

static const char VersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// A length of 0 is failure, and so is one that does not fit: the call then
// did not fill the buffer.
static int IsFilledBy(DWORD length) {
    return length > 0 && length < PathBufferSize;
}

static int GetShellFolder(char* folder, int csidl) {
    if (!GetSpecialFolder(folder, csidl)) return 0;
    folder[PathBufferSize - 1] = 0;
    // The forms below cut components at backslashes; a trailing one would
    // make them cut nothing.
    StripBackslash(folder);
    return 1;
}

// A stored text need not be terminated, and a value that fills all 260
// bytes without one is longer than a folder can be: cutting it would name
// another folder, so it counts as unreadable.
static int ReadRegistryFolder(HKEY key, const char* name, char* folder) {
    char value[PathBufferSize + 1];
    DWORD size = PathBufferSize;
    if (RegQueryValueExA(key, name, NULL, NULL, (BYTE*)value, &size) != ERROR_SUCCESS) return 0;
    if (size > PathBufferSize) return 0;
    value[size] = 0;
    return CopyPath(folder, value);
}

static int ReadRegistryToken(const FolderToken* token, char* folder) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VersionKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    int found = ReadRegistryFolder(key, token->text, folder);
    // Without either value the token stays as it is written, as for every
    // other registry token, rather than becoming a made-up folder.
    if (!found && token->fallback == CommonFilesFallback)
        found = ReadRegistryFolder(key, "ProgramFilesDir", folder) && AppendBackslash(folder) &&
                AppendPath(folder, "Common Files");
    RegCloseKey(key);
    return found;
}

// The parent of a shell folder; the parent of a folder just below a drive
// root is that root with its backslash.
static int GetParentOfShellFolder(char* folder, int csidl) {
    if (!GetShellFolder(folder, csidl)) return 0;
    char* last = FindLastBackslash(folder);
    if (!last) return CopyPath(folder, "c:\\");
    if (last > folder && last[-1] == ':') last[1] = 0;
    else *last = 0;
    return 1;
}

static int ReadFolderSource(const FolderToken* token, char* folder) {
    switch (token->source) {
    case FromWindowsDirectory:
        return IsFilledBy(GetWindowsDirectoryA(folder, PathBufferSize));
    case FromSystemDirectory:
        return IsFilledBy(GetSystemDirectoryA(folder, PathBufferSize));
    case FromTempPath:
        return IsFilledBy(GetTempPathA(PathBufferSize, folder));
    case FromRegistry:
        return ReadRegistryToken(token, folder);
    case FromShell:
        return GetShellFolder(folder, token->csidl);
    case FromParentOfShell:
        return GetParentOfShellFolder(folder, token->csidl);
    case FromInstallDir:
        return InstallDir && CopyPath(folder, InstallDir);
    }
    return 0;
}

// The Windows folder, a backslash, then prefix and literal.
static int BuildBelowWindows(char* folder, const char* prefix, const char* literal) {
    return IsFilledBy(GetWindowsDirectoryA(folder, PathBufferSize)) && AppendBackslash(folder) &&
           AppendPath(folder, prefix) && AppendPath(folder, literal);
}

// Replaces the text from the last backslash on by the literal; with an
// empty literal this cuts the last component.
static int ReplaceLastComponent(char* folder, const char* literal) {
    char* last = FindLastBackslash(folder);
    if (!last) return 0;
    *last = 0;
    return AppendPath(folder, literal);
}

// Application data's grandparent is taken for the root of the profiles:
// "...\Documents and Settings\user\Application Data" with "\All Users\Desktop"
// gives "...\Documents and Settings\All Users\Desktop".
static int BuildBesideProfile(char* folder, const char* literal) {
    return GetShellFolder(folder, CSIDL_APPDATA) && ReplaceLastComponent(folder, "") &&
           ReplaceLastComponent(folder, literal);
}

// The profile of the NT user is the parent of its application data; without
// one, the system drive's root is the best there is.
static int BuildUserDirFallback(char* folder) {
    if (!IsNtPlatform) return BuildBelowWindows(folder, "", "");
    if (!GetShellFolder(folder, CSIDL_APPDATA) || !ReplaceLastComponent(folder, "")) return CopyPath(folder, "c:\\");
    return 1;
}

// The folders of older systems that lacked the shell's answer. The NT
// layouts assume the administrator installed; 9x kept everything below the
// Windows folder.
static int BuildFallbackFolder(const FolderToken* token, char* folder) {
    const char* literal = token->text;
    switch (token->fallback) {
    case NoFallback:
    case CommonFilesFallback:  // read with the primary value, from the same key
        return 0;
    case LocalFallback:
        if (IsNtPlatform && GetShellFolder(folder, CSIDL_APPDATA) && ReplaceLastComponent(folder, literal)) return 1;
        // fall through
    case PerUserFallback:
        if (IsNtPlatform) return BuildBelowWindows(folder, "Profiles\\Administrator", literal);
        return BuildBelowWindows(folder, "", "Application Data");
    case AllUsersFallback:
        if (IsNtPlatform) return BuildBesideProfile(folder, literal) || BuildBelowWindows(folder, "Profiles", literal);
        return BuildBelowWindows(folder, "", literal + 1);
    case UserDirFallback:
        return BuildUserDirFallback(folder);
    }
    return 0;
}

int BeginsWithPerUserToken(const char* text) {
    const char* close = text[0] == '#' ? strchr(text + 1, '#') : NULL;
    char token[PathBufferSize];
    if (!close || (size_t)(close - text) + 2 > sizeof token) return 0;
    memcpy(token, text, close - text + 1);
    token[close - text + 1] = 0;
    for (size_t i = 0; i < sizeof FolderTokens / sizeof FolderTokens[0]; i++)
        if (IsSameFolderName(token, FolderTokens[i].name)) return FolderTokens[i].perUser;
    return 0;
}

void ResolveFolderToken(char* buffer) {
    const FolderToken* token = 0;
    for (size_t i = 0; i < sizeof FolderTokens / sizeof FolderTokens[0]; i++) {
        if (IsSameFolderName(buffer, FolderTokens[i].name)) {
            token = &FolderTokens[i];
            break;
        }
    }
    if (!token) {
        buffer[0] = 0;
        return;
    }
    // Built aside, so that a source that fails half-way leaves the token's
    // own text in place, where the caller can see it was not resolved.
    char folder[PathBufferSize];
    if (ReadFolderSource(token, folder) || BuildFallbackFolder(token, folder)) CopyPath(buffer, folder);
    if (buffer[0]) StripBackslash(buffer);
}

// The expanded text so far. Its length keeps counting when the text no
// longer fits the work area, so that callers learn the full length.
struct Expansion {
    char* work;
    uint32_t length;
};

static void AppendExpanded(Expansion* expansion, const char* text, size_t count) {
    uint32_t length = expansion->length;
    if (length < WorkAreaSize && count < (size_t)(WorkAreaSize - length)) {
        memcpy(expansion->work + length, text, count);
        expansion->work[length + count] = 0;
    }
    expansion->length = count > (size_t)(0xFFFFFFFFu - length) ? 0xFFFFFFFFu : (uint32_t)(length + count);
}

// Without a work area the text comes out as it is, when it fits.
static uint32_t CopyUnexpanded(char* destination, const char* source, uint32_t size) {
    size_t length = strlen(source);
    if (destination && size) {
        destination[0] = 0;
        if (length < size) memcpy(destination, source, length + 1);
    }
    return (uint32_t)length;
}

uint32_t ExpandTokens(char* destination, const char* source, uint32_t size) {
    // No retry after compacting the heap: the text can still be used as it is.
    char* work = (char*)calloc(1, WorkAreaSize);
    if (!work) return CopyUnexpanded(destination, source, size);
    Expansion expansion = {work, 0};
    const char* read = source;
    for (;;) {
        const char* open = strchr(read, '#');
        if (!open) {
            AppendExpanded(&expansion, read, strlen(read));
            break;
        }
        AppendExpanded(&expansion, read, (size_t)(open - read));
        const char* close = strchr(open + 1, '#');
        if (!close) {  // an unmatched sign and all after it stay as written
            AppendExpanded(&expansion, open, strlen(open));
            break;
        }
        // A token too long for the buffer is in no table: it goes, like any
        // unknown token. The folder is appended, never scanned again.
        char token[PathBufferSize];
        size_t tokenLength = (size_t)(close - open) + 1;
        token[0] = 0;
        if (tokenLength < PathBufferSize) {
            memcpy(token, open, tokenLength);
            token[tokenLength] = 0;
            ResolveFolderToken(token);
        }
        AppendExpanded(&expansion, token, strlen(token));
        read = close + 1;
    }
    uint32_t length = expansion.length;
    // All or nothing: a cut path or command would name something else.
    if (destination && size) {
        destination[0] = 0;
        if (length < size && length < WorkAreaSize) memcpy(destination, work, length + 1);
    }
    free(work);
    return length;
}
