// Helpers for feeding hand-made blocks to the reader.
#pragma once
#include <string>
#include <stdint.h>

std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
// A stored text: 16-bit byte count, then the bytes.
std::string Stored(const std::string& text);
// Writes bytes to a temporary file, reads its records from offset 0 with the
// product's reader after freeing what an earlier test loaded; returns the
// reader's result (0, 7 or 8).
int ReadBlock(const std::string& bytes);
