// The NSIS example's setup program (examples/nsis, built by makensis on the
// build machine and staged): the uninstaller made at install time by the
// header's macros, as an author's NSIS installer makes it.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

const char Entry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qorvand Sample";
const char OwnKey[] = "Software\\Qorvand Sample";

std::string EntryText(const char* name) {
    std::string text;
    ReadValue(HKEY_LOCAL_MACHINE, Entry, name, &text);
    return text.c_str();
}

bool EntryExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Entry, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// What an interrupted run may have left.
void ForgetSample() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, Entry);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, OwnKey);
}

RunResult RunSetup(const std::string& folder) {
    return RunAndAnswer("\"" + BinFolder + "qorvand-sample-setup.exe\" /S /D=" + folder, {}, 60000);
}

// Installed silently into a folder with a blank and a letter outside ASCII,
// the program is in the system's list; the entry's quiet command, and then
// its interactive one with the prompts answered, leave disk and registry as
// before the installation, the setup's plug-ins folder in the temporary
// folder included.
TEST(Nsis, SilentSetupListsTheProgramWhoseEntryRemovesEverything) {
    if (!FamilyIsNt()) GTEST_SKIP() << "an installation of the NT 5 and NT 6 families";
    const std::string base = FreshTestFolder(), install = base + "Sample \xC9t\xE9";
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    ForgetSample();
    const Watched watched = {{base, temp},
                             {{HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion"}, {HKEY_LOCAL_MACHINE, OwnKey},
                              {HKEY_CURRENT_USER, OwnKey}}};
    const Answer ok = {"Qorvand Sample Uninstall", IDOK, 0xFFFF};
    for (const std::vector<Answer>& answers : {std::vector<Answer>{}, std::vector<Answer>{ok, ok}}) {
        const std::vector<std::string> before = Snapshot(watched);
        RunResult setup = RunSetup(install);
        ASSERT_EQ(0u, setup.exitCode);
        EXPECT_TRUE(setup.dialogs.empty());
        EXPECT_EQ("Qorvand Sample", EntryText("DisplayName"));
        EXPECT_EQ("Qorvand", EntryText("Publisher"));
        EXPECT_EQ("1.0", EntryText("DisplayVersion"));
        EXPECT_EQ(install, EntryText("InstallLocation"));
        EXPECT_EQ("\"" + install + "\\uninst.exe\" /Q", EntryText("QuietUninstallString"));
        MakeFile(install + "\\logs\\a.log");  // the program at work
        RunResult removal = RunAndAnswer(EntryText(answers.empty() ? "QuietUninstallString" : "UninstallString"), answers, 30000);
        EXPECT_EQ(0u, removal.exitCode);
        EXPECT_EQ(answers.size(), PromptTexts(removal).size());
        EXPECT_TRUE(WaitForFileGone(install, 10000));
        ExpectAsBefore(before, watched);
    }
}

// When the generator fails (here a folder stands where the uninstaller would
// go), the silent setup ends with status 2, shows nothing, and lists nothing.
TEST(Nsis, FailedGenerationAbortsTheSilentSetupWithoutAnEntry) {
    if (!FamilyIsNt()) GTEST_SKIP() << "an installation of the NT 5 and NT 6 families";
    const std::string install = FreshTestFolder() + "Sample";
    ForgetSample();
    MakeFolders(install + "\\uninst.exe");
    RunResult setup = RunSetup(install);
    EXPECT_EQ(2u, setup.exitCode);
    EXPECT_TRUE(setup.dialogs.empty());
    EXPECT_FALSE(EntryExists());
    ForgetSample();
}

}  // namespace
