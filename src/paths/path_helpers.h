// Trailing-backslash helpers for paths in 260-byte buffers.
#pragma once

// Appends one backslash unless the path is empty or already ends with one.
// Returns 0, leaving the path unchanged, when the buffer has no room for it.
int AppendBackslash(char* path);
// Removes one trailing backslash from a path longer than a root ("c:\").
void StripBackslash(char* path);
