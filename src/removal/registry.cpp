#include "removal/registry.h"

#include <string.h>

#include "base/run_state.h"
#include "data/entry_lists.h"
#include "paths/path_helpers.h"
#include "ui/dialogs.h"

// NT refuses to delete a key that still has subkeys: delete them first, depth
// first. Subkeys already deleted stay deleted when a later one fails.
LONG DeleteKeyTree(HKEY root, const char* path) {
    if (!path || lstrlenA(path) == 0) return ERROR_BADKEY;  // never the root itself
    HKEY key;
    LONG result = RegOpenKeyExA(root, path, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &key);
    if (result != ERROR_SUCCESS) return result;
    char name[1024];
    for (;;) {
        // Always index 0: each subkey found is gone before the next call.
        DWORD length = sizeof name;
        result = RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = RegDeleteKeyA(root, path);
            break;
        }
        if (result != ERROR_SUCCESS) break;
        result = DeleteKeyTree(key, name);
        if (result != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return result;
}

// A value entry doubles its last backslash: key path, two backslashes, value
// name (empty for the default value). The key is opened, never created.
static void DeleteRegistryValue(HKEY root, char* path, char* lastBackslash) {
    lastBackslash[-1] = 0;
    HKEY key;
    if (RegOpenKeyA(root, path, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, lastBackslash + 1);
        RegCloseKey(key);
    }
    lastBackslash[-1] = '\\';
}

// The separator of a value entry: its last backslash, when the character
// before it is a backslash too. By characters: on a double-byte code page a
// key part may end in a character whose second byte is 0x5C.
static char* FindValueSeparator(char* path) {
    char *last = NULL, *beforeLast = NULL, *previous = NULL;
    for (char* at = path; *at; at = (char*)NextChar(at)) {
        if (*at == '\\') last = at, beforeLast = previous;
        previous = at;
    }
    return beforeLast && *beforeLast == '\\' ? last : NULL;
}

void RemoveRegistryEntries() {
    for (uint32_t i = 0; i < RegistryCount; i++) {
        char* path = RegistryList[i]->Path;
        HKEY root = (HKEY)(uintptr_t)RegistryList[i]->Root;
        if (path[0] && !(KeepPerUserEntries && root == HKEY_CURRENT_USER)) {
            char* last = FindValueSeparator(path);
            if (last) {
                DeleteRegistryValue(root, path, last);
                continue;  // values do not move the bar
            }
            // On 9x, RegDeleteKeyA takes the subkeys with it.
            if (IsNtPlatform) DeleteKeyTree(root, path);
            else RegDeleteKeyA(root, path);
        }
        if (ProgressTotal) SetProgress((uint32_t)((uint64_t)(FileCount + DirectoryCount + i) * 100 / ProgressTotal));
    }
}
