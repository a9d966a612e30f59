// The record reader with every handler: read a block, walk everything it
// loaded, free it. LeakSanitizer checks that the free left nothing behind.
#include <stdlib.h>
#include <string.h>

#include "data/entry_lists.h"
#include "data/files.h"
#include "data/message_table.h"
#include "data/records.h"
#include "fuzz_file.h"

static void Check(bool condition) {
    if (!condition) abort();
}

static void WalkEntries() {
    Check(FileCount == 0 || FileList != 0);
    for (uint32_t i = 0; i < FileCount; i++) {
        const FileEntry* entry = FileList[i];
        Check(entry != 0);
        size_t folder = TouchText(entry->Folder);
        size_t name = TouchText(entry->Name);
        Check(folder + name <= FileEntryTextLimit);
    }
    Check(DirectoryCount == 0 || DirectoryList != 0);
    for (uint32_t i = 0; i < DirectoryCount; i++) {
        const DirectoryEntry* entry = DirectoryList[i];
        Check(entry != 0);
        Check(entry->Levels <= 0xFF);
        size_t total = TouchText(entry->Path) + TouchText(entry->AltPath) + TouchText(entry->FileName);
        Check(total <= DirectoryEntryTextLimit);
    }
    Check(RegistryCount == 0 || RegistryList != 0);
    for (uint32_t i = 0; i < RegistryCount; i++) {
        const RegistryEntry* entry = RegistryList[i];
        Check(entry != 0);
        Check(TouchText(entry->Path) <= RegistryEntryTextLimit);
    }
}

// The removal pass walks the multi-text up to its closing empty text without
// looking at the length; the walk must end inside the block.
static void WalkPatterns() {
    if (!PatternList) {
        Check(PatternLength == 0);
        return;
    }
    Check(PatternLength >= 2);
    uint32_t at = 0;
    while (PatternList[at] != 0) at += (uint32_t)TouchText(PatternList + at) + 1;
    Check(at < PatternLength);
}

static void WalkOptions() {
    (void)GetOptionFlags();
    if (const char* program = GetPreRemovalCommand()) TouchText(program);
    if (const char* document = GetFinalDocument()) TouchText(document);
}

static void WalkMessages() {
    int count = 0;
    if (MessageTable) {
        while (MessageTable[count]) count++;
    }
    // Past the end and negative indices must give the empty text too.
    for (int index = -2; index <= count + 2 || index < MessageIndexCount; index++) {
        const char* text = GetMessageText(0, index);
        Check(text != 0);
        TouchText(text);
    }
    Check(GetMessageText(1, 0)[0] == 0);
}

static void CheckAllFreed() {
    Check(!FileList && FileCount == 0);
    Check(!DirectoryList && DirectoryCount == 0);
    Check(!RegistryList && RegistryCount == 0);
    Check(!PatternList && PatternLength == 0);
    Check(!OptionsRecord && OptionsLength == 0);
    Check(!MessageTable);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFile input;
    OpenFuzzFile(&input, data, size);
    HANDLE file = OpenExistingFile(input.Path, OpenForRead);
    Check(file != INVALID_HANDLE_VALUE);
    int result = ReadRecords(file);
    CloseFile(file);
    CloseFuzzFile(&input);
    Check(result == 0 || result == ErrorOutOfMemory || result == ErrorDataUnreadable);
    // What was loaded before an error stays loaded and is shown or freed, so
    // it is walked whatever the result.
    WalkEntries();
    WalkPatterns();
    WalkOptions();
    WalkMessages();
    FreeUninstallData();
    CheckAllFreed();
    return 0;
}
