// The locator in the uninstaller stub: 6 marker bytes followed by the 32-bit
// little-endian offset of the data block within the file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Finds the marker, which must occur exactly once and be followed by the
// whole offset field. *at receives the position of the first marker byte.
bool FindDataLocator(const std::string& image, size_t* at, std::string* error);

// *out = a copy of stub whose offset field holds stub.size(), then block.
bool MakeUninstaller(const std::string& stub, const std::string& block, std::string* out, std::string* error);

// Writes the image's own size into its offset field, so that a block appended
// later is found without touching the stub again.
bool SealStub(std::string* image, std::string* error);

// The value of the offset field; FindDataLocator must have succeeded.
uint32_t ReadDataOffset(const std::string& image, size_t at);

// Whether the image carries an Authenticode signature (a certificate table in
// its PE header): data appended after it would invalidate the signature.
bool IsSigned(const std::string& image);
