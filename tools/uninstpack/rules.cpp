#include "rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

bool IsOneOf(const std::string& text, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (text == name) return true;
    return false;
}

// The uninstaller's folder tokens, matched without regard to ASCII case.
const char* const kFolderTokens[] = {"#Windows#", "#System#", "#TempDir#", "#CommonFiles#", "#Program Files#",
                                     "#MyDocuments#", "#Desktop#", "#AppData#", "#LocalAppData#", "#AllUsersAppData#",
                                     "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#", "#AllUsersDir#",
                                     "#InstallDir#"};

// ---- Predicates over a text. Each returns true when the text breaks its
// rule, with what it found in *found for the message.

using Predicate = bool (*)(const std::string& text, std::string* found);

bool HasControlCharacter(const std::string& text, std::string* found) {
    static const char escapes[] = "btn\0fr";  // JSON's short forms of 8..13
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7F) continue;
        char code[8];
        std::snprintf(code, sizeof code, "U+%04X", c);
        *found = code;
        if (c >= 8 && c <= 13 && escapes[c - 8]) *found += std::string(" (\"\\") + escapes[c - 8] + "\" in JSON)";
        return true;
    }
    return false;
}

bool HasSlash(const std::string& text, std::string*) { return text.find('/') != std::string::npos; }
bool HasBackslash(const std::string& text, std::string*) { return text.find('\\') != std::string::npos; }
bool BeginsWithBackslash(const std::string& text, std::string*) { return !text.empty() && text[0] == '\\'; }

bool IsFullPath(const std::string& path) {
    return (path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\') ||
           path.compare(0, 2, "\\\\") == 0;
}

// "C:x": relative to the current folder of that drive.
bool IsDriveRelative(const std::string& text, std::string* found) {
    if (text.size() < 2 || !isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':' || (text.size() > 2 && text[2] == '\\'))
        return false;
    *found = text.substr(0, 2);
    return true;
}

// "\Windows": relative to the root of the current drive (a UNC path is not).
bool IsRootRelative(const std::string& text, std::string*) {
    return !text.empty() && text[0] == '\\' && text.compare(0, 2, "\\\\") != 0;
}

// The components of a path, its drive ("C:") or UNC start left out.
std::vector<std::string> Components(const std::string& path) {
    std::string rest = path;
    if (IsFullPath(path)) rest = path[0] == '\\' ? path.substr(2) : path.substr(3);
    return SplitAt(rest, '\\');
}

// A pattern's folder part: what comes before its mask.
std::string FolderPart(const std::string& pattern) {
    const size_t last = pattern.rfind('\\');
    return last == std::string::npos ? std::string() : pattern.substr(0, last);
}

bool HasDotDot(const std::string& text, std::string*) {
    for (const std::string& part : SplitAt(text, '\\'))
        if (part == "..") return true;
    return false;
}

bool IsDotName(const std::string& text, std::string*) { return text == "." || text == ".."; }

// Characters that no Windows file or folder name holds; a colon only after a drive letter.
bool HasWindowsForbidden(const std::string& text, const char* forbidden, std::string* found) {
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (std::strchr(forbidden, c) || (c == ':' && !(at == 1 && IsFullPath(text)))) {
            *found = std::string(1, c);
            return true;
        }
    }
    return false;
}
bool HasForbiddenInPath(const std::string& text, std::string* found) { return HasWindowsForbidden(text, "*?<>\"|", found); }
bool HasForbiddenInPattern(const std::string& text, std::string* found) { return HasWindowsForbidden(text, "<>\"|", found); }
bool HasWildcardInFolder(const std::string& text, std::string*) {
    return FolderPart(text).find_first_of("*?") != std::string::npos;
}

