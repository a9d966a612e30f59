#include "paths/path_helpers.h"

#include <string.h>

#include "app/run.h"

int AppendBackslash(char* path) {
    size_t length = strlen(path);
    if (length == 0 || path[length - 1] == '\\') return 1;
    if (length + 2 > PathBufferSize) return 0;
    path[length] = '\\';
    path[length + 1] = 0;
    return 1;
}

void StripBackslash(char* path) {
    size_t length = strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = 0;
}
