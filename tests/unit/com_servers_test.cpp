// Unregistering COM servers: the tool route, the in-process route and the
// guard around a server's DllUnregisterServer, with real DLLs under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "removal/com_servers.h"

namespace {

const char ServerFolder[] = "C:\\qvtest\\com\\server dir";
// The current directory during each test; it holds a planted regsvr32.exe.
const char CallerFolder[] = "C:\\qvtest\\com\\caller";
const char PlantedMarker[] = "C:\\qvtest\\com\\planted-tool-ran.txt";
// A mode the code under test never sets, so that its restoration shows.
const UINT CallerErrorMode = SEM_NOGPFAULTERRORBOX;
const UINT QuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

std::string ServerPath(int behaviour) {
    return std::string(ServerFolder) + "\\server " + std::to_string(behaviour) + ".dll";
}
std::string ServerMarker(const char* name) { return std::string(ServerFolder) + "\\" + name; }

// The text a Win32 call left in a MAX_PATH buffer, "" when it failed or did not fit.
std::string Filled(char (&buffer)[MAX_PATH], DWORD length) {
    return std::string(buffer, length < MAX_PATH ? length : 0);
}

std::string ThisProgram() {
    char self[MAX_PATH];
    return Filled(self, GetModuleFileNameA(NULL, self, MAX_PATH));
}

std::string CurrentDirectory() {
    char folder[MAX_PATH];
    return Filled(folder, GetCurrentDirectoryA(MAX_PATH, folder));
}

std::string SystemTool() {
    char folder[MAX_PATH];
    return Filled(folder, GetSystemDirectoryA(folder, MAX_PATH)) + "\\regsvr32.exe";
}

// Where unit_tests.exe and the DLLs built with it are, usable as a source for
// CopyFileA. Started by a Unix path, the program sees its own name as
// unix\...; the \\?\ prefix makes that a path Windows calls accept.
std::string BuildFolder() {
    std::string path = ThisProgram();
    if (path.compare(0, 5, "unix\\") == 0) path = "\\\\?\\" + path;
    return path.substr(0, path.rfind('\\'));
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadText(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return "";
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, NULL);
    CloseHandle(file);
    return std::string(buffer, read);
}

// One record per call of a test server: the calling process, its current
// directory and its error mode at the time.
struct CallRecord {
    std::string process, folder, errorMode;
};

std::vector<CallRecord> ReadRecords(const std::string& path) {
    std::vector<CallRecord> records;
    std::string text = ReadText(path), line[3];
    for (size_t start = 0, end, n = 0; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        line[n++ % 3] = text.substr(start, end - start);
        if (n % 3 == 0) records.push_back({line[0], line[1], line[2]});
    }
    return records;
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }
void* ChainHead() { return ((NT_TIB*)NtCurrentTeb())->ExceptionList; }

// Calls UnregisterComServer with known values in the registers that a caller
// may expect to survive a call, and with the stack pointer noted. Returns 1
// when all of them are as before.
extern "C" int CallKeepsRegisters() asm("CallKeepsRegisters");
extern "C" {
unsigned SavedStackPointer asm("SavedStackPointer");
}
asm(".text\n"
    "CallKeepsRegisters:\n"
    "    pushl %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl $0x5eed0001, %ebx\n"
    "    movl $0x5eed0002, %esi\n"
    "    movl $0x5eed0003, %edi\n"
    "    movl $0x5eed0004, %ebp\n"
    "    movl %esp, SavedStackPointer\n"
    "    call __Z19UnregisterComServerv\n"
    "    xorl %eax, %eax\n"
    "    cmpl %esp, SavedStackPointer\n"
    "    jne 1f\n"
    "    cmpl $0x5eed0001, %ebx\n"
    "    jne 1f\n"
    "    cmpl $0x5eed0002, %esi\n"
    "    jne 1f\n"
    "    cmpl $0x5eed0003, %edi\n"
    "    jne 1f\n"
    "    cmpl $0x5eed0004, %ebp\n"
    "    jne 1f\n"
    "    movl $1, %eax\n"
    "1:  popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");

class ComServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CreateDirectoryA("C:\\qvtest", NULL);
        CreateDirectoryA("C:\\qvtest\\com", NULL);
        CreateDirectoryA(ServerFolder, NULL);
        CreateDirectoryA(CallerFolder, NULL);
        std::string build = BuildFolder();
        for (int behaviour = 1; behaviour <= 5; behaviour++) {
            std::string built = build + "\\com_server_" + std::to_string(behaviour) + ".dll";
            ASSERT_TRUE(CopyFileA(built.c_str(), ServerPath(behaviour).c_str(), FALSE))
                << built << " error " << GetLastError();
        }
        std::string fake = build + "\\regsvr32.exe";
        // A run that died inside the first test may have left it moved aside.
        if (!Exists(fake)) MoveFileA((fake + ".moved").c_str(), fake.c_str());
        ASSERT_TRUE(Exists(fake)) << fake;
        ASSERT_TRUE(CopyFileA(fake.c_str(), (std::string(CallerFolder) + "\\regsvr32.exe").c_str(), FALSE));
    }

    void SetUp() override {
        if (!WorkPath) WorkPath = (char*)calloc(PathBufferSize, 1);
        savedNt6 = IsNt6OrLater;
        savedDirectory = CurrentDirectory();
        ASSERT_TRUE(SetCurrentDirectoryA(CallerFolder));
        for (const char* name : {"unregistered.txt", "completed.txt", "freed-1.txt", "freed-2.txt", "freed-3.txt",
                                 "freed-4.txt", "freed-5.txt"})
            DeleteFileA(ServerMarker(name).c_str());
        DeleteFileA(PlantedMarker);
        savedErrorMode = SetErrorMode(CallerErrorMode);
        chainHead = ChainHead();
    }

    void TearDown() override {
        SetErrorMode(savedErrorMode);
        SetCurrentDirectoryA(savedDirectory.c_str());
        IsNt6OrLater = savedNt6;
    }

    // Through CallKeepsRegisters, so that every call checks them.
    static void Unregister(const std::string& path, int nt6) {
        lstrcpynA(WorkPath, path.c_str(), PathBufferSize);
        IsNt6OrLater = nt6;
        EXPECT_EQ(1, CallKeepsRegisters()) << "a register the caller keeps, or the stack pointer, changed";
    }

    // What every call must leave behind, whatever the server did.
    void ExpectStateRestored(const std::string& path) {
        volatile double one = 1.0, tiny = 1e-10;
        volatile double sum = one + tiny;
        EXPECT_NE(1.0, sum) << "computed in single precision";
        EXPECT_EQ(sum, sum) << "computed as NaN: the x87 register stack was left full";
        EXPECT_EQ(chainHead, ChainHead()) << "the exception chain holds a frame that is gone";
        EXPECT_EQ(CallerFolder, CurrentDirectory());
        EXPECT_EQ(CallerErrorMode, SetErrorMode(CallerErrorMode));
        EXPECT_EQ(NULL, GetModuleHandleA(path.c_str())) << "the server is still loaded";
        EXPECT_EQ(path, WorkPath);
        EXPECT_FALSE(Exists(PlantedMarker)) << "a planted tool ran: " << ReadText(PlantedMarker);
    }

    int savedNt6 = 0;
    std::string savedDirectory;
    UINT savedErrorMode = 0;
    void* chainHead = nullptr;
};

