#include "data/payload.h"

#include <string.h>

#include "data/files.h"
#include "data/memory.h"

void StartPayload(Payload* payload, HANDLE file, uint32_t length) {
    payload->File = file;
    payload->Remaining = length;
    payload->Held = payload->Taken = 0;
}

int ReadPayloadBytes(Payload* payload, void* buffer, uint32_t count) {
    if (count > payload->Remaining) return ErrorDataUnreadable;
    unsigned char* out = (unsigned char*)buffer;
    while (count) {
        if (payload->Taken == payload->Held) {
            // Empty: everything not handed out is still in the file.
            uint32_t block = payload->Remaining < (uint32_t)PayloadBlockSize ? payload->Remaining : (uint32_t)PayloadBlockSize;
            if (ReadExact(payload->File, payload->Block, block) != 0) return ErrorDataUnreadable;
            payload->Held = block;
            payload->Taken = 0;
        }
        uint32_t part = payload->Held - payload->Taken;
        if (part > count) part = count;
        memcpy(out, payload->Block + payload->Taken, part);
        payload->Taken += part;
        payload->Remaining -= part;
        out += part;
        count -= part;
    }
    return 0;
}

int ReadPayloadU8(Payload* payload, uint8_t* value) {
    return ReadPayloadBytes(payload, value, 1);
}

int ReadPayloadU16(Payload* payload, uint16_t* value) {
    unsigned char bytes[2];
    int error = ReadPayloadBytes(payload, bytes, 2);
    if (!error) *value = (uint16_t)(bytes[0] | bytes[1] << 8);
    return error;
}

int ReadPayloadU32(Payload* payload, uint32_t* value) {
    unsigned char bytes[4];
    int error = ReadPayloadBytes(payload, bytes, 4);
    if (!error) *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
    return error;
}

int ReadBlobRecord(HANDLE file, const RecordHeader* header, unsigned char** buffer, uint32_t* length) {
    if (length) *length = header->Length;
    // Bit 0 marks a payload this reader cannot take; the block is unusable.
    if (header->Flags & 1) return ErrorDataUnreadable;
    if (!AllocateBlock(header->Length, buffer)) return ErrorOutOfMemory;
    if (ReadExact(file, *buffer, header->Length) != 0) {
        FreeAndClear(buffer);
        return ErrorDataUnreadable;
    }
    return 0;
}
