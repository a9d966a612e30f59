// Record framing and the field-by-field payload reader that every record
// handler uses. Below the record loop and the handlers, so neither includes
// the other.
#pragma once
#include "data/platform.h"

struct RecordHeader {
    uint16_t Type;
    uint8_t Flags;     // bit 0 set: a whole-payload record refuses to load
    uint8_t Reserved;
    uint32_t Length;   // payload bytes after the header
};

// Reader results; each is also the index of the message that reports it.
enum { ErrorOutOfMemory = 7, ErrorDataUnreadable = 8 };

// A payload read field by field. A read that would pass the end of the
// payload fails like a read past the end of the file: the data is damaged.
// The file is read ahead in blocks, never past the payload: a call to the
// system for every field made reading a large block most of the time to the
// first prompt.
enum { PayloadBlockSize = 4096 };
struct Payload {
    HANDLE File;
    uint32_t Remaining;  // payload bytes not handed out yet, read ahead or not
    uint32_t Held, Taken;  // bytes in Block, and how many of them are handed out
    unsigned char Block[PayloadBlockSize];
};

// Readies payload for the length bytes at the file's position.
void StartPayload(Payload* payload, HANDLE file, uint32_t length);
// Each returns 0 or ErrorDataUnreadable. Integers are little-endian.
int ReadPayloadBytes(Payload* payload, void* buffer, uint32_t count);
int ReadPayloadU8(Payload* payload, uint8_t* value);
int ReadPayloadU16(Payload* payload, uint16_t* value);
int ReadPayloadU32(Payload* payload, uint32_t* value);

// Reads a whole payload into a new block. Refuses a record with bit 0 of its
// flags set. Returns 0, ErrorOutOfMemory or ErrorDataUnreadable.
int ReadBlobRecord(HANDLE file, const RecordHeader* header, unsigned char** buffer, uint32_t* length);
