#include "data/files.h"

HANDLE OpenExistingFile(const char* path, int mode) {
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    if (mode == OpenForWrite) {
        access = GENERIC_WRITE;
        share = 0;
    } else if (mode == OpenForReadWrite) {
        access = GENERIC_READ | GENERIC_WRITE;
    }
    return CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE CreateFileForWriting(const char* path) {
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

int ReadExact(HANDLE file, void* buffer, uint32_t count) {
    DWORD done = 0;
    if (!ReadFile(file, buffer, count, &done, NULL) || done != count) return 1;
    return 0;
}

uint32_t GetFilePosition(HANDLE file) {
    return SetFilePointer(file, 0, NULL, FILE_CURRENT);
}

void SetFilePosition(HANDLE file, uint32_t offset) {
    SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN);
}

uint32_t GetFileLength(HANDLE file) {
    return GetFileSize(file, NULL);
}

void CloseFile(HANDLE file) {
    CloseHandle(file);
}
