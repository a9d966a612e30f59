// The directory list's files and folders, and the folders the file pass emptied.
#pragma once

void RemoveDirectoryFiles();
void RemoveDirectories();
void RemoveEmptiedFolders();
