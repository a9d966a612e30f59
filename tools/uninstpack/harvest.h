// Harvesting a staging folder (and the installation's .reg files) into a
// manifest, so that nobody writes thousands of file entries by hand.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct HarvestOptions {
    std::string staging;
    // Relative paths with wildcards ("bin\*.dll"), any letter case; "*" crosses folders.
    std::vector<std::string> checkInUse, shared, comServer;
    std::vector<std::string> patterns;
    std::string mergeText, mergeName;  // a hand-written manifest to combine with, or empty
    std::vector<std::string> registryFiles;  // contents of REGEDIT4 or version 5 files
    std::vector<std::string> registryNames;  // their names, for errors
    std::vector<std::string> ownKeys;        // "HKLM\Software\Vendor\App": removed whole
    bool skipSpecial = false;  // leave out links and special files (counted) instead of failing
};

// One folder or file below the staging folder, its path relative to it with backslashes.
struct StagedItem {
    std::string relative;
    bool folder;
};

// The staging tree in installation order (a folder before the files in it,
// parents before children, names without regard to ASCII case): false with
// an error per link, special file, name Windows cannot hold, name that is not
// UTF-8 and pair of names that differ only in case; *skipped counts the links
// and special files left out with skipSpecial.
bool ListStaging(const std::string& staging, bool skipSpecial, std::vector<StagedItem>* items,
                 std::vector<std::string>* errors, size_t* skipped);

// Writes the manifest JSON into json. Same tree, same bytes: the order is
// fixed, not the file system's. On failure returns false with every error;
// *note says what was left out.
bool Harvest(const HarvestOptions& options, std::string* json, std::vector<std::string>* errors, std::string* note);

// The registry entries a .reg file's contents make: each value it sets, and
// each key at or below an owned key as that owned key, once. Errors name
// fileName and the line.
bool HarvestRegistry(const std::string& contents, const std::string& fileName, const std::vector<std::string>& ownKeys,
                     std::vector<std::string>* keys, std::vector<std::pair<std::string, std::string>>* values,
                     std::vector<std::string>* errors);
