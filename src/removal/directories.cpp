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

// Leaves the parent folder; 0 when the path has no backslash left.
static int CutAtLastBackslash(char* path) {
    char* last = strrchr(path, '\\');
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
            DeleteFileA(WorkPath);
        ReportProgress(FileCount + i);
    }
}

// Removes Path and AltPath, then up to Levels of their parents, in step. The
// walk stops at the first level at which either folder is protected; a folder
// that still has content is refused by the system and does not stop it.
static void RemoveDirectoryEntry(DirectoryEntry* entry) {
    char* path = entry->Path;
    char* altPath = entry->AltPath;
    if (!path[0]) return;
    for (;;) {
        if (IsProtectedFolder(path) || (altPath[0] && IsProtectedFolder(altPath))) return;
        // A folder that is our current directory would be held open: step out first.
        char current[PathBufferSize];
        DWORD length = GetCurrentDirectoryA(PathBufferSize, current);
        if (length == 0 || length >= PathBufferSize) current[0] = 0;
        StripBackslash(current);
        if (IsSameFolderName(path, current)) SetCurrentDirectoryA("..");
        RemoveDirectoryA(path);
        if (altPath[0]) {
            if (IsSameFolderName(altPath, current)) SetCurrentDirectoryA("..");
            RemoveDirectoryA(altPath);
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
// protected folder or the first that the system refuses.
static void RemoveFolderUpward(char* lastRemoved) {
    int first = 1;
    while (!IsProtectedFolder(WorkPath) && RemoveDirectoryA(WorkPath)) {
        if (first) CopyPath(lastRemoved, WorkPath);
        first = 0;
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
    char lastRemoved[PathBufferSize];
    lastRemoved[0] = 0;
    for (uint32_t i = 0; i < FileCount; i++) {
        const FileEntry* entry = FileList[i];
        if (entry->Flags & FileFlagFont) continue;  // fonts live in the Fonts folder
        // Files of one folder follow each other: the first one's walk removed it.
        if (ComposeHeldFolder(entry) && !IsSameFolderName(WorkPath, lastRemoved)) RemoveFolderUpward(lastRemoved);
        ReportProgress(RegistryCount + DirectoryCount + FileCount + i);
    }
}
