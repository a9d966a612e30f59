#include "program_list.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "file_io.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Texts as REG_SZ, numbers as REG_DWORD.
struct Value {
    const char* name;
    std::string text;
    uint32_t number;
    bool isNumber;
};

std::vector<Value> ListingValues(const ProgramListing& listing) {
    const std::string quoted = "\"" + listing.uninstaller + "\"";
    std::vector<Value> values = {{"DisplayName", listing.displayName, 0, false},
                                 {"UninstallString", quoted, 0, false},
                                 {"QuietUninstallString", quoted + " /Q", 0, false},
                                 {"InstallLocation", listing.installDir, 0, false},
                                 {"DisplayIcon", listing.icon.empty() ? listing.uninstaller : listing.icon, 0, false},
                                 {"Publisher", listing.publisher, 0, false},
                                 {"DisplayVersion", listing.version, 0, false},
                                 {"EstimatedSize", "", listing.estimatedKiB, true},
                                 {"NoModify", "", 1, true},
                                 {"NoRepair", "", 1, true}};
    std::vector<Value> given;
    for (const Value& value : values)
        if (value.isNumber ? value.number != 0 : !value.text.empty()) given.push_back(value);
    return given;
}

// UTF-16LE from UTF-8, for the registry file.
std::string Utf16(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        uint32_t c = extra ? lead & (0x3F >> extra) : lead;
        for (int i = 1; i <= extra && at + i < text.size(); ++i) c = c << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
        at += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += {char((0xD800 + (c >> 10)) & 0xFF), char((0xD800 + (c >> 10)) >> 8)};
            c = 0xDC00 + (c & 0x3FF);
        }
        out += {char(c & 0xFF), char(c >> 8)};
    }
    return out;
}

std::string RegText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::string ListingKey(const ProgramListing& listing) {
    std::string name = listing.displayName;
    for (char& c : name)
        if (c == '\\') c = '_';  // one key, not a path
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
}

std::string ListingRegFile(const ProgramListing& listing) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + ListingKey(listing) + "]\r\n";
    for (const Value& value : ListingValues(listing)) {
        char number[16];
        std::snprintf(number, sizeof number, "dword:%08x", static_cast<unsigned>(value.number));
        text += RegText(value.name) + "=" + (value.isNumber ? std::string(number) : RegText(value.text)) + "\r\n";
    }
    return "\xFF\xFE" + Utf16(text);
}

#ifdef _WIN32
bool WriteListing(const ProgramListing& listing, std::string* error) {
    HKEY key;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, WidePath(ListingKey(listing)).data(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        for (const Value& value : ListingValues(listing)) {
            const std::vector<wchar_t> name = WidePath(value.name), text = WidePath(value.text);
            const DWORD number = value.number;
            result = value.isNumber
                         ? RegSetValueExW(key, name.data(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4)
                         : RegSetValueExW(key, name.data(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                          static_cast<DWORD>((wcslen(text.data()) + 1) * sizeof(wchar_t)));
            if (result != ERROR_SUCCESS) break;
        }
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        *error = "cannot write the program's entry HKLM\\" + ListingKey(listing) + ": error " + std::to_string(result);
    return result == ERROR_SUCCESS;
}
#endif

uint32_t FolderKiB(const std::string& folder) {
    uint64_t bytes = 0;
    std::vector<std::string> pending = {folder};
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        std::vector<ListedItem> items;
        ListFolder(path, &items);
        for (const ListedItem& item : items) {
            if (item.folder) pending.push_back(path + "/" + item.name);  // "/" works on both systems
            else if (item.kind == ItemKind::File) bytes += item.size;
        }
    }
    return static_cast<uint32_t>((bytes + 1023) / 1024);
}
