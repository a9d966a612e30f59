#include "manifest.h"

#include <cctype>
#include <cstdio>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "codepage.h"
#include "data/entry_lists.h"
#include "languages.h"
#include "rules.h"

const char kVariableCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

// Ordered, so that errors come in the order of the file and the dump keeps a
// readable field order.
using Json = nlohmann::ordered_json;

const char* const MessageNames[DefaultMessageCount] = {
    "caption",        "confirm",         "finished",      "readOnlyRemove",  "readOnlyRemoveAll", "readOnlyKeep",
    "readOnlyKeepAll", "outOfMemory",    "dataUnreadable", "readOnlyPrompt", "sharedDllPrompt",   "statusFiles",
    "statusDirectories", "statusFolders", "statusRegistry", "fileInUse",
};

std::vector<std::string> DefaultMessages() {
    return BuiltInLanguages()[0].messages;
}

namespace {

enum : uint32_t {
    MaxMessageIndex = 0xFFFE,  // the table's text count is 16-bit
    MaxTextBytes = 0xFFFF,     // a stored text's length is 16-bit
    MaxPathBytes = 259,        // the uninstaller's path buffers hold 260 bytes
    MaxNesting = 64,           // a manifest needs 4 levels; more is a mistake
};

struct NamedValue {
    const char* name;
    uint32_t value;
};

const NamedValue kFileFlags[] = {
    {"shared", FileFlagSharedDll},
    {"font", FileFlagFont},
    {"comServer", FileFlagComServer},
    {"checkInUse", FileFlagCheckInUse},
};

std::string PointerToken(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

std::string Join(std::initializer_list<const char*> names) {
    std::string out;
    for (const char* name : names) out += (out.empty() ? "" : ", ") + std::string(name);
    return out;
}

// The registry pass reads a path whose last backslash character is doubled
// as a value: *split receives the position of the doubled pair's first
// backslash. For UTF-8 text, where every 0x5C byte is a backslash character
// (in a double-byte code page it may be a character's second byte).
bool IsValuePath(const std::string& path, size_t* split) {
    const size_t last = path.rfind('\\');
    if (last == std::string::npos || last == 0 || path[last - 1] != '\\') return false;
    *split = last - 1;
    return true;
}

bool ParseIndex(const std::string& key, uint32_t* index) {
    if (key.empty() || key.size() > 5 || (key.size() > 1 && key[0] == '0')) return false;
    uint32_t value = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > MaxMessageIndex) return false;
    *index = value;
    return true;
}

// Where a text stops being JSON, and why, and which keys occur twice in one
// object (the tree keeps only one of them, silently): one linear pass of
// events that builds nothing. (The build of the tool that installers ship has
// no exceptions.)
class JsonScanner : public nlohmann::json_sax<Json> {
public:
    size_t byte = 0;
    std::string message;
    bool tooDeep = false;
    std::vector<std::string> duplicates;

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override { return Enter(false); }
    bool key(string_t& name) override {
        Frame& top = stack_.back();
        top.key = name;
        if (!top.keys.insert(name).second) duplicates.push_back(top.path + "/" + PointerToken(name));
        return true;
    }
    bool end_object() override { return stack_.pop_back(), true; }
    bool start_array(std::size_t) override { return Enter(true); }
    bool end_array() override { return stack_.pop_back(), true; }
    bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception& e) override {
        byte = at;
        message = e.what();
        return false;
    }

private:
    struct Frame {
        std::string path;
        bool isArray = false;
        size_t next = 0;
        std::string key;
        std::set<std::string> keys;
    };

    // The pointer of the value that begins now.
    std::string ChildPath() {
        if (stack_.empty()) return std::string();
        Frame& top = stack_.back();
        if (top.isArray) return top.path + "/" + std::to_string(top.next++);
        return top.path + "/" + PointerToken(top.key);
    }
    bool Value() {
        if (!stack_.empty() && stack_.back().isArray) ++stack_.back().next;
        return true;
    }
    // The tree is built only for a text within the depth limit, so that its
    // memory stays proportional to the input.
    bool Enter(bool isArray) {
        if (stack_.size() >= MaxNesting) return tooDeep = true, false;
        Frame frame;
        frame.path = ChildPath();
        frame.isArray = isArray;
        stack_.push_back(std::move(frame));
        return true;
    }

    std::vector<Frame> stack_;
};

