// Soak test of the safety property on generated cases: a random installation
// tree with folders and files outside it, folder links and random uninstall
// data. A quiet run may remove only what the data allows, must leave the rest
// as it was, and removes the named registry keys and values and nothing else.
// QV_SOAK_SEED and QV_SOAK_COUNT choose the cases; a failure names its seed
// and case, so that it can be replayed.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "manifest.h"
#include "scenario.h"

namespace {

// The stage_links fixture puts two links into each slot folder: "linked" to
// TargetFolder and "linked.log" to its keep.log. A case moves a slot folder
// into its tree whole: Wine's MoveFileA moves a link's target, not the link.
// The data then names links, files and folders beyond them, and climbs
// through them; a link is never removed, nor anything it leads to.
const char TargetFolder[] = "C:\\qvtest\\soaklinks\\outside";
const char SlotFolder[] = "C:\\qvtest\\soaklinks\\slot";
const int SlotCount = 3;
const char KeyRoot[] = "Software\\QvSoak";
const char CurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const uint32_t CurrentUser = 0x80000001;

// Under a double-byte code page (the double_byte.* runs), also names that end
// in, begin with and hold characters whose second byte is a backslash.
std::vector<std::string> WithDoubleByteNames(std::vector<std::string> names, bool forFiles) {
    std::vector<std::string> c = FindDoubleByteCharacters(0x5C, 2);
    if (c.size() == 2) {
        if (forFiles) names.insert(names.end(), {c[0], c[1] + "x", "a" + c[0] + c[1]});
        else names.insert(names.end(), {c[0], c[1] + "ji", c[0] + "ft" + c[1], c[0] + "ft"});
    }
    return names;
}

const std::vector<std::string> FolderNames =
    WithDoubleByteNames({"bin", "data", "logs", "Cache", "plug ins", "old.log", "x.tmp", "deep"}, false);
const std::vector<std::string> Stems =
    WithDoubleByteNames({"app", "readme", "data", "cache", "Setup", "a", "notes", "verylongfilename"}, true);
const std::vector<std::string> Extensions = {".log", ".LOG", ".tmp", ".txt", ".dat", ".logx", ".tmp.bak", ""};
const std::vector<std::string> Masks = {"*.log", "*.tmp", "*.*", "*", "data*", "?ache*", "*.LOG"};
const std::vector<std::string> ValueNames = {"", "Path", "Version", "v1", "v10"};

struct Random {
    uint64_t state;
};

// splitmix64: small, and the same sequence on every build.
uint64_t NextRandom(Random& random) {
    uint64_t z = random.state += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

unsigned Below(Random& random, unsigned bound) {
    return unsigned(NextRandom(random) % bound);
}

const std::string& PickFrom(Random& random, const std::vector<std::string>& items) {
    return items[Below(random, unsigned(items.size()))];
}

// The file system and the registry ignore letter case, and so must the uninstaller.
std::string MixCase(Random& random, std::string text) {
    for (char& c : text)
        if (isalpha((unsigned char)c) && Below(random, 3) == 0) c ^= 0x20;
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower((unsigned char)c));
    return text;
}

// How the oracle names a path: lower case, no trailing backslash. Under a
// double-byte code page the names hold characters whose second byte is a
// backslash (never a letter, so lower case leaves them alone).
std::string Key(std::string path) {
    if (path.size() > 3 && FindLastSeparator(path) == path.size() - 1) path.pop_back();
    return Lower(path);
}

std::string ParentOf(const std::string& path) {
    size_t at = FindLastSeparator(path);
    return at == std::string::npos ? "" : path.substr(0, at);
}

std::string NameOf(const std::string& path) {
    return path.substr(FindLastSeparator(path) + 1);
}

bool IsBelow(const std::string& key, const std::string& folderKey) {
    return key.size() > folderKey.size() && key.compare(0, folderKey.size(), folderKey) == 0 && key[folderKey.size()] == '\\';
}

struct SoakCase {
    std::string folder, install;  // the case folder and the installation in it, no trailing backslash
    std::string keyRoot;          // below HKEY_CURRENT_USER
    std::string protectedFolder;  // a tree folder given as CommonFilesDir for the run, or empty
    std::string heldFile;         // held open for writing during the run, or empty
    DWORD heldSharing;            // what its holder lets others do
    std::vector<std::string> folders, files, chains, links, fileLinks, keys, values;
    std::vector<std::string> hosts;  // slot folders moved into the tree, by slot number
    std::vector<int> slots;
    PackData data;
};

// A name not yet used in folder (any letter case), or empty text.
std::string FreshPath(Random& random, std::set<std::string>& taken, const std::string& folder, bool file) {
    for (int attempt = 0; attempt < 8; attempt++) {
        std::string path = folder + "\\" + (file ? PickFrom(random, Stems) + PickFrom(random, Extensions) : PickFrom(random, FolderNames));
        if (taken.insert(Key(path)).second) return path;
    }
    return "";
}

void PlaceFile(Random& random, const std::string& path) {
    MakeFolders(ParentOf(path));
    WriteWholeFile(path, path + " " + std::to_string(NextRandom(random)));
    if (Below(random, 8) == 0) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

void LayOutFiles(Random& random, SoakCase& c) {
    // Outside: a sibling whose name begins like the installation's, user data, the case folder.
    std::vector<std::string> outside = {c.folder + "\\app2", c.folder + "\\app2\\logs", c.folder + "\\userdata", c.folder};
    std::set<std::string> taken = {Key(c.install)};
    for (const std::string& folder : outside) taken.insert(Key(folder));
    c.folders.push_back(c.install);
    MakeFolders(c.install);
    for (unsigned n = 2 + Below(random, 7); n; n--) {
        std::string parent = PickFrom(random, c.folders);
        if (std::count(parent.begin() + c.install.size(), parent.end(), '\\') >= 3) continue;
        std::string path = FreshPath(random, taken, parent, false);
        if (!path.empty()) MakeFolders(path), c.folders.push_back(path);
    }
    for (unsigned n = 6 + Below(random, 14); n; n--) {
        std::string path = FreshPath(random, taken, PickFrom(random, c.folders), true);
        if (!path.empty()) PlaceFile(random, path), c.files.push_back(path);
    }
    for (unsigned n = 3 + Below(random, 5); n; n--) {
        std::string path = FreshPath(random, taken, PickFrom(random, outside), true);
        if (!path.empty()) PlaceFile(random, path);
    }
    // Folder chains that only directory entries name, so that their levels decide.
    for (unsigned n = Below(random, 3); n; n--) {
        std::string path = PickFrom(random, c.folders);
        for (unsigned depth = 1 + Below(random, 3); depth && !path.empty(); depth--) path = FreshPath(random, taken, path, false);
        if (path.empty()) continue;
        MakeFolders(path);
        if (Below(random, 2)) PlaceFile(random, path + "\\setup.log");
        c.chains.push_back(path);
    }
    for (const char* name : {"\\keep.log", "\\data.txt", "\\deep\\keep.log", "\\deep\\cache.tmp"})
        MakeFile(TargetFolder + std::string(name));
    MakeFolders(TargetFolder + std::string("\\empty"));  // what a removal through a link would take
    for (int slot = 0; slot < SlotCount; slot++) {
        std::string from = SlotFolder + std::to_string(slot);
        DWORD link = GetFileAttributesA((from + "\\linked").c_str());
        if (Below(random, 2) || link == INVALID_FILE_ATTRIBUTES || !(link & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        std::string to = FreshPath(random, taken, PickFrom(random, c.folders), false);
        if (to.empty() || !MoveFileA(from.c_str(), to.c_str())) continue;
        c.slots.push_back(slot);
        c.hosts.push_back(to);
        c.links.push_back(to + "\\linked");
        c.fileLinks.push_back(to + "\\linked.log");
    }
    c.folders.insert(c.folders.end(), c.hosts.begin(), c.hosts.end());
    if (Below(random, 4) == 0) c.protectedFolder = PickFrom(random, c.folders);
    if (Below(random, 3) == 0 && !c.files.empty()) c.heldFile = PickFrom(random, c.files);
    const DWORD sharings[] = {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE};
    c.heldSharing = sharings[Below(random, 4)];
}

void LayOutKeys(Random& random, SoakCase& c) {
    RegDeleteTreeA(HKEY_CURRENT_USER, c.keyRoot.c_str());
    for (const char* below : {"\\app", "\\app\\k1", "\\app\\k1\\deep", "\\app\\k2", "\\app2", "\\other"}) {
        std::string key = c.keyRoot + below;
        HKEY handle;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &handle)) << key;
        RegCloseKey(handle);
        c.keys.push_back(key);
        for (const std::string& name : ValueNames) {
            if (Below(random, 2)) continue;
            SetText(HKEY_CURRENT_USER, key, name, key + " " + std::to_string(NextRandom(random)));
            c.values.push_back(key + "\\\\" + name);
        }
    }
}

// A file entry's folder text for a folder of the installation, in the forms
// the data allows: anything that begins with "." but not ".\" is the
// installation folder itself, "..\app2" included.
std::string FolderText(Random& random, const SoakCase& c, const std::string& folder) {
    std::string below = folder.substr(c.install.size());
    switch (Below(random, 4)) {
    case 0: return "." + below;
    case 1: return below.empty() ? PickFrom(random, {".\\", "..\\app2"}) : "." + below;
    case 2: return folder;
    default: return MixCase(random, folder);
    }
}

void AddFileEntries(Random& random, SoakCase& c) {
    for (unsigned n = 2 + Below(random, 9); n; n--) {
        std::string folder = PickFrom(random, c.folders), name;
        unsigned kind = Below(random, 10);
        if (kind < 6 && !c.files.empty()) {
            std::string file = PickFrom(random, !c.fileLinks.empty() && Below(random, 5) == 0 ? c.fileLinks : c.files);
            folder = ParentOf(file), name = NameOf(file);
            // A name may carry a folder of its own.
            if (folder != c.install && Below(random, 5) == 0) name = NameOf(folder) + "\\" + name, folder = ParentOf(folder);
        } else if (kind < 7) {
            name = "missing" + std::to_string(n) + ".dll";
        } else if (kind < 8 && folder != c.install) {
            name = NameOf(folder), folder = ParentOf(folder);  // a folder where a file is expected
        } else if (!c.links.empty() && Below(random, 2) == 0) {
            folder = PickFrom(random, c.links);  // a folder entry naming a link, or a file beyond one
            if (Below(random, 2)) folder += "\\empty", name = Below(random, 2) ? "" : "absent.txt";
        }
        // Checked for use, or a shared library no count names.
        c.data.files.push_back({FolderText(random, c, folder), name, uint8_t(Below(random, 2) ? 0 : Below(random, 2) ? 8 : 1)});
    }
}

void AddDirectoryEntries(Random& random, SoakCase& c) {
    for (unsigned n = Below(random, 4); n; n--) {
        PackDirectory entry;
        entry.levels = uint8_t(Below(random, 5));
        unsigned kind = Below(random, 3);
        if (kind == 0 && !c.chains.empty()) {
            entry.path = PickFrom(random, c.chains), entry.fileName = "setup.log";
        } else if (kind == 1 && !c.files.empty()) {
            std::string file = PickFrom(random, c.files);
            entry.path = ParentOf(file), entry.fileName = NameOf(file);
        } else {
            entry.path = PickFrom(random, c.folders) + (Below(random, 4) ? "" : "\\absent");
            entry.fileName = Below(random, 2) ? "" : "absent.txt";
        }
        if (!c.links.empty() && Below(random, 4) == 0) {
            entry.path = PickFrom(random, c.links) + (Below(random, 2) ? "\\empty" : "");  // on or beyond a link
            entry.fileName = Below(random, 2) ? "" : "absent.txt";
        }
        if (Below(random, 3) == 0) entry.altPath = PickFrom(random, c.chains.empty() || Below(random, 2) ? c.folders : c.chains);
        if (Below(random, 3) == 0) entry.path = MixCase(random, entry.path);
        c.data.directories.push_back(entry);
    }
}

void AddPatterns(Random& random, SoakCase& c) {
    for (unsigned n = Below(random, 4); n; n--) {
        std::string folder = PickFrom(random, c.folders);
        unsigned kind = Below(random, 10);
        if (kind == 0) folder += "\\absent";
        if (kind == 1 && !c.links.empty()) folder = PickFrom(random, c.links) + (Below(random, 2) ? "" : "\\deep");
        std::string below = folder.substr(c.install.size()), mask = PickFrom(random, Masks);
        if (Below(random, 3) == 0) c.data.patterns.push_back(MixCase(random, "#InstallDir#") + below + "\\" + mask);
        else c.data.patterns.push_back(below.empty() ? mask : below.substr(1) + "\\" + mask);
    }
}

void AddRegistryEntries(Random& random, SoakCase& c) {
    for (unsigned n = Below(random, 6); n; n--) {
        std::string path;
        switch (Below(random, 3)) {
        case 0: path = PickFrom(random, c.keys) + (Below(random, 4) ? "" : "\\absent"); break;
        case 1: path = c.values.empty() ? c.keyRoot + "\\\\absent" : PickFrom(random, c.values); break;
        default: path = PickFrom(random, c.keys) + "\\\\" + PickFrom(random, ValueNames);
        }
        c.data.registry.push_back({CurrentUser, Below(random, 3) ? path : MixCase(random, path)});
    }
}

// What is on disk: a link is recorded but never followed.
enum ItemKind { FileItem, FolderItem, LinkItem };
struct Item {
    ItemKind kind;
    std::string path, shortName, content;
    bool readOnly;
};
typedef std::map<std::string, Item> Snapshot;  // by Key()

void RecordTree(const std::string& folder, Snapshot& snapshot) {
    snapshot[Key(folder)] = Item{FolderItem, folder, "", "", false};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName, path = folder + "\\" + name;
        DWORD attributes = found.dwFileAttributes;
        if (name == "." || name == "..") continue;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) snapshot[Key(path)] = Item{LinkItem, path, "", "", false};
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY) RecordTree(path, snapshot);
        else snapshot[Key(path)] = Item{FileItem, path, found.cAlternateFileName, ReadWholeFile(path), bool(attributes & FILE_ATTRIBUTE_READONLY)};
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// A link to a file looks like its target under Wine; the case knows its own.
Snapshot RecordCase(const SoakCase& c) {
    Snapshot snapshot;
    RecordTree(c.folder, snapshot);
    RecordTree(TargetFolder, snapshot);
    for (const std::string& link : c.fileLinks) {
        auto item = snapshot.find(Key(link));
        if (item != snapshot.end()) item->second.kind = LinkItem;
    }
    return snapshot;
}


// FindFirstFileA's masks: "*" and "?", any letter case; "*.*" matches every name.
bool MatchesMask(const std::string& mask, const std::string& name) {
    return !name.empty() && (mask == "*.*" || PathMatchSpecA(name.c_str(), mask.c_str()));
}

// What the data allows to go, derived from the data alone; mustGo holds the
// files whose removal nothing can prevent (not open, not the running
// uninstaller), emptied the folders that held named files: each must be gone
// once nothing is left in it.
struct Allowed {
    std::set<std::string> files, folders, mustGo, emptied, unchecked;
};

bool IsProtected(const SoakCase& c, const std::string& path) {
    return Key(path).size() < 4 || (!c.protectedFolder.empty() && Key(path) == Key(c.protectedFolder));
}

// A folder (and alt, in step) with up to `levels` parents; a protected folder ends the climb.
void AllowClimb(const SoakCase& c, Allowed& allowed, std::string path, std::string alt, unsigned levels) {
    while (!IsProtected(c, path) && (alt.empty() || !IsProtected(c, alt))) {
        allowed.folders.insert(Key(path));
        if (!alt.empty()) allowed.folders.insert(Key(alt));
        if (levels-- == 0) return;
        path = ParentOf(path);
        if (!alt.empty() && (alt = ParentOf(alt)).empty()) return;
    }
}

// A file entry's file goes even when read-only (a quiet run asks nothing)
// and stays while in use; the directory and wildcard passes try once, unchecked.
void AllowFile(const SoakCase& c, const Snapshot& before, Allowed& allowed, const std::string& path, bool byFileEntry) {
    allowed.files.insert(Key(path));
    if (!byFileEntry) allowed.unchecked.insert(Key(path));
    auto item = before.find(Key(path));
    if (item != before.end() && item->second.kind == FileItem && (byFileEntry || !item->second.readOnly) &&
        Key(path) != Key(c.heldFile) && Key(path) != Key(c.install + "\\uninst.exe"))
        allowed.mustGo.insert(Key(path));
}

// A pattern's tree: its folder and everything below, never through a link or
// a protected folder; files whose long or short name matches the mask.
void AllowPattern(const SoakCase& c, const Snapshot& before, Allowed& allowed, const std::string& text) {
    std::string full = text.find('#') == std::string::npos ? c.install + "\\" + text : c.install + text.substr(text.find('#', 1) + 1);
    std::string top = Key(ParentOf(full)), mask = NameOf(full);
    auto folder = before.find(top);
    if (folder == before.end() || folder->second.kind != FolderItem || IsProtected(c, top)) return;
    allowed.folders.insert(top);
    for (const auto& entry : before) {
        if (!IsBelow(entry.first, top)) continue;
        bool reached = true;
        for (std::string up = ParentOf(entry.first); up != top; up = ParentOf(up)) reached = reached && !IsProtected(c, up);
        const Item& item = entry.second;
        if (!reached || item.kind == LinkItem) continue;
        if (item.kind == FolderItem && !IsProtected(c, item.path)) allowed.folders.insert(entry.first);
        if (item.kind != FileItem) continue;
        if (MatchesMask(mask, NameOf(item.path))) AllowFile(c, before, allowed, item.path, false);
        else if (MatchesMask(mask, item.shortName)) {
            allowed.files.insert(entry.first);
            allowed.unchecked.insert(entry.first);
        }
    }
}

Allowed DeriveAllowed(const SoakCase& c, const Snapshot& before) {
    Allowed allowed;
    for (const PackFile& entry : c.data.files) {
        std::string folder = entry.folder;
        if (!folder.empty() && folder[0] == '.') folder = folder.size() > 2 && folder[1] == '\\' ? c.install + folder.substr(1) : c.install;
        if (entry.name.empty() && !IsProtected(c, folder)) allowed.folders.insert(Key(folder));
        if (!entry.name.empty()) AllowFile(c, before, allowed, folder + "\\" + entry.name, true);
        // The emptied-folders walk: the folder that held the file and every parent, without limit.
        std::string held = entry.name.empty() ? folder : ParentOf(folder + "\\" + entry.name);
        AllowClimb(c, allowed, held, "", UINT_MAX);
        if (!IsProtected(c, held)) allowed.emptied.insert(Key(held));
    }
    for (const PackDirectory& entry : c.data.directories) {
        if (!entry.fileName.empty()) AllowFile(c, before, allowed, entry.path + "\\" + entry.fileName, false);
        AllowClimb(c, allowed, entry.path, entry.altPath, entry.levels);
    }
    for (const std::string& pattern : c.data.patterns) AllowPattern(c, before, allowed, pattern);
    return allowed;
}

// Whether the data names a registry item (a value by its own entry, a key or
// value by a key entry at or above it), and whether the run must remove it.
// On the 9x family a key entry is one RegDeleteKeyA, and Wine's 9x mode may
// stop after the first subkey, leaving the key and its other subkeys.
bool IsNamed(const PackData& data, const RegistrySnapshot& before, const std::string& item, bool* mustGo) {
    std::string lower = Lower(item), key = lower.substr(0, lower.find("\\\\"));
    bool named = false;
    *mustGo = false;
    for (const PackRegistry& entry : data.registry) {
        std::string path = Lower(entry.path);
        size_t last = path.rfind('\\');
        bool isValue = last != std::string::npos && last > 0 && path[last - 1] == '\\';
        if (isValue ? path != lower : key != path && !IsBelow(key, path)) continue;
        bool hasSubkeys = false;
        for (const auto& other : before)
            hasSubkeys = hasSubkeys || (other.first.find("\\\\") == std::string::npos && IsBelow(Lower(other.first), path));
        named = true;
        *mustGo = *mustGo || isValue || FamilyIsNt() || !hasSubkeys;
    }
    return named;
}

// Everything removed was allowed, everything else is as it was, and what
// nothing could keep is gone.
std::string FileProblems(const SoakCase& c, const Allowed& allowed, const Snapshot& before, const Snapshot& after) {
    std::string problems;
    for (const auto& entry : before) {
        const Item& item = entry.second;
        auto now = after.find(entry.first);
        bool inside = entry.first == Key(c.install) || IsBelow(entry.first, Key(c.install));
        bool permitted = inside && item.kind != LinkItem && (item.kind == FileItem ? allowed.files : allowed.folders).count(entry.first);
        if (now == after.end() && !permitted) problems += "  removed, but the data does not allow it: " + item.path + "\n";
        if (now != after.end() && (now->second.kind != item.kind || now->second.content != item.content))
            problems += "  changed: " + item.path + "\n";
        if (now != after.end() && allowed.mustGo.count(entry.first)) problems += "  named, but still there: " + item.path + "\n";
        if (now == after.end() && entry.first == Key(c.heldFile) && !allowed.unchecked.count(entry.first)) problems += "  removed while held open: " + item.path + "\n";
        // A held file that a pass deleted is gone only once its holder lets go, after the run.
        if (now != after.end() && now->second.kind == FolderItem && allowed.emptied.count(entry.first) &&
            Key(ParentOf(c.heldFile)) != entry.first) {
            auto below = after.lower_bound(entry.first + "\\");  // what lies below a folder sorts together
            if (below == after.end() || !IsBelow(below->first, entry.first)) problems += "  emptied, but still there: " + item.path + "\n";
        }
    }
    return problems;
}

std::string RegistryProblems(const SoakCase& c, const RegistrySnapshot& before, const RegistrySnapshot& after) {
    std::string problems;
    for (const auto& entry : before) {
        auto now = after.find(entry.first);
        bool mustGo, named = IsNamed(c.data, before, entry.first, &mustGo);
        if (mustGo && now != after.end()) problems += "  named, but still there: HKCU\\" + entry.first + "\n";
        if (!named && (now == after.end() || now->second != entry.second))
            problems += "  not named, but removed or changed: HKCU\\" + entry.first + "\n";
    }
    return problems;
}

// CommonFilesDir is one of the protected folders; returns the value it had.
std::string SwapCommonFilesDir(const std::string& folder) {
    std::string old;
    ReadValue(HKEY_LOCAL_MACHINE, CurrentVersion, "CommonFilesDir", &old);
    SetText(HKEY_LOCAL_MACHINE, CurrentVersion, "CommonFilesDir", folder);
    return old.c_str();
}

void RunCase(uint64_t seed, unsigned number, const std::string& testFolder) {
    Random random{seed * 0x9E3779B97F4A7C15ull + number};
    SoakCase c;
    std::string label = "QV_SOAK_SEED=" + std::to_string(seed) + " case " + std::to_string(number) +
                        " (replay with QV_SOAK_COUNT=" + std::to_string(number + 1) + ")";
    c.folder = testFolder + "case" + std::to_string(number);
    c.install = c.folder + "\\app";
    c.keyRoot = std::string(KeyRoot) + "\\case" + std::to_string(number);
    LayOutFiles(random, c);
    LayOutKeys(random, c);
    c.data.messages = TestMessages();
    c.data.messages[9] = c.data.messages[10] = "";  // no read-only or shared-file question in a quiet run
    AddFileEntries(random, c);
    AddDirectoryEntries(random, c);
    AddPatterns(random, c);
    AddRegistryEntries(random, c);
    std::string exe = WriteUninstaller(c.install + "\\", c.data);
    Snapshot before = RecordCase(c);
    RegistrySnapshot keysBefore, keysAfter;
    RecordKeys(HKEY_CURRENT_USER, c.keyRoot, keysBefore);
    Allowed allowed = DeriveAllowed(c, before);

    std::string savedCommonFiles = c.protectedFolder.empty() ? "" : SwapCommonFilesDir(c.protectedFolder);
    // Held for writing, a file is in use whatever its holder shares; a
    // read-only one cannot be held so and is not held at all.
    HANDLE held = c.heldFile.empty() ? INVALID_HANDLE_VALUE
                                     : CreateFileA(c.heldFile.c_str(), GENERIC_READ | GENERIC_WRITE, c.heldSharing, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) c.heldFile.clear();
    RunResult run = RunUninstaller(exe, "/S", {}, 15000);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (!c.protectedFolder.empty()) SwapCommonFilesDir(savedCommonFiles);

    std::string problems;
    if (run.timedOut || run.exitCode != 0 || !run.dialogs.empty())
        problems += "  the run showed " + std::to_string(run.dialogs.size()) + " dialogs and ended with " + std::to_string(run.exitCode) + "\n";
    RecordKeys(HKEY_CURRENT_USER, c.keyRoot, keysAfter);
    problems += FileProblems(c, allowed, before, RecordCase(c)) + RegistryProblems(c, keysBefore, keysAfter);
    for (size_t i = 0; i < c.hosts.size(); i++)
        MoveFileA(c.hosts[i].c_str(), (SlotFolder + std::to_string(c.slots[i])).c_str());
    if (!problems.empty()) {
        std::string manifest, error;
        DumpManifest(c.data, 1252, &manifest, &error);
        ADD_FAILURE() << label << ", in " << c.folder << ":\n" << problems << "protected: " << c.protectedFolder
                      << "\nheld open: " << c.heldFile << "\ndata:\n" << manifest << error;
        return;
    }
    RemoveTree(c.folder);
    RegDeleteTreeA(HKEY_CURRENT_USER, c.keyRoot.c_str());
}

uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
    const char* text = getenv(name);
    return text && *text ? strtoull(text, NULL, 0) : fallback;
}

TEST(Soak, RemovesOnlyWhatTheDataAllows) {
    uint64_t seed = EnvironmentNumber("QV_SOAK_SEED", 20240607);
    unsigned count = unsigned(EnvironmentNumber("QV_SOAK_COUNT", 40));
    std::printf("QV_SOAK_SEED=%llu QV_SOAK_COUNT=%u\n", (unsigned long long)seed, count);
    std::string folder = FreshTestFolder();
    for (unsigned number = 0; number < count; number++) RunCase(seed, number, folder);
    RegDeleteKeyA(HKEY_CURRENT_USER, KeyRoot);  // only when every case left it empty
}

}  // namespace
