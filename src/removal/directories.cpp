#include "removal/directories.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "paths/path_helpers.h"
#include "removal/files.h"
#include "ui/dialogs.h"

static void ReportProgress(uint32_t position) {
    if (ProgressTotal) SetProgress((uint32_t)((uint64_t)position * 100 / ProgressTotal));
}

int RemoveFolder(const char* path, RemoveFolderCall remove) {
    if (remove(path)) return 1;
    if (GetLastError() != ERROR_ACCESS_DENIED) return 0;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (remove(path)) return 1;
    SetFileAttributesA(path, attributes);
    return 0;
}

// Leaves the parent folder; 0 when the path has no backslash left.
static int CutAtLastBackslash(char* path) {
    char* last = FindLastBackslash(path);
    if (!last) return 0;
    *last = 0;
    return 1;
}

void RemoveDirectoryFiles() {
    for (uint32_t i = 0; i < DirectoryCount; i++) {
        const DirectoryEntry* entry = DirectoryList[i];
        // Failures are left alone: no attribute change, no retry, no prompt.
        if (entry->FileName[0] && CopyPath(WorkPath, entry->Path) && AppendBackslash(WorkPath) &&
            AppendPath(WorkPath, entry->FileName))
            DeleteUnlessLink(WorkPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        ReportProgress(FileCount + i);
    }
}

// A folder a climb may not remove, and at which it stops: a protected one, or
// one that is a link or lies beyond one. Through a junction, removing by path
// would reach the same names anywhere (legacy folders such as "Documents and
// Settings" are junctions), and Wine removes a link's target.
static int IsClimbEnd(const char* path) {
    return IsProtectedFolder(path) || IsReachedThroughLink(path);
}

// Removes Path and AltPath, then up to Levels of their parents, in step. The
// walk stops at the first level at which either folder is protected or a
// link; a folder that still has content is refused by the system and does
// not stop it.
static void RemoveDirectoryEntry(DirectoryEntry* entry) {
    char* path = entry->Path;
    char* altPath = entry->AltPath;
    if (!path[0]) return;
    for (;;) {
        if (IsClimbEnd(path) || (altPath[0] && IsClimbEnd(altPath))) return;
        // A folder that is our current directory would be held open: step out first.
        char current[PathBufferSize];
        DWORD length = GetCurrentDirectoryA(PathBufferSize, current);
        if (length == 0 || length >= PathBufferSize) current[0] = 0;
        StripBackslash(current);
        if (IsSameFolderName(path, current)) SetCurrentDirectoryA("..");
        RemoveFolder(path, RemoveDirectoryA);
        if (altPath[0]) {
            if (IsSameFolderName(altPath, current)) SetCurrentDirectoryA("..");
            RemoveFolder(altPath, RemoveDirectoryA);
        }
        if (entry->Levels == 0) return;
        entry->Levels--;
        if (!CutAtLastBackslash(path)) return;
        if (altPath[0] && !CutAtLastBackslash(altPath)) return;
    }
}

void RemoveDirectories() {
    for (uint32_t i = 0; i < DirectoryCount; i++) {
        RemoveDirectoryEntry(DirectoryList[i]);
        ReportProgress(FileCount + i);
    }
}

// Composes in WorkPath the folder that held the entry's file, without a
// trailing backslash. 0 when it does not fit or has no backslash.
static int ComposeHeldFolder(const FileEntry* entry) {
    if (!ComposeEntryFolder(entry)) return 0;
    if (entry->Name[0]) {
        // A name with backslashes of its own leaves its deepest folder.
        if (!AppendBackslash(WorkPath) || !AppendPath(WorkPath, entry->Name)) return 0;
        if (!CutAtLastBackslash(WorkPath)) return 0;
    }
    StripBackslash(WorkPath);
    return 1;
}

// Removes WorkPath and every parent this leaves empty, up to the first
// protected folder or link, or the first that the system refuses.
static void RemoveFolderUpward() {
    while (!IsClimbEnd(WorkPath) && RemoveFolder(WorkPath, RemoveDirectoryA)) {
        if (!CutAtLastBackslash(WorkPath)) return;
    }
}

void RemoveEmptiedFolders() {
    // Out of the installation folder, so that it is not held open; its parent
    // is the current directory from now on.
    StripBackslash(InstallDir);
    SetCurrentDirectoryA(InstallDir);
    SetCurrentDirectoryA("..");
    AppendBackslash(InstallDir);
    char lastTried[PathBufferSize];
    lastTried[0] = 0;
    for (uint32_t i = 0; i < FileCount; i++) {
        const FileEntry* entry = FileList[i];
        if (entry->Flags & FileFlagFont) continue;  // fonts live in the Fonts folder
        // Files of one folder follow each other, and nothing changes between
        // them: the first one's walk removed the folder, or it stays.
        if (ComposeHeldFolder(entry) && !IsSameFolderName(WorkPath, lastTried)) {
            CopyPath(lastTried, WorkPath);
            RemoveFolderUpward();
        }
        ReportProgress(RegistryCount + DirectoryCount + FileCount + i);
    }
}
