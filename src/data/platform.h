// The data units are built for Windows (the uninstaller, its tests) and for the
// host (the generator's dump and the fuzzers). Only the file wrappers differ;
// this header gives the host the few Win32 names they share.
#pragma once
#include <stdint.h>
#include <stddef.h>

#ifdef _WIN32
#include <windows.h>
#else
typedef void* HANDLE;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#endif
