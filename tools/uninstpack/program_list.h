// The program's entry in the system's list of installed programs, which
// package managers use to remove it silently (QuietUninstallString).
#pragma once
#include <cstdint>
#include <string>

struct ProgramListing {
    std::string displayName, publisher, version, icon;  // UTF-8
    std::string uninstaller;  // the uninstaller's full path on the user's machine
    std::string installDir;
    uint32_t estimatedKiB = 0;  // 0: not known
};

// Below HKEY_LOCAL_MACHINE: ...\CurrentVersion\Uninstall\ and the display name.
std::string ListingKey(const ProgramListing& listing);
// The entry as a registry file (version 5, UTF-16) for an installer to import.
std::string ListingRegFile(const ProgramListing& listing);
#ifdef _WIN32
// Writes the entry into the registry; false with an error when it cannot.
bool WriteListing(const ProgramListing& listing, std::string* error);
#endif
// The size of the files below a folder, in KiB; 0 when it cannot be read.
uint32_t FolderKiB(const std::string& folder);
