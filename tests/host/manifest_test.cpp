// The manifest as authors write it: what it becomes, and how each mistake is
// reported. The code pages too, since every manifest text goes through one.
#include <gtest/gtest.h>

#include <set>

#include "codepage.h"
#include "languages.h"
#include "manifest.h"
#include "rules.h"

namespace {

// Every error and warning of a manifest; none when it loads.
std::vector<std::string> Errors(const std::string& text, Manifest* manifest = nullptr) {
    Manifest ignored;
    std::vector<std::string> errors;
    std::set<std::string> unset;
    ManifestContext context;  // as check has it: variables not set here are left as written
    context.unset = &unset;
    context.warnings = &errors;
    LoadManifest(text, "m", manifest ? manifest : &ignored, &errors, context);
    return errors;
}

// The text with each '%' replaced by `count` letters "é": two bytes in UTF-8,
// one in code page 1252, so a limit counted in the wrong bytes shows.
std::string Fill(std::string text, size_t count) {
    std::string run;
    while (count-- > 0) run += "é";
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + run.size())) text.replace(at, 1, run);
    return text;
}

std::string Key(const std::string& root, const std::string& key) {
    return R"({"registry": [{"root": )" + root + R"(, "key": ")" + key + R"("}]})";
}

}  // namespace

