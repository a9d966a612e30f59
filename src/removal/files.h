// The file pass: installed files, last to first, with the in-use test,
// shared-library counts, font and COM steps, and the read-only prompt.
#pragma once

// -1: ask for each read-only file; 1: remove all without asking; 0: keep all.
extern int ReadOnlyFileChoice;

struct FileEntry;
// Composes an entry's folder in WorkPath: a folder beginning with a full stop
// means the installation folder. Returns 0 when the path does not fit.
int ComposeEntryFolder(const FileEntry* entry);

// 1 when the file at path is a link (a reparse point, or under Wine a file
// whose final path is not its folder's joined with its name), or cannot be
// told from one. 0 when there is nothing at path.
int IsLinkedFile(const char* path);
enum { NotDeleted = 0, Deleted = 1, LeftAsLink = 2 };
// Deletes the file at path unless it is a link, through one open with access
// and sharing plus delete access (0 and all sharing: what DeleteFileA asks),
// which the link check looks at first; where the system cannot delete through
// a handle (XP, 9x), by DeleteFileA whatever access and sharing say. A
// folder, a read-only file, one that cannot be opened so: NotDeleted.
int DeleteUnlessLink(const char* path, unsigned long access, unsigned long sharing);

// 1 when the file exists but cannot be opened for reading and writing, or is
// read-only and cannot be made writable. A read-only file stays read-only.
int IsFileInUse(const char* path);
// 1 when a file flagged for the check is in use (leaves its path in WorkPath).
int AnyFileInUse();
void RemoveFiles();
