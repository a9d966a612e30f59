#include "data/entry_lists.h"

#include <string.h>

#include "data/memory.h"

FileEntry** FileList;
uint32_t FileCount;
DirectoryEntry** DirectoryList;
uint32_t DirectoryCount;
RegistryEntry** RegistryList;
uint32_t RegistryCount;
char* PatternList;
uint32_t PatternLength;
unsigned char* OptionsRecord;
uint32_t OptionsLength;

enum { ScratchSize = DirectoryEntryTextLimit + 3 };  // the largest entry's texts

// Texts of one entry are read one after another into a zero-filled scratch
// buffer, each followed by its terminator; together they may hold at most
// limit bytes, so the scratch buffer can never be overrun.
struct EntryTexts {
    char Scratch[ScratchSize];
    uint32_t Used;   // bytes taken, terminators included
    uint32_t Total;  // text bytes, terminators excluded
};

static int ReadEntryText(Payload* payload, EntryTexts* texts, uint32_t limit, uint32_t* offset) {
    uint16_t length;
    int error = ReadPayloadU16(payload, &length);
    if (error) return error;
    if (texts->Total + length > limit) return ErrorDataUnreadable;
    error = ReadPayloadBytes(payload, texts->Scratch + texts->Used, length);
    if (error) return error;
    *offset = texts->Used;
    texts->Used += length + 1u;
    texts->Total += length;
    return 0;
}

// Allocates one block for an entry's fields and its texts, and copies the texts.
template <typename Entry>
static int AllocateEntry(const EntryTexts* texts, Entry** entry, char** text) {
    if (!AllocateZeroed((uint32_t)sizeof(Entry) + texts->Used, entry)) return ErrorOutOfMemory;
    *text = (char*)(*entry + 1);
    memcpy(*text, texts->Scratch, texts->Used);
    return 0;
}

static int ReadFileEntry(Payload* payload, FileEntry** entry) {
    EntryTexts texts;
    memset(&texts, 0, sizeof texts);
    uint32_t folder, name;
    uint8_t flags;
    int error = ReadEntryText(payload, &texts, FileEntryTextLimit, &folder);
    if (!error) error = ReadEntryText(payload, &texts, FileEntryTextLimit, &name);
    if (!error) error = ReadPayloadU8(payload, &flags);
    char* text;
    if (!error) error = AllocateEntry(&texts, entry, &text);
    if (error) return error;
    (*entry)->Folder = text + folder;
    (*entry)->Name = text + name;
    (*entry)->Flags = flags;
    return 0;
}

static int ReadDirectoryEntry(Payload* payload, DirectoryEntry** entry) {
    EntryTexts texts;
    memset(&texts, 0, sizeof texts);
    uint8_t levels;
    uint32_t path, altPath, fileName;
    int error = ReadPayloadU8(payload, &levels);
    if (!error) error = ReadEntryText(payload, &texts, DirectoryEntryTextLimit, &path);
    if (!error) error = ReadEntryText(payload, &texts, DirectoryEntryTextLimit, &altPath);
    if (!error) error = ReadEntryText(payload, &texts, DirectoryEntryTextLimit, &fileName);
    char* text;
    if (!error) error = AllocateEntry(&texts, entry, &text);
    if (error) return error;
    (*entry)->Levels = levels;
    (*entry)->Path = text + path;
    (*entry)->AltPath = text + altPath;
    (*entry)->FileName = text + fileName;
    return 0;
}

static int ReadRegistryEntry(Payload* payload, RegistryEntry** entry) {
    EntryTexts texts;
    memset(&texts, 0, sizeof texts);
    uint32_t root, path;
    int error = ReadPayloadU32(payload, &root);
    if (!error) error = ReadEntryText(payload, &texts, RegistryEntryTextLimit, &path);
    char* text;
    if (!error) error = AllocateEntry(&texts, entry, &text);
    if (error) return error;
    (*entry)->Root = root;
    (*entry)->Path = text + path;
    return 0;
}

// The common shape of the three list records: a count, then the entries.
// The list's count grows only once every entry of the record has been read;
// on an error the entries of this record are freed again.
template <typename Entry>
static int ReadList(HANDLE file, uint32_t length, Entry*** list, uint32_t* count,
                    uint32_t smallestEntry, int (*readEntry)(Payload*, Entry**)) {
    Payload payload;
    StartPayload(&payload, file, length);
    uint32_t added;
    int error = ReadPayloadU32(&payload, &added);
    if (error) return error;
    if (added == 0) return 0;
    // A count that the payload cannot hold, or that would overflow the size of
    // the pointer array, is damage, not a reason to allocate.
    if (added > payload.Remaining / smallestEntry) return ErrorDataUnreadable;
    if (added > 0x3FFFFFFFu - *count) return ErrorDataUnreadable;
    uint32_t bytes = (*count + added) * (uint32_t)sizeof(Entry*);
    if (*count == 0) {
        FreeAndClear(list);
        if (!AllocateZeroed(bytes, list)) return ErrorOutOfMemory;
    } else if (!Reallocate(bytes, list)) {
        return ErrorOutOfMemory;
    }
    uint32_t done = 0;
    for (; done < added; done++) {
        Entry* entry = 0;
        error = readEntry(&payload, &entry);
        if (error) break;
        (*list)[*count + done] = entry;
    }
    if (error) {
        while (done > 0) FreeAndClear(&(*list)[*count + --done]);
        return error;
    }
    *count += added;
    return 0;
}