// Empty when the text is JSON within the nesting limit; otherwise where and why not.
std::string SyntaxError(const std::string& text, const std::string& fileName, JsonScanner& error) {
    // An editor's "Unicode" is UTF-16: a byte order mark, or a zero byte in each ASCII character.
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0 || text.find('\0') < 2)
        return fileName + ": is UTF-16, not UTF-8; save the manifest as UTF-8";
    if (Json::sax_parse(text, &error)) return std::string();
    if (error.tooDeep) return fileName + ": nested more than " + std::to_string(MaxNesting) + " levels deep; a manifest needs four";
    // The byte count includes the offending character.
    size_t at = error.byte == 0 ? 0 : error.byte - 1;
    if (at > text.size()) at = text.size();
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == '\n') ++line, lineStart = i + 1;
    const size_t column = at - lineStart + 1;
    std::string message = error.message;
    const size_t intro = message.find("parse error");
    const size_t colon = intro == std::string::npos ? std::string::npos : message.find(": ", intro);
    if (colon != std::string::npos) message = message.substr(colon + 2);
    return fileName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

// The table's texts in the code page; false when one cannot be written there.
bool EncodeLanguage(const Language& language, int codePage, std::vector<std::string>* encoded) {
    encoded->assign(language.messages.size(), std::string());
    std::string ignored;
    for (size_t i = 0; i < encoded->size(); ++i)
        if (!EncodeText(language.messages[i], codePage, &(*encoded)[i], &ignored)) return false;
    return true;
}

}  // namespace

bool IsVariableName(const std::string& name) {
    return !name.empty() && name.find_first_not_of(kVariableCharacters) == std::string::npos;
}

bool ExpandVariables(const std::string& text, const ManifestContext& context, std::string* expanded, std::string* error) {
    expanded->clear();
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, 3, "$${") == 0) {
            expanded->append("${");
            at += 3;
            continue;
        }
        if (text.compare(at, 2, "${") != 0) {
            expanded->push_back(text[at++]);
            continue;
        }
        const size_t close = text.find('}', at);
        const std::string name = text.substr(at + 2, close == std::string::npos ? 0 : close - at - 2);
        if (close == std::string::npos || !IsVariableName(name)) {
            *error = "\"${\" does not begin a variable such as ${InstallDir}; write \"$${\" for the text itself";
            return false;
        }
        const auto value = context.variables.find(name);
        const std::string nearest = value == context.variables.end() ? NearestVariable(name) : std::string();
        if (!nearest.empty()) {
            *error = "the variable ${" + name + "} is not one uninstpack knows; did you mean ${" + nearest + "}?";
            return false;
        }
        if (context.used) context.used->insert(name);
        if (value != context.variables.end()) {
            expanded->append(value->second);
        } else if (context.unset) {
            context.unset->insert(name);
            expanded->append(text, at, close + 1 - at);
        } else {
            *error = "the variable ${" + name + "} is not set; give it with -D " + name + "=VALUE" +
                     (name == "InstallDir" ? " or --install-dir DIR" : "");
            return false;
        }
        at = close + 1;
    }
    return true;
}

namespace {

// What reading one manifest keeps: where errors go, the code page its texts
// are written in, and what each list names already.
struct Reader {
    std::string file;
    const ManifestContext& context;
    std::vector<std::string>* errors;
    int codePage = DefaultCodePage;
    bool codePageOk = true;
    // Each list's normalised targets, with the first entry's JSON pointer.
    std::map<std::string, std::string> fileSeen, directorySeen, registrySeen, patternSeen;
};

void ReportError(Reader& r, const std::string& path, const std::string& message) {
    r.errors->push_back(r.file + ": " + (path.empty() ? "" : path + ": ") + message);
}

void ReportWarning(Reader& r, const std::string& path, const std::string& message) {
    if (r.context.warnings) r.context.warnings->push_back(r.file + ": " + path + ": warning: " + message);
}

std::string DescribeType(const Json& value) {
    if (value.is_string()) return "a text";
    if (value.is_number()) return "a number";
    if (value.is_boolean()) return "a boolean";
    if (value.is_array()) return "an array";
    if (value.is_object()) return "an object";
    return "null";
}

void RefuseUnknownKeys(Reader& r, const Json& object, const std::string& path, std::initializer_list<const char*> allowed) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* name : allowed) known = known || item.key() == name;
        if (!known)
            ReportError(r, path + "/" + PointerToken(item.key()),
                        "unknown key " + Quote(item.key()) + "; expected one of " + Join(allowed));
    }
}

bool RequireObject(Reader& r, const Json& value, const std::string& path) {
    if (value.is_object()) return true;
    ReportError(r, path, "must be an object, not " + DescribeType(value));
    return false;
}

const Json* FindArray(Reader& r, const Json& root, const char* key) {
    if (!root.contains(key)) return nullptr;
    const Json& value = root[key];
    if (value.is_array()) return &value;
    ReportError(r, std::string("/") + key, "must be an array, not " + DescribeType(value));
    return nullptr;
}