// One row per mistake an author makes: the manifest and the start of each
// message, in order; none when it is accepted.
TEST(Manifest, EveryMistakeIsReportedAtItsJsonPointer) {
    const struct { std::string manifest; std::vector<std::string> errors; } rows[] = {
        // The uninstaller skips a path that does not fit its 260-byte buffers,
        // and refuses longer entries as damaged data: limits in code-page bytes.
        {Fill(R"({"files": [{"folder": "C:\\a", "name": "%"}]})", 254), {}},
        {Fill(R"({"files": [{"folder": "C:\\a", "name": "%"}]})", 255), {"m: /files/0: the file's path \"C:\\\\a\\\\éé"}},
        {Fill(R"({"files": [{"folder": ".\\a", "name": "%"}]})", 255), {"m: /files/0: the file's path \"${InstallDir}\\\\a\\\\éé"}},
        {Fill(R"({"directories": [{"path": "C:\\%"}]})", 256), {}},
        {Fill(R"({"directories": [{"path": "C:\\%"}]})", 257), {"m: /directories/0: the path \"C:\\\\é"}},
        {Fill(R"({"directories": [{"path": "C:\\a", "fileName": "%"}]})", 255), {"m: /directories/0: the path \"C:\\\\a\\\\é"}},
        {Fill(R"({"options": {"program": "\"%\" /x"}})", 251), {}},
        {Fill(R"({"options": {"program": "\"%\" /x"}})", 252), {"m: /options/program: the command put behind the installation folder \"\\\"${InstallDir}\\\\é"}},
        {Fill(Key("\"HKLM\"", "Software\\\\%\\\\%\\\\%x"), 169), {}},
        {Fill(Key("\"HKLM\"", "Software\\\\%\\\\%\\\\%xy"), 169), {"m: /registry/0: the key is 520 bytes in code page 1252; the limit is 519"}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "k", "value": "%"}]})", 516), {}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "k", "value": "%"}]})", 517),
         {"m: /registry/0: key, the two backslashes and value are 520 bytes in code page 1252; the limit is 519"}},
        {Fill(Key("\"HKCU\"", "Software\\\\%"), 256), {"m: /registry/0/key: \"Software\\\\éé"}},
        // Structure and syntax.
        {"{\n  \"files\": [\n    {\"folder\": \".\",}\n  ]\n}", {"m:3:20: "}},
        {R"({"files": [{"folder": "."}, {"folder": ".\\a", "nmae": "a"}]})",
         {"m: /files/1/nmae: unknown key \"nmae\"; expected one of folder, name, flags"}},
        {R"({"files": [{"folder": ".", "folder": "."}]})", {"m: /files/0/folder: the key occurs more than once"}},
        {R"({"files": [{"name": "a"}, {"folder": ".", "flags": ["font", "hidden"]}], "patterns": [""],
            "directories": [{"path": "C:\\x", "levels": 256}]})",
         {"m: /files/0: the required key \"folder\" is missing", "m: /files/1/flags/1: unknown flag \"hidden\"",
          "m: /directories/0/levels: 256 is above the limit 255", "m: /patterns/0: must not be empty"}},
        {R"({"files": [{"folder": ".", "name": "中"}]})",
         {"m: /files/0/name: character U+4E2D (中) cannot be written in code page 1252"}},
        {std::string(65, '[') + std::string(65, ']'), {"m: nested more than 64 levels deep"}},
        {"{\"files\": " + std::string(200000, '[') + "}", {"m: nested more than 64 levels deep"}},
        {std::string("{\0}\0", 4), {"m: is UTF-16, not UTF-8; save the manifest as UTF-8"}},
        {R"({"files": [{"folder": "."}, [{"a": 1, "a": 2}]]})", {"m: /files/1/0/a: the key occurs more than once", "m: /files/1: must be an object"}},
        {R"({"language": "pt"})", {"m: /language: unknown language \"pt\"; use one of en, de, fr, es, it, pt-BR, pt-PT,"}},
        // Texts that name a file or folder: what Windows cannot hold, and a
        // single backslash in JSON, which makes a control character.
        {R"({"files": [{"folder": ".\bin"}]})", {"m: /files/0/folder: \".\\u0008in\" holds the control character U+0008 (\"\\b\" in JSON); a backslash is written \\\\"}},
        {R"({"directories": [{"path": "C:\temp\new"}]})", {"m: /directories/0/path: \"C:\\u0009emp\\u000aew\" holds the control character U+0009"}},
        {R"({"files": [{"folder": ".\\..\\..\\Windows\\System32", "name": "kernel32.dll"}]})", {"m: /files/0/folder: \".\\\\..\\\\..\\\\Windows\\\\System32\" has a \"..\" component"}},
        {R"({"patterns": ["..\\..\\*.*"], "directories": [{"path": "C:\\App\\..\\.."}]})",
         {"m: /directories/0/path: \"C:\\\\App\\\\..\\\\..\" has a \"..\"", "m: /patterns/0: \"..\\\\..\\\\*.*\" has a \"..\""}},
        {R"({"files": [{"folder": ".", "name": "a*b"}, {"folder": ".", "name": "x?"}, {"folder": ".", "name": "<"},
                       {"folder": ".", "name": "a:b"}, {"folder": ".", "name": "a|b"}, {"folder": ".", "name": ".."},
                       {"folder": ".", "name": "sub\\x.dll"}]})",
         {"m: /files/0/name: \"a*b\" holds \"*\", which Windows does not allow", "m: /files/1/name: \"x?\" holds \"?\"",
          "m: /files/2/name: \"<\" holds \"<\"", "m: /files/3/name: \"a:b\" holds \":\"", "m: /files/4/name: \"a|b\" holds \"|\"",
          "m: /files/5/name: \"..\" names the folder itself or its parent", "m: /files/6/name: \"sub\\\\x.dll\" holds a backslash"}},
        {R"({"files": [{"folder": ".", "name": "CON"}, {"folder": ".\\lpt1.x", "name": "a"}, {"folder": ".", "name": "a."},
                       {"folder": "C:\\a \\b", "name": "c"}]})",
         {"m: /files/0/name: \"CON\" has the part \"CON\", a device name", "m: /files/1/folder: \".\\\\lpt1.x\" has the part \"lpt1.x\"",
          "m: /files/2/name: \"a.\" has the part \"a.\", ending in a dot or blank", "m: /files/3/folder: \"C:\\\\a \\\\b\" has the part \"a \""}},
        {R"({"files": [{"folder": ".", "name": "COM¹"}, {"folder": ".", "name": "LPT².txt"}, {"folder": ".\\com³.log", "name": "a"},
                       {"folder": ".", "name": "COM0"}, {"folder": ".", "name": "CONOUT$"}]})",
         {"m: /files/0/name: \"COM¹\" has the part \"COM¹\", a device name", "m: /files/1/name: \"LPT².txt\" has the part",
          "m: /files/2/folder: \".\\\\com³.log\" has the part \"com³.log\"", "m: /files/4/name: \"CONOUT$\" has the part"}},
        {R"({"files": [{"folder": "./bin"}, {"folder": ".bin"}, {"folder": "C:bin"}, {"folder": "\\Windows"}, {"folder": "bin"}]})",
         {"m: /files/0/folder: \"./bin\" holds a slash", "m: /files/1/folder: \".bin\" begins with a full stop but is neither",
          "m: /files/2/folder: \"C:bin\" is relative to the current folder of drive C:",
          "m: /files/3/folder: \"\\\\Windows\" begins with one backslash, so it is relative to the current drive",
          "m: /files/4/folder: \"bin\" is neither \".\" nor a full path"}},
        {R"({"patterns": ["\\Windows\\*.log", "C:*.log", "C:\\abs\\*.log", "#Bogus#\\*.tmp", "logs\\#AppData#\\x", "a*\\*.log",
                          "#appdata#\\V\\*.tmp", "${x"]})",
         {"m: /patterns/0: \"\\\\Windows\\\\*.log\" begins with one backslash", "m: /patterns/1: \"C:*.log\" is relative to the current folder",
          "m: /patterns/2: \"C:\\\\abs\\\\*.log\" is a full path without a folder token",
          "m: /patterns/3: \"#Bogus#\\\\*.tmp\" holds the folder token #Bogus#, which the uninstaller does not know and leaves out; known tokens: #Windows#, #System#,",
          "m: /patterns/4: \"logs\\\\#AppData#\\\\x\" has a folder token after its beginning",
          "m: /patterns/5: \"a*\\\\*.log\" has a wildcard before its last backslash", "m: /patterns/7: \"${\" does not begin"}},
        // A pattern with wildcards sweeps its folder and every folder below: only
        // the installation's own folders; a single file may lie in the shell's.
        {R"({"patterns": ["#UserDir#\\*.*", "#MyDocuments#\\*.*", "#LocalAppData#\\*", "#AppData#\\Microsoft\\*.*",
                          "#UserDir#\\Downloads\\*", "#System#\\drivers\\*.sys", "#Windows#\\INSTALLER\\*.*",
                          "#UserDir#\\AppData\\Local\\*.tmp", "#AllUsersAppData#\\Microsoft\\Crypto\\*", "#AppData#x\\a?",
                          "#Desktop#\\App.lnk", "#UserDir#\\AppData\\Local\\Vendor\\*.tmp", "#InstallDir#\\*.log",
                          "#Program Files#\\Vendor\\logs\\*.log"]})",
         {"m: /patterns/0: \"#UserDir#\\\\*.*\" has wildcards in #UserDir#, a folder that Windows or the user owns; a pattern with wildcards must lie",
          "m: /patterns/1: \"#MyDocuments#\\\\*.*\" has wildcards in #MyDocuments#,", "m: /patterns/2:", "m: /patterns/3: \"#AppData#\\\\Microsoft\\\\*.*\" has wildcards in #AppData#\\\\Microsoft,",
          "m: /patterns/4:", "m: /patterns/5:", "m: /patterns/6:", "m: /patterns/7: \"#UserDir#\\\\AppData\\\\Local\\\\*.tmp\" has wildcards in #UserDir#\\\\AppData\\\\Local,",
          "m: /patterns/8: \"#AllUsersAppData#\\\\Microsoft\\\\Crypto\\\\*\" has wildcards in #AllUsersAppData#\\\\Microsoft,", "m: /patterns/9: \"#AppData#x\\\\a?\" has wildcards in #AppData#x,"}},
        {R"({"directories": [{"path": "logs"}], "options": {"program": "#Nope#\\x.exe", "document": "a\nb"}})",
         {"m: /directories/0/path: \"logs\" is not a full path", "m: /options/program: \"#Nope#\\\\x.exe\" begins with the folder token #Nope#",
          "m: /options/document: \"a\\u000ab\" holds the control character"}},
        {R"({"files": [{"folder": "${Nope}"}, {"folder": "${InstalDir}\\bin"}]})",
         {"m: /files/1/folder: the variable ${InstalDir} is not one uninstpack knows; did you mean ${InstallDir}?"}},
        // Registry: keys and values the uninstaller would read as something else.
        {R"({"registry": [{"root": "HKLM", "key": "A\\\\B"}]})", {"m: /registry/0/key: \"A\\\\\\\\B\" has an empty part"}},
        {R"({"registry": [{"root": "HKLM", "key": "Software\\V\\\\"}]})", {"m: /registry/0/key: the last backslash is doubled"}},
        {R"({"registry": [{"root": "HKLM", "key": "A", "value": "x\\y"}, {"root": "HKLM", "key": "A\n", "value": "x\ty"}]})",
         {"m: /registry/0/value: \"x\\\\y\" holds a backslash", "m: /registry/1/key: \"A\\u000a\" holds the control character",
          "m: /registry/1/value: \"x\\u0009y\" holds the control character"}},
        {R"({"registry": [{"root": "HKLM", "key": ""}]})", {"m: /registry/0/key: must not be empty"}},
        // Double-byte characters whose second byte is the backslash byte: not
        // at the end of a key's part, nowhere in a value name.
        {R"({"codepage": 932, "registry": [{"root": "HKCU", "key": "Software\\ソフト\\表"}, {"root": "HKCU", "key": "Software\\機能\\App"},
            {"root": "HKCU", "key": "Software\\ソ", "value": "x"}, {"root": "HKCU", "key": "Software\\ソフト", "value": "表示"},
            {"root": "HKCU", "key": "Software\\ソフト\\表示"}, {"root": "HKCU", "key": "Software\\ソフト", "value": "機"}]})",
         {"m: /registry/0/key: 表 is 0x95 0x5C in code page 932, its second byte a backslash; ending a part of the key, it would make",
          "m: /registry/1/key: 能 is 0x94 0x5C", "m: /registry/2/key: ソ is 0x83 0x5C",
          "m: /registry/3/value: 表 is 0x95 0x5C in code page 932, its second byte a backslash; a reader that goes byte by byte"}},
        {R"({"codepage": 950, "registry": [{"root": "HKCU", "key": "Software\\許可\\功"}, {"root": "HKCU", "key": "Software\\成功\\App"}]})",
         {"m: /registry/0/key: 功 is 0xA5 0x5C in code page 950", "m: /registry/1/key: 功 is 0xA5 0x5C"}},
        {Key("\"HKLM\"", "Software/Vendor"), {"m: /registry/0/key: \"Software/Vendor\" holds a slash, which Windows takes as a letter"}},
        // Whole keys that many programs or the system share are never an installation's own.
        {Key("\"HKLM\"", "System"), {"m: /registry/0/key: \"System\" is not a key an installation makes"}},
        {Key("\"HKLM\"", "SYSTEM\\\\CurrentControlSet\\\\Services\\\\App"), {"m: /registry/0/key: \"SYSTEM\\\\"}},
        {Key("\"HKU\"", ".DEFAULT\\\\Software\\\\Vendor"), {"m: /registry/0/key: \".DEFAULT"}},
        {Key("\"HKU\"", "S-1-5-21-1"), {"m: /registry/0/key: \"S-1-5-21-1\" is not"}},
        {Key("\"HKCR\"", ".jpg"), {"m: /registry/0/key: \".jpg\" is not"}},
        {Key("\"HKCR\"", "http"), {"m: /registry/0/key: \"http\" is not"}},
        {Key("\"HKCR\"", "CLSID"), {"m: /registry/0/key: \"CLSID\" is not"}},
        {Key("\"HKCR\"", "Directory\\\\shell\\\\App"), {"m: /registry/0/key: \"Directory"}},
        {Key("\"HKCR\"", "Wow6432Node\\\\CLSID"), {"m: /registry/0/key: \"Wow6432Node"}},
        {Key("\"HKLM\"", "Software\\\\WOW6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall"), {"m: /registry/0/key: \"Software"}},
        {Key("\"HKLM\"", "\\\\Software"), {"m: /registry/0/key: \"\\\\Software\" begins with a backslash"}},
        {Key("\"HKCU\"", "Control Panel\\\\Desktop"), {"m: /registry/0/key: \"Control Panel"}},
        {Key("\"HKCU\"", "Environment"), {"m: /registry/0/key: \"Environment\" is not"}},
        {Key("\"HKLM\"", "Software\\\\Policies\\\\Vendor"), {"m: /registry/0/key: \"Software\\\\Policies"}},
        {Key("\"HKLM\"", "Software\\\\Microsoft\\\\Office"), {"m: /registry/0/key: \"Software\\\\Microsoft"}},
        {Key("\"HKCU\"", "Software\\\\Classes\\\\.txt"), {"m: /registry/0/key: \"Software\\\\Classes\\\\.txt\" is not"}},
        {Key("\"HKCC\"", "Software\\\\Vendor"), {"m: /registry/0/key: \"Software\\\\Vendor\" is not"}},
        {Key("2147483650", "Software"), {"m: /registry/0/key: \"Software\" is not"}},  // HKLM as a number
        // Windows' own classes and registrations, and roots that are no predefined key.
        {Key("\"HKCR\"", "jpegfile"), {"m: /registry/0/key: \"jpegfile\" is one of Windows' own classes; an installation's own ProgID has a period"}},
        {R"({"registry": [{"root": "HKCR", "key": "Msi.Package"}, {"root": "HKCR", "key": "InternetShortcut\\shell"},
            {"root": "HKCU", "key": "Software\\Classes\\Local Settings"}, {"root": "HKU", "key": "S-1-5-21-1_Classes\\Local Settings\\x"},
            {"root": "HKLM", "key": "Software\\Classes\\WOW6432Node\\Licenses"}, {"root": "HKCR", "key": "Shell.Application"}]})",
         {"m: /registry/0/key: \"Msi.Package\" is one of Windows' own classes", "m: /registry/1/key: \"InternetShortcut\\\\shell\" is one of",
          "m: /registry/2/key: \"Software\\\\Classes\\\\Local Settings\" is one of", "m: /registry/3/key: \"S-1-5-21-1_Classes\\\\Local Settings\\\\x\" is one of",
          "m: /registry/4/key: \"Software\\\\Classes\\\\WOW6432Node\\\\Licenses\" is one of", "m: /registry/5/key: \"Shell.Application\" is one of"}},
        {R"({"registry": [{"root": "HKCR", "key": "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}"},
            {"root": "HKCR", "key": "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}\\shell"},
            {"root": "HKLM", "key": "Software\\Classes\\Interface\\{00000000-0000-0000-C000-000000000046}"},
            {"root": "HKCR", "key": "TypeLib\\{00020430-0000-0000-c000-000000000046}"}]})",
         {"m: /registry/0/key: \"CLSID\\\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}\" is one of Windows' own registrations",
          "m: /registry/1/key: \"CLSID\\\\{645FF040", "m: /registry/2/key: \"Software\\\\Classes\\\\Interface", "m: /registry/3/key: \"TypeLib"}},
        {R"({"registry": [{"root": 2147483655, "key": "Software\\V"}, {"root": 4, "key": "V", "value": "x"}]})",
         {"m: /registry/0/root: 2147483655 is not a predefined key the uninstaller acts on", "m: /registry/1/root: 4 is not"}},
        // What an installation makes is its own; single values may stay anywhere.
        {R"({"registry": [{"root": "HKLM", "key": "Software\\Vendor"}, {"root": "HKCU", "key": "Software\\WOW6432Node\\Vendor\\App"},
            {"root": "HKCR", "key": "CLSID\\{0A1B}"}, {"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App"},
            {"root": "HKU", "key": "S-1-5-21-1\\Software\\Vendor"},
            {"root": "HKCR", "key": ".jpg\\OpenWithProgids", "value": "Vendor.Document.1"},
            {"root": "HKCR", "key": "jpegfile\\shell\\Vendor\\command", "value": ""}, {"root": "HKCR", "key": "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309E}"},
            {"root": "HKCU", "key": "Environment", "value": "VENDOR_HOME"}]})", {}},
        // Keys one for both registry views from Windows 7 on: a 64-bit build of the program may use them too.
        {R"({"registry": [{"root": "HKLM", "key": "Software\\Classes\\TypeLib\\{0A1B}"}, {"root": "HKCR", "key": "AppID\\{0A1B}"},
            {"root": "HKCR", "key": "Vendor.Document.1"}, {"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\app.exe"},
            {"root": "HKU", "key": "S-1-5-21-1_Classes\\Vendor.Doc"}, {"root": "HKCR", "key": "TypeLib\\{0A1B}\\1.0\\0"}]})",
         {"m: /registry/0/key: warning: \"Software\\\\Classes\\\\TypeLib\\\\{0A1B}\" is one key for the 32-bit and the 64-bit registry view "
          "from Windows 7 on, so a 64-bit build of the program may use it too; to remove only the 32-bit registration, name each version's win32 subkey",
          "m: /registry/1/key: warning: \"AppID\\\\{0A1B}\" is one key for the 32-bit and the 64-bit registry view from Windows 7 on, so a 64-bit "
          "build of the program may use it too; to remove only what this installation wrote, give its values with \"value\"",
          "m: /registry/2/key: warning: \"Vendor.Document.1\" is one key",
          "m: /registry/3/key: warning: \"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\app.exe\" is one key",
          "m: /registry/4/key: warning: \"S-1-5-21-1_Classes\\\\Vendor.Doc\" is one key", "m: /registry/5/key: warning: \"TypeLib\\\\{0A1B}\\\\1.0\\\\0\" is one key"}},
        {R"({"registry": [{"root": "HKLM", "key": "Software\\Classes\\CLSID\\{0A1B}"}, {"root": "HKLM", "key": "Software\\Classes\\Interface\\{0A1B}"},
            {"root": "HKCU", "key": "Software\\Classes\\CLSID\\{0A1B}"}, {"root": "HKCR", "key": "TypeLib\\{0A1B}\\1.0\\0\\win32"},
            {"root": "HKCR", "key": "Vendor.Document.1\\shell\\open\\command", "value": ""}]})", {}},
        // Duplicates: a file twice is an error, anything else twice a warning.
        {R"({"files": [{"folder": ".\\bin", "name": "s.dll", "flags": ["shared"]}, {"folder": ".\\BIN", "name": "S.dll", "flags": ["shared"]},
                       {"folder": "${InstallDir}\\bin", "name": "s.dll"}]})",
         {"m: /files/1: names \"${InstallDir}\\\\BIN\\\\S.dll\" again, as /files/0 does; a shared library listed twice",
          "m: /files/2: names \"${InstallDir}\\\\bin\\\\s.dll\" again"}},
        {R"({"patterns": ["logs\\*.log", "LOGS\\*.log"], "registry": [{"root": "HKLM", "key": "Software\\V"}, {"root": 2147483650, "key": "software\\v"}],
            "directories": [{"path": "C:\\A"}, {"path": "c:\\a\\"}]})",
         {"m: /directories/1: warning: names \"c:\\\\a\\\\\" again", "m: /registry/1: warning:", "m: /patterns/1: warning:"}},
        // Names are compared as Windows compares them, beyond ASCII too.
        {R"({"files": [{"folder": ".\\Café", "name": "Ütil.dll", "flags": ["shared"]}, {"folder": ".\\CAFÉ", "name": "ütil.dll", "flags": ["shared"]},
                       {"folder": ".", "name": "ÿ"}, {"folder": ".", "name": "Ÿ"}]})",
         {"m: /files/1: names \"${InstallDir}\\\\CAFÉ\\\\ütil.dll\" again, as /files/0 does; a shared library",
          "m: /files/3: names \"${InstallDir}\\\\Ÿ\" again"}},
        {R"({"codepage": 1253, "files": [{"folder": ".", "name": "Ωμέγα"}, {"folder": ".", "name": "ΩΜΈΓΑ"}]})",
         {"m: /files/1: names \"${InstallDir}\\\\ΩΜΈΓΑ\" again"}},
        // Messages: the placeholders each one takes.
        {R"x({"messages": {"readOnlyPrompt": "%s is read-only (100%%)", "confirm": "Remove 100% of it?", "17": "%d"}})x", {}},
        {R"({"messages": {"readOnlyPrompt": "%d files"}})", {"m: /messages/readOnlyPrompt: holds \"%d\"; this message takes one path, as \"%s\""}},
        {R"({"messages": {"9": "%s and %s"}})", {"m: /messages/9: holds \"%s\"; this message takes one path"}},
        {R"({"messages": {"confirm": "Remove %s?"}})", {"m: /messages/confirm: holds \"%s\", but this message takes no argument"}},
        {R"({"messages": {"finished": "%d files removed"}})", {"m: /messages/finished: holds \"%d\", but this message takes no argument"}},
        {R"({"messages": {"caption": "a\u0000b"}})", {"m: /messages/caption: the text contains a NUL"}},
        {R"({"messages": {"7": "a", "outOfMemory": "b"}})", {"m: /messages/outOfMemory: message 7 is already set"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> starts = Errors(row.manifest);
        for (size_t i = 0; i < starts.size() && i < row.errors.size(); ++i) starts[i].resize(row.errors[i].size());
        EXPECT_EQ(starts, row.errors) << row.manifest.substr(0, 200);
    }
}

