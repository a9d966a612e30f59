#include "harvest.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "file_io.h"
#include "manifest.h"
#include "rules.h"

namespace {

using Json = nlohmann::ordered_json;

// A fixed order whatever the file system's: by name without regard to ASCII
// case, then byte by byte.
bool NameBefore(const std::string& a, const std::string& b) {
    const std::string la = LowerAscii(a), lb = LowerAscii(b);
    return la != lb ? la < lb : a < b;
}

// Built field by field: the library's initializer lists cost the shipped tool size.
// "${" in a staged name is text, not a variable.
std::string Escaped(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) out += text.compare(at, 2, "${") == 0 ? "$" + std::string(1, text[at]) : std::string(1, text[at]);
    return out;
}

Json FileItem(const std::string& folder, const std::string& name) {
    Json item = Json::object();
    item["folder"] = Escaped(folder);
    item["name"] = Escaped(name);
    return item;
}

// "HKLM\Software\X" (and a value name) as a registry entry of the manifest.
Json RegistryItem(const std::string& key, const std::string* value) {
    Json item = Json::object();
    item["root"] = key.substr(0, key.find('\\'));
    item["key"] = key.substr(key.find('\\') + 1);
    if (value) item["value"] = *value;
    return item;
}

// "*" and "?" over a relative path, any ASCII letter case; "/" counts as "\".
bool Matches(const char* mask, const char* path) {
    if (*mask == '*') return Matches(mask + 1, path) || (*path && Matches(mask, path + 1));
    if (!*path) return !*mask;
    const char m = *mask == '/' ? '\\' : *mask;
    return (m == '?' || tolower(static_cast<unsigned char>(m)) == tolower(static_cast<unsigned char>(*path))) &&
           Matches(mask + 1, path + 1);
}

// A name as it can be shown: bytes that are not UTF-8 as \xNN.
std::string Shown(const std::string& name, bool* valid) {
    std::string out;
    *valid = true;
    for (size_t at = 0; at < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[at]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        bool whole = length != 0 && at + length <= name.size() && !(lead == 0xC0 || lead == 0xC1 || lead > 0xF4);
        for (size_t i = 1; whole && i < length; ++i) whole = (static_cast<unsigned char>(name[at + i]) & 0xC0) == 0x80;
        if (whole) {
            out.append(name, at, length);
            at += length;
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\x%02X", lead);
        out += code;
        *valid = false;
        ++at;
    }
    return out;
}

const char kSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

void ListFolderTree(const std::string& staging, const std::string& relative, bool skipSpecial,
                    std::vector<StagedItem>* items, std::vector<std::string>* errors, size_t* skipped) {
    std::string path = staging;
    if (!relative.empty()) path += kSeparator;
    for (char c : relative) path += c == '\\' ? kSeparator : c;
    std::vector<ListedItem> entries;
    if (!ListFolder(path, &entries)) {
        errors->push_back(path + ": cannot list the folder");
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const ListedItem& a, const ListedItem& b) { return NameBefore(a.name, b.name); });
    if (!relative.empty()) items->push_back({relative, true});
    std::vector<std::string> folders;
    std::map<std::string, std::string> seen;  // names as Windows compares them, and the first one of each
    for (size_t i = 0; i < entries.size(); ++i) {
        const ListedItem& entry = entries[i];
        const std::string child = relative.empty() ? entry.name : relative + "\\" + entry.name;
        bool valid = true;
        const std::string shown = path + kSeparator + Shown(entry.name, &valid);
        if (entry.kind == ItemKind::Link || entry.kind == ItemKind::Special) {
            if (skipSpecial) ++*skipped;
            else errors->push_back(shown + ": " + (entry.kind == ItemKind::Link ? "a link" : "a special file (FIFO, device or socket)") +
                                   ", which an installation does not copy; --skip-special leaves such out");
            continue;
        }
        const auto first = seen.emplace(FoldCase(entry.name), entry.name);
        if (!first.second)
            errors->push_back(shown + ": differs from " + first.first->second + " only in letter case; Windows holds one of them");
        const std::string problem = CheckField(Field::FileName, entry.name, false);
        if (!valid) errors->push_back(shown + ": the name is not UTF-8 (its bytes are shown as \\xNN), so it cannot be stored");
        else if (!problem.empty()) errors->push_back(shown + ": " + problem);
        if (!valid || !problem.empty()) continue;
        if (entry.folder) folders.push_back(child);
        else items->push_back({child, false});
    }
    for (const std::string& folder : folders) ListFolderTree(staging, folder, skipSpecial, items, errors, skipped);
}

