// The font full-name reader on crafted files, and font deregistration against
// the registry, the process's font list and a listening window.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "removal/fonts.h"
#include "sfnt_builder.h"

namespace {

const char NtFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char NineXFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const uint32_t GuardSize = 64;
const char Guard = '\xA5';

// A temporary file holding the given bytes while the object lives.
class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        GetTempFileNameA(folder, "fnt", 0, path_);
        HANDLE file = CreateFileA(path_, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL);
        CloseHandle(file);
        EXPECT_EQ(bytes.size(), written);
    }
    ~TempFile() { DeleteFileA(path_); }
    const char* Path() const { return path_; }

private:
    char path_[MAX_PATH];
};

// Reads the name into a buffer of size bytes followed by guard bytes; fails
// the test when anything past size was written or no terminator was left.
std::string ReadNameFromPath(const char* path, uint32_t size = FontNameSize) {
    std::vector<char> buffer(size + GuardSize, Guard);
    ReadFontFullName(path, buffer.data(), size);
    for (uint32_t i = size; i < size + GuardSize; i++) {
        if (buffer[i] != Guard) {
            ADD_FAILURE() << "byte " << i << " written past a buffer of " << size;
            break;
        }
    }
    if (size == 0) return "";
    if (!memchr(buffer.data(), 0, size)) {
        ADD_FAILURE() << "no terminator within " << size << " bytes";
        return "<unterminated>";
    }
    return std::string(buffer.data());
}

std::string ReadName(const std::string& file, uint32_t size = FontNameSize) {
    TempFile temp(file);
    return ReadNameFromPath(temp.Path(), size);
}

std::string FontWith(const std::vector<SfntName>& names) {
    return BuildTrueTypeFont(names);
}

SfntTableRecord NamingTableOf(const std::string& file) {
    SfntTableRecord record = {};
    EXPECT_TRUE(FindSfntTable(file, "name", &record));
    return record;
}

void PutBe16(std::string* file, size_t at, uint16_t value) {
    file->replace(at, 2, Be16(value));
}

void PutBe32(std::string* file, size_t at, uint32_t value) {
    file->replace(at, 4, Be32(value));
}

// The builder puts two family records first; the caller's names follow.
const uint32_t FirstCallerRecord = 2;

size_t NameRecordAt(const std::string& file, uint32_t index) {
    return NamingTableOf(file).Offset + 6 + 12 * index;
}

TEST(FontName, TakesThePlatform1FullNameAsItStands) {
    // 0x8E is e-acute in Mac Roman: no conversion happens.
    std::string name = "Caf\x8e Sans Bold";
    EXPECT_EQ(name, ReadName(FontWith({WindowsName(4, "Windows Full Name"), MacFullName(name)})));
}

TEST(FontName, OtherPlatformsAndNameIdsAreIgnored) {
    EXPECT_EQ("", ReadName(FontWith({WindowsName(4, "Sample Sans Bold")})));
    EXPECT_EQ("", ReadName(FontWith({{0, 3, 0, 4, Utf16Be("Unicode Full")},
                                      {1, 0, 0, 1, "Sample Sans"},
                                      {1, 0, 0, 6, "SampleSans-Bold"},
                                      {2, 0, 0, 4, "Iso Full"}})));
}

TEST(FontName, TheLastMatchingRecordWins) {
    EXPECT_EQ("Second", ReadName(FontWith({MacFullName("First"), WindowsName(4, "Windows"),
                                           {1, 1, 11, 4, "Second"}, {1, 0, 0, 1, "Family"}})));
    EXPECT_EQ("Second", ReadName(FontWith({MacFullName("First"), MacFullName("Second", 2)})));
}

TEST(FontName, AnEmptyMatchEmptiesTheNameUntilALaterMatch) {
    EXPECT_EQ("", ReadName(FontWith({MacFullName("First"), MacFullName("", 2)})));
    EXPECT_EQ("Second", ReadName(FontWith({MacFullName(""), MacFullName("Second", 2)})));
}

