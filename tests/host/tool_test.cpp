// The uninstpack command: build -> dump -> build gives the same bytes, the dump
// reads through the uninstaller's own reader, and refusals exit 1 (input) or 2
// (usage) with the reason on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "manifest.h"

namespace {

// Stands in for uninst.exe: the data locator amid other bytes, sealed (its
// offset holds the file's size, 77) as the build leaves the stub.
const std::string kUnsealed = "MZ" + std::string(62, '\x90') + "\x77\x77\x67\x54\x29\x48" + std::string(4, '\0') + "end";
const std::string kStub = "MZ" + std::string(62, '\x90') + "\x77\x77\x67\x54\x29\x48" + std::string("\x4D\0\0\0", 4) + "end";

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
                      {{"root", "HKCU"}, {"key", "Software\\" + std::string(255, 'k') + "\\" + std::string(254, 'k')}}}},
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
    // The English table, but for the texts the manifest gives.
    nlohmann::json expected = FullManifest();
    expected["language"] = "en";
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
    Write("unsealed.exe", kUnsealed);
    Write("tool.exe", "MZ" + kUnsealed + std::string(100, 'x'));  // the marker inside another program
    Shell("cp good.exe sealed-again.exe && mkdir folder && mkfifo fifo && ln -s in.json link.exe.partial");
    Write("prog.json", R"({"options": {"program": "\"${InstallDir}\\cleanup.exe\" /quiet"}})");
    Write("rel.json", R"({"options": {"program": "\"cleanup.exe\" /quiet"}})");
    Write("keys.json", R"({"files": [{"folder": "C:\\Windows", "name": ""}], "directories": [{"path": "${InstallDir}", "levels": 2}], "registry": [{"root": "HKCR", "key": ".qvimg", "value": ""},
        {"root": "HKLM", "key": "Software\\V"}, {"root": "HKLM", "key": "software\\v\\App", "value": "x"}]})");
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
        // No command writes over one of its inputs, and none takes another program for the stub.
        {"build in.json -o in.json --stub stub.exe", 1, "uninstpack: -o in.json: is also an input of this command (in.json)"},
        {"build in.json -o x.exe --stub stub.exe --list-as App --install-dir C:\\A --list-reg x.exe", 1, "--list-reg x.exe: is also an input"},
        {"build in.json -o x.exe --stub stub.exe --list-as App --install-dir C:\\A --list-reg missing/x.reg", 1, "cannot write missing/x.reg: its folder does not exist"},
        // Outputs that are not what they seem: every one is checked before any is written, only a
        // regular file is replaced, and a temporary name is never written through.
        // (A FIFO of the test's own stands for -o /dev/null, which a fault must never get to replace.)
        {"build in.json -o fifo --stub stub.exe", 1, "uninstpack: fifo: is a device or a FIFO, not a regular file, and is "
                                                   "never replaced; to validate a manifest without writing anything, use 'uninstpack check'"},
        {"build in.json -o o.exe --stub stub.exe --list-as App --install-dir C:\\A --list-reg folder", 1, "uninstpack: folder: is a folder, not"},
        {"build in.json -o link.exe --stub stub.exe", 0, ""},
        {"dump good.exe -o good.exe", 1, "uninstpack: -o good.exe: is also an input"},
        {"build in.json -o x.exe --stub tool.exe", 1, "tool.exe: not a usable stub: its data locator does not hold its own size"},
        {"seal sealed-again.exe", 1, "sealed-again.exe: carries uninstall data at 77; seal only the stub"},
        {"build in.json -o x.exe --stub stub.exe --publisher P", 2, "--publisher, --version, --icon and --list-reg describe the --list-as entry"},
        // Values given on the command line pass the rules that the manifest's texts do.
        {"check in.json -D D-x=1", 2, "uninstpack: -D D-x=1: a variable's name is ASCII letters, digits and _ only"},
        {"check in.json -D A=1 -D A=2", 2, "uninstpack: -D A=2: A is given twice (A=1)"},
        {"check in.json -D 'Data=${InstallDir}\\data'", 2, "uninstpack: -D Data=${InstallDir}\\data: a value goes in as it stands"},
        {"check in.json --install-dir 'C:\\'", 2, "uninstpack: --install-dir \"C:\\\\\" is a drive's root, a folder of Windows'"},
        {"check in.json --install-dir 'c:\\windows\\'", 2, "uninstpack: --install-dir \"c:\\\\windows\\\\\" is a drive's root"},
        {"check in.json --install-dir 'C:\\Users\\Bob'", 2, "uninstpack: --install-dir \"C:\\\\Users\\\\Bob\" is a drive's root"},
        {"check in.json --install-dir 'C:\\Program Files'", 2, "uninstpack: --install-dir \"C:\\\\Program Files\" is"},
        {"check in.json --install-dir 'C:\\Users\\Bob\\AppData\\Local\\Programs\\App'", 0, "ok\n"},
        {"build in.json -o x.exe --stub stub.exe --list-as '${Name}' -D Name= --install-dir C:\\\\A --list-reg x.reg", 1,
         "uninstpack: --list-as: the program's entry \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\\" is not a key"},
        {"build in.json -o x.exe --stub stub.exe --list-as \"$(printf 'A\\tB')\" --install-dir C:\\\\A --list-reg x.reg", 1,
         "uninstpack: --list-as: \"A\\u0009B\" holds the control character U+0009"},
        // The uninstaller puts a program without a leading token behind its own folder.
        {"check prog.json --install-dir 'C:\\App'", 1, "prog.json: /options/program: \"\\\"C:\\\\App\\\\cleanup.exe\\\" /quiet\" is a full path without a folder token"},
        {"check prog.json", 1, "prog.json: /options/program: \"\\\"${InstallDir}\\\\cleanup.exe\\\" /quiet\" is a full path"},
        {"plan rel.json --install-dir 'C:\\App'", 0, "program  \"C:\\App\\cleanup.exe\" /quiet (not waited for)"},
        // plan says what the run leaves: keys of which only values go, and folders it never removes.
        {"plan keys.json --install-dir 'C:\\Program Files\\V\\App'", 0, "stays    HKCR\\.qvimg (only its values named above go; a key is never removed"},
        {"plan keys.json --install-dir 'C:\\Program Files\\V\\App'", 0, "folder   C:\\Program Files\\V\\App (removed when empty; then, while each "
                                                                      "is empty: C:\\Program Files\\V (removed when empty), C:\\Program Files (never removed: Windows' or the user's own))"},
        {"plan keys.json --install-dir 'C:\\Program Files\\V\\App'", 0, "folder   C:\\Windows (never removed: Windows' or the user's own)\n"},
        {"--version", 0, "uninstpack 1."},
        {"--help", 0, "Usage: uninstpack COMMAND"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Tool(row.args), row.status) << row.args;
        EXPECT_NE(output.find(row.output), std::string::npos) << row.args << ": " << output;
    }
    EXPECT_EQ(Read("o.exe"), "previous");
    EXPECT_EQ(Read("stub.exe"), kStub);
    EXPECT_EQ(Read("in.json"), "{}");
    Shell("ls");
    EXPECT_EQ(output, "bad.json\ncut.exe\nfifo\nfolder\ngood.exe\nin.json\nkeys.json\nlink.exe\nlink.exe.partial\no.exe\nprog.json\nrel.json\nsealed-again.exe\nsigned.exe\nstub.exe\n"
                      "tool.exe\ntwo.exe\nunsealed.exe\n");
    EXPECT_EQ(Read("link.exe"), Read("good.exe"));
    // Sealing the stub is what the build does, and a second time changes nothing.
    EXPECT_EQ(Tool("seal unsealed.exe"), 0) << output;
    EXPECT_EQ(Tool("seal unsealed.exe"), 0) << output;
    EXPECT_EQ(Read("unsealed.exe"), kStub);
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
                                "--own-key 'HKLM\\Software\\Vendor\\App\\' -o ";
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
    Write("clash.json", R"({"files": [{"folder": ".", "name": "bin", "flags": ["font"]}]})");
    EXPECT_EQ(Tool("harvest stage -o h4.json --merge clash.json"), 1);
    EXPECT_NE(output.find("clash.json: /files/0: names bin as a file, but it is staged as a folder"), std::string::npos) << output;
    // Flags from both parts are combined, not replaced.
    ASSERT_EQ(Tool("harvest stage -o h5.json --merge hand.json --com-server App.exe"), 0) << output;
    EXPECT_EQ(nlohmann::json::parse(Read("h5.json"))["files"][0].dump(), R"({"flags":["checkInUse","comServer"],"folder":".","name":"app.exe"})");
    EXPECT_EQ(Tool("harvest stage -o h3.json --registry app.reg --own-key 'HKLM\\Software' --own-key 'HKCR\\jpegfile'"), 1);
    EXPECT_NE(output.find("--own-key HKLM\\Software: \"Software\" is not a key an installation makes"), std::string::npos) << output;
    EXPECT_NE(output.find("--own-key HKCR\\jpegfile: \"jpegfile\" is one of Windows' own classes"), std::string::npos) << output;
    // The use counts of shared files are the shared flag's to lower, not a value to remove.
    Write("counts.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n"
                        "\"C:\\\\App\\\\core.dll\"=dword:1\r\n");
    EXPECT_EQ(Tool("harvest stage -o h6.json --registry counts.reg"), 1);
    EXPECT_EQ(output, "uninstpack: counts.reg:3: [HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]: the use "
                      "counts of shared files are the \"shared\" flag's work (--shared GLOB), which lowers them; leave this section out of the .reg file\n");
}

