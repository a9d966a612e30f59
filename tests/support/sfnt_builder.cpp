#include "sfnt_builder.h"

#include <initializer_list>

// Big-endian 16-bit words, as every sfnt field is stored.
static std::string Words(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) {
        bytes += char(uint16_t(value) >> 8);
        bytes += char(uint16_t(value) & 0xFF);
    }
    return bytes;
}

SfntName MacFullName(const std::string& bytes) {
    return SfntName{1, 0, 0, 4, bytes};
}

SfntName WindowsName(uint16_t nameId, const std::string& ascii) {
    std::string utf16;
    for (unsigned char c : ascii) utf16 += Words({c});
    return SfntName{3, 1, 0x409, nameId, utf16};
}

std::string BuildTrueTypeFont(const std::vector<SfntName>& names) {
    std::string records, storage;
    for (const SfntName& name : names) {
        records += Words({name.Platform, name.Encoding, name.Language, name.NameId, int(name.Bytes.size()),
                          int(storage.size())});
        storage += name.Bytes;
    }
    const std::string table = Words({0, int(names.size()), int(6 + records.size())}) + records + storage;
    // Offset table, then two records: the reader must pass over the first.
    const int nameAt = 12 + 2 * 16 + 4;
    return Words({1, 0, 2, 32, 1, 0}) + "head" + Words({0, 0, 0, 12 + 2 * 16, 0, 4}) + "name" +
           Words({0, 0, 0, nameAt, 0, int(table.size())}) + Words({0, 0}) + table;
}
