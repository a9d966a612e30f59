// Message lookup and formatting: texts are data, never format strings.
#include <gtest/gtest.h>

#include "block_file.h"
#include "block_writer.h"
#include "data/message_table.h"
#include "data/records.h"

namespace {

const std::string End = EncodeRecord(RecordTypeEnd, "");

void LoadMessages(std::vector<std::string> texts) {
    ASSERT_EQ(0, ReadBlock(EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(texts)) + End));
}

std::string Format(int index, const char* argument) {
    char out[FormattedMessageSize + 16];
    memset(out, 'Z', sizeof out);
    FormatMessageText(out, index, argument);
    EXPECT_EQ('Z', out[FormattedMessageSize]) << "wrote past the destination";
    return out;
}

TEST(MessageLookup, MissingTablesIndicesAndTextsAreEmpty) {
    ASSERT_EQ(0, ReadBlock(End));
    EXPECT_STREQ("", GetMessageText(0, 0));
    std::vector<std::string> texts;
    for (int i = 0; i < 16; i++) texts.push_back("text " + std::to_string(i));
    texts[2] = "";
    LoadMessages(texts);
    EXPECT_STREQ("text 15", GetMessageText(0, 15));
    EXPECT_STREQ("", GetMessageText(0, 16));
    EXPECT_STREQ("", GetMessageText(0, -1));
    EXPECT_STREQ("", GetMessageText(1, 0));
    EXPECT_STREQ("", GetMessageText(0, 2));
    EXPECT_STREQ("text 3", GetMessageText(0, 3));
}

TEST(MessageLookup, OnlyTheFirstTableIsReadAndALaterRecordReplaces) {
    std::string payload = Le16(2) + Le16(1) + Stored("first") + Le16(1) + Stored("second");
    std::string replacement = EncodeRecord(RecordTypeMessageTable, EncodeMessageTable({"new caption"}));
    ASSERT_EQ(0, ReadBlock(EncodeRecord(RecordTypeMessageTable, payload) + End));
    EXPECT_STREQ("first", GetMessageText(0, 0));
    ASSERT_EQ(0, ReadBlock(EncodeRecord(RecordTypeMessageTable, payload) + replacement + End));
    EXPECT_STREQ("new caption", GetMessageText(0, 0));
    // A record with no texts leaves the loaded table alone.
    ASSERT_EQ(0, ReadBlock(replacement + EncodeRecord(RecordTypeMessageTable, Le16(1) + Le16(0)) + End));
    EXPECT_STREQ("new caption", GetMessageText(0, 0));
}

TEST(MessageLookup, TableCutShortKeepsWhatWasReadForTheErrorMessage) {
    std::string payload = Le16(1) + Le16(3) + Stored("caption") + Le16(500) + "cut";
    EXPECT_EQ(ErrorDataUnreadable, ReadBlock(EncodeRecord(RecordTypeMessageTable, payload) + End));
    EXPECT_STREQ("caption", GetMessageText(0, 0));
    EXPECT_STREQ("", GetMessageText(0, 1));
}

TEST(MessageFormatting, ArgumentReplacesTheFirstPercentS) {
    LoadMessages({"Cannot read %s.", "100%% of %s", "plain 50% text %d", "%s and %s", "%d%%s %s", "%%"});
    EXPECT_EQ("Cannot read C:\\App\\uninst.exe.", Format(0, "C:\\App\\uninst.exe"));
    EXPECT_EQ("100% of x", Format(1, "x"));
    EXPECT_EQ("plain 50% text %d", Format(2, "x"));  // no "%s": copied as it stands
    EXPECT_EQ("a and %s", Format(3, "a"));           // a second "%s" is not a conversion
    EXPECT_EQ("%d%s a", Format(4, "a"));             // "%%" then "s" is text, then the argument
    EXPECT_EQ("%%", Format(5, "a"));
    EXPECT_EQ("%s%% and %s", Format(3, "%s%%"));  // the argument is never interpreted
    EXPECT_EQ("", Format(40, "a"));
}

TEST(MessageFormatting, ResultIsCutTo1023Characters) {
    std::string longText(2000, 'm');
    LoadMessages({longText, "%s", "abc %s"});
    EXPECT_EQ(std::string(1023, 'm'), Format(0, "a"));
    EXPECT_EQ(std::string(1023, 'p'), Format(1, std::string(5000, 'p').c_str()));
    EXPECT_EQ("abc ", Format(2, nullptr));
}

}  // namespace
