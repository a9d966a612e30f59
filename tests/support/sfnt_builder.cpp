#include "sfnt_builder.h"

#include <stdio.h>
#include <string.h>

std::string Be16(uint16_t value) {
    std::string bytes(2, '\0');
    bytes[0] = char(value >> 8);
    bytes[1] = char(value);
    return bytes;
}

std::string Be32(uint32_t value) {
    return Be16(uint16_t(value >> 16)) + Be16(uint16_t(value));
}

static std::string BeS16(int value) {
    return Be16(uint16_t(int16_t(value)));
}

std::string Utf16Be(const std::string& ascii) {
    std::string bytes;
    for (unsigned char c : ascii) bytes += Be16(c);
    return bytes;
}

SfntName MacFullName(const std::string& bytes, uint16_t language) {
    return SfntName{1, 0, language, 4, bytes};
}

SfntName WindowsName(uint16_t nameId, const std::string& ascii) {
    return SfntName{3, 1, 0x409, nameId, Utf16Be(ascii)};
}

std::string BuildNamingTable(const std::vector<SfntName>& names) {
    std::string records, storage;
    for (const SfntName& name : names) {
        records += Be16(name.Platform) + Be16(name.Encoding) + Be16(name.Language) +
                   Be16(name.NameId) + Be16(uint16_t(name.Bytes.size())) +
                   Be16(uint16_t(storage.size()));
        storage += name.Bytes;
    }
    return Be16(0) + Be16(uint16_t(names.size())) + Be16(uint16_t(6 + records.size())) +
           records + storage;
}

static uint32_t SumOfLongs(const std::string& bytes, size_t from, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i += 4) {
        uint32_t word = 0;
        for (size_t j = 0; j < 4; j++) {
            unsigned char byte = i + j < count ? (unsigned char)bytes[from + i + j] : 0;
            word = word << 8 | byte;
        }
        sum += word;
    }
    return sum;
}

static void PutBe32(std::string* bytes, size_t at, uint32_t value) {
    std::string encoded = Be32(value);
    bytes->replace(at, 4, encoded);
}

std::string BuildSfnt(const std::vector<SfntTable>& tables) {
    uint16_t count = uint16_t(tables.size());
    uint16_t power = 1, selector = 0;
    while (power * 2 <= count) {
        power *= 2;
        selector++;
    }
    uint16_t searchRange = count ? uint16_t(power * 16) : 0;
    std::string file = Be32(0x00010000) + Be16(count) + Be16(searchRange) +
                       Be16(count ? selector : 0) + Be16(uint16_t(count * 16 - searchRange));
    std::string data;
    size_t dataStart = 12 + 16 * tables.size();
    size_t headAt = std::string::npos;
    for (const SfntTable& table : tables) {
        std::string tag = (table.Tag + "    ").substr(0, 4);
        if (tag == "head") headAt = dataStart + data.size();
        file += tag + Be32(SumOfLongs(table.Bytes, 0, table.Bytes.size())) +
                Be32(uint32_t(dataStart + data.size())) + Be32(uint32_t(table.Bytes.size()));
        data += table.Bytes;
        data.append((4 - data.size() % 4) % 4, '\0');
    }
    file += data;
    if (headAt != std::string::npos && headAt + 12 <= file.size()) {
        PutBe32(&file, headAt + 8, 0);
        PutBe32(&file, headAt + 8, 0xB1B0AFBAu - SumOfLongs(file, 0, file.size()));
    }
    return file;
}

static std::string HeadTable() {
    return Be32(0x00010000) + Be32(0x00010000) + Be32(0) + Be32(0x5F0F3CF5) +
           Be16(0x000B) + Be16(1000) +            // flags, units per em
           Be32(0) + Be32(0) + Be32(0) + Be32(0) +  // created, modified
           BeS16(100) + BeS16(0) + BeS16(500) + BeS16(700) +
           Be16(0) + Be16(8) + BeS16(2) +  // mac style, lowest ppem, direction hint
           BeS16(0) + BeS16(0);            // short loca, glyph data format
}

static std::string HheaTable() {
    return Be32(0x00010000) + BeS16(800) + BeS16(-200) + BeS16(0) + Be16(600) +
           BeS16(0) + BeS16(100) + BeS16(500) +  // min lsb, min rsb, max extent
           BeS16(1) + BeS16(0) + BeS16(0) +      // caret
           BeS16(0) + BeS16(0) + BeS16(0) + BeS16(0) + BeS16(0) + Be16(2);
}

static std::string MaxpTable() {
    std::string table = Be32(0x00010000) + Be16(2) + Be16(4) + Be16(1) + Be16(0) + Be16(0) +
                        Be16(2);
    while (table.size() < 32) table += Be16(0);
    return table;
}

