// What the soak test's oracle cannot see, with the real uninstaller under
// Wine: fonts and COM servers by the running family's route, how far a
// directory entry climbs, folders a pattern must never reach, and what the
// program loads and asks for at start.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <atomic>
#include <thread>

#include "scenario.h"
#include "sfnt_builder.h"

namespace {

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, folder))) << csidl;
    return folder;
}

// The program-files and common-files folders of our view, and on 64-bit
// Windows those of the 64-bit view, SysWOW64 and System32 named as Sysnative:
// folders no run may remove or search.
std::vector<std::string> ProgramAndSystemFolders() {
    std::vector<std::string> folders = {ShellFolder(CSIDL_PROGRAM_FILES), ShellFolder(CSIDL_PROGRAM_FILES_COMMON)};
    if (!FamilyIs64Bit()) return folders;
    char value[MAX_PATH];
    for (const char* name : {"ProgramW6432", "CommonProgramW6432"}) {
        DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
        EXPECT_TRUE(length > 0 && length < MAX_PATH) << name;
        folders.push_back(value);
    }
    folders.push_back(ShellFolder(CSIDL_WINDOWS) + "\\SysWOW64");
    folders.push_back(ShellFolder(CSIDL_WINDOWS) + "\\Sysnative");
    for (const std::string& folder : folders) EXPECT_TRUE(FileExists(folder)) << folder;
    return folders;
}

const char NtFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char NineXFonts[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// The installed-fonts entry under the font's full name goes from the running
// family's key alone.
// A window of another program that handles no messages must not hold the run
// still: the font change broadcast gives up on it.
TEST(Fonts, EntryGoesFromTheFamilysKeyAndAHungWindowDoesNotHoldTheRun) {
    const std::string named = "Qorvand Test Sans (TrueType)";
    std::string app = FreshTestFolder();
    WriteWholeFile(app + "named.ttf", BuildTrueTypeFont({MacFullName("Qorvand Test Sans")}));
    for (const char* key : {NtFonts, NineXFonts}) SetText(HKEY_LOCAL_MACHINE, key, named, "named.ttf");
    PackData data = TestData();
    data.files = {{".", "named.ttf", 2}};
    // This thread handles no message while it waits for the run.
    HWND hung = CreateWindowExA(0, "STATIC", "hung", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {}, 20000);
    DestroyWindow(hung);
    EXPECT_EQ(!FamilyIsNt(), ReadValue(HKEY_LOCAL_MACHINE, NtFonts, named));
    EXPECT_EQ(FamilyIsNt(), ReadValue(HKEY_LOCAL_MACHINE, NineXFonts, named));
    for (const char* key : {NtFonts, NineXFonts}) RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, named.c_str());
    EXPECT_FALSE(FileExists(app + "named.ttf"));
}

// A font whose file stays locked (another session has it loaded; held open
// here) is deregistered all the same, its entry gone, and on NT its file is
// left to go at the next restart; 9x keeps it.
TEST(Fonts, ALockedFontIsDeregisteredAndGoesAtTheNextRestart) {
    const char sessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
    const std::string named = "Qorvand Held Sans (TrueType)";
    std::string app = FreshTestFolder(), pending;
    WriteWholeFile(app + "held.ttf", BuildTrueTypeFont({MacFullName("Qorvand Held Sans")}));
    const char* key = FamilyIsNt() ? NtFonts : NineXFonts;
    SetText(HKEY_LOCAL_MACHINE, key, named, "held.ttf");
    bool hadPending = ReadValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", &pending);
    PackData data = TestData();
    data.files = {{".", "held.ttf", 2}};
    // Held as the system holds a loaded font: readable, not deletable.
    HANDLE held = CreateFileA((app + "held.ttf").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    RunQuietly(app, data);
    CloseHandle(held);
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, key, named));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, named.c_str());
    EXPECT_TRUE(FileExists(app + "held.ttf"));
    std::string scheduled;
    ReadValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", &scheduled);
    EXPECT_EQ(FamilyIsNt(), scheduled.find(app + "held.ttf") != std::string::npos) << scheduled;
    if (hadPending) SetValue(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, pending);
    else RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations");
}

