// Thin wrappers over the file calls. files_win32.cpp is the real one; files_host.cpp
// is its twin for the host tools, with the same results.
#pragma once
#include "data/platform.h"

enum { OpenForRead = 0, OpenForWrite = 1, OpenForReadWrite = 2 };

HANDLE OpenExistingFile(const char* path, int mode);
HANDLE CreateFileForWriting(const char* path);
// 0 when exactly count bytes were read, 1 otherwise.
int ReadExact(HANDLE file, void* buffer, uint32_t count);
uint32_t GetFilePosition(HANDLE file);
void SetFilePosition(HANDLE file, uint32_t offset);
// Size of the file; lets the reader refuse a record that claims to run past it.
uint32_t GetFileLength(HANDLE file);
void CloseFile(HANDLE file);
