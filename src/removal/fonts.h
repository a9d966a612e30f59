// Withdrawing an installed font before its file is deleted.
#pragma once
#include <stdint.h>

enum { FontNameSize = 520 };

// Reads the full font name (platform 1, name 4) from an sfnt file's naming
// table into name (size bytes). Leaves empty text when there is none, when the
// file is damaged, or when the name would not leave room for " (TrueType)".
void ReadFontFullName(const char* path, char* name, uint32_t size);

#ifdef _WIN32
#include <windows.h>

enum { MostFontWithdrawals = 64 };
typedef BOOL(WINAPI* RemoveFontCall)(LPCSTR);
// Withdraws the font at path with remove (RemoveFontResourceA) until the
// system has no more of it loaded, MostFontWithdrawals times at most: a font
// added several times stays loaded, and its file locked, until it has been
// removed as many times. Returns how many withdrawals succeeded.
int WithdrawFont(const char* path, RemoveFontCall remove);
// Withdraws the font, deletes its installed-fonts registry entry and tells
// every window that the fonts changed.
void DeregisterFont(const char* path);
#endif
