// Message formatting with a table and an argument taken from the input.
// Input: byte 0 the number of messages (mod 24), byte 1 the index (signed),
// byte 2 bit 0 a null argument; then zero-separated texts: the messages, then
// the argument.
#include <stdlib.h>
#include <string.h>

#include "data/message_table.h"

static void Check(bool condition) {
    if (!condition) abort();
}

static char* CopyText(const uint8_t* from, size_t length) {
    // Exact size, so AddressSanitizer sees a read past the terminator.
    char* text = (char*)malloc(length + 1);
    Check(text != 0);
    memcpy(text, from, length);
    text[length] = 0;
    return text;
}

// The next zero-terminated (or input-ending) text; empty once the input ends.
static char* NextText(const uint8_t** at, const uint8_t* end) {
    const uint8_t* start = *at;
    const uint8_t* stop = start;
    while (stop < end && *stop) stop++;
    *at = stop < end ? stop + 1 : end;
    return CopyText(start, (size_t)(stop - start));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int count = data[0] % 24;
    int index = (int8_t)data[1];
    bool nullArgument = data[2] & 1;
    const uint8_t* at = data + 3;
    const uint8_t* end = data + size;

    // Built the way the reader leaves it: count texts, then a null slot.
    MessageTable = (char**)calloc((size_t)count + 1, sizeof(char*));
    Check(MessageTable != 0);
    for (int i = 0; i < count; i++) MessageTable[i] = NextText(&at, end);
    char* argument = NextText(&at, end);

    char* destination = (char*)malloc(FormattedMessageSize);
    Check(destination != 0);
    memset(destination, 0x5A, FormattedMessageSize);
    FormatMessageText(destination, index, nullArgument ? 0 : argument);

    const void* terminator = memchr(destination, 0, FormattedMessageSize);
    Check(terminator != 0);
    size_t length = (size_t)((const char*)terminator - destination);
    // A text that is no template comes out as it stands, cut to fit.
    const char* text = GetMessageText(0, index);
    if (!strstr(text, "%s")) {
        size_t expected = strlen(text);
        if (expected > FormattedMessageSize - 1) expected = FormattedMessageSize - 1;
        Check(length == expected && memcmp(destination, text, length) == 0);
    }
    // Formatting into a table-less program gives the empty text.
    char** table = MessageTable;
    MessageTable = 0;
    FormatMessageText(destination, index, argument);
    Check(destination[0] == 0);
    MessageTable = table;

    free(destination);
    free(argument);
    FreeMessageTable();
    Check(MessageTable == 0);
    return 0;
}
