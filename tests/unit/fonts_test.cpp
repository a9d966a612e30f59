// The font full-name reader on crafted and damaged files, and font
// deregistration against the registry, the process's font list and a window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "removal/fonts.h"
#include "sfnt_builder.h"

namespace {

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
    char path[MAX_PATH];
};

// Reads the name into a buffer of size bytes followed by guard bytes; fails
// the test when anything past size was written or no terminator was left.
std::string ReadName(const std::string& file, uint32_t size = FontNameSize) {
    const std::string guard(64, '\xA5');
    std::string buffer(size, '\xA5');
    buffer += guard;
    TempFile temp(file);
    ReadFontFullName(temp.path, &buffer[0], size);
    EXPECT_EQ(guard, buffer.substr(size)) << "written past a buffer of " << size;
    size_t length = buffer.find('\0');
    if (size > 0) EXPECT_LT(length, size) << "no terminator within " << size;
    return length < size ? buffer.substr(0, length) : "";
}

TEST(FontName, CraftedFilesYieldTheExpectedName) {
    const std::string sample = "Sample Sans Bold", longest(FontNameSize - 12, 'x');  // 508 + 11 + 1 = 520
    auto font = [](const std::vector<SfntName>& names) { return BuildTrueTypeFont(names); };
    const std::string plain = font({MacFullName(sample)});
    SfntTableRecord naming = {};
    ASSERT_TRUE(FindSfntTable(plain, "name", &naming));
    auto with16 = [](std::string file, size_t at, uint16_t value) { return file.replace(at, 2, Be16(value)); };
    auto padded = [&](unsigned tables, int index) {
        FontOptions options;
        options.PaddingTables = tables;
        std::string file = BuildTrueTypeFont({MacFullName(sample)}, options);
        SfntTableRecord record = {};
        EXPECT_TRUE(FindSfntTable(file, "name", &record) && record.Index == index) << tables;
        return file;
    };
    // Its naming table's data directly follows the one-record directory, where
    // the file position stands when a seek to its offset fails.
    const std::string lone = BuildSfnt({{"name", BuildNamingTable({MacFullName(sample)})}});
    const struct {
        const char* what;
        std::string file, expected;
        uint32_t size = FontNameSize;
    } cases[] = {
        // 0x8E is e-acute in Mac Roman: no conversion happens.
        {"platform 1, any encoding and language", font({WindowsName(4, "Windows"), {1, 1, 11, 4, "Caf\x8e Sans"}}),
         "Caf\x8e Sans"},
        {"other platforms and ids", font({WindowsName(4, sample), {0, 3, 0, 4, Utf16Be("Unicode Full")},
                                          {1, 0, 0, 1, "Sample Sans"}, {2, 0, 0, 4, "Iso Full"}}), ""},
        {"an empty match empties", font({MacFullName("First"), MacFullName("", 2)}), ""},
        // A match too long to take the suffix is a match without a name.
        {"too long, then short", font({MacFullName(longest + "x"), MacFullName("Short", 2)}), "Short"},
        {"short, then too long", font({MacFullName("Short"), MacFullName(longest + "x", 2)}), ""},
        {"longest name", font({MacFullName(longest)}), longest},
        {"size 13", font({MacFullName("S")}), "S", 13},
        {"size 12", font({MacFullName("S")}), "", 12},
        {"size 0", plain, "", 0},
        {"naming table 40th of 41", padded(31, 39), sample},  // only 40 records are searched
        {"naming table 41st of 42", padded(32, 40), ""},
        {"naming record not counted", with16(plain, 4, uint16_t(naming.Index)), ""},
        {"lone naming table", lone, sample},
        {"naming table at 2 GB", std::string(lone).replace(12 + 8, 4, Be32(0x80000000u)), ""},
        // The match is read before the reads run out; the table still names nothing.
        {"more records counted than present",
         with16(plain.substr(0, naming.Offset + naming.Length), naming.Offset + 2, 0xFFFF), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, ReadName(c.file, c.size)) << c.what;
}

// Covers the offset table, the table records, the naming table's header, its
// records and the string.
TEST(FontName, EveryCutBeforeTheEndOfTheNamingTableYieldsNoName) {
    std::string font = BuildTrueTypeFont({MacFullName("Sample Sans Bold")});
    SfntTableRecord naming = {};
    ASSERT_TRUE(FindSfntTable(font, "name", &naming));
    for (uint32_t length = 0; length < naming.Offset + naming.Length; length++)
        ASSERT_EQ("", ReadName(font.substr(0, length))) << "file cut to " << length << " bytes";
    EXPECT_EQ("Sample Sans Bold", ReadName(font.substr(0, naming.Offset + naming.Length)));
}

LONG SentFontChanges;

// Only a message sent from the other thread has been handled when its sender
// goes on; a posted one would be dispatched here later.
LRESULT CALLBACK CountFontChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_FONTCHANGE && InSendMessage()) SentFontChanges++;
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI DeregisterOnThread(void* path) {
    DeregisterFont((const char*)path);
    return 0;
}

// Deregisters on another thread while this one handles its windows' messages;
// a hang fails the test rather than stall the run.
void Deregister(const char* path) {
    HANDLE thread = CreateThread(NULL, 0, DeregisterOnThread, (void*)path, 0, NULL);
    ASSERT_NE(nullptr, thread);
    DWORD waited;
    MSG message;
    while ((waited = MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT)) == WAIT_OBJECT_0 + 1)
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    CloseHandle(thread);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "DeregisterFont did not return within 30 s";
}

// The font is withdrawn, its entry goes (the longest name that takes the
// suffix, so it must go whole), and every window has handled the change
// before the call returns.
TEST(DeregisterFont, WithdrawsDeletesTheEntryAndAnnouncesBeforeReturning) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountFontChanges;
    windowClass.lpszClassName = "FontChangeCounter";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, window);
    SentFontChanges = 0;
    const int savedPlatform = IsNtPlatform;
    IsNtPlatform = 1;
    const std::string name(FontNameSize - 12, 'n'), entry = name + " (TrueType)";
    HKEY key = NULL;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", &key);
    RegSetValueExA(key, entry.c_str(), 0, REG_SZ, (const BYTE*)"x.ttf", 6);
    TempFile font(BuildTrueTypeFont({MacFullName(name)}));
    EXPECT_EQ(1, AddFontResourceA(font.path)) << "the built font does not load";
    Deregister(font.path);
    EXPECT_FALSE(RemoveFontResourceA(font.path)) << "still loaded";
    EXPECT_EQ(1, SentFontChanges);
    EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(key, entry.c_str(), NULL, NULL, NULL, NULL));
    RegDeleteValueA(key, entry.c_str());
    RegCloseKey(key);
    IsNtPlatform = savedPlatform;
    DestroyWindow(window);
}

}  // namespace
