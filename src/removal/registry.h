// Registry keys (with everything below them) and values named by the data.
#pragma once
#include <windows.h>

// Deletes a key with all its subkeys; returns a Win32 error code.
LONG DeleteKeyTree(HKEY root, const char* path);
void RemoveRegistryEntries();