TEST(FontName, ANameMustLeaveRoomForTheSuffixAndTheTerminator) {
    const std::string longest(FontNameSize - 12, 'x');  // 508 + 11 + 1 = 520
    EXPECT_EQ(longest, ReadName(FontWith({MacFullName(longest)})));
    EXPECT_EQ("", ReadName(FontWith({MacFullName(longest + "x")})));
    // A match too long to use is a match without a name: a later one still counts.
    EXPECT_EQ("Short", ReadName(FontWith({MacFullName(longest + "x"), MacFullName("Short", 2)})));
    EXPECT_EQ("", ReadName(FontWith({MacFullName("Short"), MacFullName(longest + "x", 2)})));
    // The limit follows the size given: 18 + 11 + 1 = 30.
    EXPECT_EQ(std::string(18, 'y'), ReadName(FontWith({MacFullName(std::string(18, 'y'))}), 30));
    EXPECT_EQ("", ReadName(FontWith({MacFullName(std::string(19, 'y'))}), 30));
}

TEST(FontName, TinyBuffersAreNeverOverrun) {
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    EXPECT_EQ("", ReadName(font, 0));  // the guard check covers the whole buffer
    EXPECT_EQ("", ReadName(font, 1));
    EXPECT_EQ("", ReadName(font, 12));
    EXPECT_EQ("S", ReadName(FontWith({MacFullName("S")}), 13));
}

TEST(FontName, OnlyTheFirst40TableRecordsAreSearched) {
    FontOptions options;
    options.PaddingTables = 31;
    std::string fortieth = BuildTrueTypeFont({MacFullName("Sample Sans Bold")}, options);
    ASSERT_EQ(39, NamingTableOf(fortieth).Index);
    EXPECT_EQ("Sample Sans Bold", ReadName(fortieth));

    options.PaddingTables = 32;
    std::string fortyFirst = BuildTrueTypeFont({MacFullName("Sample Sans Bold")}, options);
    ASSERT_EQ(40, NamingTableOf(fortyFirst).Index);
    EXPECT_EQ("", ReadName(fortyFirst));

    options.PaddingTables = 35;  // 45 tables
    EXPECT_EQ("", ReadName(BuildTrueTypeFont({MacFullName("Sample Sans Bold")}, options)));
}

TEST(FontName, OnlyTheCountedTableRecordsAreSearched) {
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    uint16_t index = uint16_t(NamingTableOf(font).Index);
    PutBe16(&font, 4, uint16_t(index + 1));
    EXPECT_EQ("Sample Sans Bold", ReadName(font));
    PutBe16(&font, 4, index);
    EXPECT_EQ("", ReadName(font));
}

TEST(FontName, ACollectionYieldsNoName) {
    std::vector<SfntTable> tables = TrueTypeFontTables({MacFullName("Sample Sans Bold")});
    EXPECT_EQ("Sample Sans Bold", ReadName(BuildSfnt(tables)));
    EXPECT_EQ("", ReadName(BuildCollection({tables})));
    EXPECT_EQ("", ReadName(BuildCollection({tables, tables})));
}

TEST(FontName, EveryCutBeforeTheEndOfTheNamingTableYieldsNoName) {
    // Covers the offset table, the table records, the naming table's header,
    // its records and the string.
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    SfntTableRecord naming = NamingTableOf(font);
    for (uint32_t length = 0; length < naming.Offset + naming.Length; length++) {
        ASSERT_EQ("", ReadName(font.substr(0, length))) << "file cut to " << length << " bytes";
    }
    EXPECT_EQ("Sample Sans Bold", ReadName(font.substr(0, naming.Offset + naming.Length)));
}

TEST(FontName, AStringPastTheEndOfTheFileYieldsNoName) {
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    size_t record = NameRecordAt(font, FirstCallerRecord);
    std::string farOffset = font;
    PutBe16(&farOffset, record + 10, 0xFFF0);
    EXPECT_EQ("", ReadName(farOffset));
    std::string longString = font;
    PutBe16(&longString, record + 8, uint16_t(font.size() - NamingTableOf(font).Offset));
    EXPECT_EQ("", ReadName(longString));
    std::string farStorage = font;
    PutBe16(&farStorage, NamingTableOf(font).Offset + 4, 0xFFFF);
    EXPECT_EQ("", ReadName(farStorage));
}