// NT 6 and later run the registration tool from the System folder; older
// systems call the server in the uninstaller's own process. The first test
// server records who called its DllUnregisterServer in unregistered.txt
// beside itself; the second faults, which the uninstaller's own guard (9x,
// NT 5) or the registration tool (NT 6 and later) must survive.
TEST(ComServers, UnregisteredByTheFamilysRouteAndFaultsSurvived) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    for (const char* server : {"com_server_1.dll", "com_server_2.dll"}) {
        std::string app = FreshTestFolder();
        ASSERT_TRUE(CopyFileA((BinFolder + server).c_str(), (app + "server.dll").c_str(), FALSE));
        WriteWholeFile(app + "other.txt", "x");
        PackData data = TestData();
        data.files = {{".", "other.txt"}, {".", "server.dll", 4}};
        RunQuietly(app, data);
        EXPECT_FALSE(FileExists(app + "server.dll")) << server;
        EXPECT_FALSE(FileExists(app + "other.txt")) << server;
        if (std::string(server) != "com_server_1.dll") continue;
        std::string record = ReadWholeFile(app + "unregistered.txt");
        // On 64-bit Windows the System folder's name leads a 32-bit program to
        // SysWOW64: the 32-bit tool, the one that can load a 32-bit server.
        // The tool runs in the System folder, the server in-process in its own.
        std::string tool = FamilyIs64Bit() ? ShellFolder(CSIDL_WINDOWS) + "\\SysWOW64" : std::string(system);
        std::string expected = FamilyIsNt6OrLater() ? tool + "\\regsvr32.exe|" + system : app + "uninst.exe|" + app.substr(0, app.size() - 1);
        EXPECT_EQ(0, lstrcmpiA(expected.c_str(), record.substr(0, record.find('\n')).c_str())) << record;
    }
}

// A server whose unregistration never ends holds the registration tool, not
// the run: after the tool's time limit (30 s) the run goes on and the file
// goes. NT 6 and later only: older systems call the server in-process.
TEST(ComServers, AToolThatNeverEndsDoesNotHoldTheRun) {
    if (!FamilyIsNt6OrLater() || FamilyIs64Bit()) GTEST_SKIP() << "in-process before NT 6; the 32-bit NT 6 run shows it";
    std::string app = FreshTestFolder();
    ASSERT_TRUE(CopyFileA((BinFolder + "com_server_3.dll").c_str(), (app + "server.dll").c_str(), FALSE));
    PackData data = TestData();
    data.files = {{".", "server.dll", 4}};
    DWORD start = GetTickCount();
    RunResult run = RunUninstaller(WriteUninstaller(app, data), "/S", {}, 45000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_GE(GetTickCount() - start, 29000u) << "the tool was not waited for";
    // The tool is left running with the server loaded: ended here.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "regsvr32.exe") != 0) continue;
        HANDLE tool = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (tool) TerminateProcess(tool, 0), CloseHandle(tool);
    }
    CloseHandle(snapshot);
}

