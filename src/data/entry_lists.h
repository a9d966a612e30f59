// The lists of what to remove, and the options, as loaded from the data.
#pragma once
#include "data/platform.h"
#include "data/payload.h"

enum {
    FileFlagSharedDll = 1,
    FileFlagFont = 2,
    FileFlagComServer = 4,
    FileFlagCheckInUse = 8,
};

enum { OptWaitForProgram = 1, OptThemedControls = 2 };

// Largest text sums one entry may hold (its texts and terminators fill the
// reader's scratch buffer exactly).
enum {
    FileEntryTextLimit = 518,
    DirectoryEntryTextLimit = 777,
    RegistryEntryTextLimit = 519,
};

// Each entry is one block: the fields, then its texts, which the pointers name.
struct FileEntry {
    char* Folder;
    char* Name;
    uint8_t Flags;
};

struct DirectoryEntry {
    uint32_t Levels;
    char* Path;
    char* AltPath;
    char* FileName;
};

struct RegistryEntry {
    uint32_t Root;
    char* Path;
};

extern FileEntry** FileList;
extern uint32_t FileCount;
extern DirectoryEntry** DirectoryList;
extern uint32_t DirectoryCount;
extern RegistryEntry** RegistryList;
extern uint32_t RegistryCount;
// Joined multi-text of all pattern records, closed by an empty text.
extern char* PatternList;
extern uint32_t PatternLength;
// The options payload as stored: Flags, ProgramOffset, DocumentOffset, texts.
extern unsigned char* OptionsRecord;
extern uint32_t OptionsLength;

// Handlers of the record loop, with the file at the first payload byte.
// Each returns 0, ErrorOutOfMemory, or ErrorDataUnreadable for a payload that
// breaks its bounds.
int ReadFileList(HANDLE file, uint32_t length);
int ReadDirectoryList(HANDLE file, uint32_t length);
int ReadRegistryList(HANDLE file, uint32_t length);
int JoinPatternRecord(HANDLE file, const RecordHeader* header);
int ReplaceOptionsRecord(HANDLE file, const RecordHeader* header);

// The options as the run uses them; a block without options has flags 0 and
// neither program nor document.
uint32_t GetOptionFlags();
const char* GetPreRemovalCommand();  // null when there is none
const char* GetFinalDocument();      // null when there is none

void FreeEntryLists();
