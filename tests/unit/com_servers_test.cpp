// Unregistering COM servers: the tool route, the in-process route and the
// guard around a server's DllUnregisterServer, with real DLLs under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/run.h"
#include "removal/com_servers.h"

namespace {

const char ServerFolder[] = "C:\\qvtest\\com\\server dir";
const char CallerFolder[] = "C:\\qvtest\\com\\caller";  // the current directory during each test
// Left by the regsvr32.exe built beside unit_tests.exe, where the search for
// a bare command looks first, if it ever runs.
const char PlantedMarker[] = "C:\\qvtest\\com\\planted-tool-ran.txt";
// A mode the code under test never sets, so that its restoration shows.
const UINT CallerErrorMode = SEM_NOGPFAULTERRORBOX;
const char* const Markers[] = {"unregistered.txt", "unwound.txt", "completed.txt", "freed-1.txt",
                               "freed-2.txt",      "freed-3.txt", "freed-4.txt"};

std::string ServerPath(int behaviour) {
    return std::string(ServerFolder) + "\\server " + std::to_string(behaviour) + ".dll";
}

std::string ThisProgram() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    return std::string(self, length < MAX_PATH ? length : 0);
}

std::string CurrentDirectory() {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    return std::string(folder, length < MAX_PATH ? length : 0);
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }
void* ChainHead() { return ((NT_TIB*)NtCurrentTeb())->ExceptionList; }

// A marker of the test servers: process, current directory and error mode,
// one line each, per event.
std::vector<std::string> MarkerLines(const std::string& name) {
    std::vector<std::string> lines;
    HANDLE file = CreateFileA((std::string(ServerFolder) + "\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return lines;
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, NULL);
    CloseHandle(file);
    std::string text(buffer, read);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

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
        for (const char* folder : {"C:\\qvtest", "C:\\qvtest\\com", ServerFolder, CallerFolder})
            CreateDirectoryA(folder, NULL);
        // Started by a Unix path, the program sees its own name as unix\...;
        // the \\?\ prefix makes that a path CopyFileA accepts.
        std::string build = ThisProgram();
        if (build.compare(0, 5, "unix\\") == 0) build = "\\\\?\\" + build;
        build.erase(build.rfind('\\'));
        for (int behaviour = 1; behaviour <= 4; behaviour++) {
            std::string built = build + "\\com_server_" + std::to_string(behaviour) + ".dll";
            ASSERT_TRUE(CopyFileA(built.c_str(), ServerPath(behaviour).c_str(), FALSE)) << built;
        }
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((build + "\\regsvr32.exe").c_str()));
    }

    void SetUp() override {
        if (!WorkPath) WorkPath = (char*)calloc(PathBufferSize, 1);
        savedNt6_ = IsNt6OrLater;
        savedDirectory_ = CurrentDirectory();
        ASSERT_TRUE(SetCurrentDirectoryA(CallerFolder));
        savedErrorMode_ = SetErrorMode(CallerErrorMode);
    }

    void TearDown() override {
        SetErrorMode(savedErrorMode_);
        SetCurrentDirectoryA(savedDirectory_.c_str());
        IsNt6OrLater = savedNt6_;
    }

    // Unregisters with fresh markers, and checks what every call must leave
    // behind, whatever the server did.
    void Unregister(const std::string& path, int nt6) {
        for (const char* marker : Markers) DeleteFileA((std::string(ServerFolder) + "\\" + marker).c_str());
        lstrcpynA(WorkPath, path.c_str(), PathBufferSize);
        IsNt6OrLater = nt6;
        void* chainHead = ChainHead();
        EXPECT_EQ(1, CallKeepsRegisters()) << "a register the caller keeps, or the stack pointer, changed";
        volatile double one = 1.0, tiny = 1e-10;
        volatile double sum = one + tiny;
        EXPECT_NE(1.0, sum) << "computed in single precision";
        EXPECT_EQ(sum, sum) << "computed as NaN: the x87 register stack was left full";
        EXPECT_EQ(chainHead, ChainHead()) << "the exception chain holds a frame that is gone";
        EXPECT_EQ(CallerFolder, CurrentDirectory());
        EXPECT_EQ(CallerErrorMode, SetErrorMode(CallerErrorMode));
        EXPECT_EQ(NULL, GetModuleHandleA(path.c_str())) << "the server is still loaded";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(PlantedMarker)) << "a planted tool ran";
        DeleteFileA(PlantedMarker);
    }

    int savedNt6_ = 0;
    std::string savedDirectory_;
    UINT savedErrorMode_ = 0;
};

// NT 6 and later run the System folder's tool, waited for, with the path
// quoted (it has spaces); elsewhere the server is called in this process,
// from its own folder, with the critical-error boxes off.
TEST_F(ComServer, EachRouteCallsTheServerOnce) {
    for (int nt6 = 1; nt6 >= 0; nt6--) {
        SCOPED_TRACE(nt6 ? "the tool" : "in process");
        Unregister(ServerPath(1), nt6);
        std::vector<std::string> call = MarkerLines("unregistered.txt");
        ASSERT_EQ(3u, call.size()) << "DllUnregisterServer was not called once (or not waited for)";
        char tool[MAX_PATH];
        GetSystemDirectoryA(tool, MAX_PATH);
        EXPECT_TRUE(SameText(nt6 ? std::string(tool) + "\\regsvr32.exe" : ThisProgram(), call[0])) << call[0];
        if (nt6) continue;
        EXPECT_EQ(ServerFolder, call[1]);
        EXPECT_EQ(std::to_string(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX), call[2]);
    }
}

// Only the markers named appear, each with one record.
TEST_F(ComServer, MisbehavingServersAndMissingFilesLeaveTheCallerAsItWas) {
    const struct {
        const char* what;
        std::string path;
        std::vector<std::string> markers;
    } cases[] = {
        // Its own frame gets its termination call from the unwind.
        {"faulting server", ServerPath(2), {"unwound.txt", "freed-2.txt"}},
        {"throwing server", ServerPath(3), {"freed-3.txt"}},
        // Its own handling is not cut short.
        {"server handling its own exception", ServerPath(4), {"completed.txt", "freed-4.txt"}},
        {"missing file", std::string(ServerFolder) + "\\absent.dll", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unregister(c.path, 0);
        for (const char* marker : Markers) {
            bool named = std::count(c.markers.begin(), c.markers.end(), marker) != 0;
            EXPECT_EQ(named ? 3u : 0u, MarkerLines(marker).size()) << marker;
        }
    }
}

}  // namespace
