// Decisions of the removal passes that Wine cannot show end to end: Wine
// holds no font files, ignores the read-only attribute on folders, and has
// neither cloud files nor reparse tags of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/run.h"
#include "paths/folder_tokens.h"
#include "paths/path_helpers.h"
#include "removal/directories.h"
#include "removal/fonts.h"

namespace {

int Calls, Successes;

BOOL WINAPI SucceedSometimes(LPCSTR) {
    Calls++;
    return Calls <= Successes;
}

BOOL WINAPI RefuseAccessOnce(LPCSTR) {
    SetLastError(Calls++ < Successes ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    return Calls > Successes;
}

BOOL WINAPI RefuseAsNotEmpty(LPCSTR) {
    Calls++;
    SetLastError(ERROR_DIR_NOT_EMPTY);
    return FALSE;
}

}  // namespace

// A font added three times is withdrawn until the system has none of it left
// (the fourth call fails); one that never stops being withdrawn, at most 64
// times.
TEST(FontWithdrawal, RepeatsUntilTheSystemHasNoneLeftWithinABound) {
    for (int added : {0, 1, 3, 1000}) {
        Calls = 0, Successes = added;
        EXPECT_EQ(added < MostFontWithdrawals ? added : MostFontWithdrawals, WithdrawFont("C:\\x.ttf", SucceedSometimes));
        EXPECT_EQ(added < MostFontWithdrawals ? added + 1 : MostFontWithdrawals, Calls) << added;
    }
}

// A folder refused with access denied (Explorer's read-only customised
// folders, which Windows refuses) is tried once more after the attribute is
// cleared; any other refusal, such as content, is final.
TEST(FolderRemoval, RetriesOnceWhenAccessIsRefused) {
    CreateDirectoryA("C:\\qvtest", NULL);
    const char folder[] = "C:\\qvtest\\read-only folder";
    CreateDirectoryA(folder, NULL);
    struct Case {
        BOOL(WINAPI* remove)(LPCSTR);
        int refusals, removed, calls;
    } cases[] = {{RefuseAccessOnce, 0, 1, 1}, {RefuseAccessOnce, 1, 1, 2}, {RefuseAccessOnce, 2, 0, 2}, {RefuseAsNotEmpty, 0, 0, 1}};
    for (const Case& c : cases) {
        Calls = 0, Successes = c.refusals;
        SetFileAttributesA(folder, FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(c.removed, RemoveFolder(folder, c.remove)) << c.refusals;
        EXPECT_EQ(c.calls, Calls) << c.refusals;
    }
    RemoveDirectoryA(folder);
}

// Cloud files' placeholders and deduplicated files hold their own content:
// entered and removed like any other. Every other tag stays a link, known or
// not; tag 0 is what Wine gives its links through a handle.
TEST(ReparseTags, OnlyCloudAndDeduplicationTagsAreNoLinks) {
    const std::pair<unsigned long, int> rows[] = {
        {0x9000001A, 0}, {0x9000101A, 0}, {0x9000701A, 0}, {0x9000F01A, 0},  // cloud files, and cloud 1 to 15
        {0x80000021, 0}, {0x80000013, 0},                                    // OneDrive, deduplication
        {0xA000000C, 1}, {0xA0000003, 1}, {0x8000001B, 1}, {0x80000017, 1},  // symbolic link, junction, app link, overlay
        {0x9000001B, 1}, {0x9001001A, 1}, {0x1000001A, 1}, {0, 1}, {0xFFFFFFFF, 1},
    };
    for (const auto& [tag, link] : rows) EXPECT_EQ(link, IsLinkTag(tag)) << std::hex << tag;
}

// The desktop's account against ours: a window of this process, or none (as
// in session 0 and under Wine, which has no shell window), is no other
// account's. Another account's shell, by tokens, cannot be made here.
TEST(DesktopUser, OwnWindowsAndNoShellAreNoOtherAccount) {
    IsNtPlatform = 1;
    HWND own = CreateWindowExA(0, "STATIC", "own", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(own);
    EXPECT_EQ(0, IsDesktopOfAnotherUser(own));
    EXPECT_EQ(0, IsDesktopOfAnotherUser(NULL));
    DestroyWindow(own);
}

// Which patterns name a folder of the account the process runs as, and so
// are left alone when the desktop is another account's.
TEST(PerUserTokens, AreTheCurrentAccountsFolders) {
    const std::pair<const char*, int> rows[] = {
        {"#AppData#\\Vendor\\*.log", 1}, {"#appdata#\\Vendor\\*.log", 1}, {"#LocalAppData#\\V\\*", 1}, {"#Desktop#\\App.lnk", 1},
        {"#MyDocuments#\\V\\*.tmp", 1}, {"#UserDir#\\.v\\*", 1}, {"#TempDir#\\v*.tmp", 1},
        {"#AllUsersAppData#\\V\\*", 0}, {"#InstallDir#\\logs\\*", 0}, {"#Windows#\\v.ini", 0}, {"logs\\*.log", 0},
        {"#AppData", 0}, {"#Unknown#\\x", 0},
    };
    for (const auto& [text, perUser] : rows) EXPECT_EQ(perUser, BeginsWithPerUserToken(text)) << text;
}
