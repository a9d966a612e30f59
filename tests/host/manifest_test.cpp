// Manifest to data: what authors write, what it becomes, and how a mistake is
// reported (file, line and column or JSON pointer, value and limit).
#include "manifest.h"
#include "test_support.h"

namespace {

Manifest Load(const std::string& text) {
    Manifest manifest;
    std::vector<std::string> errors;
    EXPECT_TRUE(LoadManifest(text, "m.json", &manifest, &errors)) << ::testing::PrintToString(errors);
    return manifest;
}

std::vector<std::string> Errors(const std::string& text) {
    Manifest manifest;
    std::vector<std::string> errors;
    EXPECT_FALSE(LoadManifest(text, "m.json", &manifest, &errors));
    return errors;
}

// The single error of a manifest with exactly one mistake.
std::string Error(const std::string& text) {
    std::vector<std::string> errors = Errors(text);
    EXPECT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
    return errors.empty() ? std::string() : errors[0];
}

std::string Repeat(const std::string& text, int count) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

}  // namespace

TEST(Manifest, DefaultsGiveTheEnglishTableAndNoOptions) {
    const Manifest manifest = Load("{}");
    EXPECT_EQ(manifest.codePage, 1252);
    EXPECT_EQ(manifest.data.messages, DefaultMessages());
    EXPECT_FALSE(manifest.data.options.present);
    // The texts that report a path must have a place for it.
    for (int index : {7, 8, 9, 10}) EXPECT_NE(DefaultMessages()[index].find("%s"), std::string::npos) << index;
    for (const std::string& text : DefaultMessages()) EXPECT_FALSE(text.empty());
}

TEST(Manifest, MessagesByNameOrIndexAndTheTableGrowsWithGaps) {
    const Manifest manifest = Load(R"({"messages": {"confirm": "Sure?", "5": "Nein", "18": "extra"}})");
    const std::vector<std::string>& messages = manifest.data.messages;
    ASSERT_EQ(messages.size(), 19u);
    EXPECT_EQ(messages[1], "Sure?");
    EXPECT_EQ(messages[5], "Nein");
    EXPECT_EQ(messages[0], "Uninstall");
    EXPECT_EQ(messages[16], "");
    EXPECT_EQ(messages[18], "extra");
}

TEST(Manifest, FlagsRootsRegistryValuesAndOptions) {
    const PackData data = Load(R"({
      "files": [{"folder": ".", "name": "a", "flags": ["shared", "checkInUse"]},
                {"folder": ".", "flags": ["font", 16]}, {"folder": ".", "flags": 48}],
      "registry": [{"root": "HKEY_CLASSES_ROOT", "key": "K"}, {"root": "HKCC", "key": "K", "value": ""},
                   {"root": 7, "key": "A\\B", "value": "v"}],
      "options": {"themedControls": true, "document": "readme.txt"}})").data;
    EXPECT_EQ(data.files[0].flags, 9);
    EXPECT_EQ(data.files[1].flags, 18);
    EXPECT_EQ(data.files[2].flags, 48);
    EXPECT_EQ(data.registry[0].root, 0x80000000u);
    EXPECT_EQ(data.registry[1].root, 0x80000005u);
    EXPECT_EQ(data.registry[1].path, "K\\\\");  // the key's default value
    EXPECT_EQ(data.registry[2].root, 7u);
    EXPECT_EQ(data.registry[2].path, "A\\B\\\\v");
    EXPECT_TRUE(data.options.present);
    EXPECT_EQ(data.options.flags, 2u);
    EXPECT_EQ(data.options.program, "");
    EXPECT_EQ(data.options.document, "readme.txt");
}

TEST(Manifest, LimitsCountCodePageBytesAndAllowExactlyTheLimit) {
    // "é" is two bytes in UTF-8 but one in 1252: 259 + 259 = 518 fits.
    const std::string e259 = Repeat("é", 259);
    const PackData data = Load(R"({"files": [{"folder": ")" + e259 + R"(", "name": ")" + e259 + R"("}],
        "directories": [{"path": ")" + Repeat("p", 777) + R"("}],
        "registry": [{"root": "HKLM", "key": ")" + Repeat("k", 510) + R"(", "value": "vvvvvvv"}]})").data;
    EXPECT_EQ(data.files[0].folder.size() + data.files[0].name.size(), 518u);
    EXPECT_EQ(data.registry[0].path.size(), 519u);

    EXPECT_EQ(Error(R"({"files": [{"folder": "x"}, {"folder": ")" + e259 + R"(", "name": ")" + e259 + R"(x"}]})"),
              "m.json: /files/1: folder and name are 519 bytes in code page 1252; the limit is 518");
    EXPECT_EQ(Error(R"({"directories": [{"path": ")" + Repeat("p", 700) + R"(", "altPath": ")" + Repeat("a", 78) +
                    R"("}]})"),
              "m.json: /directories/0: path, altPath and fileName are 778 bytes in code page 1252; the limit is 777");
    EXPECT_EQ(Error(R"({"registry": [{"root": "HKLM", "key": ")" + Repeat("k", 520) + R"("}]})"),
              "m.json: /registry/0: the key is 520 bytes in code page 1252; the limit is 519");
    EXPECT_EQ(Error(R"({"messages": {"caption": ")" + Repeat("c", 65536) + R"("}})"),
              "m.json: /messages/caption: the text is 65536 bytes in code page 1252; the limit is 65535");
}

