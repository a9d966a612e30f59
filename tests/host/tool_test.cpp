// The uninstpack command: build -> dump -> build gives the same bytes, the dump
// reads through the uninstaller's own reader, and refusals exit 1 (input) or 2
// (usage) with the reason on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "manifest.h"

namespace {

// Stands in for uninst.exe: the data locator (marker, offset 0) amid other bytes.
const std::string kStub = "MZ" + std::string(62, '\x90') + "\x77\x77\x67\x54\x29\x48" + std::string(4, '\0') + "end";

// Every record type, entries at exactly their limits and texts beyond ASCII,
// each written the way the dump writes it.
nlohmann::json FullManifest() {
    return {
        {"codepage", 1251},
        {"files", {{{"folder", "."}, {"name", "Удалить.exe"}, {"flags", {"shared", "comServer", 64}}},
                   {{"folder", ".\\bin"}, {"name", ""}},
                   {{"folder", "C:\\" + std::string(250, 'f')}, {"name", "n.dll"}, {"flags", {"font", "checkInUse"}}}}},
        {"directories", {{{"path", "C:\\App"}, {"altPath", "C:\\Alt"}, {"fileName", "x.ini"}, {"levels", 255}},
                         {{"path", "C:\\" + std::string(256, 'd')}}}},
        {"registry", {{{"root", "HKLM"}, {"key", "Software\\Vendor\\App"}},
                      {{"root", "HKCU"}, {"key", "Software\\Vendor"}, {"value", "Setting"}},
                      {{"root", "HKU"}, {"key", "S\\V"}, {"value", ""}},
                      {{"root", 0x80000004u}, {"key", std::string(255, 'k') + "\\" + std::string(255, 'k') + "\\kkkkkkk"}}}},
        {"patterns", {"logs\\*.log", "#AppData#\\Vendor\\*.tmp"}},
        {"options", {{"waitForProgram", true}, {"themedControls", false}, {"program", "u /x"}, {"document", "a"}}},
        {"messages", {{"caption", "Удаление – ©"}, {"17", "x"}, {"19", ""}, {"fileInUse", std::string(65535, 'm')}}},
    };
}

// Each test works in a fresh folder of its own, holding the stub.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "uninstpack-XXXXXX";
        dir = mkdtemp(&pattern[0]) + std::string("/");
        Write("stub.exe", kStub);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void Write(const std::string& name, const std::string& bytes) { std::ofstream(dir + name) << bytes; }

