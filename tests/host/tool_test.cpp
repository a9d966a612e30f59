// The uninstpack command: build -> dump -> build is byte-identical, decoding
// goes through the product's own reader, and refusals carry exit status 1
// (input) or 2 (usage) with a message on stderr.
#include <nlohmann/json.hpp>

#include "block_writer.h"
#include "manifest.h"
#include "stub.h"
#include "test_support.h"

namespace {

// Every record type, texts at exactly the entry limits, and non-ASCII texts.
std::string FullManifest() {
    nlohmann::json manifest = {
        {"codepage", 1252},
        {"files", {{{"folder", "."}, {"name", "Übersicht.exe"}, {"flags", {"shared", "comServer", 64}}},
                   {{"folder", ".\\bin"}, {"name", ""}},
                   {{"folder", "C:\\" + std::string(510, 'f')}, {"name", "n.dll"}, {"flags", {"font", "checkInUse"}}}}},
        {"directories", {{{"path", "C:\\Program Files\\Vendor\\App"}, {"altPath", "C:\\Alt"}, {"fileName", "x.ini"},
                          {"levels", 255}},
                         {{"path", std::string(777, 'd')}}}},
        {"registry", {{{"root", "HKLM"}, {"key", "Software\\Vendor\\App"}},
                      {{"root", "HKCU"}, {"key", "Software\\Vendor"}, {"value", "Setting"}},
                      {{"root", "HKU"}, {"key", "S\\V"}, {"value", ""}},
                      {{"root", 0x80000004u}, {"key", std::string(519, 'k')}}}},
        {"patterns", {"logs\\*.log", "#AppData#\\Vendor\\*.tmp"}},
        {"options", {{"waitForProgram", true}, {"program", "setup.exe /remove"}, {"document", "https://example.invalid/"}}},
        {"messages", {{"caption", "Entfernen – ©"}, {"17", "extra"}, {"19", ""}, {"fileInUse", std::string(65535, 'm')}}},
    };
    return manifest.dump(2);
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(dir / "stub.exe", FakeStub()); }

    ToolResult Build(const std::string& manifest, const std::string& out, const std::string& stub = "stub.exe") {
        WriteFile(dir / "in.json", manifest);
        return RunTool(dir, "build '" + dir / "in.json" + "' -o '" + dir / out + "' --stub '" + dir / stub + "'");
    }

    ToolResult Dump(const std::string& file, const std::string& extra = "") {
        return RunTool(dir, "dump '" + dir / file + "' " + extra);
    }

    TempFolder dir;
};

}  // namespace

TEST_F(ToolTest, BuildDumpBuildIsByteIdenticalWithEveryRecordType) {
    ASSERT_EQ(Build(FullManifest(), "first.exe").status, 0);
    const ToolResult dumped = Dump("first.exe");
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_EQ(dumped.err, "");
    ASSERT_EQ(Build(dumped.out, "second.exe").status, 0);
    EXPECT_EQ(ReadFile(dir / "first.exe"), ReadFile(dir / "second.exe"));

    // The build is the stub with its offset set, then the writer's block...
    Manifest manifest;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadManifest(FullManifest(), "full", &manifest, &errors));
    const std::string stub = FakeStub();
    std::string expected = stub + WriteBlock(manifest.data);
    expected.replace(70, 4, Bytes({static_cast<int>(stub.size()), 0, 0, 0}));
    EXPECT_EQ(ReadFile(dir / "first.exe"), expected);
    EXPECT_NE(expected.find("\xDC" "bersicht.exe"), std::string::npos);  // written in 1252

    // ...and the dump gives back what the author wrote, read by the product's reader.
    const nlohmann::json json = nlohmann::json::parse(dumped.out);
    EXPECT_EQ(json["files"][0]["name"], "Übersicht.exe");
    EXPECT_EQ(json["files"][0]["flags"], nlohmann::json({"shared", "comServer", 64}));
    EXPECT_EQ(json["registry"][1], nlohmann::json({{"root", "HKCU"}, {"key", "Software\\Vendor"}, {"value", "Setting"}}));
    EXPECT_EQ(json["registry"][2]["value"], "");
    EXPECT_EQ(json["registry"][3]["root"], 0x80000004u);
    EXPECT_EQ(json["directories"][0]["levels"], 255);
    EXPECT_EQ(json["patterns"][1], "#AppData#\\Vendor\\*.tmp");
    EXPECT_EQ(json["options"]["program"], "setup.exe /remove");
    EXPECT_EQ(json["messages"]["caption"], "Entfernen – ©");
    EXPECT_EQ(json["messages"]["17"], "extra");
    EXPECT_EQ(json["messages"]["confirm"], DefaultMessages()[1]);
}

TEST_F(ToolTest, CyrillicRoundTripInCodePage1251) {
    const std::string manifest = R"({"codepage": 1251, "files": [{"folder": ".", "name": "Удалить.exe"}],
        "messages": {"caption": "Удаление программы"}})";
    ASSERT_EQ(Build(manifest, "ru.exe").status, 0);
    EXPECT_NE(ReadFile(dir / "ru.exe").find(Bytes({0xD3, 0xE4, 0xE0, 0xEB, 0xE8, 0xF2, 0xFC})), std::string::npos);
    const ToolResult dumped = Dump("ru.exe", "--codepage 1251 -o '" + dir / "ru.json" + "'");
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    const nlohmann::json json = nlohmann::json::parse(ReadFile(dir / "ru.json"));
    EXPECT_EQ(json["codepage"], 1251);
    EXPECT_EQ(json["files"][0]["name"], "Удалить.exe");
    ASSERT_EQ(Build(ReadFile(dir / "ru.json"), "ru2.exe").status, 0);
    EXPECT_EQ(ReadFile(dir / "ru.exe"), ReadFile(dir / "ru2.exe"));
    // Read in the wrong code page the texts look wrong, yet every byte survives.
    ASSERT_EQ(Build(Dump("ru.exe").out, "ru3.exe").status, 0);
    EXPECT_EQ(ReadFile(dir / "ru.exe"), ReadFile(dir / "ru3.exe"));
}