// What an item names, without regard to ASCII case: a file by its folder and
// name, anything else by all of it.
std::string Named(const Json& item) {
    if (item.is_object() && item.contains("folder") && item["folder"].is_string() && item.value("name", Json("")).is_string())
        return NormalPath(item["folder"].get<std::string>() + "\\" + item.value("name", Json("")).get<std::string>());
    return LowerAscii(item.dump());
}

// Appends the items that the array does not name yet; a file named by both
// gets the flags of both.
void AppendMissing(Json* array, const Json& items) {
    if (!array->is_array()) *array = Json::array();
    std::map<std::string, size_t> held;
    for (size_t i = 0; i < array->size(); ++i) held.emplace(Named((*array)[i]), i);
    for (const Json& item : items) {
        const auto found = held.find(Named(item));
        if (found == held.end()) {
            held.emplace(Named(item), array->size());
            array->push_back(item);
            continue;
        }
        if (!item.is_object() || !item.contains("flags")) continue;
        Json& kept = (*array)[found->second];
        if (!kept.contains("flags")) kept["flags"] = Json::array();
        if (!kept["flags"].is_array()) {
            Json number = kept["flags"];
            kept["flags"] = Json::array();
            kept["flags"].push_back(number);
        }
        for (const Json& flag : item["flags"]) {
            bool present = false;
            for (const Json& held : kept["flags"]) present = present || held == flag;
            if (!present) kept["flags"].push_back(flag);
        }
    }
}

const char* const kRootNames[][2] = {{"HKEY_CLASSES_ROOT", "HKCR"}, {"HKEY_CURRENT_USER", "HKCU"},
                                     {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_USERS", "HKU"},
                                     {"HKEY_CURRENT_CONFIG", "HKCC"}};

// "HKEY_LOCAL_MACHINE\A\B" or "HKLM\A\B" as "HKLM\A\B"; empty for an unknown root.
std::string ShortKey(const std::string& given) {
    const std::string key = given.substr(0, given.find_last_not_of('\\') + 1);  // "HKLM\A\" is the key HKLM\A
    const std::string root = key.substr(0, key.find('\\'));
    for (const auto& names : kRootNames)
        if (LowerAscii(root) == LowerAscii(names[0]) || LowerAscii(root) == LowerAscii(names[1])) return names[1] + key.substr(root.size());
    return std::string();
}

bool IsAtOrBelow(const std::string& key, const std::string& parent) {
    return LowerAscii(key) == LowerAscii(parent) || LowerAscii(key).rfind(LowerAscii(parent) + "\\", 0) == 0;
}

// UTF-8 from a version 5 file's UTF-16LE (after its byte order mark).
std::string FromUtf16(const std::string& bytes) {
    std::string out;
    for (size_t at = 2; at + 1 < bytes.size(); at += 2) {
        uint32_t c = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && at + 3 < bytes.size()) {
            at += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8) - 0xDC00);
        }
        if (c < 0x80) out += char(c);
        else if (c < 0x800) out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000) out += {char(0xE0 | c >> 12), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else out += {char(0xF0 | c >> 18), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    return out;
}

}  // namespace

bool ListStaging(const std::string& staging, bool skipSpecial, std::vector<StagedItem>* items,
                 std::vector<std::string>* errors, size_t* skipped) {
    const size_t before = errors->size();
    ListFolderTree(staging, "", skipSpecial, items, errors, skipped);
    return errors->size() == before;
}

