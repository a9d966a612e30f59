#include "removal/files.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "data/memory.h"
#include "data/message_table.h"
#include "paths/path_helpers.h"
#include "removal/com_servers.h"
#include "removal/directories.h"
#include "removal/fonts.h"
#include "ui/dialogs.h"

int ReadOnlyFileChoice = -1;

static const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The errors that mean access was refused rather than that the file is not there.
static int IsAccessDenied(DWORD error) {
    switch (error) {
    case 5: case 16: case 65: case 82: case 83: case 108: case 132: case 158: case 167:
        return 1;
    default:
        return error >= 19 && error <= 36;
    }
}

enum WriteTest { Writable, WriteDenied, WriteTestFailed };

// Read-only counts as denied; the test does not notice a file open elsewhere.
static WriteTest RunWriteTest(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsAccessDenied(GetLastError()) ? WriteDenied : WriteTestFailed;
    return attributes & FILE_ATTRIBUTE_READONLY ? WriteDenied : Writable;
}

static void SetReadOnly(const char* path, int readOnly) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    attributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesA(path, attributes);
}

static int CanOpenForReadWrite(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

// Links. A file the data names may be a link, or be swapped for one, to a
// file no installation owns; the passes leave links where they are and never
// touch their targets. On Windows a link carries FILE_ATTRIBUTE_REPARSE_POINT,
// and every open here passes FILE_FLAG_OPEN_REPARSE_POINT, so that a link
// swapped in after the look is opened, and at worst deleted, itself. Under
// Wine a link to a file looks exactly like its target, and deleting it
// deletes the target; only the final path of an open handle tells. Where
// the system has GetFinalPathNameByHandle (Vista on, and Wine whatever
// version it reports), a file is a link when that final path is not the
// final path of its folder joined with its name, so a file reached through a
// folder link higher up is an ordinary file of that folder. Such systems
// delete through the handle that was looked at.
//
// The wide call, converted as the 8-bit one would: Wine's 8-bit call asks
// the server twice (once for the length), and this runs once for every file.

typedef DWORD(WINAPI* GetFinalPathCall)(HANDLE, LPWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* SetFileInformationCall)(HANDLE, int, LPVOID, DWORD);
enum { FileDispositionInfoClass = 4, FinalPathPrefixLength = 4 };  // the prefix: "\\?\"

static GetFinalPathCall GetFinalPath;
static SetFileInformationCall SetFileInformation;
static int HandleCallsLookedUp;
// The last folder whose final path was needed, and that final path with a
// trailing backslash; files of one folder follow each other.
static char LinkCheckFolder[PathBufferSize], LinkCheckFolderFinal[PathBufferSize];

static int HasHandleCalls() {
    if (!HandleCallsLookedUp) {
        HandleCallsLookedUp = 1;
        GetFinalPath = (GetFinalPathCall)FindKernelFunction("GetFinalPathNameByHandleW");
        SetFileInformation = (SetFileInformationCall)FindKernelFunction("SetFileInformationByHandle");
    }
    return GetFinalPath && SetFileInformation;
}

// 0 when the final path does not fit, or holds a character that the code
// page of the 8-bit file calls cannot name (so no data could name it either).
static int ReadFinalPath(HANDLE handle, char* path) {
    WCHAR wide[PathBufferSize];
    DWORD length = GetFinalPath(handle, wide, PathBufferSize, 0);  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
    if (length <= FinalPathPrefixLength || length >= PathBufferSize) return 0;
    // UTF-8 (an option of Windows 10 on) names every character and takes no
    // flag for it: the call would fail.
    UINT page = AreFileApisANSI() ? GetACP() : GetOEMCP();
    BOOL unnamed = FALSE;
    int bytes = WideCharToMultiByte(page, 0, wide, (int)length + 1, path, PathBufferSize, NULL,
                                    page == CP_UTF8 ? NULL : &unnamed);
    return bytes > 0 && !unnamed;
}

// Whole texts, letter case ignored as the system maps case in the code page,
// not only for ASCII letters.
static int IsSameText(const char* first, const char* second) {
    char a[PathBufferSize], b[PathBufferSize];
    if (!CopyPath(a, first) || !CopyPath(b, second)) return 0;
    CharUpperBuffA(a, (DWORD)strlen(a));
    CharUpperBuffA(b, (DWORD)strlen(b));
    return strcmp(a, b) == 0;
}

// Finds where folder (ending in a backslash) leads, into LinkCheckFolderFinal.
static int FindFolderFinalPath(const char* folder) {
    if (LinkCheckFolderFinal[0] && IsSameText(folder, LinkCheckFolder)) return 1;
    LinkCheckFolderFinal[0] = 0;
    HANDLE handle = CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int found = ReadFinalPath(handle, LinkCheckFolderFinal) && CopyPath(LinkCheckFolder, folder) &&
                AppendBackslash(LinkCheckFolderFinal);
    CloseHandle(handle);
    if (!found) LinkCheckFolderFinal[0] = 0;
    return found;
}

// 1 when the file open in handle, opened by path, is a link or cannot be told
// from one. The usual case costs one call: the final path is the full path
// itself. Otherwise (another letter case, a short name, a network path, a
// folder link higher up) the final path of the folder decides.
static int IsLinkHandle(HANDLE handle, const char* path) {
    char full[PathBufferSize], final[PathBufferSize], expected[PathBufferSize];
    DWORD length = GetFullPathNameA(path, PathBufferSize, full, NULL);
    if (length == 0 || length >= PathBufferSize || !ReadFinalPath(handle, final)) return 1;
    if (IsSameText(final + FinalPathPrefixLength, full)) return 0;
    if (strchr(full, '~')) MakeLongPath(full);
    char* name = FindLastBackslash(full);
    if (!name) return 1;
    // The folder keeps its backslash: "c:" alone would be another folder.
    if (!CopyPath(expected, name + 1)) return 1;
    name[1] = 0;
    if (!FindFolderFinalPath(full) || !CopyPath(full, LinkCheckFolderFinal) || !AppendPath(full, expected)) return 1;
    return !IsSameText(final, full);
}

int IsLinkedFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;  // nothing there to keep
    if (IsLinkAt(path, attributes)) return 1;
    if (!HasHandleCalls()) return 0;  // XP and 9x: the attribute tells
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    int link = IsLinkHandle(handle, path);
    CloseHandle(handle);
    return link;
}