TEST_F(ToolTest, StubsWithoutAUniqueLocatorAreRefusedAndNothingIsWritten) {
    WriteFile(dir / "none.exe", "MZ without a locator");
    WriteFile(dir / "two.exe", FakeStub() + FakeStub());
    WriteFile(dir / "out.exe", "previous");
    ToolResult result = Build("{}", "out.exe", "none.exe");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("uninstpack: " + dir / "none.exe" + ": not a usable stub: the data locator marker is missing"),
              std::string::npos) << result.err;
    result = Build("{}", "out.exe", "two.exe");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("found 2 times"), std::string::npos) << result.err;
    // A finished uninstaller is not a stub: it would carry two blocks.
    ASSERT_EQ(Build("{}", "done.exe").status, 0);
    result = Build("{}", "out.exe", "done.exe");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("already carries uninstall data"), std::string::npos) << result.err;
    EXPECT_EQ(Build("{}", "stub.exe").status, 1);  // the output may not replace the stub
    EXPECT_EQ(ReadFile(dir / "stub.exe"), FakeStub());
    EXPECT_EQ(ReadFile(dir / "out.exe"), "previous");
    EXPECT_FALSE(std::ifstream(dir / "out.exe.partial").good());
}

TEST_F(ToolTest, DefaultStubIsTheUninstallerBesideTheTool) {
    ASSERT_EQ(std::system(("mkdir '" + dir / "bin" + "' && cp '" UNINSTPACK_PATH "' '" + dir / "bin" + "/'").c_str()), 0);
    WriteFile(dir / "bin/uninst.exe", FakeStub());
    WriteFile(dir / "in.json", "{}");
    const ToolResult result = RunProgram(dir, dir / "bin/uninstpack", "build '" + dir / "in.json" + "' -o '" + dir / "o.exe" + "'");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFile(dir / "o.exe").substr(0, 64), FakeStub().substr(0, 64));
}

TEST_F(ToolTest, DumpReportsDamagedOrMissingData) {
    ASSERT_EQ(Build("{}", "good.exe").status, 0);
    const std::string good = ReadFile(dir / "good.exe");
    WriteFile(dir / "cut.exe", good.substr(0, good.size() - 8));  // no end record
    // A file entry whose folder claims more bytes than the limit allows.
    PackFile oversized{std::string(519, 'a'), "", 0};
    std::string image, error;
    ASSERT_TRUE(MakeUninstaller(FakeStub(), EncodeRecord(0x1235, EncodeFileList({oversized})) +
                                                 EncodeRecord(0x7F7F, ""), &image, &error));
    WriteFile(dir / "long.exe", image);
    for (const char* file : {"cut.exe", "long.exe"}) {
        const ToolResult result = Dump(file);
        EXPECT_EQ(result.status, 1) << file;
        EXPECT_EQ(result.err, "uninstpack: " + dir / file + ": the uninstall data is damaged\n");
        EXPECT_EQ(result.out, "");
    }
    const ToolResult bare = Dump("stub.exe");
    EXPECT_EQ(bare.status, 1);
    EXPECT_NE(bare.err.find("no uninstall data"), std::string::npos) << bare.err;
}

TEST_F(ToolTest, CheckPrintsOkOrEveryError) {
    WriteFile(dir / "good.json", FullManifest());
    ToolResult result = RunTool(dir, "check '" + dir / "good.json" + "'");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "ok\n");
    WriteFile(dir / "bad.json", R"({"files": [{"folder": ".", "flags": ["fnot"]}], "registry": [{"root": "X", "key": "k"}]})");
    result = RunTool(dir, "check '" + dir / "bad.json" + "'");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("uninstpack: " + dir / "bad.json" + ": /files/0/flags/0: unknown flag"), std::string::npos);
    EXPECT_NE(result.err.find("/registry/0/root"), std::string::npos) << result.err;
}

TEST_F(ToolTest, SealWritesTheSizeInPlace) {
    WriteFile(dir / "s.exe", FakeStub() + std::string(200, 'z'));
    ASSERT_EQ(RunTool(dir, "seal '" + dir / "s.exe" + "'").status, 0);
    EXPECT_EQ(ReadFile(dir / "s.exe").substr(70, 4), Bytes({282 & 0xFF, 282 >> 8, 0, 0}));
}

TEST_F(ToolTest, UsageAndHelp) {
    EXPECT_EQ(RunTool(dir, "").status, 2);
    EXPECT_EQ(RunTool(dir, "frobnicate").status, 2);
    EXPECT_EQ(RunTool(dir, "build in.json").status, 2);  // no -o
    EXPECT_EQ(RunTool(dir, "dump a.exe --stub s.exe").status, 2);
    EXPECT_EQ(RunTool(dir, "dump a.exe --codepage 437").status, 2);
    const ToolResult unknown = RunTool(dir, "check a.json --verbose");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind("uninstpack: ", 0), 0u);
    EXPECT_EQ(RunTool(dir, "--help").out.rfind("Usage: uninstpack COMMAND", 0), 0u);
    for (const std::string verb : {"build", "dump", "check", "seal"}) {
        const ToolResult help = RunTool(dir, verb + " --help");
        EXPECT_EQ(help.status, 0) << verb;
        EXPECT_EQ(help.out.rfind("Usage: uninstpack " + verb + " ", 0), 0u) << help.out;
    }
}