bool HarvestRegistry(const std::string& contents, const std::string& fileName, const std::vector<std::string>& ownKeys,
                     std::vector<std::string>* keys, std::vector<std::pair<std::string, std::string>>* values,
                     std::vector<std::string>* errors) {
    const std::string text = contents.compare(0, 2, "\xFF\xFE") == 0 ? FromUtf16(contents) : contents;
    const size_t before = errors->size();
    std::vector<std::pair<size_t, std::string>> lines;  // first line number, logical line
    std::string line;
    size_t number = 1, first = 1;
    for (size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && text[at] != '\n') {
            if (text[at] != '\r') line += text[at];
            continue;
        }
        // A value that goes on ends its line with a backslash.
        if (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos && at < text.size()) {
            line.pop_back();
            ++number;
            continue;
        }
        lines.push_back({first, line});
        line.clear();
        first = ++number;
    }
    size_t start = 0;
    while (start < lines.size() && lines[start].second.find_first_not_of(" \t\xEF\xBB\xBF") == std::string::npos) ++start;
    if (start == lines.size() || (lines[start].second.find("REGEDIT4") == std::string::npos &&
                                  lines[start].second.find("Windows Registry Editor Version 5.00") == std::string::npos)) {
        errors->push_back(fileName + ": not a registry file: it begins neither with REGEDIT4 nor with Windows Registry "
                                     "Editor Version 5.00");
        return false;
    }
    auto fail = [&](size_t at, const std::string& why) { errors->push_back(fileName + ":" + std::to_string(at) + ": " + why); };
    std::string key;     // the section's key; empty while in a section that deletes
    bool owned = false;  // its values go with an owned key
    bool inSection = false;
    for (size_t i = start + 1; i < lines.size(); ++i) {
        const size_t at = lines[i].first;
        const std::string& l = lines[i].second;
        if (l.empty() || l[0] == ';') continue;
        if (l[0] == '[') {
            inSection = true;
            key.clear();
            owned = false;
            if (l.back() != ']') {
                fail(at, "the key's \"[\" has no \"]\" at the end of the line");
                continue;
            }
            if (l.compare(0, 2, "[-") == 0) continue;  // a key deleted
            key = ShortKey(l.substr(1, l.size() - 2));
            if (key.empty() || key.find('\\') == std::string::npos) {
                fail(at, l + ": not a key below HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or "
                             "HKEY_CURRENT_CONFIG");
                key.clear();
                continue;
            }
            const std::string problem = CheckField(Field::RegistryKey, key.substr(key.find('\\') + 1), false);
            if (!problem.empty()) fail(at, problem);
            // Its values are paths, and the count is the uninstaller's to lower.
            const std::string lower = LowerAscii(key), counts = "\\currentversion\\shareddlls";
            if (lower.size() > counts.size() && lower.compare(lower.size() - counts.size(), counts.size(), counts) == 0) {
                fail(at, l + ": the use counts of shared files are the \"shared\" flag's work (--shared GLOB), which "
                             "lowers them; leave this section out of the .reg file");
                key.clear();
            }
            for (const std::string& own : ownKeys) {
                if (!IsAtOrBelow(key, own)) continue;
                if (std::find(keys->begin(), keys->end(), own) == keys->end()) keys->push_back(own);
                owned = true;
            }
            continue;
        }
        if (!inSection) {
            fail(at, "a value before any [key] section");
            continue;
        }
        std::string name;
        size_t pos = 0;
        if (l[0] == '@') {
            pos = 1;
        } else if (l[0] == '"') {
            for (pos = 1; pos < l.size() && l[pos] != '"'; ++pos) {
                if (l[pos] == '\\' && pos + 1 < l.size()) ++pos;  // an escaped quote or backslash
                name += l[pos];
            }
            if (pos >= l.size()) {
                fail(at, "the value name's quote is not closed");
                continue;
            }
            ++pos;
        }
        if (pos >= l.size() || l[pos] != '=') {
            fail(at, "not a value: expected \"name\"=data or @=data");
            continue;
        }
        const std::string data = l.substr(pos + 1);
        const size_t colon = data.find(':');
        const std::string type = LowerAscii(data.substr(0, colon == std::string::npos ? 0 : colon));
        const std::string digits = colon == std::string::npos ? std::string() : data.substr(colon + 1);
        bool good = data == "-" || (data.size() >= 2 && data[0] == '"' && data.back() == '"');
        if (type == "dword") good = !digits.empty() && digits.size() <= 8 && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (type.compare(0, 3, "hex") == 0)
            good = digits.find_first_not_of("0123456789abcdefABCDEF, \t") == std::string::npos;
        if (!good) {
            fail(at, "the value's data " + data + " is neither \"text\", dword:XXXXXXXX, hex:XX,... nor -");
            continue;
        }
        if (key.empty()) continue;  // a section deleted or refused: its values name nothing to keep
        const std::string problem = CheckField(Field::RegistryValue, name, false);
        if (!problem.empty()) fail(at, problem);
        if (owned || data == "-" || !problem.empty()) continue;
        if (std::find(values->begin(), values->end(), std::make_pair(key, name)) == values->end()) values->push_back({key, name});
    }
    return errors->size() == before;
}

