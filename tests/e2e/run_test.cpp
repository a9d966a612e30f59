// The real uninstaller under Wine: confirmation, switches, and damaged data.
#include <gtest/gtest.h>

#include <cstdio>

#include "block_writer.h"
#include "data/files.h"
#include "data/message_table.h"
#include "data/records.h"
#include "scenario.h"
#include "stub.h"

namespace {

const DWORD ExitFailure = 0xFFFFFFFF;  // the program's -1
const std::string End = EncodeRecord(RecordTypeEnd, "");

PackData SampleData() {
    PackData data = TestData();
    data.options.present = true;
    return data;
}

// Message 1 is asked even when empty; message 2 follows an accepted run
// unless it is empty; a declined run ends there and keeps its uninstaller.
TEST(Confirmation, AnswerDecidesAndAnEmptyFinalMessageIsNotShown) {
    const struct {
        std::string confirm, finished;
        int answer;
        std::vector<std::string> shown;
    } cases[] = {
        {"Remove everything?", "All done.", IDCANCEL, {"Remove everything?"}},
        {"Remove everything?", "All done.", IDOK, {"Remove everything?", "All done."}},
        {"", "", IDOK, {""}},
    };
    std::string base = FreshTestFolder();
    int count = 0;
    for (const auto& c : cases) {
        // A folder of its own each time: a carried-out run removes its folder.
        std::string folder = base + std::to_string(++count) + "\\";
        CreateDirectoryA(folder.c_str(), NULL);
        PackData data = SampleData();
        data.messages[1] = c.confirm;
        data.messages[2] = c.finished;
        std::string exe = WriteUninstaller(folder, data);
        RunResult run = RunUninstaller(exe, "", {BoxAnswer(c.answer), BoxAnswer(IDOK)});
        EXPECT_EQ(0u, run.exitCode) << count;
        EXPECT_EQ(c.shown, PromptTexts(run)) << count;
        if (c.answer == IDCANCEL) EXPECT_TRUE(FileExists(exe));
    }
}

// Any quiet switch shows nothing at all; a word that is no switch ends the
// scan, and the run asks as usual.
TEST(Switches, QuietSwitchesShowNothingAndOtherWordsEndTheScan) {
    const struct { const char* switches; bool quiet; } cases[] = {
        {"/Q", true}, {"/S", true}, {"/X", true}, {"/S /X", true}, {"-q", true}, {"/quiet", true}, {"/Q/X", true},
        {"foo /Q", false}, {"/?", false}, {"/", false}};
    std::string base = FreshTestFolder();
    int count = 0;
    for (const auto& c : cases) {
        // A folder of its own each time: a run with /Q removes its uninstaller and folder.
        std::string folder = base + std::to_string(++count) + "\\";
        CreateDirectoryA(folder.c_str(), NULL);
        RunResult run = RunUninstaller(WriteUninstaller(folder, SampleData()), c.switches, {BoxAnswer(IDCANCEL)});
        EXPECT_EQ(0u, run.exitCode) << c.switches;
        EXPECT_EQ(c.quiet ? 0u : 1u, run.dialogs.size()) << c.switches;
        if (!c.quiet) EXPECT_EQ(std::vector<std::string>{"Remove everything?"}, PromptTexts(run)) << c.switches;
    }
}

// Without a message table every box is empty: the report of damage before
// the table, and the confirmation of a block of only an end record, which
// runs quietly without a word.
TEST(DataBlock, WithoutAMessageTableBoxesAreEmpty) {
    std::string folder = FreshTestFolder();
    RunResult damaged = RunUninstaller(WriteUninstaller(folder, EncodeRecord(RecordTypePatterns, "x")), "/S", {{"", IDOK}});
    std::string exe = WriteUninstaller(folder, End);
    RunResult quiet = RunUninstaller(exe, "/S", {});
    RunResult asked = RunUninstaller(exe, "", {{"", IDOK}});  // last: it removes its folder
    EXPECT_EQ(ExitFailure, damaged.exitCode);
    EXPECT_EQ(0u, quiet.exitCode);
    EXPECT_TRUE(quiet.dialogs.empty());
    EXPECT_EQ(0u, asked.exitCode);
    for (const RunResult& run : {damaged, asked}) {
        std::vector<SeenDialog> prompts = Prompts(run);
        ASSERT_EQ(1u, prompts.size());
        EXPECT_EQ("", prompts[0].caption);
        EXPECT_EQ("", prompts[0].text);
    }
}

TEST(DataBlock, OffsetFieldZeroEndsSilentlyWithFailure) {
    std::string image = ReadWholeFile(BinFolder() + "uninst.exe");
    size_t at = 0;
    std::string error;
    ASSERT_TRUE(FindDataLocator(image, &at, &error)) << error;
    StoreU32(&image, at + 6, 0);
    std::string exe = FreshTestFolder() + "uninst.exe";
    WriteWholeFile(exe, image + WriteBlock(SampleData()));
    RunResult run = RunUninstaller(exe, "", {{"", IDOK}});
    EXPECT_EQ(ExitFailure, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
}

// Damage of each kind (framing, counts, texts, options) is reported with
// message 8 naming the uninstaller, also in quiet runs, and the program ends
// with -1. Which records the reader refuses is for its own tests.
TEST(DataBlock, DamagedBlocksAreReportedAndRefused) {
    std::string table = EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(TestMessages()));
    auto Le32 = [](uint32_t value) { std::string bytes; AppendU32(&bytes, value); return bytes; };
    struct Damage { const char* what; std::string records; };
    std::vector<Damage> damages = {
        {"no end record", EncodeRecord(RecordTypeFileList, EncodeFileList({{".", "a.txt", 0}}))},
        {"count past the record", EncodeRecord(RecordTypeFileList, Le32(1000) + EncodeFileList({{".", "a", 0}}).substr(4)) + End},
        {"length past the file", EncodeRecord(0x5555, "x").substr(0, 4) + Le32(0x7FFFFFFF) + End},
        {"patterns without closing text", EncodeRecord(RecordTypePatterns, std::string("*.log\0", 6)) + End},
        {"options refused by flag bit 0", EncodeRecord(RecordTypeOptions, EncodeOptions(PackOptions{true, 0, "", ""}), 1) + End},
    };
    std::string folder = FreshTestFolder();
    for (const Damage& damage : damages) {
        std::string exe = WriteUninstaller(folder, table + damage.records);
        for (const char* switches : {"", "/Q"}) {
            RunResult run = RunUninstaller(exe, switches, {BoxAnswer(IDOK)});
            EXPECT_EQ(ExitFailure, run.exitCode) << damage.what << " " << switches;
            ASSERT_EQ(1u, run.dialogs.size()) << damage.what << " " << switches;
            EXPECT_EQ("Damaged data in " + exe, run.dialogs[0].text) << damage.what;
        }
    }
}

// Names below a folder, files and folders alike, each with its size.
std::vector<std::string> ListTree(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        names.push_back(folder + "\\" + name + " " + std::to_string(found.nFileSizeLow));
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::string& inner : ListTree(folder + "\\" + name)) names.push_back(inner);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Every block the record fuzzer kept, behind a message table of our own, run
// quietly beside files that relative names could reach: a block the reader
// refuses must be reported with the message the reader chose (7 or 8), end
// with -1, and touch nothing. Blocks the reader accepts are not damage.
TEST(DataBlock, FuzzedBlocksThatTheReaderRefusesRemoveNothing) {
    const std::string corpus = "C:\\qvtest\\corpus\\records";
    std::string table = EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(TestMessages()));
    std::string folder = FreshTestFolder();
    for (const char* name : {"a.txt", "a", "f", "sub\\b.log", "sub\\deeper\\c.tmp"}) MakeFile(folder + name);
    int refused = 0, accepted = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((corpus + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << "the corpus is not staged";
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string input = found.cFileName;
        std::string exe = WriteUninstaller(folder, table + ReadWholeFile(corpus + "\\" + input));
        std::string image = ReadWholeFile(exe);
        size_t at = 0;
        std::string error;
        ASSERT_TRUE(FindDataLocator(image, &at, &error)) << error;
        HANDLE file = OpenExistingFile(exe.c_str(), OpenForRead);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        SetFilePosition(file, ReadDataOffset(image, at));
        int result = ReadRecords(file);
        CloseFile(file);
        char expected[FormattedMessageSize];
        FormatMessageText(expected, result, exe.c_str());
        FreeUninstallData();
        if (result == 0) {
            accepted++;
            continue;
        }
        refused++;
        std::vector<std::string> before = ListTree(folder);
        RunResult run = RunUninstaller(exe, "/S", {{"", IDOK}});
        EXPECT_EQ(ExitFailure, run.exitCode) << input;
        ASSERT_EQ(1u, run.dialogs.size()) << input;
        EXPECT_EQ(expected, run.dialogs[0].text) << input;
        EXPECT_EQ(before, ListTree(folder)) << input;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_GT(refused, 0);
    std::printf("fuzzed blocks: %d refused and replayed, %d accepted by the reader\n", refused, accepted);
}

// The theming library is loaded from the System folder by its full path: a
// library of that name planted beside the uninstaller, in a folder others may
// write to, must not run with the uninstaller's rights. Wine prefers its own
// built-in library unless told otherwise, so the test tells it to take a
// native one first, as Windows would.
TEST(StartUp, PlantedThemingLibraryBesideTheUninstallerIsNotLoaded) {
    std::string folder = FreshTestFolder();
    std::string exe = WriteUninstaller(folder, SampleData());
    ASSERT_TRUE(CopyFileA((BinFolder() + "uxtheme.dll").c_str(), (folder + "uxtheme.dll").c_str(), FALSE));
    const char* overrides = "Software\\Wine\\AppDefaults\\uninst.exe\\DllOverrides";
    SetText(HKEY_CURRENT_USER, overrides, "uxtheme", "native,builtin");
    DeleteFileA("C:\\qvtest\\planted-dll-loaded");
    RunResult run = RunUninstaller(exe, "/S", {});
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists("C:\\qvtest\\planted-dll-loaded"));
}

}  // namespace
