// uninstpack: makes uninstallers from a JSON manifest and reads them back.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <windows.h>
#endif

#include "block_writer.h"
#include "codepage.h"
#include "data/records.h"
#include "file_io.h"
#include "harvest.h"
#include <algorithm>
#include "program_list.h"
#include "data/entry_lists.h"
#include "languages.h"
#include "manifest.h"
#include "plan.h"
#include "rules.h"
#include "read_uninstaller.h"
#include "stub.h"

namespace {

enum { ExitOk = 0, ExitInputError = 1, ExitUsage = 2 };

const char kOverview[] =
    "Usage: uninstpack COMMAND [ARGUMENTS]\n"
    "\n"
    "Makes uninstallers from a JSON manifest and reads them back.\n"
    "\n"
    "Commands:\n"
    "  build MANIFEST.json -o OUT.exe [--stub STUB.exe] [--language TAG] [VARIABLES]\n"
    "                 write an uninstaller: the stub followed by the data of the manifest\n"
    "  dump UNINSTALLER.exe [--codepage N] [-o OUT.json]\n"
    "                 print the data of an uninstaller as a manifest\n"
    "  check MANIFEST.json [--language TAG] [VARIABLES] [--staging DIR]\n"
    "                 validate a manifest without writing anything; list its variables\n"
    "  plan MANIFEST.json [--language TAG] [VARIABLES]\n"
    "                 what a run of its uninstaller would do, in order, one line each\n"
    "  languages      list the built-in message tables: tag, name, code page\n"
    "  harvest STAGING -o OUT.json [OPTIONS]\n"
    "                 write a manifest that removes everything in a staging folder\n"
    "  seal STUB.exe  write the stub's own size into its data locator\n"
    "\n"
    "VARIABLES: --install-dir DIR and -D NAME=VALUE (repeatable) give the values of\n"
    "${InstallDir} and ${NAME} in the manifest's texts; on Windows the machine's\n"
    "folders are variables too (${Windows}, ${ProgramFiles}, ${AppData}, ...).\n"
    "Run 'uninstpack COMMAND --help' for the details of a command, 'uninstpack --version'\n"
    "for the version.\n"
    "Exit status: 0 success, 1 invalid input (manifest, stub, uninstaller), 2 wrong usage.\n";

const char kBuildHelp[] =
    "Usage: uninstpack build MANIFEST.json -o OUT.exe [--stub STUB.exe] [--language TAG]\n"
    "                        [--install-dir DIR] [-D NAME=VALUE]... [--allow-relative] [--quiet]\n"
    "\n"
    "Validates MANIFEST.json and writes OUT.exe: a copy of the stub whose data\n"
    "locator points just past its end, followed by the uninstall data. OUT.exe is\n"
    "written whole or not at all.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT.exe  the uninstaller to write (required)\n"
    "  --stub STUB.exe       the uninstaller program without data; by default the\n"
    "                        uninst.exe in the folder of uninstpack itself\n"
    "  --language TAG        the built-in message table to start from (see\n"
    "                        'uninstpack languages'); wins over the manifest's\n"
    "                        \"language\"\n"
    "  --install-dir DIR     the value of ${InstallDir}: the folder the program\n"
    "                        was installed to\n"
    "  -D NAME=VALUE         the value of ${NAME}; repeatable. On Windows the\n"
    "                        machine's folders are set already, as a 32-bit program\n"
    "                        sees them: Windows, System, Fonts, ProgramFiles,\n"
    "                        CommonFiles, AppData, LocalAppData, CommonAppData,\n"
    "                        Desktop, StartMenu, Programs, Startup, Temp; -D wins\n"
    "  --allow-relative      accept relative file folders and directory paths, and\n"
    "                        absolute patterns without a token, as older uninstallers\n"
    "                        hold them (for a dump of one)\n"
    "  --quiet               print nothing on success\n"
    "  --list-as NAME        list the program in the system's list of installed\n"
    "                        programs under NAME (on Windows, in the registry;\n"
    "                        with --list-reg, and on Linux, in a .reg file), with\n"
    "                        the uninstaller as UninstallString and, with /Q, as\n"
    "                        QuietUninstallString; the uninstaller removes the entry\n"
    "  --publisher TEXT, --version TEXT, --icon PATH\n"
    "                        more of that entry\n"
    "  --list-reg FILE.reg   write the entry to FILE.reg for the installer to import\n"
    "                        (written with OUT.exe: both or neither)\n"
    "  --list-as, --publisher, --version and --icon take variables as the manifest\n"
    "  does; the other three and --list-reg need --list-as\n"
    "  -h, --help            show this text\n";

const char kDumpHelp[] =
    "Usage: uninstpack dump UNINSTALLER.exe [--codepage N] [-o OUT.json]\n"
    "\n"
    "Reads the uninstall data of UNINSTALLER.exe and prints it as a manifest.\n"
    "Building that manifest with the same stub gives a byte-identical file.\n"
    "\n"
    "Options:\n"
    "  --codepage N          the code page the texts were written in (the data does\n"
    "                        not record it; by default the code page of the built-in\n"
    "                        message table the data holds, else 1252)\n"
    "  -o, --output OUT.json write the manifest to a file instead of standard output\n"
    "  -h, --help            show this text\n";

const char kCheckHelp[] =
    "Usage: uninstpack check MANIFEST.json [--language TAG] [--install-dir DIR]\n"
    "                        [-D NAME=VALUE]... [--allow-relative] [--quiet] [--staging DIR]\n"
    "\n"
    "Validates MANIFEST.json as build does, and prints \"ok\" or every error found.\n"
    "It also lists the variables the manifest uses and those that are not set\n"
    "here (to be given when the uninstaller is made); these are no error.\n"
    "\n"
    "Options:\n"
    "  --language, --install-dir, -D, --allow-relative, --quiet: as for build\n"
    "  --staging DIR         the build's staging folder: every file entry in the\n"
    "                        installation folder must be there (an error), and every\n"
    "                        staged file should be listed (a warning)\n"
    "  -h, --help            show this text\n";

const char kPlanHelp[] =
    "Usage: uninstpack plan MANIFEST.json [--language TAG] [--install-dir DIR]\n"
    "                       [-D NAME=VALUE]... [--allow-relative]\n"
    "\n"
    "Validates MANIFEST.json as build does and prints what a run of its uninstaller\n"
    "would do, in the order it does it, one line each: every file with its full\n"
    "path and treatment, the patterns, the folders with their climb, the registry\n"
    "keys and values, the program and the document. Variables not given stay as\n"
    "written.\n";

const char kHarvestHelp[] =
    "Usage: uninstpack harvest STAGING -o MANIFEST.json [OPTIONS]\n"
    "\n"
    "Writes a manifest that removes everything under STAGING as installed in the\n"
    "installation folder: a \".\" entry for each folder and file, in installation\n"
    "order (a folder before the files in it, parents before children), in a fixed\n"
    "order whatever the file system's. The result passes check.\n"
    "\n"
    "Options (GLOB: a path relative to STAGING with * and ?, where * also crosses\n"
    "folders; repeatable; one that matches nothing is an error):\n"
    "  --check-in-use GLOB   flag the matching files to be checked for being in use\n"
    "  --shared GLOB         flag them as shared libraries (counted under SharedDLLs)\n"
    "  --com-server GLOB     flag them as COM servers to unregister\n"
    "  --pattern PATTERN     a wildcard pattern of leftovers to remove too\n"
    "  --merge MANIFEST      a hand-written manifest (messages, options, directories,\n"
    "                        patterns, registry, files) to combine with; what both\n"
    "                        name is written once\n"
    "  --registry FILE.reg   the installation's registry file (REGEDIT4 or version 5):\n"
    "                        each value it sets becomes a value entry\n"
    "  --skip-special        leave out links and special files (counted) instead of\n"
    "                        failing on them\n"
    "  --own-key KEY         a key the installation created, such as\n"
    "                        HKLM\\Software\\Vendor\\App: removed with everything below\n"
    "                        it, instead of value by value. Refused for a root and\n"
    "                        for keys that many programs share\n"
    "  -h, --help            show this text\n";

const char kLanguagesHelp[] =
    "Usage: uninstpack languages\n"
    "\n"
    "Lists the built-in message tables: the tag to give as \"language\" in a\n"
    "manifest or --language on build, the language's name, and the ANSI code page\n"
    "that is the manifest's default when it names the language.\n";

const char kSealHelp[] =
    "Usage: uninstpack seal STUB.exe\n"
    "\n"
    "Writes the size of STUB.exe into its data locator, in place, so that data\n"
    "appended to the file is found. The build does this after linking the stub.\n"
    "\n"
    "Options:\n"
    "  -h, --help            show this text\n";

void Fail(const std::string& message) { std::fprintf(stderr, "uninstpack: %s\n", message.c_str()); }

int Usage(const std::string& message, const std::string& verb) {
    Fail(message);
    std::fprintf(stderr, "Try 'uninstpack %s--help'.\n", verb.empty() ? "" : (verb + " ").c_str());
    return ExitUsage;
}

struct Arguments {
    std::vector<std::string> positional;
    std::string output, stub, codePage, language, installDir, merge, staging;
    std::string listAs, publisher, version, icon, listReg;  // the program's entry in the system's list
    // Options that may be given again and again, by name: -D NAME=VALUE, --shared GLOB, ...
    std::map<std::string, std::vector<std::string>> lists;
    bool allowRelative = false, quiet = false, skipSpecial = false;
    bool help = false;
};

const char* const kListOptions[] = {"-D", "--check-in-use", "--shared", "--com-server", "--pattern", "--registry", "--own-key"};

const char kValueAsItStands[] = "a value goes in as it stands, so a variable in it would stay text; give the folder itself";

// -D NAME=VALUE: a name that a manifest can use, given once.
bool CheckDefinition(const std::string& item, const std::vector<std::string>& given, const std::string& verb, int* status) {
    const std::string name = item.substr(0, item.find('='));
    std::string problem;
    if (!IsVariableName(name)) problem = "a variable's name is ASCII letters, digits and _ only, or ${" + name + "} could not name it";
    for (const std::string& earlier : given)
        if (earlier.substr(0, earlier.find('=')) == name) problem = name + " is given twice (" + earlier + ")";
    if (item.find("${", name.size()) != std::string::npos) problem = kValueAsItStands;
    if (problem.empty()) return true;
    *status = Usage("-D " + item + ": " + problem, verb);
    return false;
}

// Parses the arguments after the verb; only the options in `allowed` are
// accepted. Returns false after reporting a usage error.
bool ParseArguments(int argc, char** argv, const std::string& verb, const std::vector<std::string>& allowed,
                    Arguments* arguments, int* status) {
    auto isAllowed = [&](const std::string& name) {
        for (const std::string& option : allowed)
            if (option == name) return true;
        return false;
    };
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            arguments->help = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            arguments->positional.push_back(arg);
            continue;
        }
        if (arg == "--output") arg = "-o";
        bool* flag = arg == "--allow-relative" ? &arguments->allowRelative
                     : arg == "--quiet"        ? &arguments->quiet
                     : arg == "--skip-special" ? &arguments->skipSpecial
                                               : nullptr;
        if (flag && isAllowed(arg)) {
            *flag = true;
            continue;
        }
        std::string item;
        bool isList = false;
        for (const char* name : kListOptions) isList = isList || arg == name;
        std::string* target = isList ? &item
                              : arg == "-o" ? &arguments->output
                              : arg == "--stub" ? &arguments->stub
                              : arg == "--codepage" ? &arguments->codePage
                              : arg == "--language" ? &arguments->language
                              : arg == "--install-dir" ? &arguments->installDir
                              : arg == "--merge" ? &arguments->merge
                              : arg == "--list-as" ? &arguments->listAs
                              : arg == "--publisher" ? &arguments->publisher
                              : arg == "--version" ? &arguments->version
                              : arg == "--icon" ? &arguments->icon
                              : arg == "--list-reg" ? &arguments->listReg
                              : arg == "--staging" ? &arguments->staging
                                                    : nullptr;
        if (!target || !isAllowed(arg)) {
            *status = Usage("unknown option '" + std::string(argv[i]) + "' for " + verb, verb);
            return false;
        }
        if (i + 1 >= argc) {
            *status = Usage("option '" + std::string(argv[i]) + "' needs a value", verb);
            return false;
        }
        if (!target->empty() && !isList) {
            *status = Usage("option '" + std::string(argv[i]) + "' is given twice", verb);
            return false;
        }
        *target = argv[++i];
        if (target->empty()) {
            *status = Usage("option '" + std::string(argv[i - 1]) + "' needs a non-empty value", verb);
            return false;
        }
        const size_t equals = item.find('=');
        if (arg == "-D" && (equals == 0 || equals == std::string::npos)) {
            *status = Usage("-D needs NAME=VALUE, not '" + item + "'", verb);
            return false;
        }
        if (arg == "-D" && !CheckDefinition(item, arguments->lists[arg], verb, status)) return false;
        if (isList) arguments->lists[arg].push_back(item);
    }
    return true;
}

