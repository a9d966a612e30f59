#include "removal/fonts.h"

#include <string.h>

#include "data/files.h"

// The installed-fonts entry of a TrueType font is its full name with this suffix.
static const char TrueTypeSuffix[] = " (TrueType)";

enum {
    SuffixLength = sizeof TrueTypeSuffix - 1,
    MostTableRecords = 40,
    OffsetTableSize = 12,
    TableRecordSize = 16,
    NamingHeaderSize = 6,
    NameRecordSize = 12,
    MacintoshPlatform = 1,
    FullNameId = 4
};

static uint32_t ReadBigU16(const unsigned char* at) {
    return (uint32_t)(at[0] << 8 | at[1]);
}

static uint32_t ReadBigU32(const unsigned char* at) {
    return (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | at[3];
}

// Win32 refuses offsets from 2 GB on and then leaves the position where it
// was; reading on from there would take other bytes for the ones asked for.
static int MoveTo(HANDLE file, uint32_t offset) {
    SetFilePosition(file, offset);
    return GetFilePosition(file) == offset;
}

// Finds the "name" record among the first 40 table records. A file too short
// for the offset table has no name: its table count would be made up.
static int FindNamingTable(HANDLE file, uint32_t* offset) {
    unsigned char header[OffsetTableSize];
    if (ReadExact(file, header, sizeof header) != 0) return 0;
    uint32_t count = ReadBigU16(header + 4);
    if (count > MostTableRecords) count = MostTableRecords;
    for (uint32_t i = 0; i < count; i++) {
        unsigned char record[TableRecordSize];
        if (ReadExact(file, record, sizeof record) != 0) return 0;
        if (memcmp(record, "name", 4) == 0) {
            *offset = ReadBigU32(record + 8);
            return 1;
        }
    }
    return 0;
}

// Leaves the last platform 1 full name in name; a match of length 0, or one
// too long to take the suffix, leaves it empty. 0 when a read fails: a
// truncated table names nothing, whatever was found before the cut.
static int ReadLastFullName(HANDLE file, uint32_t table, char* name, uint32_t size) {
    unsigned char header[NamingHeaderSize];
    if (!MoveTo(file, table) || ReadExact(file, header, sizeof header) != 0) return 0;
    uint32_t count = ReadBigU16(header + 2);
    uint32_t storage = table + ReadBigU16(header + 4);
    for (uint32_t i = 0; i < count; i++) {
        unsigned char record[NameRecordSize];
        if (ReadExact(file, record, sizeof record) != 0) return 0;
        if (ReadBigU16(record) != MacintoshPlatform || ReadBigU16(record + 6) != FullNameId) continue;
        uint32_t length = ReadBigU16(record + 8);
        name[0] = 0;
        if (length == 0 || length + SuffixLength + 1 > size) continue;
        uint32_t next = GetFilePosition(file);
        uint32_t start = storage + ReadBigU16(record + 10);
        if (storage < table || start < storage) return 0;  // past 4 GB
        if (!MoveTo(file, start) || ReadExact(file, name, length) != 0) return 0;
        name[length] = 0;
        if (!MoveTo(file, next)) return 0;
    }
    return 1;
}

void ReadFontFullName(const char* path, char* name, uint32_t size) {
    if (size == 0) return;
    name[0] = 0;
    HANDLE file = OpenExistingFile(path, OpenForRead);
    if (file == INVALID_HANDLE_VALUE) return;
    uint32_t table = 0;
    if (FindNamingTable(file, &table) && !ReadLastFullName(file, table, name, size)) name[0] = 0;
    CloseFile(file);
}

#ifdef _WIN32
#include "base/run_state.h"

int WithdrawFont(const char* path, RemoveFontCall remove) {
    int count = 0;
    while (count < MostFontWithdrawals && remove(path)) count++;
    return count;
}

void DeregisterFont(const char* path) {
    char name[FontNameSize];
    ReadFontFullName(path, name, sizeof name);
    WithdrawFont(path, RemoveFontResourceA);
    size_t length = strlen(name);
    // The reader keeps room for the suffix; checked here too, so that this copy
    // is bounded on its own.
    if (length != 0 && length + sizeof TrueTypeSuffix <= sizeof name) {
        memcpy(name + length, TrueTypeSuffix, sizeof TrueTypeSuffix);
        const char* key = IsNtPlatform ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                                       : "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
        HKEY fonts;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &fonts) == ERROR_SUCCESS) {
            RegDeleteValueA(fonts, name);
            RegCloseKey(fonts);
        }
    }
    // Sent, not posted: every window has seen the change when this returns.
    // A hung window of another program is skipped, and a slow one given five
    // seconds, so that it cannot hold the uninstallation still forever.
    DWORD_PTR result;
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}
#endif
