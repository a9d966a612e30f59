// The record loop, the list handlers and the refusal of damaged payloads.
#include <gtest/gtest.h>
#include <string.h>

#include "block_file.h"
#include "block_writer.h"
#include "data/entry_lists.h"
#include "data/records.h"

namespace {

const std::string End = EncodeRecord(RecordTypeEnd, "");

std::string Files(std::vector<PackFile> files) {
    return EncodeRecord(RecordTypeFileList, EncodeFileList(files));
}

std::string Options(uint32_t flags, const std::string& program, const std::string& document) {
    PackOptions options;
    options.present = true;
    options.flags = flags;
    options.program = program;
    options.document = document;
    return EncodeRecord(RecordTypeOptions, EncodeOptions(options));
}

TEST(RecordFraming, EndRecordAloneReadsEmptyLists) {
    ASSERT_EQ(0, ReadBlock(End));
    EXPECT_EQ(0u, FileCount);
    EXPECT_EQ(0u, DirectoryCount);
    EXPECT_EQ(0u, RegistryCount);
    EXPECT_EQ(nullptr, PatternList);
    EXPECT_EQ(nullptr, OptionsRecord);
}

TEST(RecordFraming, SkipsUnknownUnusedAndEmptyRecordsWhole) {
    std::string junk(37, '\x35');  // would parse as a huge count if handed on
    std::string block = EncodeRecord(0x1238, junk) + EncodeRecord(0x4444, junk) +
                        Options(3, "a.exe", "") + EncodeRecord(RecordTypeOptions, "") +
                        EncodeRecord(RecordTypeFileList, "") + Files({{".", "x.dll", 1}}) + End +
                        Files({{".", "after-end", 0}});
    ASSERT_EQ(0, ReadBlock(block));
    EXPECT_EQ(3u, GetOptionFlags());  // the empty options record replaced nothing
    ASSERT_EQ(1u, FileCount);         // records after the end record are not read
    EXPECT_STREQ("x.dll", FileList[0]->Name);
}

TEST(RecordFraming, HandlerThatReadsLessDoesNotDisturbFraming) {
    // A message record with two tables: the second table is left unread.
    std::string table = Le16(1) + Stored("caption");
    std::string payload = Le16(2) + table + table + "tail bytes";
    ASSERT_EQ(0, ReadBlock(EncodeRecord(RecordTypeMessageTable, payload) + Files({{".", "a", 0}}) + End));
    EXPECT_EQ(1u, FileCount);
}

TEST(RecordFraming, EndOfFileBeforeEndRecordIsUnreadable) {
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(Files({{".", "a", 0}})));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(""));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(End.substr(0, 5)));
}

TEST(RecordFraming, EndRecordWithPayloadStillEnds) {
    EXPECT_EQ(0, ReadBlock(EncodeRecord(RecordTypeEnd, "xyz")));
    // Its length is not checked against the file: nothing after it is read.
    EXPECT_EQ(0, ReadBlock(std::string("\x7f\x7f\0\0", 4) + Le32(0xFFFFFFF0)));
}

TEST(RecordFraming, LengthPastTheEndOfTheFileIsRefused) {
    // Skipping an unknown record this long would wrap the next position
    // back onto its own header and loop forever.
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(Le16(0x4444) + Le16(0) + Le32(0xFFFFFFF8) + End));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(Le16(RecordTypeFileList) + Le16(0) + Le32(100) + Le32(0) + End));
}

TEST(EntryLists, FileRecordsAppendInOrder) {
    std::string block = Files({{".", "one", 1}, {".\\bin", "two", 2}}) +
                        Files({{"C:\\A", "three", 4}, {"C:\\B", "", 8}, {"", "five", 15}}) +
                        Files({}) + End;
    ASSERT_EQ(0, ReadBlock(block));
    ASSERT_EQ(5u, FileCount);
    EXPECT_STREQ(".", FileList[0]->Folder);
    EXPECT_STREQ("one", FileList[0]->Name);
    EXPECT_EQ(1, FileList[0]->Flags);
    EXPECT_STREQ(".\\bin", FileList[1]->Folder);
    EXPECT_STREQ("three", FileList[2]->Name);
    EXPECT_STREQ("", FileList[3]->Name);
    EXPECT_STREQ("", FileList[4]->Folder);
    EXPECT_EQ(15, FileList[4]->Flags);
}

TEST(EntryLists, DirectoryAndRegistryEntries) {
    std::string block =
        EncodeRecord(RecordTypeDirectoryList, EncodeDirectoryList({{255, "C:\\P", "C:\\Alt", "f.txt"}, {0, "C:\\Q", "", ""}})) +
        EncodeRecord(RecordTypeRegistryList, EncodeRegistryList({{0x80000002u, "Software\\V\\\\Value"}})) +
        EncodeRecord(RecordTypeRegistryList, Le32(0)) + End;
    ASSERT_EQ(0, ReadBlock(block));
    ASSERT_EQ(2u, DirectoryCount);
    EXPECT_EQ(255u, DirectoryList[0]->Levels);
    EXPECT_STREQ("C:\\P", DirectoryList[0]->Path);
    EXPECT_STREQ("C:\\Alt", DirectoryList[0]->AltPath);
    EXPECT_STREQ("f.txt", DirectoryList[0]->FileName);
    EXPECT_STREQ("", DirectoryList[1]->AltPath);
    ASSERT_EQ(1u, RegistryCount);
    EXPECT_EQ(0x80000002u, RegistryList[0]->Root);
    EXPECT_STREQ("Software\\V\\\\Value", RegistryList[0]->Path);
}

