// Folder tokens such as "#AppData#" in patterns and the pre-removal command.
#pragma once
#include <stdint.h>

// Replaces the one token in buffer (PathBufferSize bytes) by its folder on
// this system, or by empty text when the token is unknown.
void ResolveFolderToken(char* buffer);
// Expands every token of source into destination (size bytes, may be null to
// measure). Returns the length of the whole expanded text.
uint32_t ExpandTokens(char* destination, const char* source, uint32_t size);