// The device names Windows reserves, with any extension ("Naming Files, Paths,
// and Namespaces"): COM and LPT take a digit 1-9 or a superscript ¹, ² or ³,
// which Windows counts as digits there.
bool IsReservedName(const std::string& part) {
    const std::string base = LowerAscii(part.substr(0, part.find('.')));
    if (IsOneOf(base, {"con", "prn", "aux", "nul", "conin$", "conout$"})) return true;
    if (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0) return false;
    const std::string digit = base.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || IsOneOf(digit, {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"});
}
bool HasReservedComponent(const std::string& text, std::string* found) {
    for (const std::string& part : Components(text))
        if (IsReservedName(part)) return *found = part, true;
    return false;
}
bool HasReservedFolder(const std::string& text, std::string* found) { return HasReservedComponent(FolderPart(text), found); }

bool EndsInDotOrBlank(const std::string& part) {
    return !part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' ');
}
bool HasDottedComponent(const std::string& text, std::string* found) {
    for (const std::string& part : Components(text))
        if (EndsInDotOrBlank(part)) return *found = part, true;
    return false;
}
bool HasDottedFolder(const std::string& text, std::string* found) { return HasDottedComponent(FolderPart(text), found); }

bool HasEmptyKeyPart(const std::string& text, std::string*) {
    const std::vector<std::string> parts = SplitAt(text.substr(0, text.find_last_not_of('\\') + 1), '\\');
    for (size_t i = 1; i + 1 < parts.size(); ++i)
        if (parts[i].empty()) return true;
    return false;
}
bool HasLongKeyPart(const std::string& text, std::string* found) {
    for (const std::string& part : SplitAt(text, '\\')) {
        size_t characters = 0;
        for (unsigned char c : part) characters += (c & 0xC0) != 0x80;
        if (characters > 255) return *found = std::to_string(characters), true;
    }
    return false;
}

// Tokens pair from left to right, as the uninstaller expands them; an odd
// last sign is text.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    for (size_t open = text.find('#'); open != std::string::npos;) {
        const size_t close = text.find('#', open + 1);
        if (close == std::string::npos) break;
        tokens.push_back(text.substr(open, close + 1 - open));
        open = text.find('#', close + 1);
    }
    return tokens;
}
bool HasUnknownToken(const std::string& text, std::string* found) {
    for (const std::string& token : Tokens(text)) {
        bool known = false;
        for (const char* name : kFolderTokens) known = known || LowerAscii(token) == LowerAscii(name);
        if (!known) return *found = token, true;
    }
    return false;
}
// The expanded token must begin the text: what stands before it would make the whole relative.
bool HasLateToken(const std::string& text, std::string*) { return !Tokens(text).empty() && text[0] != '#'; }
// The command's token counts only at its start (after a quote and blanks), where the uninstaller looks.
bool HasUnknownCommandToken(const std::string& text, std::string* found) {
    const size_t start = text.find_first_not_of("\" ");
    return start != std::string::npos && text[start] == '#' && HasUnknownToken(text.substr(start), found);
}

// Folders that Windows, the shell or the user own below the folder tokens:
// the default names of Windows' known folders (KNOWNFOLDERID, the shell's
// Known Folders reference) and of the folders Windows itself installs in its
// Windows and System folders. Lower case, compared without regard to ASCII case.
const char* const kWindowsFolders[] = {
    "microsoft", "windows", "downloads", "documents", "my documents", "desktop", "pictures", "my pictures", "music",
    "my music", "videos", "my videos", "favorites", "links", "contacts", "searches", "saved games", "onedrive",
    "3d objects", "start menu", "programs", "startup", "templates", "recent", "sendto", "cookies", "history",
    "network shortcuts", "printer shortcuts", "nethood", "printhood", "libraries", "temp", "temporary internet files",
    "packages", "public", "default", "all users", "users", "programdata", "program files", "program files (x86)",
    "common files", "drivers", "installer", "system", "system32", "syswow64", "sysnative", "winsxs", "fonts", "inf",
    "assembly", "microsoft.net", "prefetch", "logs", "tasks", "boot", "help", "panther", "servicing", "spool",
    "config", "catroot", "catroot2", "driverstore", "wbem", "softwaredistribution", "resources", "web", "cursors",
    "media", "globalization", "ime", "registration", "security", "debug", "appcompat", "apppatch", "speech"};
// The profile's containers of application data: not a folder of one's own,
// but a folder of one's own may lie below them.
const char* const kProfileContainers[] = {"appdata", "local", "roaming", "locallow", "application data", "local settings"};

bool IsNamedIn(const std::string& part, const char* const* begin, const char* const* end) {
    const std::string lower = LowerAscii(part);
    return std::any_of(begin, end, [&lower](const char* name) { return lower == name; });
}

// A pattern with wildcards removes every match in its folder and below: it
// must lie in a folder an installation makes, the installation folder or a
// folder of its own below a token; "*found" receives the folder it sweeps.
bool SweepsSharedFolder(const std::string& text, std::string* found) {
    if (text[0] != '#' || text.find_first_of("*?") == std::string::npos || LowerAscii(text).compare(0, 13, "#installdir#\\") == 0)
        return false;
    std::vector<std::string> parts = SplitAt(text, '\\');
    parts.pop_back();  // the mask
    *found = parts.empty() ? text : parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        *found += "\\\\" + parts[i];
        if (IsNamedIn(parts[i], std::begin(kProfileContainers), std::end(kProfileContainers))) continue;
        return parts[i].empty() || IsNamedIn(parts[i], std::begin(kWindowsFolders), std::end(kWindowsFolders));
    }
    return true;
}