// Two spellings that Windows takes for one name, and some that it does not.
TEST(Names, CompareAsWindowsFoldsTheirCase) {
    const struct { const char* a; const char* b; bool same; } rows[] = {
        {"Café", "CAFÉ", true}, {"ÿ", "Ÿ", true}, {"ǆ", "ǅ", false}, {"ą", "Ą", true}, {"ĺ", "Ĺ", true}, {"ς", "Σ", true},
        {"ώ", "Ώ", true}, {"ё", "Ё", true}, {"ӂ", "Ӂ", true}, {"ա", "Ա", true}, {"ạ", "Ạ", true}, {"ⅰ", "Ⅰ", true},
        {"ⓐ", "Ⓐ", true}, {"ａｚ", "ＡＺ", true}, {"ß", "SS", false}, {"a", "ａ", false}, {"µ", "Μ", false}, {"÷", "×", false},
    };
    for (const auto& row : rows) EXPECT_EQ(NormalPath(row.a) == NormalPath(row.b), row.same) << row.a << " " << row.b;
}

// A wrong name would survive build, dump and build unchanged, so the numbers
// the uninstaller acts on are pinned here.
TEST(Manifest, NamesBecomeTheNumbersTheUninstallerReads) {
    Manifest manifest;
    EXPECT_EQ(Errors(R"({"files": [{"folder": ".", "name": "a", "flags": ["shared"]}, {"folder": ".", "name": "b", "flags": ["font"]},
        {"folder": ".", "name": "c", "flags": ["comServer"]}, {"folder": ".", "name": "d", "flags": ["checkInUse", 16]}],
      "registry": [{"root": "HKCR", "key": "CLSID\\K"}, {"root": "HKCU", "key": "Software\\K"}, {"root": "HKLM", "key": "Software\\K"},
        {"root": "HKEY_USERS", "key": "K", "value": ""}, {"root": "HKCC", "key": "A\\B", "value": "v"}],
      "options": {"waitForProgram": true}, "messages": {"confirm": "Sure?"}})", &manifest),
              std::vector<std::string>());
    const PackData& data = manifest.data;
    std::vector<uint32_t> numbers;
    for (const PackFile& file : data.files) numbers.push_back(file.flags);
    for (const PackRegistry& entry : data.registry) numbers.push_back(entry.root);
    numbers.push_back(data.options.flags);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 2, 4, 24, 0x80000000, 0x80000001, 0x80000002, 0x80000003,
                                              0x80000005, 1}));
    EXPECT_EQ(data.registry[3].path, "K\\\\");  // the key's default value
    EXPECT_EQ(data.registry[4].path, "A\\B\\\\v");
    EXPECT_EQ(data.messages[1], "Sure?");
    // The uninstaller puts the path into these.
    for (int index : {7, 8, 9, 10}) EXPECT_NE(data.messages[index].find("%s"), std::string::npos) << index;
}

