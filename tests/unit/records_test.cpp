// The record loop and the list readers on hand-made blocks: damaged framing,
// counts and texts are refused as unreadable data (8), never taken for a lack
// of memory (7) or read past; sound blocks around them are read.
#include <gtest/gtest.h>

#include <fstream>

#include "block_writer.h"
#include "data/entry_lists.h"
#include "data/files.h"
#include "data/message_table.h"
#include "data/records.h"

// The reader's result for bytes in a file of their own, read from offset 0.
static int ReadBlock(const std::string& bytes) {
    FreeUninstallData();
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "blk", 0, path);
    std::ofstream(path, std::ios::binary) << bytes;
    HANDLE in = OpenExistingFile(path, OpenForRead);
    int result = ReadRecords(in);
    CloseFile(in);
    DeleteFileA(path);
    return result;
}

// Little-endian, like the data.
static std::string Le32(uint32_t value) {
    return std::string((const char*)&value, 4);
}

TEST(Records, EachBlockIsReadOrRefused) {
    const std::string end = EncodeRecord(RecordTypeEnd, ""), files = EncodeFileList({{".", "a", 0}}), text("a\0", 2);
    const std::string junk(37, '\x35'), table = EncodeMessageTable({"caption"}), f(300, 'f'), n(218, 'n');
    const std::string p(400, 'p'), a(300, 'a'), x(77, 'x'), unknown = EncodeRecord(0x4444, "").substr(0, 4);
    auto record = [&](uint16_t type, const std::string& payload) { return EncodeRecord(type, payload) + end; };
    const std::pair<std::string, int> cases[] = {
        {"", ErrorDataUnreadable},
        {end.substr(0, 5), ErrorDataUnreadable},
        {EncodeRecord(RecordTypeFileList, files), ErrorDataUnreadable},  // no end record
        // Nothing after an end record is read, nor its length checked.
        {EncodeRecord(RecordTypeEnd, "xyz") + "junk", 0},
        {end.substr(0, 4) + Le32(0xFFFFFFF0), 0},
        // Unknown and unused records, and what a handler leaves unread, are skipped whole.
        {EncodeRecord(0x4444, junk) + EncodeRecord(RecordTypeUnused, junk) +
             record(RecordTypeMessageTable, table + table), 0},
        // Skipped as announced, 0xFFFFFFFC bytes would wrap back to offset 4,
        // where a record of length 0 and then an end record would be read.
        {unknown + Le32(0xFFFFFFFC) + Le32(0) + end, ErrorDataUnreadable},
        {unknown + Le32(100) + Le32(0) + end, ErrorDataUnreadable},
        // Counts the payload cannot hold must not be allocated for.
        {record(RecordTypeRegistryList, Le32(0x3FFFFFFF) + std::string(64, '\0')), ErrorDataUnreadable},
        {record(RecordTypeRegistryList, Le32(0x40000001) + std::string(64, '\0')), ErrorDataUnreadable},
        {record(RecordTypeFileList, Le32(2) + files.substr(4)), ErrorDataUnreadable},
        {record(RecordTypeFileList, Le32(1) + std::string("\x32\0short", 7)), ErrorDataUnreadable},
        // Texts at their limits, and one byte more.
        {record(RecordTypeFileList, EncodeFileList({{f, n, 0}})), 0},
        {record(RecordTypeFileList, EncodeFileList({{f, n + "x", 0}})), ErrorDataUnreadable},
        {record(RecordTypeDirectoryList, EncodeDirectoryList({{1, p, a, x}})), 0},
        {record(RecordTypeDirectoryList, EncodeDirectoryList({{1, p, a, x + "x"}})), ErrorDataUnreadable},
        {record(RecordTypeRegistryList, EncodeRegistryList({{1, std::string(519, 'k')}})), 0},
        {record(RecordTypeRegistryList, EncodeRegistryList({{1, std::string(520, 'k')}})), ErrorDataUnreadable},
        // A pattern record must close with an empty text.
        {record(RecordTypePatterns, std::string("a.tmp\0\0", 7)), 0},
        {record(RecordTypePatterns, std::string("a.tmp\0", 6)), ErrorDataUnreadable},
        {record(RecordTypePatterns, "a"), ErrorDataUnreadable},
        // Options: flags, program offset, document offset, then the texts.
        {record(RecordTypeOptions, Le32(1) + Le32(12) + Le32(0) + text), 0},
        {record(RecordTypeOptions, Le32(0) + Le32(0)), ErrorDataUnreadable},
        {record(RecordTypeOptions, Le32(0) + Le32(40) + Le32(0) + text), ErrorDataUnreadable},
        {record(RecordTypeOptions, Le32(0) + Le32(8) + Le32(0) + text), ErrorDataUnreadable},  // inside the fields
        {record(RecordTypeOptions, Le32(0) + Le32(0) + Le32(12) + "open"), ErrorDataUnreadable},
        // Flag bit 0 refuses a record read whole; other bits, and list records, are not looked at.
        {EncodeRecord(RecordTypePatterns, std::string("a\0\0", 3), 1) + end, ErrorDataUnreadable},
        {EncodeRecord(RecordTypeOptions, Le32(0) + Le32(0) + Le32(0), 1) + end, ErrorDataUnreadable},
        {EncodeRecord(RecordTypeOptions, Le32(0) + Le32(0) + Le32(0), 0xFE) +
             EncodeRecord(RecordTypeFileList, files, 1) + end, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, ReadBlock(c.first)) << "case " << &c - cases;
}

// Lists far longer than the reader's read-ahead, with texts of every length
// so that fields and texts straddle its blocks, come back whole and in order,
// and the records after them are read from where they start.
TEST(Records, LongListsAreReadWholeAcrossReadAhead) {
    std::vector<PackFile> files;
    for (int i = 0; i < 700; i++) files.push_back({std::string(1 + i % 211, 'd') + std::to_string(i), "f" + std::to_string(i), (uint8_t)(i % 3)});
    const std::string block = EncodeRecord(RecordTypeFileList, EncodeFileList(files)) +
                              EncodeRecord(RecordTypeMessageTable, EncodeMessageTable({"caption", "after"})) +
                              EncodeRecord(RecordTypeEnd, "");
    ASSERT_EQ(0, ReadBlock(block));
    ASSERT_EQ(files.size(), FileCount);
    for (uint32_t i = 0; i < FileCount; i++) {
        EXPECT_EQ(files[i].folder, FileList[i]->Folder) << i;
        EXPECT_EQ(files[i].name, FileList[i]->Name) << i;
        EXPECT_EQ(files[i].flags, FileList[i]->Flags) << i;
    }
    EXPECT_STREQ("after", GetMessageText(0, 1));
}
