// The stub as built: its data locator and its resources.
#include <gtest/gtest.h>
#include <windows.h>

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
    EXPECT_NE(std::string::npos, manifest.find("name=\"UninstallProgram\""));
    EXPECT_NE(std::string::npos, manifest.find("Uninstall Program"));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("publicKeyToken=\"6595b64144ccf1df\""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""));
}

TEST_F(Resources, IconGroup800HasImages) {
    std::string group = Load(RT_GROUP_ICON, 800);
    ASSERT_GE(group.size(), 6u);
    EXPECT_GE(*(const WORD*)(group.data() + 4), 1);
    EXPECT_NE(nullptr, LoadIconA((HINSTANCE)module, MAKEINTRESOURCEA(800)));
}

struct TemplateControl {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::string className;  // lower case; the predefined atoms as their names
    std::string text;
};

struct ParsedTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    WORD pointSize = 0;
    std::string font, caption;
    std::vector<TemplateControl> controls;
};

// Reads a classic dialog template: header, menu, class, caption, font, items.
ParsedTemplate ParseTemplate(const std::string& bytes) {
    ParsedTemplate parsed;
    const WORD* at = (const WORD*)bytes.data();
    const DLGTEMPLATE* header = (const DLGTEMPLATE*)at;
    parsed.style = header->style;
    parsed.cx = header->cx;
    parsed.cy = header->cy;
    int count = header->cdit;
    at = (const WORD*)(header + 1);
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
    for (int i = 0; i < count; i++) {
        at = (const WORD*)(((uintptr_t)at + 3) & ~uintptr_t(3));
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)at;
        TemplateControl control{item->style, item->x, item->y, item->cx, item->cy, item->id, "", ""};
        at = (const WORD*)(item + 1);
        // Class names compare without regard to case; the resource compiler
        // may store a predefined class as an atom or as a name in capitals.
        control.className = readText();
        if (control.className == "#128") control.className = "button";
        if (control.className == "#130") control.className = "static";
        for (char& c : control.className) c = char(tolower((unsigned char)c));
        control.text = readText();
        at += 1 + (*at ? *at / 2 : 0);  // creation data
        parsed.controls.push_back(control);
    }
    return parsed;
}

const DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

TEST_F(Resources, ReadOnlyDialog109) {
    ParsedTemplate dialog = ParseTemplate(Load(RT_DIALOG, 109));
    EXPECT_EQ(DialogStyle, dialog.style);
    EXPECT_EQ(257, dialog.cx);
    EXPECT_EQ(73, dialog.cy);
    EXPECT_EQ("", dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("Arial", dialog.font);
    ASSERT_EQ(5u, dialog.controls.size());
    const WORD ids[] = {6, 1001, 1000, 7, 1002};
    const short xs[] = {20, 75, 7, 130, 186};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(ids[i], dialog.controls[i].id);
        EXPECT_EQ(xs[i], dialog.controls[i].x);
        EXPECT_EQ("", dialog.controls[i].text);
    }
    EXPECT_EQ("button", dialog.controls[0].className);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON), dialog.controls[0].style);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON), dialog.controls[4].style);
    EXPECT_EQ("static", dialog.controls[2].className);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT), dialog.controls[2].style);
    EXPECT_EQ(243, dialog.controls[2].cx);
    EXPECT_EQ(36, dialog.controls[2].cy);
    EXPECT_EQ(52, dialog.controls[3].y);
    EXPECT_EQ(14, dialog.controls[3].cy);
}

TEST_F(Resources, ProgressDialog110) {
    ParsedTemplate dialog = ParseTemplate(Load(RT_DIALOG, 110));
    EXPECT_EQ(DialogStyle | WS_VISIBLE, dialog.style);
    EXPECT_EQ(257, dialog.cx);
    ASSERT_EQ(2u, dialog.controls.size());
    EXPECT_EQ(1000, dialog.controls[0].id);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX), dialog.controls[0].style);
    EXPECT_EQ(24, dialog.controls[0].y);
    EXPECT_EQ(1009, dialog.controls[1].id);
    EXPECT_EQ("msctls_progress32", dialog.controls[1].className);
    EXPECT_EQ("Progress1", dialog.controls[1].text);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE), dialog.controls[1].style);
    EXPECT_EQ(38, dialog.controls[1].y);
    EXPECT_EQ(12, dialog.controls[1].cy);
}

}  // namespace
