// What a manifest may say, as tables of rules by the kind of field: the
// checks that keep an author's mistake from becoming a deletion.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The kinds of text that name something on the user's machine.
enum class Field { FileFolder, FileName, DirectoryPath, DirectoryFileName, RegistryKey, RegistryValue, Pattern, Command, Document };

// The first rule of the field's kind that the UTF-8 text breaks, as a message
// that begins with the quoted text; empty when it keeps them all. Rules that
// only say where a path is taken from are waived with allowRelative (older
// uninstallers hold such texts), and for a text that still holds an unset ${Name}.
std::string CheckField(Field field, const std::string& utf8, bool allowRelative);

// Whole-key removal is for keys an installation made: its vendor key and
// below, its CLSID, TypeLib, AppID, Interface, ProgID and Applications
// entries, its own Uninstall and App Paths entry. Case-insensitive; the
// WOW6432Node mirror counts as the key it mirrors. Null for such a key;
// otherwise why it is not one, a message that follows the quoted key.
const char* WhyNotOwnRegistryKey(uint32_t root, const std::string& key);

// For a key WhyNotOwnRegistryKey accepts: why removing it whole may take a
// 64-bit build's registration too, the key being one for both registry views
// on Windows 7 and later (Classes but its CLSID, Interface and media keys;
// App Paths), and what to name instead; a message that follows the quoted
// key. Empty for a key each view has its own of.
std::string SharedByViews(uint32_t root, const std::string& key);

// The predefined roots the uninstaller acts on: "HKLM" or "HKEY_LOCAL_MACHINE"
// (any case) and back; RootName is null for any other number.
bool RootFromName(const std::string& name, uint32_t* root);
const char* RootName(uint32_t root);  // the short name, or null

// Message index's placeholders: 7 to 10 take one "%s", the others none; "%%"
// is a percent sign wherever "%s" is taken. Empty when the text is right.
std::string CheckPlaceholders(uint32_t index, const std::string& utf8);

// The names ${...} that uninstpack.exe sets from the machine's folders on
// Windows (main.cpp looks them up in this order), after InstallDir; null-terminated.
extern const char* const KnownVariables[];
// The known name nearest to a misspelt one (at most two edits, any case), or empty.
std::string NearestVariable(const std::string& name);

// The text in double quotes as JSON writes it, control characters as \u00XX:
// how messages show a value.
std::string Quote(const std::string& text);

// The uninstaller's folder tokens (#AppData#, ...), for messages: "#Windows#, #System#, ...".
std::string FolderTokenList();

// Why a folder cannot be the installation folder: a drive's root, a folder of
// Windows' or the user's own by its name, one of machineFolders (the
// machine's own, where known), or a folder above one of them. Empty when it can.
std::string CheckInstallDir(const std::string& dir, const std::vector<std::string>& machineFolders);

// The command line the uninstaller composes for its pre-removal program: one
// that does not begin with a folder token (after a quote and blanks) is put
// behind folder, the uninstaller's own.
std::string ComposeCommand(const std::string& command, const std::string& folder);

// The full path the uninstaller composes for a file entry: a folder that
// begins with "." is put behind installDir (given without a trailing backslash).
std::string ComposeFilePath(const std::string& folder, const std::string& name, const std::string& installDir);

std::string LowerAscii(std::string text);

// The UTF-8 text with every letter in capitals, as Windows compares names on
// NTFS (beyond ASCII, fullwidth Latin letters included).
std::string FoldCase(const std::string& utf8);

// A path as compared for duplicates: as FoldCase has it, no trailing backslash.
std::string NormalPath(const std::string& path);

// Where a folder entry's climb (levels) stops: the folders it may remove, in order.
std::vector<std::string> ClimbFolders(const std::string& path, unsigned levels);