// A variable's value goes in as it stands, before the limits; "$${" is the text "${".
TEST(Manifest, VariablesAreReplacedAsTheyStandBeforeTheLimits) {
    ManifestContext context;
    context.variables = {{"InstallDir", "C:\\A b"}, {"Long", std::string(252, 'v')}};
    Manifest manifest;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadManifest(R"({"files": [{"folder": "${InstallDir}\\x", "name": "$${Long}"}]})", "m", &manifest, &errors, context));
    EXPECT_EQ(manifest.data.files[0].folder + "|" + manifest.data.files[0].name, "C:\\A b\\x|${Long}");
    EXPECT_FALSE(LoadManifest(R"({"files": [{"folder": ".\\${Long}", "name": "x"}, {"folder": "${Nope}"}]})", "m", &manifest, &errors, context));
    EXPECT_EQ(errors[0].substr(0, 40), "m: /files/0: the file's path \"C:\\\\A b\\\\v");
    EXPECT_EQ(errors[0].substr(errors[0].size() - 73), "is 261 bytes in code page 1252; the uninstaller's limit for a path is 259");
    EXPECT_EQ(errors[1], "m: /files/1/folder: the variable ${Nope} is not set; give it with -D Nope=VALUE");
}

TEST(CodePages, KnownCharactersBecomeTheirBytes) {
    const struct { int page; const char* utf8; std::string bytes; } rows[] = {
        {874, "ก", "\xA1"}, {1250, "ő", "\xF5"}, {1251, "Ж", "\xC6"}, {1252, "€Ü\u0081", "\x80\xDC\x81"},
        {1253, "Ω", "\xD9"}, {1254, "ş", "\xFE"}, {1255, "א", "\xE0"}, {1256, "پ", "\x81"},
        {1257, "ž", "\xFE"}, {1258, "ơ", "\xF5"},
        // Two bytes a character, the second possibly a backslash byte; where
        // glibc writes other bytes than Windows (950's ═), Windows' count.
        {932, "ソ表田中～機", "\x83\x5C\x95\x5C\x93\x63\x92\x86\x81\x60\x8B\x40"}, {936, "€中文", "\x80\xD6\xD0\xCE\xC4"},
        {949, "한국", "\xC7\xD1\xB1\xB9"}, {950, "許功═", "\xB3\x5C\xA5\x5C\xF9\xF9"},
    };
    for (const auto& row : rows) {
        std::string bytes, error, utf8;
        EncodeText(row.utf8, row.page, &bytes, &error);
        EXPECT_EQ(bytes, row.bytes) << row.page << ": " << error;
        EXPECT_TRUE(DecodeText(row.bytes, row.page, &utf8, &error)) << row.page << ": " << error;
        EXPECT_EQ(utf8, row.utf8) << row.page;
    }
}