// A whole number in 0..max; false (with an error) otherwise.
bool ReadNumber(Reader& r, const Json& value, const std::string& path, uint64_t max, uint64_t* out) {
    const std::string range = "a whole number from 0 to " + std::to_string(max);
    if (!value.is_number_integer()) {
        ReportError(r, path, "must be " + range + ", not " + (value.is_number() ? value.dump() : DescribeType(value)));
        return false;
    }
    if (value.is_number_unsigned()) {
        *out = value.get<uint64_t>();
    } else {
        const int64_t signedValue = value.get<int64_t>();
        if (signedValue < 0) {
            ReportError(r, path, "must be " + range + ", not " + value.dump());
            return false;
        }
        *out = static_cast<uint64_t>(signedValue);
    }
    if (*out > max) {
        ReportError(r, path, value.dump() + " is above the limit " + std::to_string(max));
        return false;
    }
    return true;
}

bool ReadBool(Reader& r, const Json& object, const char* key, const std::string& path, bool* out) {
    if (!object.contains(key)) return true;
    const Json& value = object[key];
    if (value.is_boolean()) {
        *out = value.get<bool>();
        return true;
    }
    ReportError(r, path + "/" + key, "must be true or false, not " + DescribeType(value));
    return false;
}

bool ExpandText(Reader& r, const std::string& text, const std::string& path, std::string* expanded) {
    std::string error;
    if (ExpandVariables(text, r.context, expanded, &error)) return true;
    ReportError(r, path, error);
    return false;
}

// Converts a manifest text, its variables replaced, to the code page; false
// (with an error) when it cannot be stored.
bool EncodeField(Reader& r, const std::string& text, const std::string& path, std::string* bytes, std::string* expanded = nullptr) {
    std::string local;
    std::string& utf8 = expanded ? *expanded : local;
    if (!ExpandText(r, text, path, &utf8)) return false;
    if (utf8.find('\0') != std::string::npos) {
        ReportError(r, path, "the text contains a NUL character (\\u0000); the uninstaller would cut it there");
        return false;
    }
    if (!r.codePageOk) return false;
    std::string error;
    if (EncodeText(utf8, r.codePage, bytes, &error)) return true;
    ReportError(r, path, error);
    return false;
}

// An optional text field (absent = empty) or a required one.
bool ReadText(Reader& r, const Json& object, const char* key, const std::string& path, bool required, std::string* bytes,
          std::string* utf8 = nullptr) {
    bytes->clear();
    if (utf8) utf8->clear();
    if (!object.contains(key)) {
        if (!required) return true;
        ReportError(r, path, std::string("the required key \"") + key + "\" is missing");
        return false;
    }
    const Json& value = object[key];
    if (!value.is_string()) {
        ReportError(r, path + "/" + key, "must be a text, not " + DescribeType(value));
        return false;
    }
    return EncodeField(r, value.get_ref<const std::string&>(), path + "/" + key, bytes, utf8);
}

bool RequireNotEmpty(Reader& r, const std::string& bytes, const std::string& path, const char* why) {
    if (!bytes.empty()) return true;
    ReportError(r, path, std::string("must not be empty") + why);
    return false;
}

void CheckLimit(Reader& r, size_t bytes, size_t limit, const std::string& path, const std::string& what) {
    if (bytes <= limit) return;
    ReportError(r, path,
                what + " " + std::to_string(bytes) + " bytes in code page " + std::to_string(r.codePage) +
                    "; the limit is " + std::to_string(limit));
}

// The --language option wins over the manifest's "language"; English when neither names one.
// "auto" is the table of the machine's system locale (see ManifestContext).
const Language* ChooseLanguage(Reader& r, const Json& root, const std::string& languageOverride) {
    std::string tag = languageOverride, path = "--language";
    if (tag.empty() && root.contains("language")) {
        path = "/language";
        if (!root["language"].is_string()) {
            ReportError(r, path, "must be a text, not " + DescribeType(root["language"]));
            return BuiltInLanguages().data();
        }
        tag = root["language"].get<std::string>();
    }
    if (tag.empty()) return BuiltInLanguages().data();
    if (tag == "auto") {
        if (r.context.machineCodePage != 0) return LanguageForLocale(r.context.machineLocale, r.context.machineCodePage);
        ReportWarning(r, path, "\"auto\" is the language of the machine where uninstpack.exe makes the uninstaller; here it is English");
        return BuiltInLanguages().data();
    }
    const Language* language = FindLanguage(tag);
    if (!language) ReportError(r, path, "unknown language " + Quote(tag) + "; use one of " + LanguageTags());
    return language ? language : BuiltInLanguages().data();
}

// The language's own code page unless the manifest gives one.
void ChooseCodePage(Reader& r, const Json& root, const Language* language, Manifest* manifest) {
    manifest->codePage = r.codePage = language->codePage;
    if (!root.contains("codepage")) return;
    uint64_t number = 0;
    r.codePageOk = ReadNumber(r, root["codepage"], "/codepage", 0xFFFFFFFFu, &number);
    if (r.codePageOk && !IsSupportedCodePage(static_cast<int>(number))) {
        ReportError(r, "/codepage",
                    "code page " + std::to_string(number) + " is not supported; use one of " + SupportedCodePages());
        r.codePageOk = false;
    }
    r.codePage = static_cast<int>(number);
    if (r.codePageOk) manifest->codePage = r.codePage;
}