bool OnePositional(const Arguments& arguments, const std::string& verb, const char* what, int* status) {
    if (arguments.positional.size() == 1) return true;
    *status = Usage(arguments.positional.empty() ? std::string("missing ") + what
                                                 : "too many arguments for " + verb,
                    verb);
    return false;
}

#ifdef _WIN32
// The machine's folders, from the sources the uninstaller's folder tokens use,
// without a trailing backslash. A folder the system cannot give is not set.
void AddMachineFolders(std::map<std::string, std::string>* variables) {
    // In the order of KnownVariables after InstallDir: a CSIDL, or -1 for a
    // value of ...\CurrentVersion, or -2 for the temporary folder.
    const struct { int csidl; const char* value; } folders[] = {
        {CSIDL_WINDOWS, nullptr}, {CSIDL_SYSTEM, nullptr}, {CSIDL_FONTS, nullptr}, {-1, "ProgramFilesDir"},
        {-1, "CommonFilesDir"}, {CSIDL_APPDATA, nullptr}, {CSIDL_LOCAL_APPDATA, nullptr},
        {CSIDL_COMMON_APPDATA, nullptr}, {CSIDL_DESKTOPDIRECTORY, nullptr}, {CSIDL_STARTMENU, nullptr},
        {CSIDL_PROGRAMS, nullptr}, {CSIDL_STARTUP, nullptr}, {-2, nullptr}};
    for (size_t i = 0; i < sizeof folders / sizeof folders[0] && KnownVariables[i + 1]; ++i) {
        const auto& folder = folders[i];
        // Asked in UTF-16, as the manifest's texts are UTF-8 whatever the ANSI code page.
        wchar_t path[MAX_PATH + 1] = {};
        DWORD size = sizeof path - sizeof path[0];
        bool found = folder.csidl >= 0   ? SUCCEEDED(SHGetFolderPathW(NULL, folder.csidl, NULL, 0, path))
                     : folder.csidl == -1 ? RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                                         WidePath(folder.value).data(), RRF_RT_REG_SZ, NULL, path, &size) == ERROR_SUCCESS
                                          : GetTempPathW(MAX_PATH, path) != 0;
        std::string value = Utf8(path, static_cast<int>(wcslen(path)));
        if (value.size() > 3 && value.back() == '\\') value.pop_back();
        if (found && !value.empty()) (*variables)[KnownVariables[i + 1]] = value;
    }
}

