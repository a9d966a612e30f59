// The font full-name reader on crafted files, and font deregistration against
// the registry, the process's font list and a listening window.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <algorithm>
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
struct TempFile {
    explicit TempFile(const std::string& bytes) {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        GetTempFileNameA(folder, "fnt", 0, path);
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL);
        CloseHandle(file);
        EXPECT_EQ(bytes.size(), written);
    }
    ~TempFile() { DeleteFileA(path); }
    const char* Path() const { return path; }
    char path[MAX_PATH];
};

// Reads the name into a buffer of size bytes followed by guard bytes; fails
// the test when anything past size was written or no terminator was left.
std::string ReadNameFromPath(const char* path, uint32_t size = FontNameSize) {
    std::vector<char> buffer(size + GuardSize, Guard);
    ReadFontFullName(path, buffer.data(), size);
    if (std::count(buffer.begin() + size, buffer.end(), Guard) != GuardSize)
        ADD_FAILURE() << "written past a buffer of " << size;
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

std::string FontWith(const std::vector<SfntName>& names) { return BuildTrueTypeFont(names); }

SfntTableRecord NamingTableOf(const std::string& file) {
    SfntTableRecord record = {};
    EXPECT_TRUE(FindSfntTable(file, "name", &record));
    return record;
}

std::string With16(std::string file, size_t at, uint16_t value) { return file.replace(at, 2, Be16(value)); }

std::string MissingFont() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "no such font.ttf";
}

struct NameCase {
    const char* what;
    std::string file;
    std::string expected;
    uint32_t size = FontNameSize;
};

TEST(FontName, CraftedFilesYieldTheExpectedName) {
    const std::string sample = "Sample Sans Bold", longest(FontNameSize - 12, 'x');  // 508 + 11 + 1 = 520
    const std::string font = FontWith({MacFullName(sample)});
    const SfntTableRecord naming = NamingTableOf(font);
    const size_t callerRecord = naming.Offset + 6 + 12 * 2;  // after the builder's two family records
    const std::string endsAtNaming = font.substr(0, naming.Offset + naming.Length);
    // Its naming table's data directly follows the one-record directory, where
    // the file position stands when the seek to its offset is made.
    const std::string lone = BuildSfnt({{"name", BuildNamingTable({MacFullName(sample)})}});
    auto loneAt = [&](uint32_t offset) { return std::string(lone).replace(12 + 8, 4, Be32(offset)); };
    auto padded = [&](unsigned tables, int index) {
        FontOptions options;
        options.PaddingTables = tables;
        std::string file = BuildTrueTypeFont({MacFullName(sample)}, options);
        EXPECT_EQ(index, NamingTableOf(file).Index);
        return file;
    };
    const std::vector<SfntTable> tables = TrueTypeFontTables({MacFullName(sample)});
    const NameCase cases[] = {
        // 0x8E is e-acute in Mac Roman: no conversion happens.
        {"platform 1 as it stands", FontWith({WindowsName(4, "Windows Full Name"), MacFullName("Caf\x8e Sans Bold")}),
         "Caf\x8e Sans Bold"},
        {"Windows name only", FontWith({WindowsName(4, sample)}), ""},
        {"other platforms and ids", FontWith({{0, 3, 0, 4, Utf16Be("Unicode Full")}, {1, 0, 0, 1, "Sample Sans"},
                                              {1, 0, 0, 6, "SampleSans-Bold"}, {2, 0, 0, 4, "Iso Full"}}), ""},
        {"last match wins", FontWith({MacFullName("First"), WindowsName(4, "Windows"), {1, 1, 11, 4, "Second"},
                                      {1, 0, 0, 1, "Family"}}), "Second"},
        {"an empty match empties", FontWith({MacFullName("First"), MacFullName("", 2)}), ""},
        {"a later match refills", FontWith({MacFullName(""), MacFullName("Second", 2)}), "Second"},
        {"longest name", FontWith({MacFullName(longest)}), longest},
        {"one too long", FontWith({MacFullName(longest + "x")}), ""},
        // A match too long to use is a match without a name: a later one still counts.
        {"too long, then short", FontWith({MacFullName(longest + "x"), MacFullName("Short", 2)}), "Short"},
        {"short, then too long", FontWith({MacFullName("Short"), MacFullName(longest + "x", 2)}), ""},
        // The limit follows the size given: 18 + 11 + 1 = 30.
        {"longest for 30", FontWith({MacFullName(std::string(18, 'y'))}), std::string(18, 'y'), 30},
        {"too long for 30", FontWith({MacFullName(std::string(19, 'y'))}), "", 30},
        {"size 0", font, "", 0},  // the guard check covers the whole buffer
        {"size 12", font, "", 12},
        {"size 13", FontWith({MacFullName("S")}), "S", 13},
        {"naming table 40th of 41", padded(31, 39), sample},  // only the first 40 records are searched
        {"naming table 41st of 42", padded(32, 40), ""},
        {"naming record counted", With16(font, 4, uint16_t(naming.Index + 1)), sample},
        {"naming record not counted", With16(font, 4, uint16_t(naming.Index)), ""},
        {"single font", BuildSfnt(tables), sample},
        {"collection of one", BuildCollection({tables}), ""},
        {"string past the end", With16(font, callerRecord + 10, 0xFFF0), ""},
        {"string longer than the file", With16(font, callerRecord + 8, uint16_t(font.size() - naming.Offset)), ""},
        {"storage past the end", With16(font, naming.Offset + 4, 0xFFFF), ""},
        {"naming table ends the file", endsAtNaming, sample},
        // The match is read before the reads run out; the table still names nothing.
        {"more records counted than present", With16(endsAtNaming, naming.Offset + 2, 0xFFFF), ""},
        {"lone naming table", lone, sample},
        {"naming table at 2 GB", loneAt(0x80000000u), ""},
        {"naming table near 4 GB", loneAt(0xFFFFFFF0u), ""},
        {"naming table past the end", loneAt(uint32_t(lone.size() + 100)), ""},
    };
    for (const NameCase& c : cases) EXPECT_EQ(c.expected, ReadName(c.file, c.size)) << c.what;
}

