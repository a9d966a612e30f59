// The uninstall data block: record types, the record loop and what it loaded.
#pragma once
#include "data/payload.h"

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

enum { DataLocatorSize = 10, DataLocatorMarkerSize = 6 };
extern const unsigned char DataLocatorMarker[DataLocatorMarkerSize];

// Reads records from the file's current position up to the first end record.
// Returns 0, ErrorOutOfMemory or ErrorDataUnreadable; what was loaded before an
// error stays loaded.
int ReadRecords(HANDLE file);

// Frees everything the reader loaded.
void FreeUninstallData();

#ifdef _WIN32
// Locates the data in the running executable, reads it and reports an error
// with message 7 or 8. Returns 1 when every record was read.
int ReadUninstallData();
#endif
