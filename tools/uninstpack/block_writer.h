// Encoders of the uninstall data block. They check only what the fields can
// hold (16-bit text lengths, 32-bit counts), never the reader's entry limits,
// so tests can also make oversized and otherwise damaged blocks; the manifest
// validation is what keeps authors within the limits. A value that does not
// fit its field throws std::length_error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pack_model.h"

// The 8-byte header (type, flags, reserved 0, payload length) and the payload.
std::string EncodeRecord(uint16_t type, const std::string& payload, uint8_t flags = 0);

// Payloads only, without the record header.
std::string EncodeFileList(const std::vector<PackFile>& files);
std::string EncodeDirectoryList(const std::vector<PackDirectory>& directories);
std::string EncodeRegistryList(const std::vector<PackRegistry>& registry);
// Each pattern with its terminator, then the closing empty text. An empty
// list still gives two zero bytes, so the payload always ends as the reader
// expects.
std::string EncodePatterns(const std::vector<std::string>& patterns);
// Flags, program offset, document offset, then the non-empty texts with their
// terminators; an empty text has offset 0 and takes no room.
std::string EncodeOptions(const PackOptions& options);
// One table (TableCount 1) holding the texts in index order.
std::string EncodeMessageTable(const std::vector<std::string>& messages);

// The whole block: messages, files, directories, registry, patterns (each only
// when non-empty), options (only when present), then the end record.
std::string WriteBlock(const PackData& data);

// Little-endian helpers, shared with the stub code.
void AppendU16(std::string* out, uint32_t value);
void AppendU32(std::string* out, uint32_t value);
uint32_t LoadU32(const std::string& bytes, size_t at);
void StoreU32(std::string* bytes, size_t at, uint32_t value);

// Data that no validated manifest gives (a text too long for its length
// field, say): an exception where the build has them, else an error and exit 1.
[[noreturn]] void Refuse(const std::string& what);
