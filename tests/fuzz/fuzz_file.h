// The readers take a path, so each input is handed to them as an anonymous
// in-memory file: nothing touches the disk and nothing is left behind.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

struct FuzzFile {
    int Descriptor;
    char Path[64];
};

// Aborts when the file cannot be made: a harness that silently reads nothing
// would only look clean.
inline void OpenFuzzFile(FuzzFile* file, const uint8_t* data, size_t size) {
    file->Descriptor = memfd_create("fuzz-input", 0);
    if (file->Descriptor < 0) abort();
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = write(file->Descriptor, data + done, size - done);
        if (wrote <= 0) abort();
        done += (size_t)wrote;
    }
    snprintf(file->Path, sizeof file->Path, "/proc/self/fd/%d", file->Descriptor);
}

inline void CloseFuzzFile(FuzzFile* file) {
    close(file->Descriptor);
}

// Reads every byte of a text so that AddressSanitizer sees a text that runs
// off its block; returns its length.
inline size_t TouchText(const char* text) {
    size_t length = 0;
    volatile char sink = 0;
    while (text[length]) sink = sink ^ text[length++];
    (void)sink;
    return length;
}