// On the user's machine the uninstaller reads its texts and paths in the
// ANSI code page, so they are written in it whatever the manifest says. A
// built-in table that cannot be written there would show mojibake or nothing;
// English is ASCII and can, and the installation goes on: a warning, not an
// error. The author's own texts have no such stand-in and stay errors.
const Language* ChooseMachineCodePage(Reader& r, const Json& root, const Language* language, Manifest* manifest) {
    const int machine = r.context.machineCodePage;
    if (machine == 0 || !r.codePageOk) return language;
    if (root.contains("codepage") && r.codePage != machine)
        ReportWarning(r, "/codepage", "written in this machine's ANSI code page " + std::to_string(machine) + ", not " +
                                          std::to_string(r.codePage));
    manifest->codePage = r.codePage = machine;
    std::vector<std::string> ignored;
    if (EncodeLanguage(*language, machine, &ignored)) return language;
    ReportWarning(r, "/language", "the " + language->tag + " table cannot be written in this machine's ANSI code page " +
                                      std::to_string(machine) + "; the uninstaller speaks English");
    return BuiltInLanguages().data();
}

bool ReadFileFlags(Reader& r, const Json& value, const std::string& path, uint8_t* flags) {
    uint64_t bits = 0;
    if (value.is_number()) {
        if (!ReadNumber(r, value, path, 255, &bits)) return false;
        *flags = static_cast<uint8_t>(bits);
        return true;
    }
    if (!value.is_array()) {
        ReportError(r, path, "must be an array of flag names or a number, not " + DescribeType(value));
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < value.size(); ++i) {
        const Json& item = value[i];
        const std::string itemPath = path + "/" + std::to_string(i);
        uint64_t bit = 0;
        if (item.is_number()) {
            ok = ReadNumber(r, item, itemPath, 255, &bit) && ok;
        } else if (item.is_string()) {
            const std::string& name = item.get_ref<const std::string&>();
            bool known = false;
            for (const NamedValue& flag : kFileFlags)
                if (name == flag.name) bit = flag.value, known = true;
            if (!known) {
                ReportError(r, itemPath,
                            "unknown flag " + Quote(name) +
                                "; expected one of shared, font, comServer, "
                                "checkInUse, or a number");
                ok = false;
            }
        } else {
            ReportError(r, itemPath, "must be a flag name or a number, not " + DescribeType(item));
            ok = false;
        }
        bits |= bit;
    }
    *flags = static_cast<uint8_t>(bits);
    return ok;
}

// The field's rules (rules.cpp); false with an error when one is broken.
bool KeepsRules(Reader& r, Field field, const std::string& utf8, const std::string& path) {
    const std::string problem = CheckField(field, utf8, r.context.allowRelative);
    if (!problem.empty()) ReportError(r, path, problem);
    return problem.empty();
}

// The uninstaller composes paths in 260-byte buffers and skips an entry
// whose path does not fit, so what it could never reach is refused here.
// An installation folder not known yet counts as the shortest, "C:".
void CheckPathLimit(Reader& r, const std::string& utf8, const std::string& path, const char* what) {
    std::string bytes, ignored, measured = utf8;
    const size_t at = measured.find("${InstallDir}");
    const bool shortest = at <= 1;  // at the start, or after a command's quote
    if (shortest) measured.replace(at, 13, "C:");
    if (measured.find("${") != std::string::npos || !EncodeText(measured, r.codePage, &bytes, &ignored)) return;
    if (bytes.size() > MaxPathBytes)
        ReportError(r, path,
                    std::string(what) + " " + Quote(utf8) + " is " + (shortest ? "at least " : "") +
                        std::to_string(bytes.size()) + " bytes in code page " + std::to_string(r.codePage) +
                        "; the uninstaller's limit for a path is " + std::to_string(MaxPathBytes));
}

std::string InstallDirOf(const Reader& r) {
    const auto value = r.context.variables.find("InstallDir");
    return value == r.context.variables.end() ? std::string("${InstallDir}") : value->second;
}

// Each file once: the uninstaller would lower a shared library's count
// once per entry, and so take another program's copy.
void RefuseDuplicate(Reader& r, const std::string& full, const std::string& path, bool isFile, std::map<std::string, std::string>* seen) {
    const auto found = seen->emplace(NormalPath(full), path);
    if (found.second) return;
    const std::string message = "names " + Quote(full) + " again, as " + found.first->second + " does";
    if (seen == &r.fileSeen)
        ReportError(r, path, message + (isFile ? "; a shared library listed twice has its use count lowered twice" : ""));
    else
        ReportWarning(r, path, message);
}