// Levels bound the climb of a directory entry, its alternative path climbs in
// step, a folder that keeps content does not end the walk of its partner, and
// the walk ends at the first level where either folder is protected (all
// users' documents, empty in the test prefix). The folders that held
// installed files go too, up to the first protected one; a folder entry never
// removes a protected folder, empty as the user's Startup folder is here.
TEST(DirectoryEntries, ClimbInStepWithinTheirLevelsUpToAProtectedFolder) {
    std::string app = FreshTestFolder(), documents = ShellFolder(CSIDL_COMMON_DOCUMENTS), startup = ShellFolder(CSIDL_STARTUP);
    std::string shared = documents + "\\QvTest_" + TestName();
    RemoveTree(shared);
    for (const char* folder : {"two\\a\\b\\c", "main\\x\\y", "alt\\p\\q", "free\\f", "P1\\P2", "Q1"}) MakeFolders(app + folder);
    MakeFile(app + "zero\\inner\\readme.txt");
    MakeFile(app + "held\\h\\unlisted.txt");
    MakeFile(shared + "\\App\\x.txt");
    PackData data = TestData();
    data.directories = {
        {0, app + "zero\\inner", "", "readme.txt"}, {2, app + "two\\a\\b\\c", "", ""},
        {1, app + "main\\x\\y", app + "alt\\p\\q", ""}, {1, app + "held\\h", app + "free\\f", ""},
        {3, app + "P1\\P2", shared, ""}, {0, app + "Q1", documents, ""},  // shared: at level 1 its partner is protected
    };
    data.files = {{shared + "\\App\\", "x.txt"}, {startup, ""}};  // a folder entry naming an empty protected folder
    // A climb that reaches a program or system folder ends there, so its
    // partner keeps the folder above it.
    const std::vector<std::string> system = ProgramAndSystemFolders();
    for (size_t i = 0; i < system.size(); i++) {
        MakeFolders(app + "near" + std::to_string(i) + "\\n");
        data.directories.push_back({1, system[i] + "\\QvTest_climb", app + "near" + std::to_string(i) + "\\n", ""});
    }
    RunQuietly(app, data);
    for (size_t i = 0; i < system.size(); i++) {
        EXPECT_TRUE(FileExists(app + "near" + std::to_string(i))) << system[i];
        EXPECT_FALSE(FileExists(app + "near" + std::to_string(i) + "\\n")) << system[i];
    }
    for (const char* gone : {"zero\\inner", "two\\a", "main\\x", "alt\\p", "free", "P1\\P2"}) EXPECT_FALSE(FileExists(app + gone)) << gone;
    for (const char* kept : {"zero", "two", "main", "alt", "held\\h\\unlisted.txt", "P1", "Q1"}) EXPECT_TRUE(FileExists(app + kept)) << kept;
    EXPECT_FALSE(FileExists(shared));
    for (const std::string& folder : {documents, startup}) EXPECT_TRUE(FileExists(folder)) << folder;
    for (const std::string& folder : {documents, startup}) CreateDirectoryA(folder.c_str(), NULL);  // should a faulty pass have removed it
}

