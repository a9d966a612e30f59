// The uninstall data block: record framing, the record loop and what it loaded.
#pragma once
#include "data/platform.h"

struct RecordHeader {
    uint16_t Type;
    uint8_t Flags;     // bit 0 set: a whole-payload record refuses to load
    uint8_t Reserved;
    uint32_t Length;   // payload bytes after the header
};

enum {
    RecordTypeMessageTable = 0x1234,
    RecordTypeFileList = 0x1235,
    RecordTypeDirectoryList = 0x1236,
    RecordTypeRegistryList = 0x1237,
    RecordTypeUnused = 0x1238,
    RecordTypePatterns = 0x1239,
    RecordTypeOptions = 0x123A,
    RecordTypeEnd = 0x7F7F,
};

// Reader results; each is also the index of the message that reports it.
enum { ErrorOutOfMemory = 7, ErrorDataUnreadable = 8 };

enum { DataLocatorSize = 10, DataLocatorMarkerSize = 6 };
extern const unsigned char DataLocatorMarker[DataLocatorMarkerSize];

// A payload read field by field. A read that would pass the end of the
// payload fails like a read past the end of the file: the data is damaged.
struct Payload {
    HANDLE File;
    uint32_t Remaining;
};

// Each returns 0 or ErrorDataUnreadable. Integers are little-endian.
int ReadPayloadBytes(Payload* payload, void* buffer, uint32_t count);
int ReadPayloadU8(Payload* payload, uint8_t* value);
int ReadPayloadU16(Payload* payload, uint16_t* value);
int ReadPayloadU32(Payload* payload, uint32_t* value);

// Reads records from the file's current position up to the first end record.
// Returns 0, ErrorOutOfMemory or ErrorDataUnreadable; what was loaded before an
// error stays loaded.
int ReadRecords(HANDLE file);

// Reads a whole payload into a new block. Refuses a record with bit 0 of its
// flags set. Returns 0, ErrorOutOfMemory or ErrorDataUnreadable.
int ReadBlobRecord(HANDLE file, const RecordHeader* header, unsigned char** buffer, uint32_t* length);

// Frees everything the reader loaded.
void FreeUninstallData();

#ifdef _WIN32
// Locates the data in the running executable, reads it and reports an error
// with message 7 or 8. Returns 1 when every record was read.
int ReadUninstallData();
#endif