void ReadFileEntry(Reader& r, const Json& entry, const std::string& path, PackData* data) {
    if (!RequireObject(r, entry, path)) return;
    RefuseUnknownKeys(r, entry, path, {"folder", "name", "flags"});
    PackFile file;
    std::string folder, name;
    bool ok = ReadText(r, entry, "folder", path, true, &file.folder, &folder);
    ok = ok && RequireNotEmpty(r, file.folder, path + "/folder", "; use \".\" for the installation folder");
    ok = ok && KeepsRules(r, Field::FileFolder, folder, path + "/folder");
    ok = ReadText(r, entry, "name", path, false, &file.name, &name) && KeepsRules(r, Field::FileName, name, path + "/name") && ok;
    if (entry.contains("flags")) ok = ReadFileFlags(r, entry["flags"], path + "/flags", &file.flags) && ok;
    if (!ok) return;
    CheckLimit(r, file.folder.size() + file.name.size(), FileEntryTextLimit, path, "folder and name are");
    const std::string full = ComposeFilePath(folder, name, InstallDirOf(r));
    CheckPathLimit(r, full, path, "the file's path");
    RefuseDuplicate(r, full, path, (file.flags & FileFlagSharedDll) != 0, &r.fileSeen);
    data->files.push_back(std::move(file));
}

void ReadDirectoryEntry(Reader& r, const Json& entry, const std::string& path, PackData* data) {
    if (!RequireObject(r, entry, path)) return;
    RefuseUnknownKeys(r, entry, path, {"path", "altPath", "fileName", "levels"});
    PackDirectory directory;
    std::string folder, alternative, name;
    bool ok = ReadText(r, entry, "path", path, true, &directory.path, &folder);
    ok = ok && RequireNotEmpty(r, directory.path, path + "/path", "") && KeepsRules(r, Field::DirectoryPath, folder, path + "/path");
    ok = ReadText(r, entry, "altPath", path, false, &directory.altPath, &alternative) &&
         KeepsRules(r, Field::DirectoryPath, alternative, path + "/altPath") && ok;
    ok = ReadText(r, entry, "fileName", path, false, &directory.fileName, &name) &&
         KeepsRules(r, Field::DirectoryFileName, name, path + "/fileName") && ok;
    if (entry.contains("levels")) {
        uint64_t levels = 0;
        ok = ReadNumber(r, entry["levels"], path + "/levels", 255, &levels) && ok;
        directory.levels = static_cast<uint8_t>(levels);
    }
    if (!ok) return;
    CheckLimit(r, directory.path.size() + directory.altPath.size() + directory.fileName.size(), DirectoryEntryTextLimit,
          path, "path, altPath and fileName are");
    CheckPathLimit(r, ComposeFilePath(folder, name, ""), path, "the path");
    CheckPathLimit(r, alternative, path, "altPath");
    RefuseDuplicate(r, folder, path, false, &r.directorySeen);
    data->directories.push_back(std::move(directory));
}

// The uninstaller reads a registry entry by characters: a value is named
// after a doubled backslash. A part of the key that ends in a double-byte
// character whose second byte is 0x5C (ソ, 表 in 932) puts that byte right
// before a backslash; read byte by byte or in another code page, the entry
// is a value of another key. In a value name the byte is taken for the last
// backslash, and the entry for a whole key. Neither is stored.
bool KeepsBackslashBytes(Reader& r, const std::string& utf8, bool isKey, const std::string& path) {
    const std::string character = FindBackslashTrailCharacter(utf8, r.codePage, isKey);
    if (character.empty()) return true;
    std::string bytes, ignored;
    EncodeText(character, r.codePage, &bytes, &ignored);
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%02X 0x5C", static_cast<unsigned char>(bytes[0]));
    ReportError(r, path,
                character + " is " + shown + " in code page " + std::to_string(r.codePage) + ", its second byte a backslash; " +
                    (isKey ? "ending a part of the key, it would make a reader that goes byte by byte, or by another code page, "
                             "take the entry for a value of another key. Rename that part"
                           : "a reader that goes byte by byte, or by another code page, would take it for the last backslash "
                             "and the entry for a key to remove whole. Rename the value"));
    return false;
}

bool ReadRootKey(Reader& r, const Json& entry, const std::string& path, uint32_t* root) {
    if (!entry.contains("root")) {
        ReportError(r, path, "the required key \"root\" is missing");
        return false;
    }
    const Json& value = entry["root"];
    if (value.is_string()) {
        if (RootFromName(value.get_ref<const std::string&>(), root)) return true;
        ReportError(
            r, path + "/root",
            "unknown root key " + value.dump() + "; use HKCR, HKCU, HKLM, HKU, HKCC, their HKEY_ names, or a number");
        return false;
    }
    uint64_t number = 0;
    if (!ReadNumber(r, value, path + "/root", 0xFFFFFFFFu, &number)) return false;
    *root = static_cast<uint32_t>(number);
    // The uninstaller passes the number on as a key handle: any other is no key, or one no rule here knows.
    if (RootName(*root)) return true;
    ReportError(r, path + "/root", value.dump() + " is not a predefined key the uninstaller acts on; use HKCR, HKCU, HKLM, HKU or HKCC");
    return false;
}

