// The switch scanner over any command-line tail: it must stop at the
// terminator, and a flag may only come from its letter right after "/" or "-".
#include <stdlib.h>
#include <string.h>

#include "app/switches.h"

static void Check(bool condition) {
    if (!condition) abort();
}

static bool HasSwitchLetter(const char* text, size_t length, char upper) {
    for (size_t i = 0; i + 1 < length; i++) {
        if ((text[i] == '/' || text[i] == '-') && (text[i + 1] == upper || text[i + 1] == upper + 32)) return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    // An exact-size copy, so that any read past the terminator is caught.
    char* tail = (char*)malloc(size + 1);
    memcpy(tail, data, size);
    tail[size] = 0;
    size_t length = strlen(tail);

    QuietMode = SwitchS = SwitchX = 0;
    ScanSwitches(tail);
    Check(!SwitchS || QuietMode);
    Check(!SwitchX || QuietMode);
    Check(!SwitchS || HasSwitchLetter(tail, length, 'S'));
    Check(!SwitchX || HasSwitchLetter(tail, length, 'X'));
    Check(!QuietMode || SwitchS || SwitchX || HasSwitchLetter(tail, length, 'Q'));
    free(tail);
    return 0;
}
