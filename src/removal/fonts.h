// Withdrawing an installed font before its file is deleted.
#pragma once
#include <stdint.h>

enum { FontNameSize = 520 };

// Reads the full font name (platform 1, name 4) from an sfnt file's naming
// table into name (size bytes). Leaves empty text when there is none, when the
// file is damaged, or when the name would not leave room for " (TrueType)".
void ReadFontFullName(const char* path, char* name, uint32_t size);

#ifdef _WIN32
// Withdraws the font, deletes its installed-fonts registry entry and tells
// every window that the fonts changed.
void DeregisterFont(const char* path);
#endif
