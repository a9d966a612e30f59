// The file pass: installed files, last to first, with the in-use test,
// shared-library counts, font and COM steps, and the read-only prompt.
#pragma once

// -1: ask for each read-only file; 1: remove all without asking; 0: keep all.
extern int ReadOnlyFileChoice;

struct FileEntry;
// Composes an entry's folder in WorkPath: a folder beginning with a full stop
// means the installation folder. Returns 0 when the path does not fit.
int ComposeEntryFolder(const FileEntry* entry);

// 1 when the file exists but cannot be opened for reading and writing, or is
// read-only and cannot be made writable. A read-only file stays read-only.
int IsFileInUse(const char* path);
// 1 when a file flagged for the check is in use (leaves its path in WorkPath).
int AnyFileInUse();
void RemoveFiles();
