// UTF-8 <-> the Windows ANSI code pages that uninstallers are written in:
// the single-byte ones (874, 1250 to 1258) and the double-byte ones of
// Japanese, Chinese and Korean Windows (932, 936, 949, 950). Windows' own
// mapping is the reference: on Windows the system converts, on Linux glibc's
// iconv does (the single-byte pages from tables of Windows' mapping, which
// iconv lacks for the bytes Windows maps to U+0080..U+009F). A character is
// written only when its bytes read back as that same character, so a
// best-fit or one-way mapping (such as U+00A5 to the backslash byte in 932)
// is refused, never stored.
#pragma once
#include <string>

// Supported here and, on Windows, installed on this machine.
bool IsSupportedCodePage(int codePage);
// "874, 1250, 1251, ..., 1258, 932, ...", for error messages and help.
std::string SupportedCodePages();
// 932, 936, 949 and 950: a character may take two bytes, the second of them
// possibly a backslash byte (0x5C), as ソ (0x83 0x5C) in 932.
bool IsDoubleByteCodePage(int codePage);

// Fails on an unsupported code page, on malformed UTF-8, and on a character
// the code page cannot hold; the error names the character as U+XXXX.
bool EncodeText(const std::string& utf8, int codePage, std::string* bytes, std::string* error);
// Fails on an unsupported code page and on bytes that are no character of it
// or not as Windows writes that character; the error names the byte offset.
bool DecodeText(const std::string& bytes, int codePage, std::string* utf8, std::string* error);

// The first character of utf8 (valid UTF-8) that the code page writes as two
// bytes ending in the backslash byte 0x5C, as UTF-8; with `atPartEnds`, only
// one that ends a part between backslashes or the text. Empty when none.
std::string FindBackslashTrailCharacter(const std::string& utf8, int codePage, bool atPartEnds);