// ---- Where a path is taken from (waived by --allow-relative).

bool IsNotFileFolder(const std::string& text, std::string*) { return text[0] != '.' && !IsFullPath(text); }
// ".bin", "./bin", "..\x": the uninstaller takes any text that begins with "." but not ".\" as the installation folder itself.
bool IsLooseDotFolder(const std::string& text, std::string*) {
    return text[0] == '.' && text != "." && text.compare(0, 2, ".\\") != 0;
}
bool IsNotFullPath(const std::string& text, std::string*) { return !text.empty() && !IsFullPath(text); }
bool IsFullPatternWithoutToken(const std::string& text, std::string*) {
    return text.find('#') == std::string::npos && (text.find(":\\") != std::string::npos || text.compare(0, 2, "\\\\") == 0);
}

// The uninstaller puts a command that does not begin with a token behind its
// own folder, so a full path there names a program that is never found.
bool IsFullCommandWithoutToken(const std::string& text, std::string*) {
    const size_t start = text.find_first_not_of("\" ");
    return start != std::string::npos && (IsFullPath(text.substr(start)) || text.compare(start, 13, "${InstallDir}") == 0);
}

struct Rule {
    Predicate breaks;
    const char* message;  // follows the quoted text; "@" receives what was found
    bool place;           // says only where the text is taken from: waived by --allow-relative
};

const char kControl[] =
    "holds the control character @; a backslash is written \\\\ in JSON (\"C:\\\\Temp\", not \"C:\\Temp\")";
const char kSlash[] = "holds a slash; write a backslash between folders (the uninstaller compares folders as text)";
const char kDotDot[] = "has a \"..\" component, which climbs out of the folder it names; name the folder itself";
const char kForbidden[] = "holds \"@\", which Windows does not allow in a file or folder name";
const char kReserved[] = "has the part \"@\", a device name Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM¹-³, LPT¹-³)";
const char kDotted[] = "has the part \"@\", ending in a dot or blank, which Windows drops from names";
const char kDriveRelative[] = "is relative to the current folder of drive @; write a full path such as C:\\\\App";
const char kRootRelative[] = "begins with one backslash, so it is relative to the current drive; write a full path such as C:\\\\App";

// What every path field is checked for first: file folders, directory paths, patterns.
const Rule kPathRules[] = {
    {HasControlCharacter, kControl, false},
    {HasSlash, kSlash, false},
    {IsDriveRelative, kDriveRelative, false},
    {IsRootRelative, kRootRelative, false},
    {HasDotDot, kDotDot, false},
};

// What no part of a file or folder name may be: file folders, names, directory paths.
const Rule kComponentRules[] = {
    {HasForbiddenInPath, kForbidden, false},
    {HasReservedComponent, kReserved, false},
    {HasDottedComponent, kDotted, false},
};

const Rule kFileFolderRules[] = {
    {IsLooseDotFolder, "begins with a full stop but is neither \".\" nor \".\\\\sub\"; the uninstaller would take it as the "
                       "installation folder itself", true},
    {IsNotFileFolder, "is neither \".\" nor a full path; write \".\\\\sub\" for a folder below the installation folder, "
                      "or a full path such as ${InstallDir}\\\\sub", true},
};

const Rule kNameRules[] = {
    {HasControlCharacter, kControl, false},
    {HasSlash, kSlash, false},
    {HasBackslash, "holds a backslash; a name is one name, its folders go into the folder field", false},
    {IsDotName, "names the folder itself or its parent, not a file", false},
};

const Rule kDirectoryRules[] = {
    {IsNotFullPath, "is not a full path; directory paths are used as they stand: write a full path such as "
                    "${InstallDir}\\\\logs", true},
};

const Rule kPatternRules[] = {
    {HasUnknownToken, "holds the folder token @, which the uninstaller does not know and leaves out; known tokens: ", false},
    {HasLateToken, "has a folder token after its beginning; the token must begin the pattern, or the expanded "
                   "folder would land inside another path", false},
    {HasForbiddenInPattern, kForbidden, false},
    {HasWildcardInFolder, "has a wildcard before its last backslash; only the last part is a mask", false},
    {HasReservedFolder, kReserved, false},
    {HasDottedFolder, kDotted, false},
    {SweepsSharedFolder, "has wildcards in @, a folder that Windows or the user owns; a pattern with wildcards must "
                         "lie in the installation folder or in a folder of the installation's own below the token, "
                         "such as #AppData#\\\\Vendor\\\\App\\\\*.tmp; name a single file there without wildcards", false},
    {IsFullPatternWithoutToken, "is a full path without a folder token; the uninstaller puts a pattern without a "
                                "token behind the installation folder: write it relative to that folder, or begin it "
                                "with a token such as #AppData#", true},
};

