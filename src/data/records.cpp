#include "data/records.h"

#include "data/entry_lists.h"
#include "data/files.h"
#include "data/message_table.h"

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

void FreeUninstallData() {
    FreeEntryLists();
    FreeMessageTable();
}