// Windows writes no bytes for these (or reads them back as another
// character), while glibc's converters have a one-way mapping for some: ¥ to
// the backslash byte, — to 0x81 0x5C, 〜 to the bytes of ～. Refused, never
// written. So are bytes that are no character, or not as Windows writes it
// (932's NEC duplicate 0xED 0x40 of 0xFA 0x5C).
TEST(CodePages, WhatWouldNotReadBackAsItselfIsRefused) {
    const struct { int page; const char* utf8; const char* error; } texts[] = {
        {932, "C:\\¥", "character U+00A5 (¥) cannot be written in code page 932"}, {932, "a〜b", "character U+301C (〜)"},
        {932, "—", "character U+2014 (—)"}, {932, "¢", "character U+00A2"}, {932, "‖", "character U+2016"},
        {932, "−", "character U+2212"}, {932, "‾", "character U+203E"}, {932, "한", "character U+D55C"},
        {936, "\uE000", "character U+E000"}, {950, "简", "character U+7B80"}, {1252, "ソ", "character U+30BD"},
        {932, "\xE3\x82", "the text is not valid UTF-8"},
    };
    for (const auto& row : texts) {
        std::string bytes = "unchanged", error;
        EXPECT_FALSE(EncodeText(row.utf8, row.page, &bytes, &error)) << row.utf8;
        EXPECT_EQ(error.substr(0, std::string(row.error).size()), row.error);
        EXPECT_EQ(bytes, "unchanged");
    }
    const struct { int page; std::string bytes; const char* error; } data[] = {
        {932, "ab\x83", "the bytes at offset 2 are no character of code page 932"}, {932, "\xED\x40", "the bytes at offset 0"},
        {949, "a\xC7\x20", "the bytes at offset 1"}, {950, "\xA5", "the bytes at offset 0"},
    };
    for (const auto& row : data) {
        std::string utf8, error;
        EXPECT_FALSE(DecodeText(row.bytes, row.page, &utf8, &error));
        EXPECT_EQ(error.substr(0, std::string(row.error).size()), row.error);
    }
}