TEST(FontName, MoreRecordsCountedThanPresentYieldsNoName) {
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    SfntTableRecord naming = NamingTableOf(font);
    font.resize(naming.Offset + naming.Length);  // the naming table ends the file
    ASSERT_EQ("Sample Sans Bold", ReadName(font));
    // The match is read before the reads run out; the table still names nothing.
    PutBe16(&font, naming.Offset + 2, 0xFFFF);
    EXPECT_EQ("", ReadName(font));
}

TEST(FontName, ANamingTableThatCannotBeReachedYieldsNoName) {
    // The naming table's data directly follows the one-record directory, where
    // the file position stands when the seek to its offset is made.
    std::string file = BuildSfnt({{"name", BuildNamingTable({MacFullName("Sample Sans Bold")})}});
    ASSERT_EQ("Sample Sans Bold", ReadName(file));
    const uint32_t unreachable[] = {0x80000000u, 0xFFFFFFF0u, uint32_t(file.size() + 100)};
    for (uint32_t offset : unreachable) {
        std::string moved = file;
        PutBe32(&moved, 12 + 8, offset);
        EXPECT_EQ("", ReadName(moved)) << "naming table at " << offset;
    }
}

TEST(FontName, AMissingFileYieldsNoName) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = std::string(folder) + "no such font.ttf";
    EXPECT_EQ("", ReadNameFromPath(path.c_str()));
}

// --- DeregisterFont -----------------------------------------------------------

const char UnitFontName[] = "Fonts Unit Test Sans";
const std::string UnitFontValue = std::string(UnitFontName) + " (TrueType)";

void SetFontValue(const char* key, const std::string& name) {
    HKEY fonts;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &fonts));
    const char data[] = "fonts-unit-test.ttf";
    RegSetValueExA(fonts, name.c_str(), 0, REG_SZ, (const BYTE*)data, sizeof data);
    RegCloseKey(fonts);
}

bool HasFontValue(const char* key, const std::string& name) {
    HKEY fonts;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &fonts) != ERROR_SUCCESS) return false;
    bool found = RegQueryValueExA(fonts, name.c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(fonts);
    return found;
}

void DeleteFontValue(const char* key, const std::string& name) {
    HKEY fonts;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &fonts) != ERROR_SUCCESS) return;
    RegDeleteValueA(fonts, name.c_str());
    RegCloseKey(fonts);
}

DWORD WINAPI DeregisterOnThread(void* path) {
    DeregisterFont((const char*)path);
    return 0;
}

// The broadcast waits for every top-level window; a hang must fail the test,
// not stall the run.
void Deregister(const char* path) {
    HANDLE thread = CreateThread(NULL, 0, DeregisterOnThread, (void*)path, 0, NULL);
    ASSERT_NE(nullptr, thread);
    DWORD waited = WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "DeregisterFont did not return within 30 s";
}

// A hidden top-level window on its own thread that counts the WM_FONTCHANGE
// messages it has finished handling.
class FontChangeListener {
public:
    FontChangeListener() {
        ready_ = CreateEventA(NULL, TRUE, FALSE, NULL);
        thread_ = CreateThread(NULL, 0, Run, this, 0, NULL);
        WaitForSingleObject(ready_, 10000);
    }
    ~FontChangeListener() {
        if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    bool Listening() const { return window_ != NULL; }
    LONG Count() const { return count_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_FONTCHANGE) {
            // Slow on purpose: a posted message would be counted only after
            // the caller has looked.
            Sleep(200);
            auto self = (FontChangeListener*)GetWindowLongPtrA(window, GWLP_USERDATA);
            InterlockedIncrement(&self->count_);
            return 0;
        }
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static DWORD WINAPI Run(void* context) {
        auto self = (FontChangeListener*)context;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "FontChangeListener";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10,
                                      NULL, NULL, windowClass.hInstance, NULL);
        if (window) SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)self);
        self->window_ = window;
        SetEvent(self->ready_);
        MSG message;
        while (window && GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
        return 0;
    }

    HANDLE ready_ = NULL;
    HANDLE thread_ = NULL;
    HWND window_ = NULL;
    volatile LONG count_ = 0;
};

class DeregisterFontTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPlatform_ = IsNtPlatform;
        SetFontValue(NtFontsKey, UnitFontValue);
        SetFontValue(NineXFontsKey, UnitFontValue);
    }
    void TearDown() override {
        IsNtPlatform = savedPlatform_;
        DeleteFontValue(NtFontsKey, UnitFontValue);
        DeleteFontValue(NineXFontsKey, UnitFontValue);
    }

