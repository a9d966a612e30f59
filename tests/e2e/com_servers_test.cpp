// COM servers under Wine: unregistered by the route of the running family
// before their files go, and a server that faults does not stop the run.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

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
        ASSERT_TRUE(CopyFileA((BinFolder() + server).c_str(), (app + "server.dll").c_str(), FALSE));
        WriteWholeFile(app + "other.txt", "x");
        PackData data = TestData();
        data.files = {{".", "other.txt"}, {".", "server.dll", 4}};
        RunQuietly(app, data);
        EXPECT_FALSE(FileExists(app + "server.dll")) << server;
        EXPECT_FALSE(FileExists(app + "other.txt")) << server;
        if (std::string(server) != "com_server_1.dll") continue;
        std::string record = ReadWholeFile(app + "unregistered.txt");
        std::string caller = record.substr(0, record.find('\n'));
        std::string expected = FamilyIsNt6OrLater() ? std::string(system) + "\\regsvr32.exe" : app + "uninst.exe";
        EXPECT_EQ(0, lstrcmpiA(expected.c_str(), caller.c_str())) << caller;
    }
}

}  // namespace