// The ANSI code page the uninstaller will run under, and the system locale
// as "ja-JP": the locale that code page comes from, not the account's
// display language. A system locale whose own ANSI code page is another
// gives no tag, and so English.
void AddMachineLocale(ManifestContext* context) {
    context->machineCodePage = static_cast<int>(GetACP());
    const LCID locale = GetSystemDefaultLCID();
    char codePage[8] = {}, language[10] = {}, country[10] = {};
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, codePage, sizeof codePage) &&
        std::atoi(codePage) == context->machineCodePage &&
        GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language) &&
        GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country))
        context->machineLocale = std::string(language) + "-" + country;
}
#endif

// --install-dir as given: refused when it is Windows' or the user's, and
// kept without a trailing backslash ("C:\App\" would give "C:\App\\logs").
bool PrepareInstallDir(Arguments* arguments, const std::string& verb, int* status) {
    std::string& dir = arguments->installDir;
    if (dir.empty()) return true;
    std::vector<std::string> machineFolders;
#ifdef _WIN32
    std::map<std::string, std::string> folders;
    AddMachineFolders(&folders);
    for (const auto& folder : folders) machineFolders.push_back(folder.second);
#endif
    const std::string problem = dir.find("${") != std::string::npos ? dir + ": " + kValueAsItStands : CheckInstallDir(dir, machineFolders);
    if (!problem.empty()) {
        *status = Usage("--install-dir " + problem, verb);
        return false;
    }
    while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return true;
}

