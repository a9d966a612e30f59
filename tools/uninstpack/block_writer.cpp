#include "block_writer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "data/records.h"

[[noreturn]] void Refuse(const std::string& what) {
#if defined(__cpp_exceptions)
    throw std::length_error(what);
#else
    std::fprintf(stderr, "uninstpack: internal error: %s\n", what.c_str());
    std::exit(1);
#endif
}

void AppendU16(std::string* out, uint32_t value) {
    if (value > 0xFFFF) Refuse("value does not fit 16 bits: " + std::to_string(value));
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void AppendU32(std::string* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t LoadU32(const std::string& bytes, size_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) Refuse("32-bit field past the end");
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void StoreU32(std::string* bytes, size_t at, uint32_t value) {
    if (at > bytes->size() || bytes->size() - at < 4) Refuse("32-bit field past the end");
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

namespace {

uint32_t CheckedU32(size_t value, const char* what) {
    if (value > 0xFFFFFFFFu) Refuse(std::string(what) + " does not fit 32 bits");
    return static_cast<uint32_t>(value);
}

void AppendText(std::string* out, const std::string& text) {
    if (text.size() > 0xFFFF)
        Refuse("text of " + std::to_string(text.size()) + " bytes does not fit a 16-bit length");
    AppendU16(out, static_cast<uint32_t>(text.size()));
    out->append(text);
}

}  // namespace

std::string EncodeRecord(uint16_t type, const std::string& payload, uint8_t flags) {
    std::string out;
    out.reserve(8 + payload.size());
    AppendU16(&out, type);
    out.push_back(static_cast<char>(flags));
    out.push_back('\0');
    AppendU32(&out, CheckedU32(payload.size(), "record payload"));
    out.append(payload);
    return out;
}

std::string EncodeFileList(const std::vector<PackFile>& files) {
    std::string out;
    AppendU32(&out, CheckedU32(files.size(), "file count"));
    for (const PackFile& file : files) {
        AppendText(&out, file.folder);
        AppendText(&out, file.name);
        out.push_back(static_cast<char>(file.flags));
    }
    return out;
}

std::string EncodeDirectoryList(const std::vector<PackDirectory>& directories) {
    std::string out;
    AppendU32(&out, CheckedU32(directories.size(), "directory count"));
    for (const PackDirectory& directory : directories) {
        out.push_back(static_cast<char>(directory.levels));
        AppendText(&out, directory.path);
        AppendText(&out, directory.altPath);
        AppendText(&out, directory.fileName);
    }
    return out;
}

std::string EncodeRegistryList(const std::vector<PackRegistry>& registry) {
    std::string out;
    AppendU32(&out, CheckedU32(registry.size(), "registry count"));
    for (const PackRegistry& entry : registry) {
        AppendU32(&out, entry.root);
        AppendText(&out, entry.path);
    }
    return out;
}

std::string EncodePatterns(const std::vector<std::string>& patterns) {
    std::string out;
    for (const std::string& pattern : patterns) {
        out.append(pattern);
        out.push_back('\0');
    }
    if (patterns.empty()) out.push_back('\0');
    out.push_back('\0');
    return out;
}

std::string EncodeOptions(const PackOptions& options) {
    std::string texts;
    uint32_t programOffset = 0, documentOffset = 0;
    if (!options.program.empty()) {
        programOffset = CheckedU32(12 + texts.size(), "program offset");
        texts.append(options.program);
        texts.push_back('\0');
    }
    if (!options.document.empty()) {
        documentOffset = CheckedU32(12 + texts.size(), "document offset");
        texts.append(options.document);
        texts.push_back('\0');
    }
    std::string out;
    AppendU32(&out, options.flags);
    AppendU32(&out, programOffset);
    AppendU32(&out, documentOffset);
    out.append(texts);
    return out;
}

std::string EncodeMessageTable(const std::vector<std::string>& messages) {
    if (messages.size() > 0xFFFF)
        Refuse("a message table holds at most 65535 texts, not " + std::to_string(messages.size()));
    std::string out;
    AppendU16(&out, 1);
    AppendU16(&out, static_cast<uint32_t>(messages.size()));
    for (const std::string& text : messages) AppendText(&out, text);
    return out;
}

std::string WriteBlock(const PackData& data) {
    std::string out;
    if (!data.messages.empty()) out += EncodeRecord(RecordTypeMessageTable, EncodeMessageTable(data.messages));
    if (!data.files.empty()) out += EncodeRecord(RecordTypeFileList, EncodeFileList(data.files));
    if (!data.directories.empty())
        out += EncodeRecord(RecordTypeDirectoryList, EncodeDirectoryList(data.directories));
    if (!data.registry.empty()) out += EncodeRecord(RecordTypeRegistryList, EncodeRegistryList(data.registry));
    if (!data.patterns.empty()) out += EncodeRecord(RecordTypePatterns, EncodePatterns(data.patterns));
    if (data.options.present) out += EncodeRecord(RecordTypeOptions, EncodeOptions(data.options));
    out += EncodeRecord(RecordTypeEnd, std::string());
    return out;
}