// A staging tree with every kind of name a build can leave: each one that an
// installation cannot hold is an error naming its path, the rest is stored
// so that it comes back as it was (a "${" in a name stays text).
TEST_F(ToolTest, HarvestNamesEveryStagedNameItCannotStore) {
    Shell("mkdir -p stage/sub stage/empty && touch 'stage/${InstallDir}.txt' 'stage/star*.txt' stage/CON 'stage/dot.' "
          "stage/Case.txt stage/case.TXT stage/Café stage/CAFÉ 'stage/COM³.log' stage/sub/ok.dll \"$(printf 'stage/bad\\377name')\" && ln -s ok.dll stage/sub/link.dll && "
          "mkfifo stage/pipe");
    Write("bad.reg", "REGEDIT4\r\n\"early\"=\"x\"\r\n[HKEY_LOCAL_MACHINE\\Software\\V\r\n[HKEY_LOCAL_MACHINE\\Software\\V]\r\n\"n\"=dword:zz\r\n");
    EXPECT_EQ(Tool("harvest stage -o h.json --registry bad.reg --shared 'nothing\\*.dll' --own-key 'HKLM\\Software\\Other'"), 1);
    for (const char* expected : {"stage/bad\\xFFname: the name is not UTF-8", "stage/CON: \"CON\" has the part \"CON\", a device name",
                                 "stage/dot.: \"dot.\" has the part \"dot.\", ending in a dot", "stage/star*.txt: \"star*.txt\" holds \"*\"",
                                 "stage/case.TXT: differs from Case.txt only in letter case", "stage/Café: differs from CAFÉ only",
                                 "stage/COM³.log: \"COM³.log\" has the part", "stage/pipe: a special file",
                                 "stage/sub/link.dll: a link", "bad.reg:2: a value before any [key] section",
                                 "bad.reg:3: the key's \"[\" has no \"]\"", "bad.reg:5: the value's data dword:zz",
                                 "--shared nothing\\*.dll: matches no staged file",
                                 "--own-key HKLM\\Software\\Other: no key of the .reg files is at or below it"})
        EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
    EXPECT_EQ(output.find("json.exception"), std::string::npos) << output;
    Shell("rm -f stage/CON 'stage/dot.' 'stage/star*.txt' stage/case.TXT stage/Café 'stage/COM³.log' stage/pipe stage/bad*");
    ASSERT_EQ(Tool("harvest stage -o h.json --skip-special"), 0) << output;
    EXPECT_NE(output.find("left out 1 links and special files"), std::string::npos) << output;
    EXPECT_NE(Read("h.json").find("\"name\": \"$${InstallDir}.txt\""), std::string::npos) << Read("h.json");
    ASSERT_EQ(Tool("build h.json -o u.exe --stub stub.exe --install-dir 'C:\\App\\'"), 0) << output;
    ASSERT_EQ(Tool("plan h.json --install-dir 'C:\\App\\'"), 0) << output;
    EXPECT_NE(output.find("file     C:\\App\\${InstallDir}.txt (asked first when it is read-only)"), std::string::npos) << output;
    EXPECT_NE(output.find("folder   C:\\App\\empty (removed when empty)"), std::string::npos) << output;
    // check --staging: an entry whose file is not staged is an error, a staged file no entry names a warning.
    Shell("touch stage/new.txt && rm stage/Case.txt");
    EXPECT_EQ(Tool("check h.json --staging stage"), 1);
    EXPECT_NE(output.find("h.json: /files/2: Case.txt is not in the staging folder stage"), std::string::npos) << output;
    EXPECT_NE(output.find("warning: stage: new.txt is staged but no entry names it"), std::string::npos) << output;
    // The program's entry takes variables as the manifest does.
    ASSERT_EQ(Tool("build h.json -o u.exe --stub stub.exe --install-dir 'C:\\App' --list-as '${InstallDir} app' "
                   "--icon '${InstallDir}\\app.exe,0' --list-reg u.reg"), 0) << output;
    std::string reg;
    for (size_t at = 2; at < Read("u.reg").size(); at += 2) reg += Read("u.reg")[at];  // ASCII from UTF-16
    EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\C:_App app]"), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"DisplayIcon\"=\"C:\\\\App\\\\app.exe,0\""), std::string::npos) << reg;
    // An empty tree gives an empty manifest that builds.
    Shell("mkdir none");
    ASSERT_EQ(Tool("harvest none -o e.json"), 0) << output;
    EXPECT_EQ(Tool("check e.json --quiet"), 0) << output;
}
