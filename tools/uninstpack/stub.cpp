#include "stub.h"

#include <cstdint>
#include <cstring>

#include "block_writer.h"
#include "data/records.h"

bool FindDataLocator(const std::string& image, size_t* at, std::string* error) {
    const std::string marker(reinterpret_cast<const char*>(DataLocatorMarker), DataLocatorMarkerSize);
    size_t first = image.find(marker);
    if (first == std::string::npos) {
        *error = "the data locator marker is missing";
        return false;
    }
    size_t count = 0;
    for (size_t pos = first; pos != std::string::npos; pos = image.find(marker, pos + 1)) ++count;
    if (count != 1) {
        // Writing into the wrong copy would leave the program reading no data.
        *error = "the data locator marker is found " + std::to_string(count) + " times; it must be unique";
        return false;
    }
    if (image.size() - first < static_cast<size_t>(DataLocatorSize)) {
        *error = "the data locator's offset field is cut off by the end of the file";
        return false;
    }
    if (image.size() > 0xFFFFFFFFu) {
        *error = "the file is too large for a 32-bit data offset";
        return false;
    }
    *at = first;
    return true;
}

uint32_t ReadDataOffset(const std::string& image, size_t at) {
    return LoadU32(image, at + DataLocatorMarkerSize);
}

bool MakeUninstaller(const std::string& stub, const std::string& block, std::string* out, std::string* error) {
    size_t at = 0;
    if (!FindDataLocator(stub, &at, error)) return false;
    std::string image;
    image.reserve(stub.size() + block.size());
    image = stub;
    StoreU32(&image, at + DataLocatorMarkerSize, static_cast<uint32_t>(stub.size()));
    image += block;
    if (image.size() > 0xFFFFFFFFu) {
        *error = "the uninstaller would be larger than 4 GiB";
        return false;
    }
    *out = std::move(image);
    return true;
}

bool SealStub(std::string* image, std::string* error) {
    size_t at = 0;
    if (!FindDataLocator(*image, &at, error)) return false;
    StoreU32(image, at + DataLocatorMarkerSize, static_cast<uint32_t>(image->size()));
    return true;
}

bool IsSigned(const std::string& image) {
    if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return false;
    const size_t header = LoadU32(image, 0x3C);
    if (header > image.size() || image.size() - header < 24 || image.compare(header, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    // The certificate table is data directory 4, after the optional header's
    // fixed fields (96 bytes in PE32, 112 in PE32+).
    const size_t optional = header + 24;
    const bool plus = image.size() > optional + 1 && static_cast<unsigned char>(image[optional + 1]) == 0x02;
    const size_t entry = optional + (plus ? 112 : 96) + 4 * 8;
    return entry + 8 <= image.size() && LoadU32(image, entry + 4) != 0;
}