TEST(ManifestErrors, SyntaxErrorGivesLineAndColumn) {
    const std::string error = Error("{\n  \"files\": [\n    {\"folder\": \".\",}\n  ]\n}\n");
    EXPECT_EQ(error.rfind("m.json:3:20: ", 0), 0u) << error;
}

TEST(ManifestErrors, UnknownKeysAreNamedByTheirPath) {
    EXPECT_EQ(Error(R"({"files": [{"folder": "."}, {"folder": ".", "nmae": "a"}]})"),
              "m.json: /files/1/nmae: unknown key \"nmae\"; expected one of folder, name, flags");
    EXPECT_EQ(Error(R"({"option": {}})").rfind("m.json: /option: unknown key", 0), 0u);
}

TEST(ManifestErrors, TextsTheUninstallerCannotHold) {
    EXPECT_EQ(Error(R"({"files": [{"folder": ".", "name": "中"}]})"),
              "m.json: /files/0/name: character U+4E2D (中) cannot be written in code page 1252");
    EXPECT_NE(Error(R"({"codepage": 1251, "patterns": ["é"]})").find("/patterns/0: character U+00E9"),
              std::string::npos);
    EXPECT_NE(Error(R"({"messages": {"caption": "a\u0000b"}})").find("/messages/caption: the text contains a NUL"),
              std::string::npos);
    EXPECT_NE(Error(R"({"codepage": 437})").find("/codepage: code page 437 is not supported; use one of 874"),
              std::string::npos);
}

TEST(ManifestErrors, MessageIndexGivenTwice) {
    EXPECT_EQ(Error(R"({"messages": {"7": "a", "outOfMemory": "b"}})"),
              "m.json: /messages/outOfMemory: message 7 is already set by \"7\"");
    EXPECT_EQ(Error(R"({"messages": {"caption": "a", "caption": "b"}})"),
              "m.json: /messages/caption: the key occurs more than once in its object");
    EXPECT_NE(Error(R"({"messages": {"65535": "a"}})").find("unknown message"), std::string::npos);
    const std::vector<std::string> errors = Errors(R"({"files": [5, {"folder": ".", "folder": "."}]})");
    EXPECT_EQ(errors.at(0), "m.json: /files/1/folder: the key occurs more than once in its object");
}

TEST(ManifestErrors, RegistryEntriesThatWouldBeMisread) {
    EXPECT_NE(Error(R"({"registry": [{"root": "HKXX", "key": "K"}]})").find("/registry/0/root: unknown root key \"HKXX\""),
              std::string::npos);
    EXPECT_NE(Error(R"({"registry": [{"root": "HKLM", "key": "A\\\\B"}]})").find("/registry/0/key: the last backslash is doubled"),
              std::string::npos);
    EXPECT_NE(Error(R"({"registry": [{"root": "HKLM", "key": "A", "value": "x\\y"}]})").find("/registry/0/value:"),
              std::string::npos);
    EXPECT_NE(Error(R"({"registry": [{"root": "HKLM", "key": ""}]})").find("/registry/0/key: must not be empty"),
              std::string::npos);
}

TEST(ManifestErrors, NumbersOutOfRange) {
    EXPECT_EQ(Error(R"({"directories": [{"path": "C:\\x", "levels": 256}]})"),
              "m.json: /directories/0/levels: 256 is above the limit 255");
    EXPECT_NE(Error(R"({"directories": [{"path": "C:\\x", "levels": -1}]})").find("not -1"), std::string::npos);
    EXPECT_NE(Error(R"({"files": [{"folder": ".", "flags": ["font", "hidden"]}]})").find("/files/0/flags/1: unknown flag"),
              std::string::npos);
}

TEST(ManifestErrors, EveryErrorIsReportedNotJustTheFirst) {
    const std::vector<std::string> errors = Errors(R"({"files": [{"name": "a"}], "patterns": [""],
        "directories": [{"path": "C:\\x", "levels": 300}]})");
    ASSERT_EQ(errors.size(), 3u) << ::testing::PrintToString(errors);
    EXPECT_EQ(errors[0], "m.json: /files/0: the required key \"folder\" is missing");
    EXPECT_EQ(errors[1].rfind("m.json: /directories/0/levels:", 0), 0u);
    EXPECT_EQ(errors[2].rfind("m.json: /patterns/0: must not be empty", 0), 0u);
}
