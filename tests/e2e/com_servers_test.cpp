// COM servers under Wine: unregistered by the route of the running family
// before their files go, and a server that faults does not stop the run.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

// Lays out the test server (it records who called its DllUnregisterServer in
// unregistered.txt beside itself) and removes it with a quiet run.
std::string UnregisterAs(const char* version, const char* server, std::string* app) {
    *app = FreshTestFolder();
    EXPECT_TRUE(CopyFileA((BinFolder() + server).c_str(), (*app + "server.dll").c_str(), FALSE));
    WriteWholeFile(*app + "other.txt", "x");
    PackData data;
    data.messages = TestMessages();
    data.files = {{".", "other.txt"}, {".", "server.dll", 4}};
    std::string exe = WriteUninstaller(*app, data);
    EmulatedVersion emulated(version);
    RunResult run = RunUninstaller(exe, "/S", {});
    EXPECT_EQ(0u, run.exitCode) << version;
    EXPECT_FALSE(FileExists(*app + "server.dll")) << version;
    EXPECT_FALSE(FileExists(*app + "other.txt")) << version;
    std::string record = ReadWholeFile(*app + "unregistered.txt");
    return record.substr(0, record.find('\n'));  // the calling program
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower((unsigned char)c));
    return text;
}

TEST(ComServers, Nt6RunsTheRegistrationToolFromTheSystemFolder) {
    std::string app;
    std::string caller = UnregisterAs("win7", "com_server_1.dll", &app);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(Lower(std::string(system) + "\\regsvr32.exe"), Lower(caller));
}

TEST(ComServers, Nt5AndNineXCallTheServerInProcess) {
    for (const char* version : {"winxp", "win98"}) {
        std::string app;
        std::string caller = UnregisterAs(version, "com_server_1.dll", &app);
        EXPECT_EQ(Lower(app + "uninst.exe"), Lower(caller)) << version;
    }
}

TEST(ComServers, FaultingServerIsSurvivedAndRemoved) {
    std::string app;
    UnregisterAs("winxp", "com_server_2.dll", &app);  // checks the run ended well and both files went
}

}  // namespace
