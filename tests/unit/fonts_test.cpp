// The font full-name reader on crafted and damaged files.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "removal/fonts.h"
#include "sfnt_builder.h"

static std::string ReadName(const std::string& file) {
    char folder[MAX_PATH], path[MAX_PATH], name[FontNameSize];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "fnt", 0, path);
    std::ofstream(path, std::ios::binary) << file;
    ReadFontFullName(path, name, sizeof name);
    DeleteFileA(path);
    return name;
}

// The last platform 1 record with name id 4, its bytes as they stand; a name
// that leaves no room for " (TrueType)" is none, and so is a truncated file.
TEST(FontName, CraftedFilesYieldTheExpectedName) {
    const std::string full = "Sample Sans Bold", longest(FontNameSize - 12, 'x');  // 508 + 11 + 1 = 520
    const std::string plain = BuildTrueTypeFont({MacFullName(full)});
    const std::pair<std::string, std::string> cases[] = {
        {plain, full},
        {BuildTrueTypeFont({{1, 0, 0, 1, "Sample Sans"}, MacFullName(full), {1, 0, 0, 1, "Sample"}}), full},
        // 0x8E is e-acute in Mac Roman: no conversion happens.
        {BuildTrueTypeFont({WindowsName(4, "Windows"), {1, 1, 11, 4, "Caf\x8e Sans"}}), "Caf\x8e Sans"},
        {BuildTrueTypeFont({WindowsName(4, full), {0, 3, 0, 4, "Unicode"}, {2, 0, 0, 4, "Iso"}}), ""},
        {BuildTrueTypeFont({MacFullName("First"), MacFullName("")}), ""},
        {BuildTrueTypeFont({MacFullName(longest)}), longest},
        {BuildTrueTypeFont({MacFullName(longest + "x")}), ""},
        {plain.substr(0, plain.find(full) + 4), ""},  // cut inside the name
        {plain.substr(0, 30), ""},                    // cut inside the table directory
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, ReadName(c.first)) << c.second;
}
