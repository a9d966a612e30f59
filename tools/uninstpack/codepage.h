// UTF-8 <-> the single-byte Windows ANSI code pages that uninstallers are
// written in (874 and 1250 to 1258). Every byte of a code page decodes to a
// distinct character, undefined bytes included, so bytes -> UTF-8 -> bytes
// is always the identity.
#pragma once
#include <string>

bool IsSupportedCodePage(int codePage);
// "874, 1250, 1251, ..., 1258", for error messages and help.
std::string SupportedCodePages();

// Fails on an unsupported code page, on malformed UTF-8, and on a character
// the code page cannot hold; the error names the character as U+XXXX.
bool EncodeText(const std::string& utf8, int codePage, std::string* bytes, std::string* error);
// Fails only on an unsupported code page.
bool DecodeText(const std::string& bytes, int codePage, std::string* utf8, std::string* error);
