// The stub as built: its data locator and its resources.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "scenario.h"
#include "stub.h"

namespace {

TEST(Stub, LocatorIsUniqueAndHoldsTheStubsOwnSize) {
    std::string image = ReadWholeFile(BinFolder() + "uninst.exe");
    ASSERT_FALSE(image.empty());
    size_t at = 0;
    std::string error;
    ASSERT_TRUE(FindDataLocator(image, &at, &error)) << error;
    EXPECT_EQ(image.size(), ReadDataOffset(image, at));
}

class Resources : public testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExA((BinFolder() + "uninst.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module);
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    std::string Load(LPCSTR type, int id) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        if (!found) return "";
        const char* bytes = (const char*)LockResource(LoadResource(module, found));
        return std::string(bytes, SizeofResource(module, found));
    }
    HMODULE module = nullptr;
};

TEST_F(Resources, ManifestAsksForAdministratorAndCommonControls6) {
    std::string manifest = Load(MAKEINTRESOURCEA(24), 1);
    for (const char* part : {"name=\"UninstallProgram\"", "Uninstall Program", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\"", "level=\"requireAdministrator\" uiAccess=\"false\""})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

TEST_F(Resources, IconGroup800HasImages) {
    std::string group = Load(RT_GROUP_ICON, 800);
    ASSERT_GE(group.size(), 6u);
    EXPECT_GE(*(const WORD*)(group.data() + 4), 1);
    EXPECT_NE(nullptr, LoadIconA((HINSTANCE)module, MAKEINTRESOURCEA(800)));
}

// A control of a template as one line: id, class (lower case, the predefined
// atoms as their names), text, style and position.
std::string Control(WORD id, const std::string& className, const std::string& text, DWORD style, short x, short y, short cx, short cy) {
    char rest[64];
    snprintf(rest, sizeof rest, "\" %08lX %d,%d,%d,%d", (unsigned long)style, x, y, cx, cy);
    return std::to_string(id) + " " + className + " \"" + text + rest;
}

struct ParsedTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    WORD pointSize = 0;
    std::string font, caption;
    std::vector<std::string> controls;
};

// Reads a classic dialog template: header, menu, class, caption, font, items.
ParsedTemplate ParseTemplate(const std::string& bytes) {
    ParsedTemplate parsed;
    const DLGTEMPLATE* header = (const DLGTEMPLATE*)bytes.data();
    parsed.style = header->style;
    parsed.cx = header->cx;
    parsed.cy = header->cy;
    const WORD* at = (const WORD*)(header + 1);
    auto readText = [&at]() {
        std::string text;
        if (*at == 0xFFFF) {
            text = "#" + std::to_string(at[1]);
            at += 2;
            return text;
        }
        while (*at) text += char(*at++);
        at++;
        return text;
    };
    readText();  // menu
    readText();  // class
    parsed.caption = readText();
    if (parsed.style & DS_SETFONT) {
        parsed.pointSize = *at++;
        parsed.font = readText();
    }
    for (int i = 0; i < header->cdit; i++) {
        at = (const WORD*)(((uintptr_t)at + 3) & ~uintptr_t(3));
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)at;
        at = (const WORD*)(item + 1);
        // Class names compare without regard to case; the resource compiler
        // may store a predefined class as an atom or as a name in capitals.
        std::string className = readText();
        if (className == "#128") className = "button";
        if (className == "#130") className = "static";
        for (char& c : className) c = char(tolower((unsigned char)c));
        std::string text = readText();
        at += 1 + (*at ? *at / 2 : 0);  // creation data
        parsed.controls.push_back(Control(item->id, className, text, item->style, item->x, item->y, item->cx, item->cy));
    }
    return parsed;
}

const DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
const DWORD Button = WS_CHILD | WS_VISIBLE | WS_TABSTOP, Label = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;

TEST_F(Resources, ReadOnlyDialog109) {
    ParsedTemplate dialog = ParseTemplate(Load(RT_DIALOG, 109));
    EXPECT_EQ(DialogStyle, dialog.style);
    EXPECT_EQ(257, dialog.cx);
    EXPECT_EQ(73, dialog.cy);
    EXPECT_EQ("", dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("Arial", dialog.font);
    EXPECT_EQ((std::vector<std::string>{Control(6, "button", "", Button | BS_DEFPUSHBUTTON, 20, 52, 50, 14),
                                        Control(1001, "button", "", Button | BS_PUSHBUTTON, 75, 52, 50, 14),
                                        Control(1000, "static", "", Label, 7, 7, 243, 36),
                                        Control(7, "button", "", Button | BS_PUSHBUTTON, 130, 52, 50, 14),
                                        Control(1002, "button", "", Button | BS_PUSHBUTTON, 186, 52, 50, 14)}),
              dialog.controls);
}

TEST_F(Resources, ProgressDialog110) {
    ParsedTemplate dialog = ParseTemplate(Load(RT_DIALOG, 110));
    EXPECT_EQ(DialogStyle | WS_VISIBLE, dialog.style);
    EXPECT_EQ(257, dialog.cx);
    EXPECT_EQ((std::vector<std::string>{Control(1000, "static", "", Label | SS_NOPREFIX, 7, 24, 243, 8),
                                        Control(1009, "msctls_progress32", "Progress1", WS_CHILD | WS_VISIBLE, 7, 38, 243, 12)}),
              dialog.controls);
}

}  // namespace