// Runs "regsvr32" the way a bare command is found; returns the path of the
// planted tool that ran, or "" when none did.
std::string RunBareCommand() {
    DeleteFileA(PlantedMarker);
    char command[] = "regsvr32 /u /s x.dll";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return "";
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string ran = ReadText(PlantedMarker);
    DeleteFileA(PlantedMarker);
    return ran.empty() ? ran : ran.substr(0, ran.find('\n'));
}

// Keeps the next tests from passing for the wrong reason: each plant is where
// the search for a bare command looks before the System folder, the one
// beside the program first, then the one in the current directory.
TEST_F(ComServer, PlantedToolsWouldBeFoundByTheSearchForABareCommand) {
    std::string besideProgram = BuildFolder() + "\\regsvr32.exe";
    std::string moved = besideProgram + ".moved";
    EXPECT_TRUE(SameText(ThisProgram().substr(0, ThisProgram().rfind('\\')) + "\\regsvr32.exe", RunBareCommand()));
    ASSERT_TRUE(MoveFileA(besideProgram.c_str(), moved.c_str())) << GetLastError();
    std::string ran = RunBareCommand();
    bool movedBack = MoveFileA(moved.c_str(), besideProgram.c_str());
    EXPECT_TRUE(SameText(std::string(CallerFolder) + "\\regsvr32.exe", ran)) << ran;
    ASSERT_TRUE(movedBack) << GetLastError();
}