ManifestContext ContextOf(const Arguments& arguments) {
    ManifestContext context;
    context.language = arguments.language;
    context.allowRelative = arguments.allowRelative;
#ifdef _WIN32
    AddMachineFolders(&context.variables);
    AddMachineLocale(&context);
#endif
    if (!arguments.installDir.empty()) context.variables["InstallDir"] = arguments.installDir;
    for (const std::string& define : arguments.lists.count("-D") ? arguments.lists.at("-D") : std::vector<std::string>())
        context.variables[define.substr(0, define.find('='))] = define.substr(define.find('=') + 1);
    return context;
}

bool LoadManifestFile(const std::string& path, ManifestContext context, Manifest* manifest) {
    std::string text, error;
    if (!ReadWholeFile(path, &text, &error)) {
        Fail(error);
        return false;
    }
    std::vector<std::string> errors, warnings;
    context.warnings = &warnings;
    const bool ok = LoadManifest(text, path, manifest, &errors, context);
    for (const std::string& message : errors) Fail(message);
    for (const std::string& message : warnings) Fail(message);
    return ok;
}

// A command never writes over one of its inputs: the same file, or the same
// name for one that is not there yet.
bool WritesOverInput(const std::string& output, const std::string& option, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        if (input.empty() || (output != input && !IsSameFile(output, input))) continue;
        Fail(option + " " + output + ": is also an input of this command (" + input + "); writing there would destroy it");
        return true;
    }
    return false;
}