// Every built-in table: all messages, "%s" where English has it and no other
// "%", every text in the language's code page, and button texts that fit the
// read-only prompt's 50-unit buttons: 14 characters in the dialog's font
// (seen in screenshots; 16 did not). Built, a table dumps as its language.
TEST(Languages, EveryTableIsWholeFitsItsCodePageAndButtonsAndDumpsByName) {
    const std::vector<std::string>& english = BuiltInLanguages()[0].messages;
    auto percents = [](const std::string& text) { return std::count(text.begin(), text.end(), '%'); };
    for (const Language& language : BuiltInLanguages()) {
        ASSERT_EQ(english.size(), language.messages.size()) << language.tag;
        for (size_t i = 0; i < english.size(); ++i) {
            const std::string& text = language.messages[i];
            std::string bytes, error;
            EXPECT_TRUE(EncodeText(text, language.codePage, &bytes, &error)) << language.tag << ": " << error;
            EXPECT_EQ(percents(english[i]), percents(text)) << language.tag << " " << MessageNames[i];
            EXPECT_EQ(english[i].find("%s") == std::string::npos, text.find("%s") == std::string::npos) << language.tag;
            if (i >= 3 && i <= 6) EXPECT_LE(bytes.size(), 14u) << language.tag << " " << text;
        }
        Manifest manifest;
        std::string json, error;
        ASSERT_EQ(Errors(R"({"language": ")" + language.tag + "\"}", &manifest), std::vector<std::string>());
        EXPECT_EQ(manifest.codePage, language.codePage);
        // The code page too is found from the table when the dump is not given one.
        for (int page : {manifest.codePage, 0}) {
            ASSERT_TRUE(DumpManifest(manifest.data, page, &json, &error)) << error;
            EXPECT_EQ(json, "{\n  \"codepage\": " + std::to_string(language.codePage) + ",\n  \"language\": \"" + language.tag + "\"\n}\n");
        }
        // A table that differs in a few texts is the language and those texts.
        manifest.data.messages[1] = "?";
        ASSERT_TRUE(DumpManifest(manifest.data, 0, &json, &error)) << error;
        EXPECT_EQ(json, "{\n  \"codepage\": " + std::to_string(language.codePage) + ",\n  \"language\": \"" + language.tag +
                            "\",\n  \"messages\": {\n    \"confirm\": \"?\"\n  }\n}\n");
    }
    std::vector<std::string> errors = Errors(R"({"language": "ru", "codepage": 1252})");
    ASSERT_EQ(errors.size(), english.size());
    EXPECT_EQ(errors[0], "m: /language: message caption: character U+0423 (У) cannot be written in code page 1252");
}