TEST(FontName, AMissingFileOrEveryCutBeforeTheEndOfTheNamingTableYieldsNoName) {
    EXPECT_EQ("", ReadNameFromPath(MissingFont().c_str()));
    // Covers the offset table, the table records, the naming table's header,
    // its records and the string.
    std::string font = FontWith({MacFullName("Sample Sans Bold")});
    SfntTableRecord naming = NamingTableOf(font);
    for (uint32_t length = 0; length < naming.Offset + naming.Length; length++)
        ASSERT_EQ("", ReadName(font.substr(0, length))) << "file cut to " << length << " bytes";
    EXPECT_EQ("Sample Sans Bold", ReadName(font.substr(0, naming.Offset + naming.Length)));
}

// --- DeregisterFont -----------------------------------------------------------

const char UnitFontName[] = "Fonts Unit Test Sans";
const std::string UnitFontValue = std::string(UnitFontName) + " (TrueType)";

// The result of action on the opened key; false when the key cannot be had.
template <class Action>
bool OnKey(const char* key, Action action) {
    HKEY fonts;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &fonts) != ERROR_SUCCESS) return false;
    bool done = action(fonts) == ERROR_SUCCESS;
    RegCloseKey(fonts);
    return done;
}

void SetFontValue(const char* key, const std::string& name) {
    const char data[] = "fonts-unit-test.ttf";
    ASSERT_TRUE(
        OnKey(key, [&](HKEY k) { return RegSetValueExA(k, name.c_str(), 0, REG_SZ, (const BYTE*)data, sizeof data); }));
}

bool HasFontValue(const char* key, const std::string& name) {
    return OnKey(key, [&](HKEY k) { return RegQueryValueExA(k, name.c_str(), NULL, NULL, NULL, NULL); });
}

void DeleteFontValue(const char* key, const std::string& name) {
    OnKey(key, [&](HKEY k) { return RegDeleteValueA(k, name.c_str()); });
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

    HANDLE ready_ = NULL, thread_ = NULL;
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

class DeregisterFontOnFamily : public DeregisterFontTest, public ::testing::WithParamInterface<int> {};

// The longest name that takes the suffix, so the entry must be deleted whole;
// the bare name is another entry.
TEST_P(DeregisterFontOnFamily, TheEntryGoesWholeFromTheRunningFamilysKeyOnly) {
    IsNtPlatform = GetParam();
    const char* own = IsNtPlatform ? NtFontsKey : NineXFontsKey;
    const char* other = IsNtPlatform ? NineXFontsKey : NtFontsKey;
    const std::string name(FontNameSize - 12, 'n'), value = name + " (TrueType)";
    for (const char* key : {own, other}) SetFontValue(key, value);
    SetFontValue(own, name);
    TempFile font(FontWith({MacFullName(name)}));
    Deregister(font.Path());
    EXPECT_FALSE(HasFontValue(own, value));
    EXPECT_TRUE(HasFontValue(other, value));
    EXPECT_TRUE(HasFontValue(own, name));
    for (const char* key : {own, other})
        for (const std::string& entry : {name, value}) DeleteFontValue(key, entry);
}

INSTANTIATE_TEST_SUITE_P(NtAnd9x, DeregisterFontOnFamily, ::testing::Values(1, 0));

int CALLBACK CountFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM count) { return ++*(int*)count, 1; }

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

// Each font is withdrawn and the change handled by every window before the
// call returns, name or no name; without a name the registry is left alone.
TEST_F(DeregisterFontTest, EveryFontIsWithdrawnAndAnnouncedBeforeTheCallReturns) {
    FontChangeListener listener;
    ASSERT_TRUE(listener.Listening());
    Deregister(MissingFont().c_str());
    EXPECT_EQ(1, listener.Count());
    FontOptions options;
    options.Family = "Fonts Unit Family";
    const SfntName nameless = WindowsName(4, UnitFontName), named = MacFullName(UnitFontName);
    for (int run = 0; run < 3; run++) {  // nameless on 9x and on NT, then named on NT
        IsNtPlatform = run != 0;
        TempFile font(BuildTrueTypeFont({run < 2 ? nameless : named}, options));
        ASSERT_EQ(1, AddFontResourceA(font.Path())) << "the built font does not load";
        ASSERT_EQ(1, FacesOfFamily("Fonts Unit Family"));
        Deregister(font.Path());
        EXPECT_EQ(2 + run, listener.Count());
        EXPECT_EQ(0, FacesOfFamily("Fonts Unit Family"));
        EXPECT_FALSE(RemoveFontResourceA(font.Path()));  // nothing left to withdraw
        if (run < 2) {
            EXPECT_TRUE(HasFontValue(NtFontsKey, UnitFontValue));
            EXPECT_TRUE(HasFontValue(NineXFontsKey, UnitFontValue));
        }
    }
    EXPECT_FALSE(HasFontValue(NtFontsKey, UnitFontValue));
}

}  // namespace
