// Folder tokens such as "#AppData#" in patterns and the pre-removal command.
#pragma once
#include <stdint.h>

// Replaces the one token in buffer (PathBufferSize bytes) by its folder on
// this system, without a trailing backslash unless it is a drive root, or by
// empty text when the token is unknown. A known token whose folder cannot be
// found stays as it is written.
void ResolveFolderToken(char* buffer);
// True for a text that begins with a token of a folder of the account the
// process runs as (#AppData#, #Desktop#, #TempDir#, ...).
int BeginsWithPerUserToken(const char* text);
// Expands every token of source into destination (size bytes, may be null to
// measure). Returns the length of the whole expanded text, delivered or not.
// All or nothing: a non-null destination of non-zero size receives the whole
// text, terminated, or else empty text: when the text needs more than size
// bytes, or is longer than the 65499 characters the expansion can hold (a
// measuring call with size 65500 then returns 65500 or more). So a result
// >= size, or empty text for a non-zero result, means nothing was delivered.
// Without memory for the expansion the source comes out unexpanded.
uint32_t ExpandTokens(char* destination, const char* source, uint32_t size);
