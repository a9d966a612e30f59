// Allocation helpers: each failed allocation is tried once more after the heap
// has been compacted. Results are 1 (the variable holds a block) or 0.
#pragma once
#include <stdint.h>

void* AllocateRaw(uint32_t size, int zeroed);
void* ReallocateRaw(void* block, uint32_t size);
void FreeRaw(void* block);

template <typename T> inline int AllocateBlock(uint32_t size, T** variable) {
    *variable = (T*)AllocateRaw(size, 0);
    return *variable != 0;
}

template <typename T> inline int AllocateZeroed(uint32_t size, T** variable) {
    *variable = (T*)AllocateRaw(size, 1);
    return *variable != 0;
}

// On failure the variable and its block are left as they were.
template <typename T> inline int Reallocate(uint32_t size, T** variable) {
    void* block = ReallocateRaw((void*)*variable, size);
    if (!block) return 0;
    *variable = (T*)block;
    return 1;
}

template <typename T> inline void FreeAndClear(T** variable) {
    if (*variable) {
        FreeRaw((void*)*variable);
        *variable = 0;
    }
}
