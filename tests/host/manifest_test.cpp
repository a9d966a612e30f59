// The manifest as authors write it: what it becomes, and how each mistake is
// reported. The code pages too, since every manifest text goes through one.
#include <gtest/gtest.h>

#include "codepage.h"
#include "languages.h"
#include "manifest.h"

namespace {

// Every error of a manifest; none when it loads.
std::vector<std::string> Errors(const std::string& text, Manifest* manifest = nullptr) {
    Manifest ignored;
    std::vector<std::string> errors;
    LoadManifest(text, "m", manifest ? manifest : &ignored, &errors);
    return errors;
}

// The text with its '%' replaced by `count` letters "é": two bytes in UTF-8,
// one in code page 1252, so a limit counted in the wrong bytes shows.
std::string Fill(std::string text, size_t count) {
    std::string run;
    while (count-- > 0) run += "é";
    return text.replace(text.find('%'), 1, run);
}

}  // namespace

TEST(Manifest, EveryMistakeIsReportedAtItsJsonPointer) {
    const struct { std::string manifest; std::vector<std::string> errors; } rows[] = {  // each error's start
        // The uninstaller refuses longer entries as damaged data, so the limit
        // must hold exactly, in code-page bytes.
        {Fill(R"({"files": [{"folder": ".a", "name": "%"}]})", 516), {}},
        {Fill(R"({"files": [{"folder": ".a", "name": "%"}]})", 517),
         {"m: /files/0: folder and name are 519 bytes in code page 1252; the limit is 518"}},
        {Fill(R"({"directories": [{"path": "\\\\", "altPath": "\\\\", "fileName": "%"}]})", 773), {}},
        {Fill(R"({"directories": [{"path": "\\\\", "altPath": "\\\\", "fileName": "%"}]})", 774),
         {"m: /directories/0: path, altPath and fileName are 778 bytes in code page 1252; the limit is 777"}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "%"}]})", 519), {}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "%"}]})", 520),
         {"m: /registry/0: the key is 520 bytes in code page 1252; the limit is 519"}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "k", "value": "%"}]})", 516), {}},
        {Fill(R"({"registry": [{"root": "HKLM", "key": "k", "value": "%"}]})", 517),
         {"m: /registry/0: key, the two backslashes and value are 520 bytes in code page 1252; the limit is 519"}},
        {"{\n  \"files\": [\n    {\"folder\": \".\",}\n  ]\n}", {"m:3:20: "}},
        {R"({"files": [{"folder": "."}, {"folder": ".", "nmae": "a"}]})",
         {"m: /files/1/nmae: unknown key \"nmae\"; expected one of folder, name, flags"}},
        {R"({"files": [{"folder": ".", "folder": "."}]})", {"m: /files/0/folder: the key occurs more than once"}},
        {R"({"files": [{"name": "a"}, {"folder": ".", "flags": ["font", "hidden"]}], "patterns": [""],
            "directories": [{"path": "C:\\x", "levels": 256}]})",
         {"m: /files/0: the required key \"folder\" is missing", "m: /files/1/flags/1: unknown flag \"hidden\"",
          "m: /directories/0/levels: 256 is above the limit 255", "m: /patterns/0: must not be empty"}},
        {R"({"files": [{"folder": ".", "name": "中"}]})",
         {"m: /files/0/name: character U+4E2D (中) cannot be written in code page 1252"}},
        {R"({"messages": {"caption": "a\u0000b"}})", {"m: /messages/caption: the text contains a NUL"}},
        {R"({"messages": {"7": "a", "outOfMemory": "b"}})", {"m: /messages/outOfMemory: message 7 is already set"}},
        // Registry entries the uninstaller would read as something else.
        {R"({"registry": [{"root": "HKLM", "key": "A\\\\B"}]})", {"m: /registry/0/key: the last backslash is doubled"}},
        {R"({"registry": [{"root": "HKLM", "key": "A", "value": "x\\y"}]})",
         {"m: /registry/0/value: a value name cannot contain a backslash"}},
        {R"({"registry": [{"root": "HKLM", "key": ""}]})", {"m: /registry/0/key: must not be empty"}},
        {R"({"language": "pt"})", {"m: /language: unknown language \"pt\"; use one of en, de, fr, es, it, pt-BR, pt-PT,"}},
        // What would act somewhere the author did not mean.
        {R"({"files": [{"folder": "${Nope}"}, {"folder": "bin"}], "directories": [{"path": "logs"}]})",
         {"m: /files/0/folder: the variable ${Nope} is not set", "m: /files/1/folder: \"bin\" is neither \".\" nor a full path",
          "m: /directories/0/path: \"logs\" is not a full path"}},
        {R"({"patterns": ["C:\\abs\\*.log", "${x"], "registry": [{"root": "HKCR", "key": "Software\\Classes\\CLSID\\"}]})",
         {"m: /registry/0/key: \"Software\\\\Classes\\\\CLSID\\\\\" is a key that many programs share",
          "m: /patterns/0: \"C:\\\\abs\\\\*.log\" is a full path without a folder token", "m: /patterns/1: \"${\" does not begin"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> starts = Errors(row.manifest);
        for (size_t i = 0; i < starts.size() && i < row.errors.size(); ++i) starts[i].resize(row.errors[i].size());
        EXPECT_EQ(starts, row.errors);
    }
}

// A wrong name would survive build, dump and build unchanged, so the numbers
// the uninstaller acts on are pinned here.
TEST(Manifest, NamesBecomeTheNumbersTheUninstallerReads) {
    Manifest manifest;
    EXPECT_EQ(Errors(R"({"files": [{"folder": ".", "flags": ["shared"]}, {"folder": ".", "flags": ["font"]},
        {"folder": ".", "flags": ["comServer"]}, {"folder": ".", "flags": ["checkInUse", 16]}],
      "registry": [{"root": "HKCR", "key": "K"}, {"root": "HKCU", "key": "K"}, {"root": "HKLM", "key": "K"},
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
    context.variables = {{"InstallDir", "C:\\A b\\"}, {"Long", std::string(260, 'v')}};
    Manifest manifest;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadManifest(R"({"files": [{"folder": "${InstallDir}x", "name": "$${Long}"}]})", "m", &manifest, &errors, context));
    EXPECT_EQ(manifest.data.files[0].folder + "|" + manifest.data.files[0].name, "C:\\A b\\x|${Long}");
    EXPECT_FALSE(LoadManifest(R"({"files": [{"folder": "C:\\${Long}", "name": "${Long}"}]})", "m", &manifest, &errors, context));
    EXPECT_EQ(errors.back(), "m: /files/0: folder and name are 523 bytes in code page 1252; the limit is 518");
}

TEST(CodePages, KnownCharactersBecomeTheirBytes) {
    const struct { int page; const char* utf8; std::string bytes; } rows[] = {
        {874, "ก", "\xA1"}, {1250, "ő", "\xF5"}, {1251, "Ж", "\xC6"}, {1252, "€Ü\u0081", "\x80\xDC\x81"},
        {1253, "Ω", "\xD9"}, {1254, "ş", "\xFE"}, {1255, "א", "\xE0"}, {1256, "پ", "\x81"},
        {1257, "ž", "\xFE"}, {1258, "ơ", "\xF5"},
    };
    for (const auto& row : rows) {
        std::string bytes, error;
        EncodeText(row.utf8, row.page, &bytes, &error);
        EXPECT_EQ(bytes, row.bytes) << row.page << ": " << error;
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
        ASSERT_TRUE(DumpManifest(manifest.data, manifest.codePage, &json, &error)) << error;
        EXPECT_EQ(json, "{\n  \"codepage\": " + std::to_string(language.codePage) + ",\n  \"language\": \"" + language.tag + "\"\n}\n");
    }
    std::vector<std::string> errors = Errors(R"({"language": "ru", "codepage": 1252})");
    ASSERT_EQ(errors.size(), english.size());
    EXPECT_EQ(errors[0], "m: /language: message caption: character U+0423 (У) cannot be written in code page 1252");
}