// The Windows folder is never searched, also when a pattern reaches it
// through ".." or a trailing dot; an absolute path behind a relative pattern
// names nothing. A protected folder inside the tree (the common-files folder,
// pointed there for the run) is left whole while its siblings are cleaned.
TEST(Wildcards, ProtectedFoldersAreNeverSearchedWhateverTheSpelling) {
    const char currentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
    std::string app = FreshTestFolder(), windows = ShellFolder(CSIDL_WINDOWS), saved;
    MakeFile(windows + "\\qvtest-left.qvleft");
    MakeFile(app + "abs\\x.qvleft");
    MakeFile(app + "tree\\common\\inner\\a.log");
    MakeFile(app + "tree\\sibling\\b.log");
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", &saved));
    SetText(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", app + "tree\\common");
    PackData data = TestData();
    data.patterns = {"#Windows#\\*.qvleft", "#Windows#\\system32\\..\\*.qvleft", "#Windows#.\\*.qvleft", "C:\\qvtest\\*.qvleft",
                     "tree\\*.log", "#Program Files#\\*.qvleft"};
    // On 64-bit Windows the 64-bit program folders, reached from ours, and
    // the two system folders are not searched either.
    std::vector<std::string> system = ProgramAndSystemFolders();
    system.erase(system.begin() + 1);  // ours, pointed into the tree above
    if (FamilyIs64Bit())
        data.patterns.insert(data.patterns.end(), {"#Program Files#\\..\\Program Files\\*.qvleft",
                                                   "#Program Files#\\..\\Program Files\\Common Files\\*.qvleft",
                                                   "#Windows#\\SysWOW64\\*.qvleft", "#Windows#\\Sysnative\\*.qvleft"});
    for (const std::string& folder : system) MakeFile(folder + "\\qvtest-left.qvleft");
    RunQuietly(app, data);
    SetValue(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", REG_SZ, saved);
    for (const std::string& folder : system) {
        EXPECT_TRUE(FileExists(folder + "\\qvtest-left.qvleft")) << folder;
        DeleteFileA((folder + "\\qvtest-left.qvleft").c_str());
    }
    EXPECT_TRUE(FileExists(windows + "\\qvtest-left.qvleft"));
    EXPECT_TRUE(FileExists(app + "abs\\x.qvleft"));
    EXPECT_TRUE(FileExists(app + "tree\\common\\inner\\a.log"));
    EXPECT_FALSE(FileExists(app + "tree\\sibling"));
    DeleteFileA((windows + "\\qvtest-left.qvleft").c_str());
}

// The walk pins the folders it works in, and the folders above them that the
// pattern names. While it cleans tree\inner\a\deep (many files, so it stays
// there; the uninstaller is held still meanwhile), no other process can
// rename any of them. An attacker that could put tree away and move in a
// folder whose inner\a is a link (staged by the stage_links fixture)
// would have the walk, back in "..", clean the tree that link points to. The
// 9x family has no links and pins nothing.
TEST(Wildcards, FoldersTheWalkIsInCannotBeSwapped) {
    if (!FamilyIsNt()) GTEST_SKIP() << "the 9x family pins nothing";
    const std::string slot = "C:\\qvtest\\raceslot\\tree", outside = "C:\\qvtest\\raceoutside\\precious.log";
    std::string app = FreshTestFolder(), tree = app + "tree", deep = tree + "\\inner\\a\\deep";
    ASSERT_TRUE(FileExists(slot + "\\inner\\a") && FileExists(outside)) << "the slot is not staged";
    for (int i = 0; i < 600; i++) MakeFile(deep + "\\" + std::to_string(1000 + i) + ".log");
    PackData data = TestData();
    data.patterns = {"tree\\inner\\*.log"};
    std::string command = "\"" + WriteUninstaller(app, data) + "\" /S";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    while (FileExists(deep + "\\1000.log") && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) Sleep(1);
    SuspendThread(process.hThread);
    ASSERT_TRUE(FileExists(deep + "\\1599.log")) << "the walk left deep before it was held";
    bool swapped = MoveFileA(tree.c_str(), (tree + " away").c_str()) && MoveFileA(slot.c_str(), tree.c_str());
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    for (const std::string& folder : {deep, tree + "\\inner\\a", tree + "\\inner"}) {
        EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + " away").c_str())) << folder;
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError()) << folder;
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (swapped) MoveFileA(tree.c_str(), slot.c_str());
    EXPECT_FALSE(swapped);
    EXPECT_TRUE(FileExists(outside));
    EXPECT_FALSE(FileExists(tree + "\\inner"));  // cleaned and removed: nothing holds it after the run
}

// An installation lists itself with uninstpack.exe --list-as; the system's
// own uninstall client (Wine's) runs the entry's command, whose prompts are
// answered here, and afterwards the program and its entry are gone.
TEST(ProgramList, TheSystemsUninstallClientRemovesTheProgramAndItsEntry) {
    const std::string app = FreshTestFolder(), name = "Qorvand Listed Test";
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
    MakeFile(app + "app.exe");
    MakeFile(app + "bin\\a.dll");
    WriteWholeFile(app + "app.json", R"({"files": [{"folder": ".", "name": "app.exe"}, {"folder": ".\\bin", "name": "a.dll"}]})");
    RunResult build = RunAndAnswer("\"" + BinFolder + "uninstpack.exe\" build \"" + app + "app.json\" -o \"" + app + "uninst.exe\" --stub \"" +
                                       BinFolder + "uninst.exe\" --install-dir \"" + app.substr(0, app.size() - 1) + "\" --list-as \"" + name + "\"", {}, 20000);
    EXPECT_EQ(0u, build.exitCode);
    std::string quiet;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, key, "QuietUninstallString", &quiet));
    EXPECT_EQ("\"" + app + "uninst.exe\" /Q", std::string(quiet.c_str()));
    std::atomic<bool> done(false);
    std::thread answer([&done] {
        for (HWND box; !done; Sleep(50))
            if ((box = FindWindowA(NULL, "Uninstall")) && GetDlgItem(box, 0xFFFF)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    // On 64-bit Windows the entry is in the 32-bit view, and the system's
    // client is a 64-bit program that lists both.
    EXPECT_EQ(FamilyIs64Bit(), !ReadValue(HKEY_LOCAL_MACHINE, key, "QuietUninstallString", nullptr, nullptr, KEY_WOW64_64KEY));
    const std::string client = FamilyIs64Bit() ? "C:\\windows\\Sysnative\\uninstaller.exe" : "C:\\windows\\system32\\uninstaller.exe";
    RunResult removal = RunAndAnswer(client + " --remove \"" + name + "\"", {}, 30000);
    done = true;
    answer.join();
    EXPECT_FALSE(removal.timedOut);
    EXPECT_FALSE(FileExists(app + "app.exe"));
    EXPECT_FALSE(FileExists(app + "bin"));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, key, ""));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());  // should the run have left it
}