// "auto": where uninstpack.exe makes the uninstaller, the table of the system
// locale among those in the ANSI code page, and every text in that code page
// whatever the manifest says; a fixed table that cannot be written there
// gives way to English. Here, without a machine, English with a warning.
TEST(Languages, AutoAndTheMachinesCodePage) {
    const struct { const char* locale; int page; const char* tag; } locales[] = {
        {"ja-JP", 932, "ja"}, {"zh-CN", 936, "zh-CN"}, {"zh-SG", 936, "zh-CN"}, {"zh-TW", 950, "zh-TW"}, {"zh-HK", 950, "zh-TW"},
        {"ko-KR", 949, "ko"}, {"pt-PT", 1252, "pt-PT"}, {"pt-AO", 1252, "pt-BR"}, {"ru-RU", 1251, "ru"}, {"ja-JP", 1252, "en"},
        {"de-DE", 932, "en"}, {"th-TH", 874, "en"}, {"", 1250, "en"},
    };
    for (const auto& row : locales) EXPECT_EQ(LanguageForLocale(row.locale, row.page)->tag, row.tag) << row.locale << " " << row.page;

    // Warnings first, then errors; false when the manifest does not load.
    Manifest manifest;
    std::vector<std::string> notes, errors;
    auto load = [&](const std::string& text, ManifestContext context) {
        notes.clear(), errors.clear();
        context.warnings = &notes;
        const bool loaded = LoadManifest(text, "m", &manifest, &errors, context);
        notes.insert(notes.end(), errors.begin(), errors.end());
        return loaded;
    };
    EXPECT_TRUE(load(R"({"language": "auto"})", ManifestContext()));
    EXPECT_EQ(notes, std::vector<std::string>{
        "m: /language: warning: \"auto\" is the language of the machine where uninstpack.exe makes the uninstaller; here it is English"});
    EXPECT_EQ(manifest.data.messages, BuiltInLanguages()[0].messages);
    EXPECT_EQ(manifest.codePage, 1252);

    ManifestContext machine;
    machine.machineCodePage = 932;
    machine.machineLocale = "ja-JP";
    machine.variables["InstallDir"] = "C:\\ソフト";
    const struct { std::string manifest; const char* tag; std::vector<std::string> notes; } rows[] = {
        {R"({"language": "auto"})", "ja", {}},
        {R"({"language": "de"})", "en", {"m: /language: warning: the de table cannot be written in this machine's ANSI code page 932; the uninstaller speaks English"}},
        {R"({"language": "ru", "codepage": 1251})", "en", {"m: /codepage: warning: written in this machine's ANSI code page 932, not 1251", "m: /language: warning: the ru table"}},
        {R"({"language": "de", "messages": {"caption": "Löschen"}})", "", {"m: /language: warning: the de table", "m: /messages/caption: character U+00F6 (ö) cannot be written in code page 932"}},
    };
    for (const auto& row : rows) {
        const bool loaded = load(row.manifest, machine);
        for (size_t i = 0; i < notes.size() && i < row.notes.size(); ++i) notes[i].resize(row.notes[i].size());
        EXPECT_EQ(notes, row.notes) << row.manifest;
        if (!*row.tag) continue;
        ASSERT_TRUE(loaded) << row.manifest;
        EXPECT_EQ(manifest.codePage, 932);
        std::string caption, error;
        EncodeText(FindLanguage(row.tag)->messages[0], 932, &caption, &error);
        EXPECT_EQ(manifest.data.messages[0], caption) << row.manifest;
    }
    // Paths too: the machine's folders hold its letters.
    ASSERT_TRUE(load(R"({"language": "auto", "files": [{"folder": "${InstallDir}\\表示", "name": "a"}]})", machine));
    EXPECT_EQ(manifest.data.files[0].folder, "C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\x8E\xA6");
}