void ReadRegistryEntry(Reader& r, const Json& entry, const std::string& path, PackData* data) {
    if (!RequireObject(r, entry, path)) return;
    RefuseUnknownKeys(r, entry, path, {"root", "key", "value"});
    PackRegistry registry;
    std::string key, value, keyText, valueText;
    bool ok = ReadRootKey(r, entry, path, &registry.root);
    ok = ReadText(r, entry, "key", path, true, &key, &keyText) && RequireNotEmpty(r, key, path + "/key", "") &&
         KeepsRules(r, Field::RegistryKey, keyText, path + "/key") && ok;
    const bool isValue = entry.contains("value");
    ok = ReadText(r, entry, "value", path, false, &value, &valueText) && KeepsRules(r, Field::RegistryValue, valueText, path + "/value") && ok;
    ok = ok && KeepsBackslashBytes(r, keyText, true, path + "/key") &&
         KeepsBackslashBytes(r, valueText, false, path + "/value");
    size_t split = 0;
    if (ok && !isValue && IsValuePath(keyText, &split)) {
        ReportError(r, path + "/key",
                    "the last backslash is doubled, so the uninstaller would read this key as a "
                    "value; give the value name in \"value\"");
        ok = false;
    }
    const char* notOwn = ok && !isValue ? WhyNotOwnRegistryKey(registry.root, keyText) : nullptr;
    if (notOwn) {
        ReportError(r, path + "/key", Quote(keyText) + " " + notOwn);
        ok = false;
    }
    const std::string shared = ok && !isValue ? SharedByViews(registry.root, keyText) : std::string();
    if (!shared.empty()) ReportWarning(r, path + "/key", Quote(keyText) + " " + shared);
    if (!ok) return;
    registry.path = isValue ? key + "\\\\" + value : key;
    CheckLimit(r, registry.path.size(), RegistryEntryTextLimit, path,
          isValue ? "key, the two backslashes and value are" : "the key is");
    RefuseDuplicate(r, std::to_string(registry.root) + "\\" + keyText + (isValue ? "\\\\" + valueText : ""), path, false,
                &r.registrySeen);
    data->registry.push_back(std::move(registry));
}

void ReadPattern(Reader& r, const Json& value, const std::string& path, PackData* data) {
    if (!value.is_string()) {
        ReportError(r, path, "must be a text, not " + DescribeType(value));
        return;
    }
    std::string bytes, utf8;
    if (!EncodeField(r, value.get_ref<const std::string&>(), path, &bytes, &utf8)) return;
    if (!RequireNotEmpty(r, bytes, path, " (an empty text ends the pattern list)")) return;
    if (!KeepsRules(r, Field::Pattern, utf8, path)) return;
    const std::string full = utf8[0] == '#' ? utf8 : InstallDirOf(r) + "\\" + utf8;
    if (utf8[0] != '#') CheckPathLimit(r, full, path, "the pattern");
    RefuseDuplicate(r, full, path, false, &r.patternSeen);
    data->patterns.push_back(std::move(bytes));
}

void ReadOptions(Reader& r, const Json& value, const std::string& path, PackOptions* options) {
    if (!RequireObject(r, value, path)) return;
    RefuseUnknownKeys(r, value, path, {"waitForProgram", "themedControls", "flags", "program", "document"});
    options->present = true;
    bool wait = false, themed = false;
    ReadBool(r, value, "waitForProgram", path, &wait);
    ReadBool(r, value, "themedControls", path, &themed);
    uint64_t flags = 0;
    if (value.contains("flags")) ReadNumber(r, value["flags"], path + "/flags", 0xFFFFFFFFu, &flags);
    options->flags = static_cast<uint32_t>(flags) | (wait ? OptWaitForProgram : 0) |
                     (themed ? OptThemedControls : 0);
    std::string utf8;
    // A command without a leading token is put behind the installation folder, in a 260-byte buffer.
    if (ReadText(r, value, "program", path, false, &options->program, &utf8) &&
        KeepsRules(r, Field::Command, utf8, path + "/program") && ComposeCommand(utf8, "") != utf8)
        CheckPathLimit(r, ComposeCommand(utf8, InstallDirOf(r)), path + "/program", "the command put behind the installation folder");
    if (ReadText(r, value, "document", path, false, &options->document, &utf8)) KeepsRules(r, Field::Document, utf8, path + "/document");
}

