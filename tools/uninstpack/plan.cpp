#include "plan.h"

#include <map>
#include <set>

#include "codepage.h"
#include "data/entry_lists.h"
#include "rules.h"

namespace {

std::string Utf8(const std::string& bytes, int codePage) {
    std::string utf8, ignored;
    DecodeText(bytes, codePage, &utf8, &ignored);
    return utf8;
}

// What the file pass does with a file, by its flags.
std::string Treatment(uint8_t flags) {
    std::string text;
    if (flags & FileFlagSharedDll) text += "; shared: its count under SharedDLLs lowered, removed at 0 after asking";
    if (flags & FileFlagFont) text += "; font: deregistered first, its folder kept";
    if (flags & FileFlagComServer) text += "; COM server: unregistered first";
    if (!(flags & (FileFlagFont | FileFlagComServer))) text += "; asked first when it is read-only";
    return text;
}

std::string RootText(uint32_t root) {
    const char* name = RootName(root);
    return name ? name : std::to_string(root);
}

// What becomes of a folder once it is empty: the uninstaller never removes
// Windows' or the user's own.
std::string WhenEmpty(const std::string& folder) {
    return CheckInstallDir(folder, {}).empty() ? "removed when empty" : "never removed: Windows' or the user's own";
}

}  // namespace

std::string PlanRun(const PackData& data, int codePage, const std::string& installDir) {
    std::string plan;
    auto line = [&plan](const std::string& text) { plan += text + "\n"; };
    auto file = [&](const PackFile& entry) {
        return ComposeFilePath(Utf8(entry.folder, codePage), Utf8(entry.name, codePage), installDir);
    };
    line("confirm: message 1 (not with /Q, /S, /X)");
    for (const PackFile& entry : data.files)
        if (entry.flags & FileFlagCheckInUse) line("in use?  " + file(entry) + " (Retry or Cancel while it is)");
    const PackOptions& options = data.options;
    if (!options.program.empty())
        line("program  " + ComposeCommand(Utf8(options.program, codePage), installDir) +
             ((options.flags & OptWaitForProgram) ? " (waited for)" : " (not waited for)") + " (not with /X alone)");
    for (size_t i = data.files.size(); i-- > 0;) {
        const PackFile& entry = data.files[i];
        line(entry.name.empty() ? "folder   " + file(entry) + " (" + WhenEmpty(file(entry)) + ")"
                                : "file     " + file(entry) + " (" + Treatment(entry.flags).substr(2) + ")");
    }
    for (const std::string& bytes : data.patterns) {
        const std::string pattern = Utf8(bytes, codePage);
        const std::string full = pattern.find('#') != std::string::npos ? pattern : installDir + "\\" + pattern;
        const size_t last = full.rfind('\\');
        line("pattern  " + full.substr(last + 1) + " in " + full.substr(0, last) +
             " and every folder below it; the folders it empties, and the folder itself when empty" +
             (pattern[0] == '#' ? "" : " (behind the uninstaller's own folder: the installation folder only when it lies there)"));
    }
    for (const PackDirectory& entry : data.directories) {
        const std::string path = Utf8(entry.path, codePage), name = Utf8(entry.fileName, codePage);
        if (!name.empty()) line("file     " + ComposeFilePath(path, name, installDir));
    }
    for (const PackDirectory& entry : data.directories) {
        for (const std::string* text : {&entry.path, &entry.altPath}) {
            if (text->empty()) continue;
            std::string climb;
            const std::vector<std::string> folders = ClimbFolders(Utf8(*text, codePage), entry.levels);
            for (size_t i = 1; i < folders.size(); ++i)
                climb += (i == 1 ? "; then, while each is empty: " : ", ") + folders[i] + " (" + WhenEmpty(folders[i]) + ")";
            line("folder   " + folders[0] + " (" + WhenEmpty(folders[0]) + climb + ")");
        }
    }
    line("folders  the folders the files above left empty, climbing while empty");
    for (const PackRegistry& entry : data.registry) {
        const std::string rootName = RootText(entry.root);
        const std::string path = Utf8(entry.path, codePage);
        const size_t last = path.rfind('\\');
        if (last != std::string::npos && last > 0 && path[last - 1] == '\\')
            line("value    " + rootName + "\\" + path.substr(0, last - 1) + " : \"" + path.substr(last + 1) + "\"");
        else
            line("key      " + rootName + "\\" + path + " (with everything below it)");
    }
    // The format removes a key whole or a value, never a key once it is empty.
    std::set<std::string> whole;
    std::map<std::string, std::string> stay;  // as compared, as written
    for (const PackRegistry& entry : data.registry) {
        const std::string path = Utf8(entry.path, codePage);
        const size_t last = path.rfind('\\');
        const bool isValue = last != std::string::npos && last > 0 && path[last - 1] == '\\';
        const std::string key = RootText(entry.root) + "\\" + (isValue ? path.substr(0, last - 1) : path);
        if (isValue) stay.emplace(NormalPath(key), key);
        else whole.insert(NormalPath(key));
    }
    for (const auto& key : stay) {
        bool below = false;
        for (const std::string& gone : whole) below = below || key.first == gone || key.first.compare(0, gone.size() + 1, gone + "\\") == 0;
        if (!below) line("stays    " + key.second + " (only its values named above go; a key is never removed when it is left empty)");
    }
    line("finished: message 2 when not empty (not with /Q, /S, /X)");
    if (!options.document.empty()) line("document " + Utf8(options.document, codePage) + " (not with /S or /X)");
    line("self     the uninstaller and its folder when empty, after it ends (not with /S or /X)");
    return plan;
}
