#include "data/records.h"

#include "data/entry_lists.h"
#include "data/files.h"
#include "data/memory.h"
#include "data/message_table.h"

int ReadPayloadBytes(Payload* payload, void* buffer, uint32_t count) {
    if (count > payload->Remaining) return ErrorDataUnreadable;
    if (count && ReadExact(payload->File, buffer, count) != 0) return ErrorDataUnreadable;
    payload->Remaining -= count;
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

static int ReadRecordHeader(HANDLE file, RecordHeader* header) {
    unsigned char bytes[8];
    if (ReadExact(file, bytes, sizeof bytes) != 0) return ErrorDataUnreadable;
    header->Type = (uint16_t)(bytes[0] | bytes[1] << 8);
    header->Flags = bytes[2];
    header->Reserved = bytes[3];
    header->Length = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | (uint32_t)bytes[7] << 24;
    return 0;
}

static int HandleRecord(HANDLE file, const RecordHeader* header) {
    switch (header->Type) {
    case RecordTypeMessageTable: return ReadMessageTable(file, header->Length);
    case RecordTypeFileList: return ReadFileList(file, header->Length);
    case RecordTypeDirectoryList: return ReadDirectoryList(file, header->Length);
    case RecordTypeRegistryList: return ReadRegistryList(file, header->Length);
    case RecordTypePatterns: return JoinPatternRecord(file, header);
    case RecordTypeOptions: return ReplaceOptionsRecord(file, header);
    default: return 0;  // unknown and unused types are skipped whole
    }
}

int ReadRecords(HANDLE file) {
    uint32_t fileLength = GetFileLength(file);
    for (;;) {
        RecordHeader header;
        if (ReadRecordHeader(file, &header) != 0) return ErrorDataUnreadable;
        if (header.Length != 0) {
            uint32_t payloadStart = GetFilePosition(file);
            // A payload that claims to run past the end of the file is damaged;
            // refusing it up front also keeps the next position from wrapping.
            if (header.Type != RecordTypeEnd &&
                (uint64_t)payloadStart + header.Length > fileLength)
                return ErrorDataUnreadable;
            int error = HandleRecord(file, &header);
            if (error) return error;
            SetFilePosition(file, payloadStart + header.Length);
        }
        if (header.Type == RecordTypeEnd) return 0;
    }
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

void FreeUninstallData() {
    FreeEntryLists();
    FreeMessageTable();
}