// The program's entry for --list-as, and its key added to the data, so that
// the uninstaller removes its own entry.
bool PrepareListing(const Arguments& arguments, Manifest* manifest, ProgramListing* listing) {
    const ManifestContext context = ContextOf(arguments);
    const struct { const char* option; const std::string* given; std::string* value; } texts[] = {
        {"--list-as", &arguments.listAs, &listing->displayName}, {"--publisher", &arguments.publisher, &listing->publisher},
        {"--version", &arguments.version, &listing->version}, {"--icon", &arguments.icon, &listing->icon}};
    for (const auto& text : texts) {
        std::string error;
        if (!ExpandVariables(*text.given, context, text.value, &error)) {
            Fail(std::string(text.option) + ": " + error);
            return false;
        }
        error = CheckField(Field::Document, *text.value, false);
        if (!error.empty()) {
            Fail(std::string(text.option) + ": " + error);
            return false;
        }
    }
    // The entry is removed whole, so it goes through the rules of any key the manifest names.
    const std::string entryKey = ListingKey(*listing);
    std::string problem = CheckField(Field::RegistryKey, entryKey, false);
    const char* notOwn = WhyNotOwnRegistryKey(0x80000002u, entryKey);
    if (problem.empty() && notOwn) problem = Quote(entryKey) + " " + notOwn;
    if (!problem.empty()) {
        Fail("--list-as: the program's entry " + problem + (listing->displayName.empty() ? "; the name is empty" : ""));
        return false;
    }
    listing->installDir = arguments.installDir;
#ifdef _WIN32
    wchar_t full[32768];
    const DWORD length = GetFullPathNameW(WidePath(arguments.output).data(), 32768, full, nullptr);
    listing->uninstaller = length && length < 32768 ? Utf8(full, static_cast<int>(length)) : arguments.output;
#else
    // Here the uninstaller's path on the user's machine is known only from the installation folder.
    if (arguments.listReg.empty() || arguments.installDir.empty()) {
        Fail("--list-as needs --list-reg FILE and --install-dir DIR here: only Windows has the list itself");
        return false;
    }
    const size_t slash = arguments.output.find_last_of("/\\");
    listing->uninstaller = arguments.installDir + (arguments.installDir.back() == '\\' ? "" : "\\") +
                           arguments.output.substr(slash == std::string::npos ? 0 : slash + 1);
#endif
    if (!arguments.installDir.empty()) listing->estimatedKiB = FolderKiB(arguments.installDir);
    std::string key, error;
    if (!EncodeText(ListingKey(*listing), manifest->codePage, &key, &error) || key.size() > RegistryEntryTextLimit) {
        Fail("--list-as: the program's entry " + ListingKey(*listing) + " cannot be stored: " +
             (error.empty() ? "over " + std::to_string(RegistryEntryTextLimit) + " bytes" : error));
        return false;
    }
    manifest->data.registry.push_back({0x80000002u, key});  // HKEY_LOCAL_MACHINE
    return true;
}

