// Whole-file reads and writes for the tool.
#pragma once
#include <string>
#include <utility>
#include <vector>

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// Writes a temporary file beside path and renames it over path, so that path
// is either left as it was or holds all of bytes, never a part.
bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string* error);

// Several files, all or none: each is written beside its path first, and
// only when every one is whole are they renamed into place.
bool WriteFilesReplacing(const std::vector<std::pair<std::string, std::string>>& files, std::string* error);

void RemoveFileQuietly(const std::string& path);

// Overwrites count bytes at offset of an existing file, in place.
bool PatchFile(const std::string& path, size_t offset, const std::string& bytes, std::string* error);

// True when both paths name one existing file (links and spellings aside).
bool IsSameFile(const std::string& first, const std::string& second);

// The folder of the running executable, with a trailing separator; empty when
// it cannot be found.
std::string ExecutableFolder();

#include <cstdint>
#include <vector>

enum class ItemKind { File, Folder, Link, Special };

struct ListedItem {
    std::string name;
    bool folder;
    uint64_t size;
    ItemKind kind;
};

// The folders and files in a folder, links and special files (FIFOs, devices,
// sockets) marked as such and never followed; false when it cannot be listed.
// In the file system's order.
bool ListFolder(const std::string& path, std::vector<ListedItem>* items);

#ifdef _WIN32
// UTF-8 from the system's UTF-16, for paths and arguments.
std::string Utf8(const wchar_t* wide, int length);
// A path for the system's wide calls: UTF-8, or ANSI when it is not UTF-8.
std::vector<wchar_t> WidePath(const std::string& path);
#endif