    std::string Read(const std::string& name) {
        std::ifstream in(dir + name);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // The exit status; stdout and stderr go to `output`, by way of a hidden
    // file, so that `ls` shows only what the test made.
    int Shell(const std::string& command) {
        const int raw = std::system(("cd '" + dir + "' && " + command + " >.out 2>&1").c_str());
        output = Read(".out");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    int Tool(const std::string& args) { return Shell("'" UNINSTPACK_PATH "' " + args); }

    std::string dir, output;
};

}  // namespace

TEST_F(ToolTest, BuildDumpBuildIsByteIdenticalAndTheDumpGivesBackEveryField) {
    Write("in.json", FullManifest().dump());
    ASSERT_EQ(Tool("build in.json -o first.exe --stub stub.exe"), 0) << output;
    ASSERT_EQ(Tool("dump first.exe --codepage 1251 -o dump.json"), 0) << output;
    nlohmann::json expected = FullManifest();
    for (int i = 0; i < DefaultMessageCount; ++i) expected["messages"].emplace(MessageNames[i], DefaultMessages()[i]);
    EXPECT_EQ(nlohmann::json::diff(expected, nlohmann::json::parse(Read("dump.json"))), nlohmann::json::array());
    ASSERT_EQ(Tool("build dump.json -o second.exe --stub stub.exe"), 0) << output;
    EXPECT_EQ(Read("second.exe"), Read("first.exe"));
}

// Refusals write nothing: no output, no leftovers, no harm to the stub.
TEST_F(ToolTest, EachCommandLineEndsWithItsStatusAndSaysWhy) {
    Write("in.json", "{}");
    Write("bad.json", R"({"files": [5, 5]})");
    ASSERT_EQ(Tool("build in.json -o good.exe --stub stub.exe"), 0) << output;
    Write("cut.exe", Read("good.exe").substr(0, Read("good.exe").size() - 8));  // no end record
    Write("two.exe", kStub + kStub);
    // A PE header whose certificate table (data directory 4) is not empty.
    Write("signed.exe", kStub.substr(0, 0x3C) + std::string("\x80\0\0\0", 4) + std::string(0x40, 'x') + std::string("PE\0\0", 4) +
                            std::string(20 + 96 + 32, '\0') + "\x10\0\0\0\x20\0\0\0" + kStub.substr(64));
    Write("o.exe", "previous");
    const struct { std::string args; int status; std::string output; } rows[] = {
        {"check in.json", 0, "ok\n"},
        {"check bad.json", 1, "bad.json: /files/0: must be an object, not a number\nuninstpack: bad.json: /files/1"},
        {"build in.json -o o.exe --stub in.json", 1, "in.json: not a usable stub: the data locator marker is missing"},
        {"build in.json -o o.exe --stub two.exe", 1, "two.exe: not a usable stub: the data locator marker is found 2"},
        {"build in.json -o o.exe --stub signed.exe", 1, "signed.exe: not a usable stub: it carries a signature"},
        // An uninstaller would carry two blocks, the first of them dead weight.
        {"build in.json -o o.exe --stub good.exe", 1, "good.exe: not a usable stub: its data offset 77 points inside"},
        {"build in.json -o stub.exe --stub stub.exe", 1, "uninstpack: stub.exe: is the stub itself"},
        {"dump stub.exe", 1, "uninstpack: stub.exe: there is no uninstall data"},
        {"dump cut.exe", 1, "uninstpack: cut.exe: the uninstall data is damaged\n"},
        {"build in.json", 2, "uninstpack: missing -o OUT.exe"},
        {"dump cut.exe --stub stub.exe", 2, "uninstpack: unknown option '--stub' for dump"},
        {"dump cut.exe --codepage 437", 2, "uninstpack: code page '437' is not supported"},
        {"--help", 0, "Usage: uninstpack COMMAND"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Tool(row.args), row.status) << row.args;
        EXPECT_NE(output.find(row.output), std::string::npos) << row.args << ": " << output;
    }
    EXPECT_EQ(Read("o.exe"), "previous");
    EXPECT_EQ(Read("stub.exe"), kStub);
    Shell("ls");
    EXPECT_EQ(output, "bad.json\ncut.exe\ngood.exe\nin.json\no.exe\nsigned.exe\nstub.exe\ntwo.exe\n");
}

// Every folder and file of the staging tree as a "." entry, a folder before
// its files, parents before children, in the same order every time; flags by
// pattern; a hand-written part and the registry file merged without repeats.
TEST_F(ToolTest, HarvestListsTheStagingTreeInInstallationOrder) {
    Shell("mkdir -p stage/bin stage/data/sub && touch stage/App.exe stage/bin/core.dll stage/bin/b.ocx stage/data/sub/x.dat stage/a.txt");
    Write("app.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Sub]\r\n\"v\"=dword:1\r\n\r\n"
                     "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n\"Last \\\"User\\\"\"=\"me\"\r\n");
    Write("hand.json", R"({"language": "de", "files": [{"folder": ".", "name": "app.exe", "flags": ["checkInUse"]}]})");
    const std::string harvest = "harvest stage --shared 'bin/*.dll' --com-server 'bin\\*.ocx' --merge hand.json --registry app.reg "
                                "--own-key 'HKLM\\Software\\Vendor\\App' -o ";
    ASSERT_EQ(Tool(harvest + "h1.json"), 0) << output;
    ASSERT_EQ(Tool(harvest + "h2.json"), 0) << output;
    EXPECT_EQ(Read("h1.json"), Read("h2.json"));
    const nlohmann::json manifest = nlohmann::json::parse(Read("h1.json"));
    std::string files;
    for (const auto& f : manifest["files"])
        files += f["folder"].get<std::string>() + "|" + f["name"].get<std::string>() + "|" + f.value("flags", nlohmann::json{""})[0].get<std::string>() + " ";
    EXPECT_EQ(files, ".|app.exe|checkInUse .|a.txt| .\\bin|| .\\bin|b.ocx|comServer .\\bin|core.dll|shared .\\data|| .\\data\\sub|| .\\data\\sub|x.dat| ");
    EXPECT_EQ(manifest["registry"].dump(), R"([{"key":"Software\\Vendor\\App","root":"HKLM"},{"key":"Software\\Vendor","root":"HKCU","value":"Last \"User\""}])");
    EXPECT_EQ(Tool("check h1.json"), 0) << output;
    EXPECT_EQ(Tool("harvest stage -o h3.json --own-key 'HKLM\\Software'"), 1);
    EXPECT_NE(output.find("never remove what its installation did not create"), std::string::npos) << output;
}
