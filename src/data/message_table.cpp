#include "data/message_table.h"

#include <string.h>

#include "data/memory.h"
#include "data/payload.h"

char** MessageTable;

static const char EmptyText[] = "";

void FreeMessageTable() {
    if (MessageTable) {
        for (char** text = MessageTable; *text; text++) FreeAndClear(text);
    }
    FreeAndClear(&MessageTable);
}

int ReadMessageTable(HANDLE file, uint32_t length) {
    Payload payload;
    StartPayload(&payload, file, length);
    uint16_t tables, texts;
    int error = ReadPayloadU16(&payload, &tables);
    if (error || tables == 0) return error;
    // Only table 0 is kept; further tables are skipped with the rest of the record.
    error = ReadPayloadU16(&payload, &texts);
    if (error || texts == 0) return error;
    if (texts > payload.Remaining / 2) return ErrorDataUnreadable;
    FreeMessageTable();
    if (!AllocateZeroed((texts + 1u) * (uint32_t)sizeof(char*), &MessageTable)) return ErrorOutOfMemory;
    // Texts are stored as they are read, so that a table cut short still ends
    // with its null slot and can report the error with what it holds.
    for (uint32_t i = 0; i < texts; i++) {
        uint16_t textLength;
        error = ReadPayloadU16(&payload, &textLength);
        if (error) return error;
        if (textLength > payload.Remaining) return ErrorDataUnreadable;
        char* text;
        if (!AllocateZeroed(textLength + 1u, &text)) return ErrorOutOfMemory;
        MessageTable[i] = text;
        error = ReadPayloadBytes(&payload, text, textLength);
        if (error) return error;
    }
    return 0;
}

const char* GetMessageText(int table, int index) {
    if (table != 0 || !MessageTable || index < 0) return EmptyText;
    for (int i = 0; MessageTable[i]; i++) {
        if (i == index) return MessageTable[i];
    }
    return EmptyText;
}

void FormatMessageText(char* destination, int index, const char* argument) {
    const char* text = GetMessageText(0, index);
    if (!argument) argument = EmptyText;
    const int last = FormattedMessageSize - 1;
    int out = 0;
    // Without "%s" the text is not a template: copied as it stands.
    int isTemplate = strstr(text, "%s") != 0;
    int argumentPlaced = 0;
    for (const char* at = text; *at && out < last; at++) {
        if (isTemplate && at[0] == '%' && at[1] == '%') {
            destination[out++] = '%';
            at++;
        } else if (isTemplate && !argumentPlaced && at[0] == '%' && at[1] == 's') {
            for (const char* a = argument; *a && out < last; a++) destination[out++] = *a;
            argumentPlaced = 1;
            at++;
        } else {
            destination[out++] = *at;
        }
    }
    destination[out] = 0;
}
