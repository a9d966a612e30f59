#include "data/memory.h"

#include <stdlib.h>
#ifdef _WIN32
#include <malloc.h>
#endif

// Gives free heap pages back to the system before the second attempt.
static void CompactHeap() {
#ifdef _WIN32
    _heapmin();
#endif
}

void* AllocateRaw(uint32_t size, int zeroed) {
    // A zero-sized request still yields a block, so success never depends on
    // what the runtime does with size 0.
    size_t bytes = size ? size : 1;
    void* block = zeroed ? calloc(1, bytes) : malloc(bytes);
    if (!block) {
        CompactHeap();
        block = zeroed ? calloc(1, bytes) : malloc(bytes);
    }
    return block;
}

void* ReallocateRaw(void* block, uint32_t size) {
    size_t bytes = size ? size : 1;
    void* grown = realloc(block, bytes);
    if (!grown) {
        CompactHeap();
        grown = realloc(block, bytes);
    }
    return grown;
}

void FreeRaw(void* block) {
    free(block);
}