int ReadFileList(HANDLE file, uint32_t length) {
    return ReadList(file, length, &FileList, &FileCount, 5, ReadFileEntry);
}

int ReadDirectoryList(HANDLE file, uint32_t length) {
    return ReadList(file, length, &DirectoryList, &DirectoryCount, 7, ReadDirectoryEntry);
}

int ReadRegistryList(HANDLE file, uint32_t length) {
    return ReadList(file, length, &RegistryList, &RegistryCount, 6, ReadRegistryEntry);
}

int JoinPatternRecord(HANDLE file, const RecordHeader* header) {
    unsigned char* block;
    uint32_t length;
    int error = ReadBlobRecord(file, header, &block, &length);
    if (error) return error;
    // A multi-text must close with an empty text; anything else would let the
    // pattern walk run off the end of the block.
    if (length < 2 || block[length - 2] != 0 || block[length - 1] != 0) {
        FreeAndClear(&block);
        return ErrorDataUnreadable;
    }
    if (!PatternList || PatternList[0] == 0) {
        // Nothing loaded yet, or only the closing empty text: take the new block.
        FreeAndClear(&PatternList);
        PatternList = (char*)block;
        PatternLength = length;
        return 0;
    }
    if (!Reallocate(PatternLength + length, &PatternList)) {
        FreeAndClear(&block);
        return ErrorOutOfMemory;
    }
    // The new texts replace the empty text that closed the list so far.
    memcpy(PatternList + PatternLength - 1, block, length);
    PatternLength += length - 1;
    FreeAndClear(&block);
    return 0;
}

enum { OptionFieldsSize = 12 };

static uint32_t ReadOptionField(uint32_t offset) {
    const unsigned char* at = OptionsRecord + offset;
    return at[0] | at[1] << 8 | at[2] << 16 | (uint32_t)at[3] << 24;
}

// An offset of 0 means no text; any other must name a terminated text
// inside the payload, after the fixed fields.
static int IsOptionTextSound(uint32_t offset) {
    if (offset == 0) return 1;
    if (offset < OptionFieldsSize || offset >= OptionsLength) return 0;
    return memchr(OptionsRecord + offset, 0, OptionsLength - offset) != 0;
}

int ReplaceOptionsRecord(HANDLE file, const RecordHeader* header) {
    FreeAndClear(&OptionsRecord);
    OptionsLength = 0;
    int error = ReadBlobRecord(file, header, &OptionsRecord, &OptionsLength);
    if (error) return error;
    if (OptionsLength < OptionFieldsSize || !IsOptionTextSound(ReadOptionField(4)) ||
        !IsOptionTextSound(ReadOptionField(8))) {
        FreeAndClear(&OptionsRecord);
        OptionsLength = 0;
        return ErrorDataUnreadable;
    }
    return 0;
}

uint32_t GetOptionFlags() {
    return OptionsRecord ? ReadOptionField(0) : 0;
}

static const char* GetOptionText(uint32_t field) {
    if (!OptionsRecord) return 0;
    uint32_t offset = ReadOptionField(field);
    return offset ? (const char*)OptionsRecord + offset : 0;
}

const char* GetPreRemovalCommand() {
    return GetOptionText(4);
}

const char* GetFinalDocument() {
    return GetOptionText(8);
}

template <typename Entry>
static void FreeList(Entry*** list, uint32_t count) {
    if (*list) {
        for (uint32_t i = 0; i < count; i++) FreeAndClear(&(*list)[i]);
    }
    FreeAndClear(list);
}

// Counts go back to 0 so that a tool or a test can read another block.
void FreeEntryLists() {
    FreeAndClear(&PatternList);
    PatternLength = 0;
    FreeList(&RegistryList, RegistryCount);
    RegistryCount = 0;
    FreeList(&DirectoryList, DirectoryCount);
    DirectoryCount = 0;
    FreeList(&FileList, FileCount);
    FileCount = 0;
    FreeAndClear(&OptionsRecord);
    OptionsLength = 0;
}
