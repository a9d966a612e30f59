// The font full-name reader over arbitrary files, with the installed-fonts
// buffer size and small ones, each with guard bytes behind it.
#include <stdlib.h>
#include <string.h>

#include "fuzz_file.h"
#include "removal/fonts.h"

enum { GuardSize = 16, GuardByte = 0xA5, SuffixLength = 11 };  // " (TrueType)"

static void Check(bool condition) {
    if (!condition) abort();
}

static void ReadWithSize(const char* path, uint32_t size) {
    // Exactly size + guard bytes, so AddressSanitizer also sees a write beyond.
    unsigned char* buffer = (unsigned char*)malloc(size + GuardSize);
    Check(buffer != 0);
    memset(buffer, GuardByte, size + GuardSize);
    char* name = (char*)buffer;
    ReadFontFullName(path, name, size);
    for (uint32_t i = size; i < size + GuardSize; i++) Check(buffer[i] == GuardByte);
    if (size == 0) {
        free(buffer);
        return;
    }
    const void* end = memchr(name, 0, size);
    Check(end != 0);
    size_t length = (size_t)((const char*)end - name);
    // A name is kept only when the suffix still fits behind it.
    Check(length == 0 || length + SuffixLength + 1 <= size);
    free(buffer);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFile input;
    OpenFuzzFile(&input, data, size);
    static const uint32_t sizes[] = {FontNameSize, 0, 1, 2, 11, 12, 13, 16, 40};
    for (uint32_t s : sizes) ReadWithSize(input.Path, s);
    CloseFuzzFile(&input);
    return 0;
}
