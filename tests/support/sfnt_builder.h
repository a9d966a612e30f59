// Builds TrueType font files in memory for the font tests: a minimal font the
// system can load, named as asked. Plain C++, no Win32, so host tools can use
// it too.
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

// A font with two glyphs (.notdef and a square for 'A'), its tables sorted by
// tag. Its naming table holds the family "Sfnt Sample" (ids 1 and 2,
// platform 3), which the system needs to load it, then the given names in order.
std::string BuildTrueTypeFont(const std::vector<SfntName>& names);