TEST_F(ComServer, Nt6RunsTheSystemToolWithTheQuotedPath) {
    std::string path = ServerPath(1);  // has spaces in its folder and its name
    Unregister(path, 1);
    std::vector<CallRecord> calls = ReadRecords(ServerMarker("unregistered.txt"));
    ASSERT_EQ(1u, calls.size()) << "DllUnregisterServer was not called once (or not waited for)";
    EXPECT_TRUE(SameText(SystemTool(), calls[0].process)) << calls[0].process;
    for (const CallRecord& freed : ReadRecords(ServerMarker("freed-1.txt")))
        EXPECT_FALSE(SameText(ThisProgram(), freed.process)) << "the in-process route ran as well";
    ExpectStateRestored(path);
}

TEST_F(ComServer, InProcessCallRunsInTheServersFolderAndRestoresState) {
    std::string path = ServerPath(1);
    Unregister(path, 0);
    std::vector<CallRecord> calls = ReadRecords(ServerMarker("unregistered.txt"));
    ASSERT_EQ(1u, calls.size()) << "DllUnregisterServer was not called once";
    EXPECT_TRUE(SameText(ThisProgram(), calls[0].process)) << calls[0].process;
    EXPECT_EQ(ServerFolder, calls[0].folder);
    EXPECT_EQ(std::to_string(QuietErrorMode), calls[0].errorMode);
    EXPECT_EQ(1u, ReadRecords(ServerMarker("freed-1.txt")).size());
    ExpectStateRestored(path);
}

TEST_F(ComServer, FaultingServersOwnFramesAreUnwound) {
    // Held loaded by the test, so that its count can be read afterwards.
    std::string path = ServerPath(2);
    HMODULE pinned = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, pinned);
    typedef LONG(WINAPI * CountFunction)();
    CountFunction countUnwinds = (CountFunction)(void*)GetProcAddress(pinned, "CountUnwinds");
    ASSERT_NE(nullptr, countUnwinds);
    ASSERT_EQ(0, countUnwinds());
    Unregister(path, 0);
    EXPECT_EQ(1, countUnwinds());
    FreeLibrary(pinned);
    ExpectStateRestored(path);
}

// Each leaves the caller as it was and the library freed; the markers named
// must each hold one record.
TEST_F(ComServer, MisbehavingServersAndMissingFilesLeaveTheCallerAsItWas) {
    const std::string absent = std::string(ServerFolder) + "\\absent.dll";
    const struct {
        const char* what;
        std::string path;
        int nt6;
        std::vector<const char*> markers;
    } cases[] = {
        // Scrambles the registers a caller keeps, leaves single precision and a full
        // x87 register stack behind, and writes to address 0: checked in each call.
        {"faulting server", ServerPath(2), 0, {"freed-2.txt"}},
        {"throwing server", ServerPath(3), 0, {"freed-3.txt"}},
        // "completed.txt" missing: the server's own handling was cut short.
        {"server handling its own exception", ServerPath(4), 0, {"completed.txt", "freed-4.txt"}},
        {"library without the entry point", ServerPath(5), 0, {"freed-5.txt"}},
        {"missing file in process", absent, 0, {}},
        {"missing file by the tool", absent, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unregister(c.path, c.nt6);
        ExpectStateRestored(c.path);
        for (const char* marker : c.markers) EXPECT_EQ(1u, ReadRecords(ServerMarker(marker)).size()) << marker;
    }
}

}  // namespace
