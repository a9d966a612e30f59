// The manifest: a JSON description of one uninstaller's data, with UTF-8
// texts that are written in the manifest's code page.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack_model.h"

enum { DefaultCodePage = 1252, DefaultMessageCount = 16 };

// Readable names of the message indices 0..15, in index order.
extern const char* const MessageNames[DefaultMessageCount];

// The English table that a manifest without a language starts from (ASCII,
// so valid in every supported code page).
std::vector<std::string> DefaultMessages();

struct Manifest {
    int codePage = DefaultCodePage;
    PackData data;  // texts already in codePage
};

// What a manifest is read with besides its text.
struct ManifestContext {
    std::string language;  // wins over the manifest's "language"
    // The values of ${Name} in the manifest's texts, fixed when the uninstaller is made.
    std::map<std::string, std::string> variables;
    // For check: a variable without a value is noted here and left as written.
    std::set<std::string>* unset = nullptr;
    std::set<std::string>* used = nullptr;
    // Duplicates that do no harm (directories, registry entries, patterns) are noted here.
    std::vector<std::string>* warnings = nullptr;
    // Accepts relative file folders and directory paths, and token-less
    // absolute patterns, as older uninstallers may hold them.
    bool allowRelative = false;
    // Set where the uninstaller is made on the user's machine (uninstpack.exe):
    // its ANSI code page, in which every text is then written whatever the
    // manifest says, and its system locale ("ja-JP"), whose built-in table
    // "language": "auto" takes. 0 elsewhere, where "auto" gives English.
    int machineCodePage = 0;
    std::string machineLocale;
};

// A name that ${Name} can stand for: ASCII letters, digits and "_".
bool IsVariableName(const std::string& name);

// Replaces ${Name} in text by the variable's value as it stands ("$${" is a
// literal "${"), as for the manifest's texts; false with the reason.
bool ExpandVariables(const std::string& text, const ManifestContext& context, std::string* expanded, std::string* error);

// Parses and validates. On failure returns false with every error found, each
// starting with fileName: "FILE:LINE:COLUMN: ..." for JSON syntax,
// "FILE: /json/pointer: ..." for a field.
bool LoadManifest(const std::string& text, const std::string& fileName, Manifest* manifest,
                  std::vector<std::string>* errors, const ManifestContext& context = ManifestContext());

// The manifest JSON (2-space indent, final newline) that LoadManifest turns
// back into exactly this data. Fails for an unsupported code page and for
// texts that are not in the code page.
bool DumpManifest(const PackData& data, int codePage, std::string* json, std::string* error);
