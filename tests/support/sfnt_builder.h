// Builds sfnt (TrueType) files in memory for the font tests: a table
// directory and a naming table, which is all the uninstaller reads of a font.
// Plain C++, no Win32.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct SfntName {
    uint16_t Platform, Encoding, Language, NameId;
    std::string Bytes;  // stored as given
};

// Platform 1 (Macintosh, Roman, English), name id 4: the full name.
SfntName MacFullName(const std::string& bytes);
// Platform 3 (Windows, Unicode BMP, US English); the text is stored as UTF-16BE.
SfntName WindowsName(uint16_t nameId, const std::string& ascii);

// A file whose table directory holds a "head" record and then the "name"
// table with the given names, in order.
std::string BuildTrueTypeFont(const std::vector<SfntName>& names);
