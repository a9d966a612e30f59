// Harvesting a staging folder (and the installation's .reg files) into a
// manifest, so that nobody writes thousands of file entries by hand.
#pragma once
#include <string>
#include <vector>

struct HarvestOptions {
    std::string staging;
    // Relative paths with wildcards ("bin\*.dll"), any letter case.
    std::vector<std::string> checkInUse, shared, comServer;
    std::vector<std::string> patterns;
    std::string mergeText, mergeName;  // a hand-written manifest to combine with, or empty
    std::vector<std::string> registryFiles;  // contents of REGEDIT4 or version 5 files
    std::vector<std::string> ownKeys;        // "HKLM\Software\Vendor\App": removed whole
};

// Writes the manifest JSON into json. Same tree, same bytes: the order is
// fixed, not the file system's. On failure returns false with every error.
bool Harvest(const HarvestOptions& options, std::string* json, std::vector<std::string>* errors);

// The registry entries a .reg file's contents make: each value it sets, and
// each key at or below an owned key as that owned key, once.
bool HarvestRegistry(const std::string& contents, const std::vector<std::string>& ownKeys, std::vector<std::string>* keys,
                     std::vector<std::pair<std::string, std::string>>* values, std::string* error);
