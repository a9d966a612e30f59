// Host twin of the file wrappers, for the generator and the fuzzers.
#include "data/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static int DescriptorOf(HANDLE file) {
    return (int)(intptr_t)file;
}

HANDLE OpenExistingFile(const char* path, int mode) {
    int flags = O_RDONLY;
    if (mode == OpenForWrite) flags = O_WRONLY;
    else if (mode == OpenForReadWrite) flags = O_RDWR;
    int fd = open(path, flags);
    return fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)(intptr_t)fd;
}

HANDLE CreateFileForWriting(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)(intptr_t)fd;
}

int ReadExact(HANDLE file, void* buffer, uint32_t count) {
    unsigned char* at = (unsigned char*)buffer;
    while (count > 0) {
        ssize_t got = read(DescriptorOf(file), at, count);
        if (got <= 0) return 1;
        at += got;
        count -= (uint32_t)got;
    }
    return 0;
}

uint32_t GetFilePosition(HANDLE file) {
    return (uint32_t)lseek(DescriptorOf(file), 0, SEEK_CUR);
}

void SetFilePosition(HANDLE file, uint32_t offset) {
    lseek(DescriptorOf(file), (off_t)offset, SEEK_SET);
}

uint32_t GetFileLength(HANDLE file) {
    struct stat status;
    if (fstat(DescriptorOf(file), &status) != 0) return 0;
    return status.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : (uint32_t)status.st_size;
}

void CloseFile(HANDLE file) {
    close(DescriptorOf(file));
}