int Build(const Arguments& arguments) {
    const std::string& manifestPath = arguments.positional[0];
    Manifest manifest;
    if (!LoadManifestFile(manifestPath, ContextOf(arguments), &manifest)) return ExitInputError;

    std::string stubPath = arguments.stub;
    if (stubPath.empty()) {
        const std::string folder = ExecutableFolder();
        if (folder.empty()) {
            Fail("cannot find the folder of uninstpack to look for uninst.exe; give the stub with --stub");
            return ExitInputError;
        }
        stubPath = folder + "uninst.exe";
    }
    std::string stub, error;
    if (!ReadWholeFile(stubPath, &stub, &error)) {
        Fail("stub: " + error + (arguments.stub.empty() ? " (give another stub with --stub)" : ""));
        return ExitInputError;
    }
    size_t at = 0;
    if (!FindDataLocator(stub, &at, &error)) {
        Fail(stubPath + ": not a usable stub: " + error);
        return ExitInputError;
    }
    if (IsSigned(stub)) {
        Fail(stubPath + ": not a usable stub: it carries a signature, which the data appended after it would "
                        "invalidate; sign the uninstaller after build, not the stub");
        return ExitInputError;
    }
    // A file that already carries data would give an uninstaller with two
    // blocks, the first of them dead weight.
    const uint32_t offset = ReadDataOffset(stub, at);
    if (offset != 0 && offset < stub.size()) {
        Fail(stubPath + ": not a usable stub: its data offset " + std::to_string(offset) +
             " points inside the file, so it already carries uninstall data; use the uninstaller without data");
        return ExitInputError;
    }
    // Only the stub's own build seals it with its size; the locator's marker
    // alone is in uninstpack too.
    if (offset != stub.size()) {
        Fail(stubPath + ": not a usable stub: its data locator does not hold its own size, as the built uninst.exe's "
                        "does; give the uninst.exe that comes with uninstpack");
        return ExitInputError;
    }
    if (IsSameFile(stubPath, arguments.output)) {
        Fail(arguments.output + ": is the stub itself; writing the uninstaller there would destroy the stub");
        return ExitInputError;
    }
    if (WritesOverInput(arguments.output, "-o", {manifestPath}) ||
        WritesOverInput(arguments.listReg, "--list-reg", {manifestPath, stubPath, arguments.output}))
        return ExitInputError;
    ProgramListing listing;
    if (!arguments.listAs.empty() && !PrepareListing(arguments, &manifest, &listing)) return ExitInputError;
    std::string image;
    if (!MakeUninstaller(stub, WriteBlock(manifest.data), &image, &error)) {
        Fail(stubPath + ": " + error);
        return ExitInputError;
    }
    // The uninstaller and its .reg file are written both or neither.
    std::vector<std::pair<std::string, std::string>> outputs = {{arguments.output, image}};
    if (!arguments.listAs.empty() && !arguments.listReg.empty()) outputs.push_back({arguments.listReg, ListingRegFile(listing)});
    if (!WriteFilesReplacing(outputs, &error)) {
        Fail(error);
        return ExitInputError;
    }
#ifdef _WIN32
    // Listed only once the uninstaller that the entry runs is there; without
    // the entry, no uninstaller either.
    if (!arguments.listAs.empty() && arguments.listReg.empty() && !WriteListing(listing, &error)) {
        RemoveFileQuietly(arguments.output);
        Fail(error + "; the uninstaller is not written either");
        return ExitInputError;
    }
#endif
    return ExitOk;
}

int Dump(const Arguments& arguments) {
    int codePage = 0;  // the built-in table's, found in the data
    if (!arguments.codePage.empty()) {
        char* end = nullptr;
        const long number = std::strtol(arguments.codePage.c_str(), &end, 10);
        if (*end != '\0' || !IsSupportedCodePage(static_cast<int>(number)) || number != static_cast<int>(number))
            return Usage("code page '" + arguments.codePage + "' is not supported; use one of " +
                             SupportedCodePages(),
                         "dump");
        codePage = static_cast<int>(number);
    }
    const std::string& path = arguments.positional[0];
    if (WritesOverInput(arguments.output, "-o", {path})) return ExitInputError;
    PackData data;
    std::string error, json;
    if (!ReadUninstaller(path, &data, &error)) {
        Fail(path + ": " + error);
        return ExitInputError;
    }
    if (!DumpManifest(data, codePage, &json, &error)) {
        Fail(error);
        return ExitInputError;
    }
    // Data that no manifest could have made (another tool's, or hand-made)
    // dumps faithfully but will not build; say so now rather than later.
    std::vector<std::string> problems;
    Manifest ignored;
    if (!LoadManifest(json, "dumped manifest", &ignored, &problems)) {
        for (const std::string& problem : problems) Fail("warning: " + problem);
    }
    if (arguments.output.empty()) {
        std::fwrite(json.data(), 1, json.size(), stdout);
        if (std::fflush(stdout) != 0) {
            Fail("cannot write to standard output");
            return ExitInputError;
        }
    } else if (!WriteFileReplacing(arguments.output, json, &error)) {
        Fail(error);
        return ExitInputError;
    }
    return ExitOk;
}

