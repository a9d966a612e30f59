#include "harvest.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <nlohmann/json.hpp>

#include "file_io.h"
#include "manifest.h"
#include "rules.h"


namespace {

using Json = nlohmann::ordered_json;

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// A fixed order whatever the file system's: by name without regard to ASCII
// case, then byte by byte.
bool NameBefore(const std::string& a, const std::string& b) {
    const std::string la = Lower(a), lb = Lower(b);
    return la != lb ? la < lb : a < b;
}

// The folder's items in a fixed order.
bool ListSorted(const std::string& path, std::vector<ListedItem>* items) {
    if (!ListFolder(path, items)) return false;
    std::sort(items->begin(), items->end(), [](const ListedItem& a, const ListedItem& b) { return NameBefore(a.name, b.name); });
    return true;
}

// Built field by field: the library's initializer lists cost the shipped tool size.
Json FileItem(const std::string& folder, const std::string& name) {
    Json item = Json::object();
    item["folder"] = folder;
    item["name"] = name;
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

bool MatchesAny(const std::vector<std::string>& masks, const std::string& path) {
    for (const std::string& mask : masks)
        if (Matches(mask.c_str(), path.c_str())) return true;
    return false;
}

// Installation order: a folder's own entry before the files in it, parents before children.
void HarvestFolder(const HarvestOptions& options, const std::string& relative, Json* files, std::vector<std::string>* errors) {
    std::vector<ListedItem> entries;
    const std::string folder = relative.empty() ? "." : ".\\" + relative;
    const std::string separator =
#ifdef _WIN32
        "\\";
#else
        "/";
#endif
    std::string path = options.staging + (relative.empty() ? "" : separator);
    for (char c : relative) path += c == '\\' ? separator[0] : c;
    if (!ListSorted(path, &entries)) {
        errors->push_back(path + ": cannot list the folder");
        return;
    }
    if (!relative.empty()) files->push_back(FileItem(folder, ""));
    for (const ListedItem& entry : entries) {
        if (entry.folder) continue;
        const std::string file = relative.empty() ? entry.name : relative + "\\" + entry.name;
        Json item = FileItem(folder, entry.name);
        Json flags = Json::array();
        if (MatchesAny(options.shared, file)) flags.push_back("shared");
        if (MatchesAny(options.comServer, file)) flags.push_back("comServer");
        if (MatchesAny(options.checkInUse, file)) flags.push_back("checkInUse");
        if (!flags.empty()) item["flags"] = flags;
        files->push_back(item);
    }
    for (const ListedItem& entry : entries)
        if (entry.folder) HarvestFolder(options, relative.empty() ? entry.name : relative + "\\" + entry.name, files, errors);
}

// What an item names, without regard to ASCII case: a file by its folder and
// name, anything else by all of it.
std::string Named(const Json& item) {
    if (item.is_object() && item.contains("folder"))
        return Lower(item["folder"].dump() + item.value("name", Json("")).dump());
    return Lower(item.dump());
}

// Appends the items that the array does not name yet.
void AppendMissing(Json* array, const Json& items) {
    for (const Json& item : items) {
        bool present = false;
        for (const Json& held : *array) present = present || Named(held) == Named(item);
        if (!present) array->push_back(item);
    }
}

const char* const kRootNames[][2] = {{"HKEY_CLASSES_ROOT", "HKCR"}, {"HKEY_CURRENT_USER", "HKCU"},
                                     {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_USERS", "HKU"},
                                     {"HKEY_CURRENT_CONFIG", "HKCC"}};

// "HKEY_LOCAL_MACHINE\A\B" or "HKLM\A\B" as "HKLM\A\B"; empty for an unknown root.
std::string ShortKey(const std::string& key) {
    const std::string root = key.substr(0, key.find('\\'));
    for (const auto& names : kRootNames)
        if (Lower(root) == Lower(names[0]) || Lower(root) == Lower(names[1])) return names[1] + key.substr(root.size());
    return std::string();
}

bool IsAtOrBelow(const std::string& key, const std::string& parent) {
    return Lower(key) == Lower(parent) || Lower(key).rfind(Lower(parent) + "\\", 0) == 0;
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

bool HarvestRegistry(const std::string& contents, const std::vector<std::string>& ownKeys, std::vector<std::string>* keys,
                     std::vector<std::pair<std::string, std::string>>* values, std::string* error) {
    const std::string text = contents.compare(0, 2, "\xFF\xFE") == 0 ? FromUtf16(contents) : contents;
    std::vector<std::string> lines;
    std::string line;
    for (size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && text[at] != '\n') {
            if (text[at] != '\r') line += text[at];
            continue;
        }
        // A value that goes on ends its line with a backslash.
        if (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos && at < text.size()) {
            line.pop_back();
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    size_t first = 0;
    while (first < lines.size() && lines[first].find_first_not_of(" \t\xEF\xBB\xBF") == std::string::npos) ++first;
    if (first == lines.size() || (lines[first].find("REGEDIT4") == std::string::npos &&
                                  lines[first].find("Windows Registry Editor Version 5.00") == std::string::npos)) {
        *error = "not a registry file: it begins neither with REGEDIT4 nor with Windows Registry Editor Version 5.00";
        return false;
    }
    std::string key;  // empty while in a section that deletes
    for (size_t i = first + 1; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty() || l[0] == ';') continue;
        if (l[0] == '[') {
            key = l.size() > 2 && l[1] != '-' && l.back() == ']' ? ShortKey(l.substr(1, l.size() - 2)) : std::string();
            std::string owner;
            for (const std::string& own : ownKeys)
                if (!key.empty() && IsAtOrBelow(key, own)) owner = own;
            if (!owner.empty() && std::find(keys->begin(), keys->end(), owner) == keys->end()) keys->push_back(owner);
            if (!owner.empty()) key.clear();  // its values go with the owned key
            continue;
        }
        if (key.empty()) continue;
        std::string name;
        size_t at = 0;
        if (l[0] == '@') {
            at = 1;
        } else if (l[0] == '"') {
            for (at = 1; at < l.size() && l[at] != '"'; ++at) {
                if (l[at] == '\\' && at + 1 < l.size()) ++at;  // an escaped quote or backslash
                name += l[at];
            }
            ++at;
        }
        if (at >= l.size() || l[at] != '=' || l.compare(at + 1, 1, "-") == 0) continue;  // no value, or one deleted
        if (std::find(values->begin(), values->end(), std::make_pair(key, name)) == values->end()) values->push_back({key, name});
    }
    return true;
}

bool Harvest(const HarvestOptions& options, std::string* json, std::vector<std::string>* errors) {
    const size_t before = errors->size();
    Json root = Json::object();
    if (!options.mergeText.empty()) {
        root = Json::parse(options.mergeText, nullptr, false);
        if (root.is_discarded() || !root.is_object()) {
            errors->push_back(options.mergeName + ": not a manifest; 'uninstpack check' says where");
            return false;
        }
    }
    Json files = Json::array();
    HarvestFolder(options, "", &files, errors);
    const size_t handWritten = root.contains("files") ? root["files"].size() : 0;
    AppendMissing(&root["files"], files);
    Json patterns = options.patterns;
    if (!patterns.empty()) AppendMissing(&root["patterns"], patterns);
    for (const std::string& own : options.ownKeys) {
        const std::string key = ShortKey(own);
        uint32_t root = 0;
        if (key.find('\\') == std::string::npos || !RootFromName(key.substr(0, key.find('\\')), &root) ||
            !IsOwnRegistryKey(root, key.substr(key.find('\\') + 1)))
            errors->push_back("--own-key " + own + ": not a key an installation creates (a root, an unknown root or a "
                              "key that many programs share); an uninstaller must never remove what its installation "
                              "did not create");
    }
    std::vector<std::string> keys, ownKeys;
    std::vector<std::pair<std::string, std::string>> values;
    for (const std::string& own : options.ownKeys) ownKeys.push_back(ShortKey(own));
    for (const std::string& contents : options.registryFiles) {
        std::string error;
        if (!HarvestRegistry(contents, ownKeys, &keys, &values, &error)) errors->push_back("--registry: " + error);
    }
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