void ReadGivenMessages(Reader& r, const Json& table, std::vector<std::string>* messages, std::map<uint32_t, std::string>* given) {
    std::map<uint32_t, std::string>& setBy = *given;
    for (const auto& item : table.items()) {
        const std::string path = "/messages/" + PointerToken(item.key());
        uint32_t index = 0;
        bool named = false;
        for (uint32_t i = 0; i < DefaultMessageCount; ++i)
            if (item.key() == MessageNames[i]) index = i, named = true;
        if (!named && !ParseIndex(item.key(), &index)) {
            ReportError(r, path,
                        "unknown message " + Quote(item.key()) + "; use an index from 0 to " +
                            std::to_string(MaxMessageIndex) + " or a name such as caption, confirm, finished");
            continue;
        }
        if (!setBy.emplace(index, item.key()).second) {
            ReportError(r, path, "message " + std::to_string(index) + " is already set by " + Quote(setBy[index]));
            continue;
        }
        if (!item.value().is_string()) {
            ReportError(r, path, "must be a text, not " + DescribeType(item.value()));
            continue;
        }
        std::string bytes, utf8;
        if (!EncodeField(r, item.value().get_ref<const std::string&>(), path, &bytes, &utf8)) continue;
        const std::string placeholders = CheckPlaceholders(index, utf8);
        if (!placeholders.empty()) {
            ReportError(r, path, placeholders);
            continue;
        }
        if (bytes.size() > MaxTextBytes) {
            CheckLimit(r, bytes.size(), MaxTextBytes, path, "the text is");
            continue;
        }
        if (index >= messages->size()) messages->resize(index + 1);
        (*messages)[index] = std::move(bytes);
    }
}

// The language's table, in which texts given under "messages" replace
// theirs by name or index.
void ReadMessages(Reader& r, const Json& root, const Language* language, std::vector<std::string>* messages) {
    messages->assign(language->messages.size(), std::string());
    std::map<uint32_t, std::string> setBy;
    if (root.contains("messages") && RequireObject(r, root["messages"], "/messages")) ReadGivenMessages(r, root["messages"], messages, &setBy);
    for (uint32_t i = 0; i < language->messages.size(); ++i)
        if (!setBy.count(i)) EncodeField(r, language->messages[i], "/language: message " + std::string(MessageNames[i]), &(*messages)[i]);
}

void ReadManifestRoot(Reader& r, const Json& root, Manifest* manifest) {
    if (!root.is_object()) {
        ReportError(r, "", "the manifest must be a JSON object, not " + DescribeType(root));
        return;
    }
    RefuseUnknownKeys(r, root, "", {"$schema", "codepage", "language", "files", "directories", "registry", "patterns",
                         "options", "messages"});
    if (root.contains("$schema") && !root["$schema"].is_string()) ReportError(r, "/$schema", "must be a text");
    const Language* language = ChooseLanguage(r, root, r.context.language);
    ChooseCodePage(r, root, language, manifest);
    language = ChooseMachineCodePage(r, root, language, manifest);
    PackData& data = manifest->data;
    if (const Json* files = FindArray(r, root, "files")) {
        for (size_t i = 0; i < files->size(); ++i) ReadFileEntry(r, (*files)[i], "/files/" + std::to_string(i), &data);
    }
    if (const Json* directories = FindArray(r, root, "directories")) {
        for (size_t i = 0; i < directories->size(); ++i)
            ReadDirectoryEntry(r, (*directories)[i], "/directories/" + std::to_string(i), &data);
    }
    if (const Json* registry = FindArray(r, root, "registry")) {
        for (size_t i = 0; i < registry->size(); ++i)
            ReadRegistryEntry(r, (*registry)[i], "/registry/" + std::to_string(i), &data);
    }
    if (const Json* patterns = FindArray(r, root, "patterns")) {
        for (size_t i = 0; i < patterns->size(); ++i) ReadPattern(r, (*patterns)[i], "/patterns/" + std::to_string(i), &data);
    }
    if (root.contains("options")) ReadOptions(r, root["options"], "/options", &data.options);
    ReadMessages(r, root, language, &data.messages);
}

}  // namespace

bool LoadManifest(const std::string& text, const std::string& fileName, Manifest* manifest,
                  std::vector<std::string>* errors, const ManifestContext& context) {
    JsonScanner scanner;
    const std::string syntax = SyntaxError(text, fileName, scanner);
    if (!syntax.empty()) {
        errors->push_back(syntax);
        return false;
    }
    // Without a callback: the library's callback parser rescans the parent
    // array each time a value ends, which is quadratic in the entries.
    const Json root = Json::parse(text, nullptr, false);
    const size_t before = errors->size();
    for (const std::string& path : scanner.duplicates)
        errors->push_back(fileName + ": " + path + ": the key occurs more than once in its object");
    Manifest result;
    Reader reader{fileName, context, errors};
    ReadManifestRoot(reader, root, &result);
    if (errors->size() != before) return false;
    *manifest = std::move(result);
    return true;
}