std::string JoinNames(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// check --staging: the manifest's files in the installation folder against
// the build's staging tree, both ways.
bool CheckStaging(const Arguments& arguments, const Manifest& manifest) {
    std::vector<StagedItem> staged;
    std::vector<std::string> errors;
    size_t skipped = 0;
    ListStaging(arguments.staging, true, &staged, &errors, &skipped);
    enum { IsFile = 1, Named = 2 };
    std::map<std::string, size_t> listed;  // path -> IsFile, Named
    for (const StagedItem& item : staged) listed[NormalPath(item.relative)] = item.folder ? 0 : IsFile;
    const std::string installDir = arguments.installDir.empty() ? std::string() : NormalPath(arguments.installDir) + "\\";
    for (size_t i = 0; i < manifest.data.files.size(); ++i) {
        std::string folder, name, ignored;
        DecodeText(manifest.data.files[i].folder, manifest.codePage, &folder, &ignored);
        DecodeText(manifest.data.files[i].name, manifest.codePage, &name, &ignored);
        std::string relative;
        if (folder[0] == '.') relative = folder.size() > 2 ? folder.substr(2) : "";
        else if (!installDir.empty() && NormalPath(folder + "\\x").compare(0, installDir.size(), installDir) == 0)
            relative = folder.substr(std::min(folder.size(), installDir.size()));
        else continue;  // outside the installation folder
        if (!name.empty()) relative += (relative.empty() ? "" : "\\") + name;
        if (relative.empty()) continue;  // the installation folder itself
        const auto found = listed.find(NormalPath(relative));
        if (found == listed.end())
            errors.push_back(arguments.positional[0] + ": /files/" + std::to_string(i) + ": " + relative +
                             " is not in the staging folder " + arguments.staging);
        else
            found->second |= Named;
    }
    for (const std::string& error : errors) Fail(error);
    for (const StagedItem& item : staged)
        if (listed[NormalPath(item.relative)] == IsFile)
            Fail("warning: " + arguments.staging + ": " + item.relative + " is staged but no entry names it; the uninstaller leaves it");
    return errors.empty();
}

int Check(const Arguments& arguments) {
    Manifest manifest;
    std::set<std::string> used, unset;
    ManifestContext context = ContextOf(arguments);
    context.used = &used;
    context.unset = &unset;
    if (!LoadManifestFile(arguments.positional[0], context, &manifest)) return ExitInputError;
    if (!arguments.staging.empty() && !CheckStaging(arguments, manifest)) return ExitInputError;
    if (arguments.quiet) return ExitOk;
    if (!used.empty()) std::printf("variables: %s\n", JoinNames(used).c_str());
    if (!unset.empty()) std::printf("not set here, to be given when the uninstaller is made: %s\n", JoinNames(unset).c_str());
    std::puts("ok");
    return ExitOk;
}

int Plan(const Arguments& arguments) {
    Manifest manifest;
    std::set<std::string> unset;
    ManifestContext context = ContextOf(arguments);
    context.unset = &unset;
    if (!LoadManifestFile(arguments.positional[0], context, &manifest)) return ExitInputError;
    const std::string plan = PlanRun(manifest.data, manifest.codePage,
                                     arguments.installDir.empty() ? std::string("${InstallDir}") : arguments.installDir);
    std::fwrite(plan.data(), 1, plan.size(), stdout);
    return ExitOk;
}

int HarvestCommand(const Arguments& arguments) {
    HarvestOptions options;
    options.staging = arguments.positional[0];
    auto list = [&](const char* name) { return arguments.lists.count(name) ? arguments.lists.at(name) : std::vector<std::string>(); };
    options.checkInUse = list("--check-in-use");
    options.shared = list("--shared");
    options.comServer = list("--com-server");
    options.patterns = list("--pattern");
    options.ownKeys = list("--own-key");
    std::string error;
    if (!arguments.merge.empty() && !ReadWholeFile(arguments.merge, &options.mergeText, &error)) {
        Fail(error);
        return ExitInputError;
    }
    options.mergeName = arguments.merge;
    std::vector<std::string> inputs = list("--registry");
    inputs.push_back(arguments.merge);
    if (WritesOverInput(arguments.output, "-o", inputs)) return ExitInputError;
    for (const std::string& path : list("--registry")) {
        std::string contents;
        if (!ReadWholeFile(path, &contents, &error)) {
            Fail(error);
            return ExitInputError;
        }
        options.registryFiles.push_back(contents);
        options.registryNames.push_back(path);
    }
    options.skipSpecial = arguments.skipSpecial;
    std::string json, note;
    std::vector<std::string> errors;
    const bool ok = Harvest(options, &json, &errors, &note);
    for (const std::string& message : errors) Fail(message);
    if (!note.empty()) Fail(note);
    if (!ok) return ExitInputError;
    if (!WriteFileReplacing(arguments.output, json, &error)) {
        Fail(error);
        return ExitInputError;
    }
    return ExitOk;
}

int Languages(const Arguments&) {
    for (const Language& language : BuiltInLanguages()) {
        // Padded by the columns a terminal gives the characters, not UTF-8
        // bytes, so that the columns line up: the names' three-byte
        // characters (Japanese, Chinese, Korean) take two.
        size_t width = 0;
        for (unsigned char c : language.name) width += (c & 0xC0) == 0x80 ? 0 : c >= 0xE0 ? 2 : 1;
        const std::string padding(width < 22 ? 22 - width : 1, ' ');
        std::printf("%-6s %s%s%d\n", language.tag.c_str(), language.name.c_str(), padding.c_str(), language.codePage);
    }
    return ExitOk;
}

int Seal(const Arguments& arguments) {
    const std::string& path = arguments.positional[0];
    std::string image, error;
    if (!ReadWholeFile(path, &image, &error)) {
        Fail(error);
        return ExitInputError;
    }
    size_t at = 0;
    if (!FindDataLocator(image, &at, &error)) {
        Fail(path + ": " + error);
        return ExitInputError;
    }
    // A finished uninstaller's data would be cut off from it.
    const uint32_t offset = ReadDataOffset(image, at);
    if (offset != 0 && offset != image.size()) {
        Fail(path + ": carries uninstall data at " + std::to_string(offset) + "; seal only the stub, never an uninstaller");
        return ExitInputError;
    }
    if (!SealStub(&image, &error)) {
        Fail(path + ": " + error);
        return ExitInputError;
    }
    if (!PatchFile(path, at + DataLocatorMarkerSize, image.substr(at + DataLocatorMarkerSize, 4), &error)) {
        Fail(error);
        return ExitInputError;
    }
    return ExitOk;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage("no command given", "");
    const std::string verb = argv[1];
    if (verb == "-h" || verb == "--help" || verb == "help") {
        std::fputs(kOverview, stdout);
        return ExitOk;
    }
    if (verb == "--version") {
        std::puts("uninstpack " UNINSTPACK_VERSION);
        return ExitOk;
    }
    struct Verb {
        const char* name;
        const char* help;
        std::vector<std::string> options;
        const char* operand;
        int (*run)(const Arguments&);
    };
    const Verb verbs[] = {
        {"build", kBuildHelp,
         {"-o", "--stub", "--language", "--install-dir", "-D", "--allow-relative", "--quiet", "--list-as", "--publisher",
          "--version", "--icon", "--list-reg"},
         "MANIFEST.json", Build},
        {"dump", kDumpHelp, {"-o", "--codepage"}, "UNINSTALLER.exe", Dump},
        {"check", kCheckHelp, {"--language", "--install-dir", "-D", "--allow-relative", "--quiet", "--staging"},
         "MANIFEST.json", Check},
        {"plan", kPlanHelp, {"--language", "--install-dir", "-D", "--allow-relative"}, "MANIFEST.json", Plan},
        {"seal", kSealHelp, {}, "STUB.exe", Seal},
        {"languages", kLanguagesHelp, {}, nullptr, Languages},
        {"harvest", kHarvestHelp,
         {"-o", "--check-in-use", "--shared", "--com-server", "--pattern", "--merge", "--registry", "--own-key", "--skip-special"},
         "STAGING",
         HarvestCommand},
    };
    for (const Verb& entry : verbs) {
        if (verb != entry.name) continue;
        Arguments arguments;
        int status = ExitOk;
        if (!ParseArguments(argc, argv, verb, entry.options, &arguments, &status) || !PrepareInstallDir(&arguments, verb, &status))
            return status;
        if (arguments.help) {
            std::fputs(entry.help, stdout);
            return ExitOk;
        }
        if (entry.operand ? !OnePositional(arguments, verb, entry.operand, &status) : !arguments.positional.empty())
            return entry.operand ? status : Usage("too many arguments for " + verb, verb);
        if (verb == "build" && arguments.output.empty()) return Usage("missing -o OUT.exe", verb);
        if (arguments.listAs.empty() && !(arguments.publisher + arguments.version + arguments.icon + arguments.listReg).empty())
            return Usage("--publisher, --version, --icon and --list-reg describe the --list-as entry; give --list-as NAME", verb);
        if (verb == "harvest" && arguments.output.empty()) return Usage("missing -o OUT.json", verb);
        return entry.run(arguments);
    }
    return Usage("unknown command '" + verb + "'", "");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The dump is UTF-8 and must reach a file byte for byte, without CR added.
    _setmode(_fileno(stdout), _O_BINARY);
    // The arguments as UTF-8, so that paths with any letters survive whatever the ANSI code page.
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 0; wide && i < argc; ++i) arguments.push_back(Utf8(wide[i], static_cast<int>(wcslen(wide[i]))));
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(&argument[0]);
    pointers.push_back(nullptr);
    if (wide) argv = pointers.data();
#endif
#if defined(__cpp_exceptions)
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Fail(std::string("internal error: ") + e.what());
        return ExitInputError;
    }
#else
    return Run(argc, argv);
#endif
}
