/* The flat list shared by the floor program and the launcher's check: one
   entry a line, a letter, a space and the rest.
     F path          a file
     S path          a shared file counted once under HKLM SharedDLLs
     W folder\mask   leftovers: matching files under folder, any depth
     D path          a folder (listed children first)
     K HKLM|HKCU key a key with everything below it */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

static HKEY RootOf(const char* name) {
    return strncmp(name, "HKCU", 4) == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

/* Reads the next entry; returns its letter, or 0 at the end. */
static int NextEntry(FILE* list, char* line, int size, char** rest) {
    while (fgets(line, size, list)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
        if (n < 3 || line[1] != ' ') continue;
        *rest = line + 2;
        return line[0];
    }
    return 0;
}
