// What one uninstaller's data block holds, in the form the writer takes and the
// dump produces. Every text is bytes already in the target code page.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PackFile {
    std::string folder, name;
    uint8_t flags = 0;
};

struct PackDirectory {
    uint8_t levels = 0;
    std::string path, altPath, fileName;
};

struct PackRegistry {
    uint32_t root = 0;
    // A value is stored as key + "\\\\" + name (the last backslash doubled);
    // anything else names a key removed with its subkeys.
    std::string path;
};

struct PackOptions {
    bool present = false;  // false: no options record at all
    uint32_t flags = 0;
    std::string program, document;  // empty: offset 0
};

struct PackData {
    std::vector<std::string> messages;
    std::vector<PackFile> files;
    std::vector<PackDirectory> directories;
    std::vector<PackRegistry> registry;
    std::vector<std::string> patterns;
    PackOptions options;
};
