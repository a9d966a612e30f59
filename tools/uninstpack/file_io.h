// Whole-file reads and writes for the tool.
#pragma once
#include <string>

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// Writes a temporary file beside path and renames it over path, so that path
// is either left as it was or holds all of bytes, never a part.
bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string* error);

// Overwrites count bytes at offset of an existing file, in place.
bool PatchFile(const std::string& path, size_t offset, const std::string& bytes, std::string* error);

// True when both paths name one existing file (links and spellings aside).
bool IsSameFile(const std::string& first, const std::string& second);

// The folder of the running executable, with a trailing separator; empty when
// it cannot be found.
std::string ExecutableFolder();