int DeleteUnlessLink(const char* path, unsigned long access, unsigned long sharing) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return NotDeleted;
    if (IsLinkAt(path, attributes)) return LeftAsLink;
    // XP and 9x: a link shows its attribute (XP links only folders), and
    // DeleteFileA deletes a link itself, never its target.
    if (!HasHandleCalls()) return DeleteFileA(path) ? Deleted : NotDeleted;
    HANDLE file = CreateFileA(path, access | DELETE, sharing, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) return NotDeleted;
    int outcome = LeftAsLink;
    if (!IsLinkHandle(file, path)) {
        BOOL deleteFile = TRUE;  // FILE_DISPOSITION_INFO
        outcome = SetFileInformation(file, FileDispositionInfoClass, &deleteFile, sizeof deleteFile) ? Deleted : NotDeleted;
    }
    CloseHandle(file);
    return outcome;
}

int IsFileInUse(const char* path) {
    WriteTest test = RunWriteTest(path);
    if (test == Writable) return !CanOpenForReadWrite(path);
    if (test == WriteTestFailed) return 0;  // not there: not in use
    SetReadOnly(path, 0);
    if (RunWriteTest(path) == WriteDenied) return 1;
    int inUse = !CanOpenForReadWrite(path);
    SetReadOnly(path, 1);
    return inUse;
}

int ComposeEntryFolder(const FileEntry* entry) {
    if (entry->Folder[0] != '.') return CopyPath(WorkPath, entry->Folder);
    if (!CopyPath(WorkPath, InstallDir)) return 0;
    return entry->Folder[1] != '\\' || AppendPath(WorkPath, entry->Folder + 2);
}

static int ComposeEntryFile(const FileEntry* entry) {
    return AppendBackslash(WorkPath) && AppendPath(WorkPath, entry->Name);
}

int AnyFileInUse() {
    for (uint32_t i = 0; i < FileCount; i++) {
        const FileEntry* entry = FileList[i];
        if (!entry->Name[0] || !(entry->Flags & FileFlagCheckInUse)) continue;
        if (ComposeEntryFolder(entry) && ComposeEntryFile(entry) && IsFileInUse(WorkPath)) return 1;
    }
    return 0;
}

// Message 10, when it has a text: may this shared file go? Yes when nothing can be asked.
static int ConfirmSharedFileRemoval() {
    char* question;
    if (!AllocateZeroed(FormattedMessageSize, &question)) return 1;
    FormatMessageText(question, MsgSharedDllPrompt, WorkPath);
    int agreed = !question[0] || ShowMessage(question, MB_YESNO | MB_ICONQUESTION) == IDYES;
    FreeAndClear(&question);
    return agreed;
}