// An installation as an author makes it: the manifest harvested at build
// time, with a hand-written part; at install time the staging tree copied
// into a folder chosen then (a blank and a letter outside ASCII in its name),
// a shared library in the common-files folder with its count, a font in the
// Fonts folder, the .reg file imported (a COM class among its keys), and
// uninstpack.exe making the uninstaller there with the machine's folders and
// listing the program. Removed quietly, and with its prompts answered, it
// leaves disk and registry as before the installation, compared where an
// installation writes: the folders above, and the registry's CurrentVersion
// keys (shared-library counts, the program list), installed fonts, the class
// and the program's own keys. On 64-bit Windows the installer is a 32-bit
// program too: its keys, counts, class and entry are in the 32-bit view
// (WOW6432Node), the installed-fonts key is one for both views, and the
// 64-bit view is compared as well.
TEST(Installation, MadeAtInstallTimeAndRemovedLeavingTheMachineAsBefore) {
    if (!FamilyIsNt()) GTEST_SKIP() << "an installation of the NT 5 and NT 6 families";
    const std::string base = FreshTestFolder(), staging = base + "staging", install = base + "Prog \xC4 b", tool = "\"" + BinFolder + "uninstpack.exe\" ";
    const char* const files[] = {"app.exe", "readme.txt", "bin\\core.dll", "data\\sub\\x.dat"};
    for (const char* file : files) MakeFile(staging + "\\" + file);
    WriteWholeFile(base + "hand.json", R"({"files": [{"folder": "${CommonFiles}\\Qorvand Test", "name": "shared.dll", "flags": ["shared"]},
        {"folder": "${Fonts}", "name": "qvinstall.ttf", "flags": ["font"]}], "patterns": ["data\\*.log"]})");
    const std::string clsid = "CLSID\\{6D1C2B7A-3E4F-4A5B-9C8D-7E6F5A4B3C2D}";
    WriteWholeFile(base + "app.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Qorvand Test\\Settings]\r\n\"Path\"=\"x\"\r\n\r\n"
                                     "[HKEY_CURRENT_USER\\Software\\Qorvand Test]\r\n\"Last\"=\"y\"\r\n\r\n"
                                     "[HKEY_CLASSES_ROOT\\" + clsid + "\\InprocServer32]\r\n@=\"core.dll\"\r\n");
    ASSERT_EQ(0u, RunAndAnswer(tool + "harvest \"" + staging + "\" -o \"" + base + "app.json\" --merge \"" + base + "hand.json\" --registry \"" +
                                   base + "app.reg\" --own-key \"HKLM\\Software\\Qorvand Test\" --own-key \"HKCU\\Software\\Qorvand Test\" --own-key \"HKCR\\" +
                                   clsid + "\"", {}, 20000).exitCode);
    std::string common, fonts = ShellFolder(CSIDL_FONTS);
    ReadValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", &common);
    common = common.c_str();
    const char currentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion", ntFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    // What an interrupted run may have left goes first.
    RemoveTree(common + "\\Qorvand Test");
    DeleteFileA((fonts + "\\qvinstall.ttf").c_str());
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, ntFonts, "Qorvand Install Test (TrueType)");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, (std::string(currentVersion) + "\\SharedDLLs").c_str(), (common + "\\Qorvand Test\\shared.dll").c_str());
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteTreeA(root, "Software\\Qorvand Test");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, clsid.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(currentVersion) + "\\Uninstall\\Qorvand Install Test").c_str());
    // Windows always has the shared-library counts key, and the run leaves it
    // (others' counts live there); a new Wine prefix has it only once a test
    // has written a count, so without it the outcome hung on the tests' order.
    HKEY counts;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(currentVersion) + "\\SharedDLLs").c_str(), 0, NULL, 0,
                                             KEY_WRITE, NULL, &counts, NULL));
    RegCloseKey(counts);
    // Both registry views where there are two: a 32-bit installer's keys must
    // land in, and go from, the 32-bit one, and the 64-bit one must stay as it was.
    Watched watched = {{base, common, fonts}, {{HKEY_CURRENT_USER, "Software\\Qorvand Test"}}};
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        if (view && !FamilyIs64Bit()) continue;
        for (const std::string& key : {std::string(currentVersion), std::string(ntFonts), std::string("Software\\Qorvand Test"), "Software\\Classes\\" + clsid})
            watched.keys.push_back({HKEY_LOCAL_MACHINE, key, view});
    }
    for (const std::vector<Answer>& answers : {std::vector<Answer>{{"Uninstall", IDYES, 0xFFFF}},
                                               std::vector<Answer>{{"Uninstall", IDOK, 0xFFFF}, {"Uninstall", IDYES, 0xFFFF}, {"Uninstall", IDOK, 0xFFFF}}}) {
        const std::vector<std::string> before = Snapshot(watched);
        for (const char* file : files) MakeFile(install + "\\" + file);
        MakeFile(common + "\\Qorvand Test\\shared.dll");
        const DWORD count = 1;
        SetValue(HKEY_LOCAL_MACHINE, std::string(currentVersion) + "\\SharedDLLs", common + "\\Qorvand Test\\shared.dll", REG_DWORD, std::string((const char*)&count, 4));
        WriteWholeFile(fonts + "\\qvinstall.ttf", BuildTrueTypeFont({MacFullName("Qorvand Install Test")}));
        SetText(HKEY_LOCAL_MACHINE, ntFonts, "Qorvand Install Test (TrueType)", "qvinstall.ttf");
        // The 32-bit registry editor, as a 32-bit installer writes: on 64-bit
        // Windows the one in the Windows folder is 64-bit.
        const std::string regedit = FamilyIs64Bit() ? "C:\\windows\\SysWOW64\\regedit.exe" : "C:\\windows\\regedit.exe";
        EXPECT_EQ(0u, RunAndAnswer(regedit + " /S \"" + base + "app.reg\"", {}, 20000).exitCode);
        ASSERT_TRUE(ReadValue(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", ""));
        ASSERT_EQ(0u, RunAndAnswer(tool + "build \"" + base + "app.json\" -o \"" + install + "\\uninst.exe\" --install-dir \"" + install +
                                       "\" --list-as \"Qorvand Install Test\"", {}, 20000).exitCode);
        RunResult run = RunUninstaller(install + "\\uninst.exe", answers.size() == 1 ? "/Q" : "", answers);
        EXPECT_EQ(answers.size(), PromptTexts(run).size());
        EXPECT_TRUE(WaitForFileGone(install, 10000));
        ExpectAsBefore(before, watched);
    }
}

// The theming library is loaded from the System folder by its full path: a
// library of that name planted beside the uninstaller, in a folder others may
// write to, must not run with the uninstaller's rights. Wine prefers its own
// built-in library unless told otherwise, so the test tells it to take a
// native one first, as Windows would.
TEST(StartUp, NoPlantedLibraryIsLoaded) {
    std::string folder = FreshTestFolder();
    std::string exe = WriteUninstaller(folder, TestData());
    ASSERT_TRUE(CopyFileA((BinFolder + "uxtheme.dll").c_str(), (folder + "uxtheme.dll").c_str(), FALSE));
    const char* overrides = "Software\\Wine\\AppDefaults\\uninst.exe\\DllOverrides";
    SetText(HKEY_CURRENT_USER, overrides, "uxtheme", "native,builtin");
    DeleteFileA("C:\\qvtest\\planted-dll-loaded");
    RunResult run = RunUninstaller(exe, "/S", {});
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists("C:\\qvtest\\planted-dll-loaded"));
}

}  // namespace
