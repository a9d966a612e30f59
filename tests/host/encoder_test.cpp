// The block writer, the stub locator and the code pages, byte for byte. The
// expected bytes are written out by hand from the record layouts, so that a
// wrong field order or width shows here first.
#include <stdexcept>

#include "block_writer.h"
#include "codepage.h"
#include "stub.h"
#include "test_support.h"

TEST(Encoders, RecordHeaderIsTypeFlagsReservedLength) {
    EXPECT_EQ(EncodeRecord(0x1235, "ab", 1), Bytes({0x35, 0x12, 0x01, 0x00, 0x02, 0, 0, 0}) + "ab");
}

TEST(Encoders, FileListEntryIsFolderNameFlags) {
    EXPECT_EQ(EncodeFileList({{".", "a.exe", 9}}),
              Bytes({1, 0, 0, 0, 1, 0}) + "." + Bytes({5, 0}) + "a.exe" + Bytes({9}));
}

TEST(Encoders, DirectoryListEntryStartsWithOneByteLevels) {
    PackDirectory directory;
    directory.levels = 3;
    directory.path = "C:\\d";
    directory.fileName = "f";
    EXPECT_EQ(EncodeDirectoryList({directory}),
              Bytes({1, 0, 0, 0, 3, 4, 0}) + "C:\\d" + Bytes({0, 0, 1, 0}) + "f");
}

TEST(Encoders, RegistryListEntryIsRootThenPath) {
    EXPECT_EQ(EncodeRegistryList({{0x80000002u, "K\\\\v"}}),
              Bytes({1, 0, 0, 0, 0x02, 0, 0, 0x80, 4, 0}) + "K\\\\v");
}

TEST(Encoders, PatternsAreAMultiTextEndingInTwoZeroBytes) {
    EXPECT_EQ(EncodePatterns({"a.tmp", "b\\*.log"}), std::string("a.tmp\0b\\*.log\0\0", 15));
    EXPECT_EQ(EncodePatterns({}), std::string(2, '\0'));
}

TEST(Encoders, OptionsOffsetsCountFromThePayloadStart) {
    PackOptions options;
    options.flags = 3;
    options.program = "p.exe";
    options.document = "d";
    EXPECT_EQ(EncodeOptions(options),
              Bytes({3, 0, 0, 0, 12, 0, 0, 0, 18, 0, 0, 0}) + std::string("p.exe\0d\0", 8));
    options.program.clear();
    EXPECT_EQ(EncodeOptions(options), Bytes({3, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0}) + std::string("d\0", 2));
}

TEST(Encoders, MessageTableHoldsOneTableOfLengthPrefixedTexts) {
    EXPECT_EQ(EncodeMessageTable({"Hi", "", "x"}), Bytes({1, 0, 3, 0, 2, 0}) + "Hi" + Bytes({0, 0, 1, 0}) + "x");
}

TEST(Encoders, BlockHasRecordsInFixedOrderAndOnlyNonEmptyOnes) {
    PackData data;
    data.messages = {"m"};
    data.registry = {{1, "k"}};
    data.options.present = true;
    const std::string block = WriteBlock(data);
    const std::string options = EncodeRecord(0x123A, EncodeOptions(data.options));
    EXPECT_EQ(block, EncodeRecord(0x1234, EncodeMessageTable(data.messages)) +
                         EncodeRecord(0x1237, EncodeRegistryList(data.registry)) + options +
                         Bytes({0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(WriteBlock(PackData()), Bytes({0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));
}

TEST(Encoders, OnlyTheFieldWidthLimitsTexts) {
    // Oversized entries must stay possible: tests build damaged blocks with them.
    EXPECT_NO_THROW(EncodeFileList({{std::string(600, 'a'), "b", 0}}));
    EXPECT_THROW(EncodeFileList({{std::string(65536, 'a'), "", 0}}), std::length_error);
    EXPECT_THROW(EncodeMessageTable(std::vector<std::string>(65536)), std::length_error);
}

TEST(Stub, LocatorMustOccurExactlyOnceWithItsWholeField) {
    size_t at = 0;
    std::string error;
    EXPECT_TRUE(FindDataLocator(FakeStub(), &at, &error));
    EXPECT_EQ(at, 64u);
    EXPECT_FALSE(FindDataLocator("MZ no marker", &at, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_FALSE(FindDataLocator(FakeStub() + FakeStub(), &at, &error));
    EXPECT_NE(error.find("2 times"), std::string::npos) << error;
    EXPECT_FALSE(FindDataLocator("MZ" + kMarker + Bytes({1, 2, 3}), &at, &error));
}

TEST(Stub, UninstallerIsStubWithOffsetOfItsEndThenBlock) {
    const std::string stub = FakeStub();
    std::string image, error;
    ASSERT_TRUE(MakeUninstaller(stub, "BLOCK", &image, &error)) << error;
    std::string expected = stub;
    expected.replace(70, 4, Bytes({static_cast<int>(stub.size()), 0, 0, 0}));
    EXPECT_EQ(image, expected + "BLOCK");
}

TEST(Stub, SealWritesTheFilesOwnSize) {
    std::string image = FakeStub() + std::string(300, 'x'), error;
    ASSERT_TRUE(SealStub(&image, &error)) << error;
    EXPECT_EQ(image.substr(70, 4), Bytes({(382 & 0xFF), 382 >> 8, 0, 0}));
}

TEST(CodePages, EveryByteSurvivesDecodeAndEncode) {
    const int pages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
    for (int page : pages) {
        std::string utf8, back, error;
        ASSERT_TRUE(DecodeText(all, page, &utf8, &error)) << page;
        ASSERT_TRUE(EncodeText(utf8, page, &back, &error)) << page << ": " << error;
        EXPECT_EQ(back, all) << page;
    }
}

TEST(CodePages, KnownCharactersMapToTheirBytes) {
    auto encode = [](const std::string& utf8, int page) {
        std::string bytes, error;
        EXPECT_TRUE(EncodeText(utf8, page, &bytes, &error)) << error;
        return bytes;
    };
    EXPECT_EQ(encode("€ Ü \xC2\x81", 1252), Bytes({0x80, ' ', 0xDC, ' ', 0x81}));
    EXPECT_EQ(encode("Жё", 1251), Bytes({0xC6, 0xB8}));
    EXPECT_EQ(encode("Šő", 1250), Bytes({0x8A, 0xF5}));
    EXPECT_EQ(encode("ก", 874), Bytes({0xA1}));
}

TEST(CodePages, RefusalsNameTheCharacterOrTheSupportedPages) {
    std::string bytes, error;
    EXPECT_FALSE(EncodeText("a中", 1252, &bytes, &error));
    EXPECT_NE(error.find("U+4E2D"), std::string::npos) << error;
    EXPECT_NE(error.find("1252"), std::string::npos) << error;
    EXPECT_FALSE(EncodeText("\xC3", 1252, &bytes, &error));  // cut UTF-8 sequence
    EXPECT_FALSE(EncodeText("\xC0\xAF", 1252, &bytes, &error));  // overlong "/"
    EXPECT_FALSE(DecodeText("a", 437, &bytes, &error));
    EXPECT_NE(error.find("874, 1250"), std::string::npos) << error;
}