// Counts down the file's users under the SharedDLLs key. The file may go when
// no other user remains counted (or none is recorded) and the user agrees.
static int ReleaseSharedFile(int inUse) {
    int go = !inUse;
    HKEY key;
    int opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
    if (opened) {
        unsigned char count[4] = {1, 0, 0, 0};  // a value with no data counts as 1
        DWORD type, size = sizeof count;
        if (RegQueryValueExA(key, WorkPath, NULL, &type, count, &size) == ERROR_SUCCESS) {
            uint32_t old = count[0] | count[1] << 8 | count[2] << 16 | (uint32_t)count[3] << 24;
            uint32_t left = old > 0 ? old - 1 : 0;
            if (old > 1) go = 0;
            // A count that would run out while the file is in use keeps its value.
            if (!inUse || left != 0) {
                unsigned char stored[4] = {(unsigned char)left, (unsigned char)(left >> 8),
                                           (unsigned char)(left >> 16), (unsigned char)(left >> 24)};
                RegSetValueExA(key, WorkPath, 0, type, stored, size);
            }
        }
    }
    if (go) go = ConfirmSharedFileRemoval();
    if (go && opened) RegDeleteValueA(key, WorkPath);
    if (opened) RegCloseKey(key);
    return go;
}

static int DeleteWithoutReadOnly() {
    SetReadOnly(WorkPath, 0);
    return DeleteFileA(WorkPath) != 0;
}

// Deletes the file in WorkPath; a write-protected one is offered to the user
// unless an earlier answer holds for all, or it is a font or COM server.
static void DeleteInstalledFile(const FileEntry* entry) {
    if (DeleteFileA(WorkPath)) return;
    for (;;) {
        if (!IsAccessDenied(GetLastError())) return;
        // Writable yet refused: open elsewhere or no rights. Not there: gone.
        if (RunWriteTest(WorkPath) != WriteDenied) return;
        if (entry->Flags & (FileFlagFont | FileFlagComServer) || ReadOnlyFileChoice == 1) {
            DeleteWithoutReadOnly();
            return;
        }
        if (ReadOnlyFileChoice == 0) return;
        int answer = AskReadOnlyFile(WorkPath);
        if (answer == AnswerYesToAll) {
            ReadOnlyFileChoice = 1;
            DeleteWithoutReadOnly();
            return;
        }
        if (answer == AnswerNoToAll) ReadOnlyFileChoice = 0;
        if (answer != IDYES || DeleteWithoutReadOnly()) return;
        // Still refused: ask again while the attribute could not be cleared.
    }
}

static void RemoveFileEntry(const FileEntry* entry) {
    if (!ComposeEntryFolder(entry)) return;
    if (!entry->Name[0]) {
        // The entry stands for its folder, which goes when it is empty.
        if (!IsProtectedFolder(WorkPath) && !IsReachedThroughLink(WorkPath)) RemoveFolder(WorkPath, RemoveDirectoryA);
        return;
    }
    if (!ComposeEntryFile(entry)) return;
    // A plain file that the in-use test would find free goes with one open
    // and close instead of the test's open and close and a delete: the same
    // access and sharing, plus delete access. The open fails whenever the
    // test's open or the delete would fail, and the long way then gives the
    // usual outcome. Under Wine every open and delete is a round trip to the
    // server; this takes about a third off the pass. Only where the system
    // can delete through the handle that the link check looked at.
    if (!(entry->Flags & (FileFlagSharedDll | FileFlagFont | FileFlagComServer)) && HasHandleCalls() &&
        DeleteUnlessLink(WorkPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ) != NotDeleted)
        return;
    // Neither counted down, deregistered nor asked about: a link stays as it is.
    if (IsLinkedFile(WorkPath)) return;
    int font = entry->Flags & FileFlagFont, shared = entry->Flags & FileFlagSharedDll;
    // A font is withdrawn before the in-use test: loaded by the system's font
    // table alone, its file would test in use and stay registered. A shared
    // one only once its count lets it go.
    if (font && !shared) DeregisterFont(WorkPath);
    int inUse = IsFileInUse(WorkPath);
    int go = shared ? ReleaseSharedFile(inUse) : !inUse;
    if (go && font && shared) DeregisterFont(WorkPath);
    if (go && (entry->Flags & FileFlagComServer)) UnregisterComServer();
    if (go) DeleteInstalledFile(entry);
    // A font that a program of any session, session 0 included, still has
    // loaded keeps its file locked: as Windows' own font removal does, it goes
    // at the next restart. The only thing the uninstaller ever schedules.
    if (font && (go || !shared) && IsNtPlatform && GetFileAttributesA(WorkPath) != INVALID_FILE_ATTRIBUTES)
        MoveFileExA(WorkPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RemoveFiles() {
    for (uint32_t k = 0; k < FileCount; k++) {
        RemoveFileEntry(FileList[FileCount - 1 - k]);
        if (ProgressTotal) SetProgress((uint32_t)((uint64_t)k * 100 / ProgressTotal));
    }
}
