/* The floor: only the calls that removing the listed workload needs, so the
   uninstaller's time can be read as a multiple of it. No checks, no prompts. */
#include <ctype.h>
#include "list.h"

/* '*' and '?' against a name, ignoring case: one listing per folder instead of
   a second search for the mask. */
static int PathMatchesMask(const char* name, const char* mask) {
    if (!*mask) return !*name;
    if (*mask == '*') return PathMatchesMask(name, mask + 1) || (*name && PathMatchesMask(name + 1, mask));
    if (!*name) return 0;
    if (*mask != '?' && tolower((unsigned char)*mask) != tolower((unsigned char)*name)) return 0;
    return PathMatchesMask(name + 1, mask + 1);
}

static int IsDots(const char* n) { return n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2])); }

/* Deletes files matching mask under folder, depth first, and the folders that
   leaves empty. Returns 1 when folder ended empty and was removed. */
static int Walk(char* folder, const char* mask) {
    size_t len = strlen(folder);
    WIN32_FIND_DATAA found;
    HANDLE h;
    int left = 0;
    strcpy(folder + len, "\\*");
    h = FindFirstFileA(folder, &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (IsDots(found.cFileName)) continue;
            sprintf(folder + len, "\\%s", found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT || !Walk(folder, mask)) left = 1;
            } else if (!PathMatchesMask(found.cFileName, mask) || !DeleteFileA(folder)) {
                left = 1;
            }
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    folder[len] = 0;
    return !left && RemoveDirectoryA(folder);
}

static void DeleteKeyTree(HKEY root, const char* path) {
    HKEY key;
    char child[256];
    if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (;;) {
            DWORD size = sizeof child;
            /* Always index 0: each deletion shifts the rest down. */
            if (RegEnumKeyExA(key, 0, child, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
            DeleteKeyTree(key, child);
        }
        RegCloseKey(key);
    }
    RegDeleteKeyA(root, path);
}

int main(int argc, char** argv) {
    char line[1024], folder[1024], *rest;
    HKEY shared = NULL;
    FILE* list;
    int kind;
    if (argc != 2 || !(list = fopen(argv[1], "r"))) return 2;
    while ((kind = NextEntry(list, line, sizeof line, &rest))) {
        switch (kind) {
        case 'S':
            if (!shared) RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &shared);
            if (shared) RegDeleteValueA(shared, rest);
            /* fall through */
        case 'F': DeleteFileA(rest); break;
        case 'D': RemoveDirectoryA(rest); break;
        case 'K': DeleteKeyTree(RootOf(rest), rest + 5); break;
        case 'W': {
            char* slash = strrchr(rest, '\\');
            if (!slash) break;
            *slash = 0;
            strcpy(folder, rest);
            Walk(folder, slash + 1);
            break;
        }
        }
    }
    if (shared) RegCloseKey(shared);
    fclose(list);
    return 0;
}
