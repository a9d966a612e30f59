#include "removal/wildcards.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "paths/folder_tokens.h"
#include "paths/path_helpers.h"

// The walk enters folders with a change of directory and deletes by relative
// names. It never enters a reparse point (junction, symbolic link): ".." from
// inside one leads to the target's parent, and the walk would clean folders
// the pattern never named, with an elevated uninstaller's rights.

static int IsCurrentDirectoryProtected() {
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(PathBufferSize, folder);
    return length == 0 || length >= PathBufferSize || IsProtectedFolder(folder);
}

static int IsDotName(const char* name) {
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

// Steps up to the parent, then removes the folder it left. The system
// refuses a folder that still has content, so no listing is needed to know.
static void RemoveCurrentDirectory() {
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(PathBufferSize, folder);
    SetCurrentDirectoryA("..");
    if (length > 0 && length < PathBufferSize) RemoveDirectoryA(folder);
}

// Cleans the current directory: subfolders depth first, then the files that
// match the mask, then the folder itself when that left it empty. Always
// ends in the parent folder.
static void RemoveMatchingFiles(const char* mask) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DWORD attributes = found.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || attributes & FILE_ATTRIBUTE_REPARSE_POINT ||
                IsDotName(found.cFileName))
                continue;
            if (!SetCurrentDirectoryA(found.cFileName)) continue;
            if (IsCurrentDirectoryProtected()) {
                SetCurrentDirectoryA("..");  // a protected folder is never searched
                continue;
            }
            RemoveMatchingFiles(mask);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    search = FindFirstFileA(mask, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!IsCurrentDirectoryProtected()) RemoveCurrentDirectory();
    else SetCurrentDirectoryA("..");
}

// How many folders of a pattern's path the data names itself: every folder
// of a relative pattern, or those after its last token. The folders above
// them (the installation folder, a token's folder) are the system's.
static int CountNamedFolders(const char* text) {
    const char* tail = strrchr(text, '#');
    tail = tail ? tail + 1 : text;
    int count = 0;
    for (const char* at = tail; *at; at++) count += *at == '\\';
    if (tail != text && *tail == '\\') count--;  // the backslash that ends the token's folder
    return count;
}

// Whether the pattern's folder, or one of the folders above it that the data
// names, is a reparse point: through one, the walk would clean a tree that
// the pattern never named. The folder itself is always looked at.
static int LeadsThroughLink(const char* folder, int namedFolders) {
    char path[PathBufferSize];
    if (!CopyPath(path, folder)) return 1;
    for (int level = 0; level == 0 || level < namedFolders; level++) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 1;
        char* lastBackslash = strrchr(path, '\\');
        if (!lastBackslash) return 0;
        *lastBackslash = 0;
    }
    return 0;
}

// A folder is judged by where it leads, not by how it is written: with ".."
// or trailing dots, "#Windows#\System32\.." is the Windows folder, and
// "#Windows#\.." a drive root, which the walk would clean whole.
static int IsProtectedWhereItLeads(const char* folder) {
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(folder, PathBufferSize, full, NULL);
    return length == 0 || length >= PathBufferSize || IsProtectedFolder(full);
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
    for (const char* text = PatternList; *text; text += strlen(text) + 1) {
        if (!ComposePattern(folder, text)) continue;
        char* lastBackslash = strrchr(folder, '\\');
        if (!lastBackslash) continue;
        *lastBackslash = 0;
        const char* mask = lastBackslash + 1;
        if (IsProtectedWhereItLeads(folder) || LeadsThroughLink(folder, CountNamedFolders(text))) continue;
        if (!SetCurrentDirectoryA(folder)) continue;
        RemoveMatchingFiles(mask);
        // The walk ends in the installation folder, named without its
        // backslash until the emptied-folders pass puts it back.
        StripBackslash(InstallDir);
        SetCurrentDirectoryA(InstallDir);
        RemoveDirectoryA(folder);
    }
}
