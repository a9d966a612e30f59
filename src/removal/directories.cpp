#include "removal/directories.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "data/memory.h"
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

// The folders the emptied-folders walk has set out from. One that was tried
// is gone, or refused and refused again: nothing else changes meanwhile, and
// a climb from a folder inside it tries it anyway. Files need not be listed
// folder by folder, and under Wine each try of a folder already gone costs
// two lookups of a path that is not there (about 70 µs).
struct TriedFolders {
    uint32_t* Slots;     // an offset into Names plus 1; 0 for a free slot
    uint32_t SlotMask;   // the slot count, a power of two, less 1
    char* Names;         // the names, one after the other, each with its zero
    uint32_t Used, Size;
};

// Slots for twice as many folders as there are file entries (each sets out
// from one at most), so that a search meets a free slot soon; 0 without them.
static int PrepareTriedFolders(TriedFolders* tried) {
    memset(tried, 0, sizeof *tried);
    if (FileCount > (1u << 22)) return 0;
    uint32_t slotCount = 16;
    while (slotCount < 2 * FileCount) slotCount *= 2;
    tried->SlotMask = slotCount - 1;
    return AllocateZeroed(slotCount * (uint32_t)sizeof(uint32_t), &tried->Slots);
}

static void ForgetTriedFolders(TriedFolders* tried) {
    FreeAndClear(&tried->Slots);
    FreeAndClear(&tried->Names);
}

// 1 when name was not tried yet, and is now recorded; so too when there is
// no room to record it (it is then tried again, which is harmless).
static int RecordTriedFolder(TriedFolders* tried, const char* name) {
    if (!tried->Slots) return 1;
    uint32_t slot = HashFolderName(name) & tried->SlotMask;
    for (; tried->Slots[slot]; slot = (slot + 1) & tried->SlotMask) {
        if (IsSameFolderName(name, tried->Names + tried->Slots[slot] - 1)) return 0;
    }
    uint32_t length = (uint32_t)strlen(name) + 1;
    if (tried->Used + length > tried->Size) {
        if (tried->Size >= (1u << 30)) return 1;
        uint32_t size = tried->Size ? tried->Size * 2 : 4096;
        if (!Reallocate(size, &tried->Names)) return 1;
        tried->Size = size;
    }
    memcpy(tried->Names + tried->Used, name, length);
    tried->Slots[slot] = tried->Used + 1;
    tried->Used += length;
    return 1;
}

void RemoveEmptiedFolders() {
    // Out of the installation folder, so that it is not held open; its parent
    // is the current directory from now on.
    StripBackslash(InstallDir);
    SetCurrentDirectoryA(InstallDir);
    SetCurrentDirectoryA("..");
    AppendBackslash(InstallDir);
    TriedFolders tried;
    PrepareTriedFolders(&tried);
    for (uint32_t i = 0; i < FileCount; i++) {
        const FileEntry* entry = FileList[i];
        if (entry->Flags & FileFlagFont) continue;  // fonts live in the Fonts folder
        if (ComposeHeldFolder(entry) && RecordTriedFolder(&tried, WorkPath)) RemoveFolderUpward();
        ReportProgress(RegistryCount + DirectoryCount + FileCount + i);
    }
    ForgetTriedFolders(&tried);
}