// The dump reads registry entries by characters, as the uninstaller does:
// "Software\表\B" is a whole key, though its bytes hold a doubled 0x5C
// before B (read byte by byte, a value B of "Software\表"). Data in 932
// dumps and builds back to the same bytes; bytes of no character fail.
TEST(CodePages, DoubleByteDataDumpsAndBuildsTheSame) {
    PackData data;
    data.messages = DefaultMessages();
    data.files = {{"C:\\\x83\x5C\x83\x74\x83\x67", "\x8B\x40\x94\x5C.dll", 0}};
    data.registry = {{0x80000001u, "Software\\\x83\x5C\x83\x74\x83\x67\\\\\x83\x74"}};
    std::string json, error;
    ASSERT_TRUE(DumpManifest(data, 932, &json, &error)) << error;
    EXPECT_NE(json.find(R"("key": "Software\\ソフト",)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("value": "フ")"), std::string::npos) << json;
    Manifest manifest;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadManifest(json, "dump", &manifest, &errors)) << errors[0];
    EXPECT_EQ(manifest.data.files[0].folder + manifest.data.files[0].name, data.files[0].folder + data.files[0].name);
    EXPECT_EQ(manifest.data.registry[0].path, data.registry[0].path);
    data.registry = {{0x80000001u, "Software\\\x95\x5C\\B"}};
    ASSERT_TRUE(DumpManifest(data, 932, &json, &error)) << error;
    EXPECT_NE(json.find("\"key\": \"Software\\\\表\\\\B\"\n"), std::string::npos) << json;
    data.files[0].name = "\x83";
    EXPECT_FALSE(DumpManifest(data, 932, &json, &error));
    EXPECT_EQ(error, "the data is not in code page 932: the bytes at offset 0 are no character of code page 932 as Windows writes it; "
                     "give its code page with --codepage");
}