const Rule kKeyRules[] = {
    {HasControlCharacter, kControl, false},
    {HasSlash, "holds a slash, which Windows takes as a letter of a key's name; write a backslash between keys", false},
    {BeginsWithBackslash, "begins with a backslash; a key is named below its root without one", false},
    {HasEmptyKeyPart, "has an empty part between two backslashes", false},
    {HasLongKeyPart, "has a part of @ characters; Windows allows 255", false},
};

const Rule kValueRules[] = {
    {HasControlCharacter, kControl, false},
    {HasBackslash, "holds a backslash, which a value name cannot hold here; the entry would name a key", false},
};

const Rule kCommandRules[] = {
    {HasControlCharacter, kControl, false},
    {HasUnknownCommandToken, "begins with the folder token @, which the uninstaller does not know; known tokens: ", false},
    {IsFullCommandWithoutToken, "is a full path without a folder token; the uninstaller puts such a command behind its own "
                                "folder, where it is never found. Name a program in the uninstaller's folder without a "
                                "path (cleanup.exe /quiet), or begin with a token such as #InstallDir# or #System#", false},
};

const Rule kDocumentRules[] = {
    {HasControlCharacter, kControl, false},
};

struct RuleTable {
    Field field;
    const Rule* begin;
    const Rule* end;
};

// A field may have several tables: they apply in this order.
const RuleTable kTables[] = {
    {Field::FileFolder, std::begin(kPathRules), std::end(kPathRules)},
    {Field::FileFolder, std::begin(kComponentRules), std::end(kComponentRules)},
    {Field::FileFolder, std::begin(kFileFolderRules), std::end(kFileFolderRules)},
    {Field::FileName, std::begin(kNameRules), std::end(kNameRules)},
    {Field::FileName, std::begin(kComponentRules), std::end(kComponentRules)},
    {Field::DirectoryPath, std::begin(kPathRules), std::end(kPathRules)},
    {Field::DirectoryPath, std::begin(kComponentRules), std::end(kComponentRules)},
    {Field::DirectoryPath, std::begin(kDirectoryRules), std::end(kDirectoryRules)},
    {Field::DirectoryFileName, std::begin(kNameRules), std::end(kNameRules)},
    {Field::DirectoryFileName, std::begin(kComponentRules), std::end(kComponentRules)},
    {Field::RegistryKey, std::begin(kKeyRules), std::end(kKeyRules)},
    {Field::RegistryValue, std::begin(kValueRules), std::end(kValueRules)},
    {Field::Pattern, std::begin(kPathRules), std::end(kPathRules)},
    {Field::Pattern, std::begin(kPatternRules), std::end(kPatternRules)},
    {Field::Command, std::begin(kCommandRules), std::end(kCommandRules)},
    {Field::Document, std::begin(kDocumentRules), std::end(kDocumentRules)},
};


}  // namespace