private:
    int savedPlatform_ = 0;
};

TEST_F(DeregisterFontTest, OnNtTheEntryGoesFromTheNtKeyOnly) {
    TempFile font(FontWith({MacFullName(UnitFontName)}));
    SetFontValue(NtFontsKey, UnitFontName);  // the bare name is another entry
    IsNtPlatform = 1;
    Deregister(font.Path());
    EXPECT_FALSE(HasFontValue(NtFontsKey, UnitFontValue));
    EXPECT_TRUE(HasFontValue(NineXFontsKey, UnitFontValue));
    EXPECT_TRUE(HasFontValue(NtFontsKey, UnitFontName));
    DeleteFontValue(NtFontsKey, UnitFontName);
}

TEST_F(DeregisterFontTest, On9xTheEntryGoesFromThe9xKeyOnly) {
    TempFile font(FontWith({MacFullName(UnitFontName)}));
    IsNtPlatform = 0;
    Deregister(font.Path());
    EXPECT_FALSE(HasFontValue(NineXFontsKey, UnitFontValue));
    EXPECT_TRUE(HasFontValue(NtFontsKey, UnitFontValue));
}

TEST_F(DeregisterFontTest, TheLongestNameIsDeletedWhole) {
    std::string name(FontNameSize - 12, 'n');
    std::string value = name + " (TrueType)";
    SetFontValue(NtFontsKey, value);
    TempFile font(FontWith({MacFullName(name)}));
    IsNtPlatform = 1;
    Deregister(font.Path());
    EXPECT_FALSE(HasFontValue(NtFontsKey, value));
    DeleteFontValue(NtFontsKey, value);
}

TEST_F(DeregisterFontTest, AFontWithoutANameLeavesTheRegistryAloneButIsStillAnnounced) {
    FontChangeListener listener;
    ASSERT_TRUE(listener.Listening());
    TempFile font(FontWith({WindowsName(4, UnitFontName)}));
    for (int platform = 0; platform <= 1; platform++) {
        IsNtPlatform = platform;
        Deregister(font.Path());
    }
    EXPECT_TRUE(HasFontValue(NtFontsKey, UnitFontValue));
    EXPECT_TRUE(HasFontValue(NineXFontsKey, UnitFontValue));
    EXPECT_EQ(2, listener.Count());
}

TEST_F(DeregisterFontTest, TheChangeIsHandledBeforeTheCallReturns) {
    FontChangeListener listener;
    ASSERT_TRUE(listener.Listening());
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string missing = std::string(folder) + "no such font.ttf";
    Deregister(missing.c_str());
    EXPECT_EQ(1, listener.Count());
    TempFile font(FontWith({MacFullName(UnitFontName)}));
    Deregister(font.Path());
    EXPECT_EQ(2, listener.Count());
}

int CALLBACK CountFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM count) {
    ++*(int*)count;
    return 1;
}

int FacesOfFamily(const char* family) {
    HDC screen = GetDC(NULL);
    LOGFONTA wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    strcpy(wanted.lfFaceName, family);
    int count = 0;
    EnumFontFamiliesExA(screen, &wanted, (FONTENUMPROCA)CountFace, (LPARAM)&count, 0);
    ReleaseDC(NULL, screen);
    return count;
}

TEST_F(DeregisterFontTest, TheFontIsWithdrawnWhetherOrNotItHasAName) {
    FontOptions options;
    options.Family = "Fonts Unit Family";
    const std::vector<SfntName> withName = {MacFullName(UnitFontName)};
    const std::vector<SfntName> withoutName = {WindowsName(4, UnitFontName)};
    for (const auto& names : {withName, withoutName}) {
        TempFile font(BuildTrueTypeFont(names, options));
        ASSERT_EQ(1, AddFontResourceA(font.Path())) << "the built font does not load";
        ASSERT_EQ(1, FacesOfFamily("Fonts Unit Family"));
        Deregister(font.Path());
        EXPECT_EQ(0, FacesOfFamily("Fonts Unit Family"));
        EXPECT_FALSE(RemoveFontResourceA(font.Path()));  // nothing left to withdraw
    }
}

}  // namespace