static std::string Os2Table() {
    return Be16(4) + BeS16(550) + Be16(400) + Be16(5) + Be16(0) +  // version .. fsType
           BeS16(650) + BeS16(700) + BeS16(0) + BeS16(140) +     // subscript
           BeS16(650) + BeS16(700) + BeS16(0) + BeS16(480) +     // superscript
           BeS16(50) + BeS16(300) + BeS16(0) +                   // strikeout, family class
           std::string("\x02\x00\x05\x03\x00\x00\x00\x00\x00\x00", 10) +  // panose
           Be32(1) + Be32(0) + Be32(0) + Be32(0) + "NONE" +
           Be16(0x0040) + Be16('A') + Be16('A') +                // regular; first, last char
           BeS16(800) + BeS16(-200) + BeS16(0) + Be16(800) + Be16(200) +
           Be32(1) + Be32(0) +                                   // code page: Latin 1
           BeS16(500) + BeS16(700) + Be16(0) + Be16(' ') + Be16(1);
}

// Format 4, one segment mapping 'A' to glyph 1, and the closing segment.
static std::string CmapTable() {
    std::string subtable = Be16(4) + Be16(32) + Be16(0) + Be16(4) + Be16(4) + Be16(1) + Be16(0) +
                           Be16('A') + Be16(0xFFFF) + Be16(0) + Be16('A') + Be16(0xFFFF) +
                           Be16(uint16_t(1 - 'A')) + Be16(1) + Be16(0) + Be16(0);
    return Be16(0) + Be16(1) + Be16(3) + Be16(1) + Be32(12) + subtable;
}

// A square from (100, 0) to (500, 700), clockwise, points on the curve.
static std::string SquareGlyph() {
    return BeS16(1) + BeS16(100) + BeS16(0) + BeS16(500) + BeS16(700) + Be16(3) + Be16(0) +
           std::string(4, '\x01') + BeS16(100) + BeS16(0) + BeS16(400) + BeS16(0) +
           BeS16(0) + BeS16(700) + BeS16(0) + BeS16(-700);
}

static std::string PostTable() {
    return Be32(0x00030000) + Be32(0) + BeS16(-100) + BeS16(50) + Be32(0) + Be32(0) + Be32(0) +
           Be32(0) + Be32(0);
}

// The tables of a minimal TrueType font with two glyphs (.notdef and a square
// for 'A'), sorted by tag. Its naming table holds the family records of the
// options first, then names in the given order.
static std::vector<SfntTable> TrueTypeFontTables(const std::vector<SfntName>& names, const FontOptions& options) {
    std::vector<SfntName> allNames = {WindowsName(1, options.Family), WindowsName(2, "Regular")};
    allNames.insert(allNames.end(), names.begin(), names.end());
    std::string glyph = SquareGlyph();
    std::vector<SfntTable> tables;
    for (unsigned i = 0; i < options.PaddingTables; i++) {
        char tag[8];
        snprintf(tag, sizeof tag, "A%03u", i % 1000);
        tables.push_back({tag, std::string(4, '\0')});
    }
    tables.push_back({"OS/2", Os2Table()});
    tables.push_back({"cmap", CmapTable()});
    tables.push_back({"glyf", glyph});
    tables.push_back({"head", HeadTable()});
    tables.push_back({"hhea", HheaTable()});
    tables.push_back({"hmtx", Be16(500) + BeS16(0) + Be16(600) + BeS16(100)});
    tables.push_back({"loca", Be16(0) + Be16(0) + Be16(uint16_t(glyph.size() / 2))});
    tables.push_back({"maxp", MaxpTable()});
    tables.push_back({"name", BuildNamingTable(allNames)});
    tables.push_back({"post", PostTable()});
    return tables;
}

std::string BuildTrueTypeFont(const std::vector<SfntName>& names, const FontOptions& options) {
    return BuildSfnt(TrueTypeFontTables(names, options));
}

static uint32_t LoadBe(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; i++) value = value << 8 | (unsigned char)bytes[at + i];
    return value;
}

bool FindSfntTable(const std::string& file, const char* tag, SfntTableRecord* found) {
    if (file.size() < 12) return false;
    uint32_t count = LoadBe(file, 4, 2);
    for (uint32_t i = 0; i < count && 12 + 16 * (i + 1) <= file.size(); i++) {
        size_t at = 12 + 16 * i;
        if (memcmp(file.data() + at, tag, 4) != 0) continue;
        found->Index = int(i);
        found->Offset = LoadBe(file, at + 8, 4);
        found->Length = LoadBe(file, at + 12, 4);
        return true;
    }
    return false;
}
