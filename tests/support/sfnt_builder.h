// Builds sfnt (TrueType) font files in memory for the font tests: a minimal
// font that the system can load, and the pieces to assemble damaged or odd
// files from. Plain C++, no Win32, so host tools can use it too.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct SfntName {
    uint16_t Platform;
    uint16_t Encoding;
    uint16_t Language;
    uint16_t NameId;
    std::string Bytes;  // stored as given
};

struct SfntTable {
    std::string Tag;  // four characters
    std::string Bytes;
};

struct SfntTableRecord {
    int Index;  // position in the table directory, from 0
    uint32_t Offset;
    uint32_t Length;
};

struct FontOptions {
    // Family name (name ids 1 and 2, platform 3); the system needs one to load the font.
    std::string Family = "Sfnt Sample";
    // Empty tables "A000", "A001", ... whose records come before all others.
    unsigned PaddingTables = 0;
};

std::string Be16(uint16_t value);
std::string Be32(uint32_t value);
// ASCII text as UTF-16BE, the way platform 3 strings are stored.
std::string Utf16Be(const std::string& ascii);

// Platform 1 (Macintosh, Roman, English unless language says otherwise), name id 4.
SfntName MacFullName(const std::string& bytes, uint16_t language = 0);
// Platform 3 (Windows, Unicode BMP, US English) record; the text is stored as UTF-16BE.
SfntName WindowsName(uint16_t nameId, const std::string& ascii);

// A format 0 naming table: the records in the given order, their strings
// stored one after the other in the same order.
std::string BuildNamingTable(const std::vector<SfntName>& names);

// An sfnt file whose table directory and table data follow the given order,
// each table at a 4-byte boundary, with checksums (and the "head" adjustment
// when there is one).
std::string BuildSfnt(const std::vector<SfntTable>& tables);

// A minimal TrueType font with two glyphs (.notdef and a square for 'A'),
// its tables sorted by tag. Its naming table holds the family records of the
// options first, then names in the given order.
std::string BuildTrueTypeFont(const std::vector<SfntName>& names,
                              const FontOptions& options = FontOptions());

// Looks the tag up in the table directory at offset 0 of file.
bool FindSfntTable(const std::string& file, const char* tag, SfntTableRecord* found);
