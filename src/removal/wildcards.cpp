#include "removal/wildcards.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "paths/folder_tokens.h"
#include "paths/path_helpers.h"
#include "removal/directories.h"
#include "removal/files.h"

// The walk enters folders with a change of directory and deletes by relative
// names. It never enters a link (junction, symbolic link; a cloud file
// placeholder folder is no link, IsLinkAt): ".." from
// inside one leads to the target's parent, and the walk would clean folders
// the pattern never named, with an elevated uninstaller's rights.
//
// On the NT family it works only in folders it has pinned: opened without
// delete sharing, so that while the handle is open no other process can
// rename, delete or replace them, and confirmed to be no link. Otherwise a
// folder could be swapped for a junction between the look and the entry.
// The name is looked at again once pinned, when it can no longer change:
// Wine's handles see through links. The 9x family has neither links nor
// rights to escalate; nothing is pinned there, and NoPin holds nothing.

static HANDLE const NoPin = NULL;
enum { MostPins = PathBufferSize / 2 };  // a folder per backslash at most

// A pin on the folder, NoPin on 9x, INVALID_HANDLE_VALUE when the folder is a
// link or cannot be pinned.
static HANDLE PinFolder(const char* path) {
    if (!IsNtPlatform) return IsLinkAt(path, GetFileAttributesA(path)) ? INVALID_HANDLE_VALUE : NoPin;
    HANDLE pin = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (pin == INVALID_HANDLE_VALUE) return pin;
    // The tag through the pin itself (under Wine the other call costs a
    // hundred times more); XP has no tags, and every reparse point is a link.
    unsigned long attributes, tag;
    BY_HANDLE_FILE_INFORMATION information;
    int link = ReadHandleAttributes(pin, &attributes, &tag)
                   ? attributes & FILE_ATTRIBUTE_REPARSE_POINT && IsLinkTag(tag)
                   : !GetFileInformationByHandle(pin, &information) || IsLinkAt(path, information.dwFileAttributes);
    if (link || IsLinkAt(path, GetFileAttributesA(path))) {
        CloseHandle(pin);
        return INVALID_HANDLE_VALUE;
    }
    return pin;
}

static void ReleasePin(HANDLE pin) {
    if (pin != NoPin) CloseHandle(pin);
}

static int IsCurrentDirectoryProtected() {
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(PathBufferSize, folder);
    return length == 0 || length >= PathBufferSize || IsProtectedFolder(folder);
}

static int IsDotName(const char* name) {
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

// Cleans the current directory: subfolders depth first, then the files that
// match the mask. A subfolder that this leaves empty goes too: its pin is
// released first, and it is removed by its name here, in a folder that stays
// pinned meanwhile. The system refuses a folder that still has content, so no
// listing is needed to know. A protected folder is never searched nor removed.
static void RemoveMatchingFiles(const char* mask) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DWORD attributes = found.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotName(found.cFileName) || IsLinkAt(found.cFileName, attributes))
                continue;
            HANDLE pin = IsNtPlatform ? PinFolder(found.cFileName) : NoPin;
            if (pin == INVALID_HANDLE_VALUE) continue;
            int entered = SetCurrentDirectoryA(found.cFileName);
            int cleaned = entered && !IsCurrentDirectoryProtected();
            if (cleaned) RemoveMatchingFiles(mask);
            if (entered) SetCurrentDirectoryA("..");
            ReleasePin(pin);
            if (cleaned) RemoveFolder(found.cFileName, RemoveDirectoryA);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    search = FindFirstFileA(mask, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteUnlessLink(found.cFileName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
}

// How many folders of a pattern's path the data names itself: every folder
// of a relative pattern, or those after its last token. The folders above
// them (the installation folder, a token's folder) are the system's.
static int CountNamedFolders(const char* text) {
    const char* tail = strrchr(text, '#');
    tail = tail ? tail + 1 : text;
    int count = 0;
    for (const char* at = tail; *at; at = NextChar(at)) count += *at == '\\';
    if (tail != text && *tail == '\\') count--;  // the backslash that ends the token's folder
    return count;
}

static void ReleasePins(HANDLE* pins, int* count) {
    while (*count > 0) ReleasePin(pins[--*count]);
}

// Pins the pattern's folder and the folders above it that the data names,
// from the top down, so that none can be swapped once it has been looked at:
// through a link, the walk would clean a tree that the pattern never named.
// The folder itself is always pinned. 0, with nothing left pinned, when one
// of them is a link or cannot be pinned.
static int PinPatternFolders(const char* folder, int namedFolders, HANDLE* pins, int* count) {
    char path[PathBufferSize];
    size_t ends[MostPins];
    int levels = 0;
    *count = 0;
    if (!CopyPath(path, folder)) return 0;
    for (;;) {
        ends[levels++] = strlen(path);
        char* lastBackslash = FindLastBackslash(path);
        if (levels >= namedFolders || levels == MostPins || !lastBackslash) break;
        *lastBackslash = 0;
    }
    while (levels > 0) {
        size_t length = ends[--levels];
        memcpy(path, folder, length);
        path[length] = 0;
        HANDLE pin = PinFolder(path);
        if (pin == INVALID_HANDLE_VALUE) {
            ReleasePins(pins, count);
            return 0;
        }
        pins[(*count)++] = pin;
    }
    return 1;
}

// The full pattern in path: tokens expanded, or relative to the installation
// folder. Returns 0 when it does not fit.
static int ComposePattern(char* path, const char* text) {
    if (strchr(text, '#')) return ExpandTokens(path, text, PathBufferSize) < PathBufferSize;
    return CopyPath(path, InstallDir) && AppendBackslash(path) && AppendPath(path, text);
}

void RemoveWildcardLeftovers() {
    if (!PatternList || !PatternList[0]) return;
    char folder[PathBufferSize];
    HANDLE pins[MostPins];
    int pinned;
    for (const char* text = PatternList; *text; text += strlen(text) + 1) {
        if ((KeepPerUserEntries && BeginsWithPerUserToken(text)) || !ComposePattern(folder, text)) continue;
        char* lastBackslash = FindLastBackslash(folder);
        if (!lastBackslash) continue;
        *lastBackslash = 0;
        const char* mask = lastBackslash + 1;
        if (IsProtectedFolder(folder) || !PinPatternFolders(folder, CountNamedFolders(text), pins, &pinned)) continue;
        if (SetCurrentDirectoryA(folder)) {
            RemoveMatchingFiles(mask);
            // The walk ends in the installation folder, named without its
            // backslash until the emptied-folders pass puts it back.
            StripBackslash(InstallDir);
            SetCurrentDirectoryA(InstallDir);
            // The folder's own pin goes first; the folders above it stay pinned.
            ReleasePin(pins[--pinned]);
            RemoveFolder(folder, RemoveDirectoryA);
        }
        ReleasePins(pins, &pinned);
    }
}
