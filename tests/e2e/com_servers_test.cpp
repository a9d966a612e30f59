// COM servers under Wine: unregistered by the route of the running family
// before their files go, and a server that faults does not stop the run.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

// Lays out the test server (it records who called its DllUnregisterServer in
// unregistered.txt beside itself) and removes it with a quiet run.
std::string Unregister(const char* server, std::string* app) {
    *app = FreshTestFolder();
    EXPECT_TRUE(CopyFileA((BinFolder() + server).c_str(), (*app + "server.dll").c_str(), FALSE));
    WriteWholeFile(*app + "other.txt", "x");
    PackData data;
    data.messages = TestMessages();
    data.files = {{".", "other.txt"}, {".", "server.dll", 4}};
    RunResult run = RunUninstaller(WriteUninstaller(*app, data), "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists(*app + "server.dll"));
    EXPECT_FALSE(FileExists(*app + "other.txt"));
    std::string record = ReadWholeFile(*app + "unregistered.txt");
    return record.substr(0, record.find('\n'));  // the calling program
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower((unsigned char)c));
    return text;
}

// NT 6 and later run the registration tool from the System folder; older
// systems call the server in the uninstaller's own process.
TEST(ComServers, UnregisteredByTheFamilysRoute) {
    std::string app;
    std::string caller = Unregister("com_server_1.dll", &app);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string expected = FamilyIsNt6OrLater() ? std::string(system) + "\\regsvr32.exe" : app + "uninst.exe";
    EXPECT_EQ(Lower(expected), Lower(caller));
}

// A server that faults: in process (9x, NT 5) the uninstaller's own guard
// catches it, on NT 6 and later the registration tool ends with it.
TEST(ComServers, FaultingServerIsSurvivedAndRemoved) {
    std::string app;
    Unregister("com_server_2.dll", &app);  // checks the run ended well and both files went
}

}  // namespace