bool DumpManifest(const PackData& data, int codePage, std::string* json, std::string* error) {
    if (codePage != 0 && !IsSupportedCodePage(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not supported; use one of " + SupportedCodePages();
        return false;
    }
    // The built-in table that the data holds the most texts of, at least half
    // of them, in the code page given or else in the table's own.
    const Language* language = nullptr;
    std::vector<std::string> table;
    size_t best = DefaultMessageCount / 2 - 1;
    for (const Language& candidate : BuiltInLanguages()) {
        const int page = codePage != 0 ? codePage : candidate.codePage;
        std::vector<std::string> encoded;
        const bool fits = data.messages.size() >= candidate.messages.size() && EncodeLanguage(candidate, page, &encoded);
        size_t same = 0;
        for (size_t i = 0; fits && i < encoded.size(); ++i) same += encoded[i] == data.messages[i];
        if (fits && same > best) best = same, language = &candidate, table = encoded;
    }
    if (codePage == 0) codePage = language ? language->codePage : DefaultCodePage;
    // The first text that is not in the code page fails the dump.
    // "${" is written "$${", so that the build does not take it for a variable.
    std::string undecodable;
    auto text = [codePage, &undecodable](const std::string& bytes) {
        std::string utf8, problem, escaped;
        if (!DecodeText(bytes, codePage, &utf8, &problem) && undecodable.empty()) undecodable = problem;
        for (size_t at = 0; at < utf8.size(); ++at) {
            if (utf8.compare(at, 2, "${") == 0) escaped += '$';
            escaped += utf8[at];
        }
        return escaped;
    };
    Json root = Json::object();
    root["codepage"] = codePage;
    if (language) root["language"] = language->tag;

    if (!data.files.empty()) {
        Json& files = root["files"] = Json::array();
        for (const PackFile& file : data.files) {
            Json entry = {{"folder", text(file.folder)}, {"name", text(file.name)}};
            if (file.flags != 0) {
                Json flags = Json::array();
                uint32_t rest = file.flags;
                for (const NamedValue& flag : kFileFlags) {
                    if (rest & flag.value) flags.push_back(flag.name);
                    rest &= ~flag.value;
                }
                if (rest != 0) flags.push_back(rest);
                entry["flags"] = std::move(flags);
            }
            files.push_back(std::move(entry));
        }
    }
    if (!data.directories.empty()) {
        Json& directories = root["directories"] = Json::array();
        for (const PackDirectory& directory : data.directories) {
            Json entry = {{"path", text(directory.path)}};
            if (!directory.altPath.empty()) entry["altPath"] = text(directory.altPath);
            if (!directory.fileName.empty()) entry["fileName"] = text(directory.fileName);
            if (directory.levels != 0) entry["levels"] = directory.levels;
            directories.push_back(std::move(entry));
        }
    }
    if (!data.registry.empty()) {
        Json& registry = root["registry"] = Json::array();
        for (const PackRegistry& item : data.registry) {
            Json entry = Json::object();
            entry["root"] = item.root;
            if (const char* name = RootName(item.root)) entry["root"] = name;
            const std::string path = text(item.path);
            size_t split = 0;
            if (IsValuePath(path, &split)) {
                entry["key"] = path.substr(0, split);
                entry["value"] = path.substr(split + 2);
            } else {
                entry["key"] = path;
            }
            registry.push_back(std::move(entry));
        }
    }
    if (!data.patterns.empty()) {
        Json& patterns = root["patterns"] = Json::array();
        for (const std::string& pattern : data.patterns) patterns.push_back(text(pattern));
    }
    if (data.options.present) {
        const PackOptions& options = data.options;
        Json entry = {{"waitForProgram", (options.flags & OptWaitForProgram) != 0},
                      {"themedControls", (options.flags & OptThemedControls) != 0}};
        const uint32_t rest = options.flags & ~static_cast<uint32_t>(OptWaitForProgram | OptThemedControls);
        if (rest != 0) entry["flags"] = rest;
        if (!options.program.empty()) entry["program"] = text(options.program);
        if (!options.document.empty()) entry["document"] = text(options.document);
        root["options"] = std::move(entry);
    }
    if (data.messages.size() > table.size() || data.messages != table) {
        Json& messages = root["messages"] = Json::object();
        for (size_t i = 0; i < data.messages.size(); ++i) {
            if (i < table.size() && data.messages[i] == table[i]) continue;  // the language's own
            // Empty texts past the named ones are gaps the build fills again;
            // only the last index is needed to keep the table's length.
            if (i >= DefaultMessageCount && data.messages[i].empty() && i + 1 != data.messages.size()) continue;
            const std::string key = i < DefaultMessageCount ? MessageNames[i] : std::to_string(i);
            messages[key] = text(data.messages[i]);
        }
    }
    if (!undecodable.empty()) {
        *error = "the data is not in code page " + std::to_string(codePage) + ": " + undecodable + "; give its code page with --codepage";
        return false;
    }
    *json = root.dump(2) + "\n";
    return true;
}
