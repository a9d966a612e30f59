#include "sfnt_builder.h"

#include <initializer_list>
#include <utility>

// 16-bit big-endian values; negative ones in two's complement.
static std::string Words(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) {
        bytes += char(uint16_t(value) >> 8);
        bytes += char(uint16_t(value) & 0xFF);
    }
    return bytes;
}

static std::string Be32(uint32_t value) {
    return Words({int(value >> 16), int(value & 0xFFFF)});
}

// The sum of the big-endian 32-bit words, the last one padded with zeros.
static uint32_t Checksum(const std::string& bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i++) sum += uint32_t((unsigned char)bytes[i]) << (24 - 8 * (i % 4));
    return sum;
}

SfntName MacFullName(const std::string& bytes) {
    return SfntName{1, 0, 0, 4, bytes};
}

SfntName WindowsName(uint16_t nameId, const std::string& ascii) {
    std::string utf16;
    for (unsigned char c : ascii) utf16 += Words({c});
    return SfntName{3, 1, 0x409, nameId, utf16};
}

// Format 0: the records in the given order, their strings one after the other.
static std::string NamingTable(const std::vector<SfntName>& names) {
    std::string records, storage;
    for (const SfntName& name : names) {
        records += Words({name.Platform, name.Encoding, name.Language, name.NameId, int(name.Bytes.size()),
                          int(storage.size())});
        storage += name.Bytes;
    }
    return Words({0, int(names.size()), int(6 + records.size())}) + records + storage;
}

std::string BuildTrueTypeFont(const std::vector<SfntName>& names) {
    std::vector<SfntName> allNames = {WindowsName(1, "Sfnt Sample"), WindowsName(2, "Regular")};
    allNames.insert(allNames.end(), names.begin(), names.end());
    // A square from (100, 0) to (500, 700), clockwise, points on the curve.
    const std::string glyph = Words({1, 100, 0, 500, 700, 3, 0, 0x0101, 0x0101, 100, 0, 400, 0, 0, 700, 0, -700});
    const std::pair<std::string, std::string> tables[] = {
        {"OS/2", Words({4, 550, 400, 5, 0, 650, 700, 0, 140, 650, 700, 0, 480, 50, 300, 0,  // .. family class
                        0x0200, 0x0503, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}) +                  // panose, Unicode ranges
                     "NONE" + Words({0x40, 'A', 'A', 800, -200, 0, 800, 200, 0, 1, 0, 0, 500, 700, 0, ' ', 1})},
        // Format 4: one segment mapping 'A' to glyph 1, and the closing segment.
        {"cmap", Words({0, 1, 3, 1, 0, 12, 4, 32, 0, 4, 4, 1, 0, 'A', 0xFFFF, 0, 'A', 0xFFFF, 1 - 'A', 1, 0, 0})},
        {"glyf", glyph},
        // Its checksum adjustment (the third 32-bit field) is filled in last.
        {"head", Words({1, 0, 1, 0, 0, 0, 0x5F0F, 0x3CF5, 0x000B, 1000, 0, 0, 0, 0, 0, 0, 0, 0,  // .. modified
                        100, 0, 500, 700, 0, 8, 2, 0, 0})},
        {"hhea", Words({1, 0, 800, -200, 0, 600, 0, 100, 500, 1, 0, 0, 0, 0, 0, 0, 0, 2})},
        {"hmtx", Words({500, 0, 600, 100})},
        {"loca", Words({0, 0, int(glyph.size() / 2)})},
        {"maxp", Words({1, 0, 2, 4, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"name", NamingTable(allNames)},
        {"post", Words({3, 0, 0, 0, -100, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
    };
    // The table directory (searchRange etc. for its 10 records), then each
    // table at a 4-byte boundary.
    const size_t count = sizeof tables / sizeof tables[0];
    std::string file = Words({1, 0, int(count), 128, 3, int(count * 16 - 128)}), data;
    size_t headAt = 0;
    for (const auto& table : tables) {
        const size_t at = 12 + 16 * count + data.size();
        if (table.first == "head") headAt = at;
        file += table.first + Be32(Checksum(table.second)) + Be32(uint32_t(at)) + Be32(uint32_t(table.second.size()));
        data += table.second;
        data.append((4 - data.size() % 4) % 4, '\0');
    }
    file += data;
    // Makes the whole file's checksum come out as the format asks.
    return file.replace(headAt + 8, 4, Be32(0xB1B0AFBAu - Checksum(file)));
}