bool Harvest(const HarvestOptions& options, std::string* json, std::vector<std::string>* errors, std::string* note) {
    const size_t before = errors->size();
    Json root = Json::object();
    if (!options.mergeText.empty()) {
        std::vector<std::string> problems;
        Manifest ignored;
        std::set<std::string> unset;
        ManifestContext context;
        context.unset = &unset;
        // Checked first: the tree is built only for a text within the nesting limit.
        if (!LoadManifest(options.mergeText, options.mergeName, &ignored, &problems, context)) {
            for (const std::string& problem : problems) errors->push_back(problem);
            return false;
        }
        root = Json::parse(options.mergeText, nullptr, false);
    }
    std::vector<StagedItem> staged;
    size_t skipped = 0;
    ListStaging(options.staging, options.skipSpecial, &staged, errors, &skipped);
    if (skipped) *note = "left out " + std::to_string(skipped) + " links and special files";
    const struct { const char* option; const std::vector<std::string>* globs; const char* flag; } flagGlobs[] = {
        {"--shared", &options.shared, "shared"}, {"--com-server", &options.comServer, "comServer"},
        {"--check-in-use", &options.checkInUse, "checkInUse"}};
    std::vector<std::vector<bool>> matched;
    for (const auto& glob : flagGlobs) matched.emplace_back(glob.globs->size(), false);
    Json files = Json::array();
    for (const StagedItem& item : staged) {
        const size_t slash = item.relative.rfind('\\');
        if (item.folder) {
            files.push_back(FileItem(".\\" + item.relative, ""));
            continue;
        }
        Json entry = FileItem(slash == std::string::npos ? "." : ".\\" + item.relative.substr(0, slash),
                              item.relative.substr(slash == std::string::npos ? 0 : slash + 1));
        Json flags = Json::array();
        for (size_t g = 0; g < 3; ++g) {
            bool any = false;
            for (size_t i = 0; i < flagGlobs[g].globs->size(); ++i)
                if (Matches((*flagGlobs[g].globs)[i].c_str(), item.relative.c_str())) matched[g][i] = any = true;
            if (any) flags.push_back(flagGlobs[g].flag);
        }
        if (!flags.empty()) entry["flags"] = flags;
        files.push_back(entry);
    }
    for (size_t g = 0; g < 3; ++g)
        for (size_t i = 0; i < matched[g].size(); ++i)
            if (!matched[g][i]) errors->push_back(std::string(flagGlobs[g].option) + " " + (*flagGlobs[g].globs)[i] + ": matches no staged file");
    const size_t handWritten = root.contains("files") && root["files"].is_array() ? root["files"].size() : 0;
    // A real conflict: the hand-written part names as a file what is staged as a folder, or the reverse.
    std::map<std::string, bool> stagedFolder;
    for (const StagedItem& item : staged) stagedFolder[NormalPath(item.relative)] = item.folder;
    for (size_t i = 0; i < handWritten; ++i) {
        const Json& entry = root["files"][i];
        const std::string folder = entry.value("folder", std::string()), name = entry.value("name", std::string());
        if (folder.empty() || folder[0] != '.') continue;
        const std::string relative = folder.size() > 2 ? folder.substr(2) + (name.empty() ? "" : "\\" + name) : name;
        const auto found = stagedFolder.find(NormalPath(relative));
        if (found != stagedFolder.end() && found->second != name.empty())
            errors->push_back(options.mergeName + ": /files/" + std::to_string(i) + ": names " + relative + " as a " +
                              (name.empty() ? "folder" : "file") + ", but it is staged as a " + (found->second ? "folder" : "file"));
    }
    AppendMissing(&root["files"], files);
    Json patterns = options.patterns;
    if (!patterns.empty()) AppendMissing(&root["patterns"], patterns);
    if (!options.ownKeys.empty() && options.registryFiles.empty())
        errors->push_back("--own-key needs the .reg files it applies to: give them with --registry");
    for (const std::string& own : options.ownKeys) {
        const std::string key = ShortKey(own);
        uint32_t rootKey = 0;
        const char* notOwn = nullptr;
        if (key.find('\\') == std::string::npos || !RootFromName(key.substr(0, key.find('\\')), &rootKey))
            errors->push_back("--own-key " + own + ": not a key below HKCR, HKCU, HKLM, HKU or HKCC");
        else if ((notOwn = WhyNotOwnRegistryKey(rootKey, key.substr(key.find('\\') + 1))))
            errors->push_back("--own-key " + own + ": " + Quote(key.substr(key.find('\\') + 1)) + " " + notOwn);
    }
    std::vector<std::string> keys, ownKeys;
    std::vector<std::pair<std::string, std::string>> values;
    for (const std::string& own : options.ownKeys) ownKeys.push_back(ShortKey(own));
    for (size_t i = 0; i < options.registryFiles.size(); ++i)
        HarvestRegistry(options.registryFiles[i], i < options.registryNames.size() ? options.registryNames[i] : "--registry",
                        ownKeys, &keys, &values, errors);
    if (!options.registryFiles.empty())
        for (size_t i = 0; i < ownKeys.size(); ++i)
            if (std::find(keys.begin(), keys.end(), ownKeys[i]) == keys.end())
                errors->push_back("--own-key " + options.ownKeys[i] + ": no key of the .reg files is at or below it");
    Json registry = Json::array();
    for (const std::string& key : keys) registry.push_back(RegistryItem(key, nullptr));
    for (const auto& value : values) registry.push_back(RegistryItem(value.first, &value.second));
    if (!registry.empty()) AppendMissing(&root["registry"], registry);
    if (errors->size() != before) return false;
    *json = root.dump(2) + "\n";
    // The result must pass check; a harvested name that cannot be stored is named by its place.
    Manifest manifest;
    std::set<std::string> unset;
    ManifestContext context;
    context.unset = &unset;
    std::vector<std::string> problems;
    if (LoadManifest(*json, "harvested manifest", &manifest, &problems, context)) return true;
    for (std::string& problem : problems) {
        const size_t at = problem.find(": /files/");
        const size_t index = at == std::string::npos ? 0 : std::strtoul(problem.c_str() + at + 9, nullptr, 10);
        if (at != std::string::npos && index >= handWritten && index < root["files"].size()) {
            const Json& item = root["files"][index];
            problem += " (" + item["folder"].get<std::string>() + "\\" + item["name"].get<std::string>() + " in " +
                       options.staging + ")";
        }
        errors->push_back(problem);
    }
    return false;
}