std::string CheckField(Field field, const std::string& utf8, bool allowRelative) {
    for (const RuleTable& table : kTables) {
        if (table.field != field) continue;
        for (const Rule* rule = table.begin; rule != table.end; ++rule) {
            std::string found;
            if (utf8.empty() || !rule->breaks(utf8, &found)) continue;
            // A variable that check leaves unset may well make it a full path.
            if (rule->place && (allowRelative || utf8.find("${") != std::string::npos)) continue;
            std::string message = rule->message;
            const size_t at = message.find('@');
            if (at != std::string::npos) message.replace(at, 1, found);
            if (message.back() == ' ') message += FolderTokenList();
            return Quote(utf8) + " " + message + (rule->place ? " (--allow-relative accepts it as stored)" : "");
        }
    }
    return std::string();
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string FolderTokenList() {
    std::string list;
    for (const char* token : kFolderTokens) list += (list.empty() ? "" : ", ") + std::string(token);
    return list;
}

// ---- The installation folder.

std::string CheckInstallDir(const std::string& dir, const std::vector<std::string>& machineFolders) {
    const std::string normal = NormalPath(dir);
    bool own = false, profile = false;  // a component of the program's own; the next one names a user
    for (const std::string& part : Components(dir + "\\")) {
        own = own || (!part.empty() && !profile && !IsNamedIn(part, std::begin(kWindowsFolders), std::end(kWindowsFolders)) &&
                      !IsNamedIn(part, std::begin(kProfileContainers), std::end(kProfileContainers)));
        profile = IsOneOf(LowerAscii(part), {"users", "documents and settings"});
    }
    for (const std::string& folder : machineFolders)
        own = own && normal != NormalPath(folder) && NormalPath(folder).compare(0, normal.size() + 1, normal + "\\") != 0;
    if (own || !IsFullPath(dir + "\\")) return std::string();
    return Quote(dir) + " is a drive's root, a folder of Windows' or the user's own, or a folder above one; what the "
                        "uninstaller removes below it would not be the program's. Give the program's own folder, such as "
                        "C:\\\\Program Files\\\\Vendor\\\\App";
}

// ---- Registry keys an installation owns.

namespace {

// Keys below the Classes root that belong to the system or to every program.
bool IsSharedClass(const std::string& name) {
    return name[0] == '.' || name.compare(0, 3, "ms-") == 0 ||
           IsOneOf(name, {"*", "directory", "folder", "drive", "allfilesystemobjects", "unknown", "systemfileassociations",
                          "mime", "exefile", "dllfile", "txtfile", "htmlfile", "lnkfile", "inifile", "batfile", "cmdfile",
                          "comfile", "regfile", "network", "printers", "desktopbackground", "librarylocation",
                          "component categories", "installer", "http", "https", "ftp", "mailto", "file", "news", "nntp",
                          "snews", "telnet", "ldap", "tel", "callto", "irc", "res", "about", "javascript", "vbscript",
                          "shell", "protocols", "filter", "mapi", "wow6432node"});
}

// The first part of the ProgIDs a fresh Windows registers (the shell's,
// Windows Installer's "Msi.Package", scripting, media, XML and data access
// classes), as listed under HKCR of a new installation.
const char* const kWindowsProgIdVendors[] = {
    "microsoft", "windows", "msi", "shell", "wmp", "wmplayer", "mediaplayer", "wscript", "scripting", "vbscript",
    "jscript", "msxml", "msxml2", "adodb", "adox", "internetexplorer", "paint", "wordpad", "mshtml", "cdo",
    "wbemscripting", "mmc", "hnetcfg", "sapi", "wia", "imapi2", "schedule", "appx", "shellexecute", "shdocvw"};

// A ProgID is Program.Component[.Version] ("ProgID Key", COM's registry
// reference): a class name without a period is one of Windows' own
// (jpegfile, InternetShortcut, CompressedFolder, Licenses, Record, DirectShow,
// Local Settings, ...), as are the ProgIDs of Windows' programs.
bool IsWindowsClass(const std::string& name) {
    return name.find('.') == std::string::npos ||
           IsNamedIn(name.substr(0, name.find('.')), std::begin(kWindowsProgIdVendors), std::end(kWindowsProgIdVendors));
}

// Identifiers of Windows' own: COM's and OLE's range {xxxxxxxx-0000-0000-C000-000000000046}
// (IUnknown, IDispatch, the stdole type library, ...), the shell's range
// {xxxxxxxx-3AEA-1069-A2xx-08002B30309D} (This PC, Control Panel, Printers, ...),
// and the shell folders outside it (Recycle Bin, Network, Libraries, Quick
// access, the user's files, Network Connections, Documents, the Briefcase).
bool IsWindowsGuid(const std::string& guid) {
    return guid.size() == 38 &&
           (guid.compare(10, 28, "0000-0000-c000-000000000046}") == 0 ||
            (guid.compare(10, 12, "3aea-1069-a2") == 0 && guid.compare(25, 13, "08002b30309d}") == 0) ||
            IsOneOf(guid, {"{645ff040-5081-101b-9f08-00aa002f954e}", "{f02c1a0d-be21-4350-88b0-7367fc96ef3c}",
                           "{031e4825-7b94-4dc3-b131-e946b44c8dd5}", "{679f85cb-0220-4080-b29b-5540cc05aab6}",
                           "{59031a47-3f72-44a7-89c5-5595fe6b30ee}", "{7007acc7-3202-11d1-aad2-00805fc1270e}",
                           "{450d8fba-ad25-11d0-98a8-0800361b1103}", "{85bbd920-42a0-1069-a2e4-08002b30309d}"}));
}

const char kSharedKey[] = "is not a key an installation makes but one that many programs or the system share; removing "
                          "it with everything below would take theirs too. Name the installation's own key below it, "
                          "or give single values with \"value\"";
const char kWindowsClassKey[] = "is one of Windows' own classes; an installation's own ProgID has a period, such as "
                                "Vendor.Document.1. Remove only what the installation added to the class: each value "
                                "with \"value\", a verb's command as \"value\": \"\" of its command key";
const char kWindowsGuidKey[] = "is one of Windows' own registrations (This PC, Recycle Bin, IUnknown, the OLE type "
                               "library, ...); name the installation's own GUID";

// parts: below the Classes root.
const char* WhyNotOwnClass(const std::vector<std::string>& parts) {
    if (parts.empty()) return kSharedKey;
    // The installation's GUIDs and application entries, one level down.
    if (IsOneOf(parts[0], {"clsid", "typelib", "appid", "interface", "applications"})) {
        if (parts.size() < 2) return kSharedKey;
        return parts[0] != "applications" && IsWindowsGuid(parts[1]) ? kWindowsGuidKey : nullptr;
    }
    if (IsSharedClass(parts[0])) return kSharedKey;
    return IsWindowsClass(parts[0]) ? kWindowsClassKey : nullptr;  // its ProgID
}

// parts: below Software.
const char* WhyNotOwnSoftware(const std::vector<std::string>& parts) {
    if (parts.empty()) return kSharedKey;
    if (parts[0] == "microsoft")  // only the installation's own entries in the system's lists
        return parts.size() >= 5 && parts[1] == "windows" && parts[2] == "currentversion" &&
                       IsOneOf(parts[3], {"uninstall", "app paths"})
                   ? nullptr
                   : kSharedKey;
    return IsOneOf(parts[0], {"policies", "windows", "clients", "registeredapplications", "odbc", "wow6432node"}) ? kSharedKey
                                                                                                              : nullptr;
}

const struct { const char* name; uint32_t root; } kRoots[] = {
    {"HKCR", 0x80000000u}, {"HKEY_CLASSES_ROOT", 0x80000000u}, {"HKCU", 0x80000001u}, {"HKEY_CURRENT_USER", 0x80000001u},
    {"HKLM", 0x80000002u}, {"HKEY_LOCAL_MACHINE", 0x80000002u}, {"HKU", 0x80000003u}, {"HKEY_USERS", 0x80000003u},
    {"HKCC", 0x80000005u}, {"HKEY_CURRENT_CONFIG", 0x80000005u},
};

// A key as the rules see it: lower case, without empty parts, below the
// Classes root (HKCR, Software\Classes, a user's _Classes) or below Software;
// one WOW6432Node there counts as the key it mirrors.
struct KeyPlace {
    enum Kind { System, Classes, Software } kind = System;  // System: no installation's own
    std::vector<std::string> parts;
};

KeyPlace PlaceOf(uint32_t root, const std::string& key) {
    KeyPlace place;
    std::vector<std::string>& parts = place.parts;
    for (const std::string& part : SplitAt(LowerAscii(key), '\\'))
        if (!part.empty()) parts.push_back(part);
    const auto dropFirst = [&parts](const char* name) {
        if (!parts.empty() && parts[0] == name) parts.erase(parts.begin());
    };
    if (root == 0x80000003u) {  // a user's SID, or its classes
        if (parts.size() < 2 || parts[0] == ".default") return place;
        const std::string user = parts[0], suffix = "_classes";
        parts.erase(parts.begin());
        const bool classes = user.size() > suffix.size() && user.compare(user.size() - suffix.size(), suffix.size(), suffix) == 0;
        root = classes ? 0x80000000u : 0x80000001u;
    }
    if (root == 0x80000001u || root == 0x80000002u) {
        if (parts.size() < 2 || parts[0] != "software") return place;  // SYSTEM, Control Panel, Environment, ...
        parts.erase(parts.begin());
        dropFirst("wow6432node");
        place.kind = KeyPlace::Software;
        if (parts.empty() || parts[0] != "classes") return place;
        parts.erase(parts.begin());
        root = 0x80000000u;
    }
    if (root != 0x80000000u) return KeyPlace();  // HKCC, the hardware profile, is a view of SYSTEM
    dropFirst("wow6432node");
    place.kind = KeyPlace::Classes;
    return place;
}

// ---- Keys one for both registry views from Windows 7 on ("Registry Keys
// Affected by WOW64"): a 64-bit build of the program may keep its own
// registration there. parts: as KeyPlace has them, never empty.

// One key per view: COM classes and interfaces, and the media registrations.
bool IsRedirectedClass(const std::string& name) {
    return IsOneOf(name, {"clsid", "interface", "directshow", "media type", "mediafoundation"});
}
// TypeLib\{GUID}\version\locale\win32 is the 32-bit build's own; the rest of the library is common.
bool SharesTypeLib(const std::vector<std::string>& parts) {
    return parts[0] == "typelib" && (parts.size() < 5 || parts[4] != "win32");
}
bool SharesClass(const std::vector<std::string>& parts) { return parts[0] != "typelib" && !IsRedirectedClass(parts[0]); }
bool SharesAppPath(const std::vector<std::string>& parts) {
    return parts.size() >= 5 && parts[0] == "microsoft" && parts[3] == "app paths";
}

const char kBothViews[] = "is one key for the 32-bit and the 64-bit registry view from Windows 7 on, so a 64-bit build "
                          "of the program may use it too; ";
const char kGiveValues[] = "to remove only what this installation wrote, give its values with \"value\"";
const struct {
    KeyPlace::Kind kind;
    bool (*shared)(const std::vector<std::string>& parts);
    const char* instead;
} kSharedViewRules[] = {
    {KeyPlace::Classes, SharesTypeLib, "to remove only the 32-bit registration, name each version's win32 subkey, "
                                       "such as TypeLib\\\\{GUID}\\\\1.0\\\\0\\\\win32"},
    {KeyPlace::Classes, SharesClass, kGiveValues},
    {KeyPlace::Software, SharesAppPath, kGiveValues},
};

}  // namespace

const char* WhyNotOwnRegistryKey(uint32_t root, const std::string& key) {
    const KeyPlace place = PlaceOf(root, key);
    switch (place.kind) {
    case KeyPlace::Classes: return WhyNotOwnClass(place.parts);
    case KeyPlace::Software: return WhyNotOwnSoftware(place.parts);
    default: return kSharedKey;
    }
}

std::string SharedByViews(uint32_t root, const std::string& key) {
    const KeyPlace place = PlaceOf(root, key);
    for (const auto& rule : kSharedViewRules)
        if (rule.kind == place.kind && !place.parts.empty() && rule.shared(place.parts)) return kBothViews + std::string(rule.instead);
    return std::string();
}

bool RootFromName(const std::string& name, uint32_t* root) {
    for (const auto& named : kRoots)
        if (LowerAscii(name) == LowerAscii(named.name)) return *root = named.root, true;
    return false;
}

const char* RootName(uint32_t root) {
    for (const auto& named : kRoots)
        if (named.root == root) return named.name;
    return nullptr;
}

// ---- Messages.

std::string CheckPlaceholders(uint32_t index, const std::string& utf8) {
    const bool takesPath = index >= 7 && index <= 10;
    if (index > 15) return std::string();  // no use of the uninstaller's own
    int paths = 0;
    for (size_t at = 0; at < utf8.size(); ++at) {
        if (utf8[at] != '%') continue;
        const char next = at + 1 < utf8.size() ? utf8[at + 1] : '\0';
        // "100% sure" is text; "%d" or "%s" is a placeholder nothing fills.
        if (!takesPath && next && std::strchr("sdiuxXcfeEgGp", next))
            return std::string("holds \"%") + next + "\", but this message takes no argument; it would show as it stands";
        if (!takesPath) continue;
        if (next == '%') {
            ++at;
        } else if (next == 's' && ++paths == 1) {
            ++at;
        } else {
            return std::string("holds \"%") + (next ? std::string(1, next) : std::string()) +
                   "\"; this message takes one path, as \"%s\", and a percent sign is written \"%%\"";
        }
    }
    return std::string();
}

// ---- Variables.

const char* const KnownVariables[] = {"InstallDir", "Windows", "System", "Fonts", "ProgramFiles", "CommonFiles",
                                      "AppData", "LocalAppData", "CommonAppData", "Desktop", "StartMenu", "Programs",
                                      "Startup", "Temp", nullptr};

std::string NearestVariable(const std::string& name) {
    std::string best;
    size_t bestDistance = 3;
    for (const char* const* known = KnownVariables; *known; ++known) {
        const std::string a = LowerAscii(name), b = LowerAscii(*known);
        if (name == *known) return std::string();
        // Edit distance, one row at a time.
        std::vector<size_t> row(b.size() + 1);
        for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
        for (size_t i = 1; i <= a.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= b.size(); ++j) {
                const size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        if (row[b.size()] < bestDistance) bestDistance = row[b.size()], best = *known;
    }
    return best;
}

// ---- Paths.

std::string ComposeFilePath(const std::string& folder, const std::string& name, const std::string& installDir) {
    std::string path = folder;
    if (!folder.empty() && folder[0] == '.')
        path = folder.size() > 2 && folder[1] == '\\' ? installDir + "\\" + folder.substr(2) : installDir;
    if (!name.empty()) path += (path.empty() || path.back() == '\\' ? "" : "\\") + name;
    return path;
}

std::string ComposeCommand(const std::string& command, const std::string& folder) {
    const bool quoted = !command.empty() && command[0] == '"';
    const size_t start = std::min(command.find_first_not_of(' ', quoted), command.size());
    if (command[start] == '#') return command;
    return (quoted ? "\"" : "") + folder + "\\" + command.substr(start);
}

std::string LowerAscii(std::string text) {
    for (char& c : text) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);  // not tolower(): a call per letter, in a hot path
    return text;
}

namespace {

// Lower-case letters and their capitals as NTFS's upcase table pairs them
// (the table Windows writes to a volume, from its simple case mappings): a
// range of lower-case letters and the distance to their capitals, or with
// distance 0 a range of alternating capital and small letter that begins
// with a capital. Latin (with Latin-1, Extended-A and -B, Additional),
// Greek, Coptic, Cyrillic, Armenian, Glagolitic, Roman numerals, circled
// and fullwidth Latin letters: every letter of the code pages the generator
// writes, and the ones a file name can hold besides. ASCII is folded before
// the table is asked, as most names are ASCII.
const struct { uint16_t first, last; int16_t distance; } kUpcase[] = {
    {0xE0, 0xF6, -32},     {0xF8, 0xFE, -32},     {0xFF, 0xFF, 121},     {0x100, 0x12F, 0},
    {0x132, 0x137, 0},     {0x139, 0x148, 0},     {0x14A, 0x177, 0},     {0x179, 0x17E, 0},     {0x182, 0x185, 0},
    {0x1A0, 0x1A5, 0},     {0x1AF, 0x1B0, 0},     {0x1B3, 0x1B6, 0},     {0x1CD, 0x1DC, 0},     {0x1DE, 0x1EF, 0},
    {0x1F8, 0x21F, 0},     {0x222, 0x233, 0},     {0x246, 0x24F, 0},     {0x3AC, 0x3AC, -38},   {0x3AD, 0x3AF, -37},
    {0x3B1, 0x3C1, -32},   {0x3C2, 0x3C2, -31},   {0x3C3, 0x3CB, -32},   {0x3CC, 0x3CC, -64},   {0x3CD, 0x3CE, -63},
    {0x3D8, 0x3EF, 0},     {0x430, 0x44F, -32},   {0x450, 0x45F, -80},   {0x460, 0x481, 0},     {0x48A, 0x4BF, 0},
    {0x4C1, 0x4CE, 0},     {0x4CF, 0x4CF, -15},   {0x4D0, 0x52F, 0},     {0x561, 0x586, -48},   {0x1E00, 0x1E95, 0},
    {0x1EA0, 0x1EFF, 0},   {0x2170, 0x217F, -16}, {0x24D0, 0x24E9, -26}, {0x2C30, 0x2C5F, -48}, {0x2C80, 0x2CE3, 0},
    {0xFF41, 0xFF5A, -32},
};

uint32_t Capital(uint32_t c) {
    for (const auto& range : kUpcase) {
        if (c < range.first || c > range.last) continue;
        if (range.distance) return c + range.distance;
        return c - ((c - range.first) & 1);
    }
    return c;
}

}  // namespace

std::string FoldCase(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0x80) {
            out += char(lead >= 'a' && lead <= 'z' ? lead - 32 : lead);
            ++at;
            continue;
        }
        const size_t length = (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
        if (length == 0 || at + length > utf8.size()) {  // four bytes lie beyond the table; other bytes stay
            out += utf8[at++];
            continue;
        }
        uint32_t c = lead & (length == 2 ? 0x1F : 0x0F);
        for (size_t i = 1; i < length; ++i) c = c << 6 | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
        c = Capital(c);
        if (c < 0x80) out += char(c);
        else if (c < 0x800) out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        else out += {char(0xE0 | c >> 12), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        at += length;
    }
    return out;
}

std::string NormalPath(const std::string& path) {
    std::string normal = FoldCase(path);
    while (normal.size() > 3 && normal.back() == '\\') normal.pop_back();
    return normal;
}

std::vector<std::string> ClimbFolders(const std::string& path, unsigned levels) {
    std::vector<std::string> folders = {path};
    std::string folder = path;
    while (levels-- > 0) {
        const size_t last = folder.rfind('\\');
        if (last == std::string::npos || last < 3) break;  // a drive root is never removed
        folder.resize(last);
        folders.push_back(folder);
    }
    return folders;
}
