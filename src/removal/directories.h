// The directory list's files and folders, and the folders the file pass emptied.
#pragma once

#include <windows.h>

typedef BOOL(WINAPI* RemoveFolderCall)(LPCSTR);
// Removes the folder at path with remove (RemoveDirectoryA). Explorer sets
// the read-only attribute on folders it customises (a desktop.ini with an
// icon), and Windows then refuses to remove them: refused access, the
// attribute is cleared and the removal tried once more; when that fails too,
// the attribute is put back. Returns 1 when the folder was removed.
int RemoveFolder(const char* path, RemoveFolderCall remove);

void RemoveDirectoryFiles();
void RemoveDirectories();
void RemoveEmptiedFolders();