TEST(EntryLists, TextsAtTheLimitsLoadAndOneMoreIsRefused) {
    std::string f(300, 'f'), n(218, 'n');
    ASSERT_EQ(0, ReadBlock(Files({{f, n, 0}}) + End));
    EXPECT_EQ(300u, strlen(FileList[0]->Folder));
    EXPECT_EQ(218u, strlen(FileList[0]->Name));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(Files({{f, n + "x", 0}}) + End));

    std::string p(400, 'p'), a(300, 'a'), x(77, 'x');
    auto dirs = [](std::vector<PackDirectory> d) { return EncodeRecord(RecordTypeDirectoryList, EncodeDirectoryList(d)); };
    ASSERT_EQ(0, ReadBlock(dirs({{1, p, a, x}}) + End));
    EXPECT_EQ(77u, strlen(DirectoryList[0]->FileName));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(dirs({{1, p, a, x + "x"}}) + End));

    auto keys = [](std::string path) { return EncodeRecord(RecordTypeRegistryList, EncodeRegistryList({{1, path}})); };
    ASSERT_EQ(0, ReadBlock(keys(std::string(519, 'k')) + End));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(keys(std::string(520, 'k')) + End));
}

TEST(EntryLists, CountsThePayloadCannotHoldAreRefused) {
    // Two entries announced, one present: the second would be read from the next record.
    std::string one = EncodeFileList({{".", "a", 0}}).substr(4);
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypeFileList, Le32(2) + one) + End));
    // A count so large that the pointer array's size would overflow.
    EXPECT_EQ(ErrorDataUnreadable,
              ReadBlock(EncodeRecord(RecordTypeRegistryList, Le32(0x40000001) + std::string(64, '\0')) + End));
    // A text longer than what is left of its record.
    EXPECT_EQ(ErrorDataUnreadable,
              ReadBlock(EncodeRecord(RecordTypeFileList, Le32(1) + Le16(50) + "short") + End));
    EXPECT_EQ(0u, FileCount);
}

TEST(EntryLists, PatternRecordsJoin) {
    std::string block = EncodeRecord(RecordTypePatterns, std::string("a.tmp\0\0", 7)) +
                        EncodeRecord(RecordTypePatterns, std::string("b.log\0\0", 7)) + End;
    ASSERT_EQ(0, ReadBlock(block));
    EXPECT_EQ(13u, PatternLength);
    EXPECT_EQ(0, memcmp(PatternList, "a.tmp\0b.log\0\0", 13));
}

TEST(EntryLists, PatternRecordWithoutClosingEmptyTextIsRefused) {
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypePatterns, std::string("a.tmp\0", 6)) + End));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypePatterns, "a") + End));
}

TEST(EntryLists, LaterOptionsReplaceEarlier) {
    ASSERT_EQ(0, ReadBlock(Options(1, "first.exe", "first.htm") + Options(2, "", "second.htm") + End));
    EXPECT_EQ(2u, GetOptionFlags());
    EXPECT_EQ(nullptr, GetPreRemovalCommand());
    EXPECT_STREQ("second.htm", GetFinalDocument());
}

TEST(EntryLists, NoOptionsRecordMeansNothingToRunOrOpen) {
    ASSERT_EQ(0, ReadBlock(End));
    EXPECT_EQ(0u, GetOptionFlags());
    EXPECT_EQ(nullptr, GetPreRemovalCommand());
    EXPECT_EQ(nullptr, GetFinalDocument());
}

TEST(EntryLists, OptionsThatPointOutsideOrAtUnterminatedTextAreRefused) {
    auto raw = [](std::string payload) { return EncodeRecord(RecordTypeOptions, payload) + End; };
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(raw(Le32(0) + Le32(0))));  // shorter than its fields
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(raw(Le32(0) + Le32(40) + Le32(0) + std::string("a\0", 2))));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(raw(Le32(0) + Le32(0) + Le32(12) + "open")));
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(raw(Le32(0) + Le32(8) + Le32(0) + std::string("a\0", 2))));
    EXPECT_EQ(0, ReadBlock(raw(Le32(1) + Le32(12) + Le32(0) + std::string("a\0", 2))));
    EXPECT_STREQ("a", GetPreRemovalCommand());
}

TEST(EntryLists, WholePayloadRecordWithFlagBitZeroIsRefused) {
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypePatterns, std::string("a\0\0", 3), 1) + End));
    std::string options = EncodeOptions(PackOptions{true, 0, "", ""});
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypeOptions, options, 1) + End));
    // Other bits, and bit 0 on list records, are not looked at.
    EXPECT_EQ(0, ReadBlock(EncodeRecord(RecordTypeOptions, options, 0xFE) + EncodeRecord(RecordTypeFileList, EncodeFileList({{".", "a", 0}}), 1) + End));
}

}  // namespace
