#include "pixel_memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdlib>
#include <mutex>

namespace {

constexpr size_t kHugePage = (size_t)2 << 20;
constexpr size_t kSmallest = 2 * kHugePage; // smaller buffers come from malloc as they are

// The large buffers given back and kept, the latest last.
constexpr int kMostKept = 4;
struct Kept {
    void *memory;
    size_t bytes;
};
std::mutex keptLock;
Kept kept[kMostKept];
int keptCount = 0;

void forget(int i) {
    for (; i + 1 < keptCount; ++i) kept[i] = kept[i + 1];
    --keptCount;
}

} // namespace

void *allocatePixelMemory(size_t bytes) {
    if (bytes < kSmallest) return malloc(bytes);
    {
        std::lock_guard<std::mutex> lock(keptLock);
        // The smallest kept buffer that holds `bytes` and wastes at most an
        // eighth of them, beside the alignment's slack that its size counts:
        // a larger one would keep memory resident for nothing.
        int best = -1;
        for (int i = 0; i < keptCount; ++i)
            if (kept[i].bytes >= bytes && kept[i].bytes - bytes <= bytes / 8 + kHugePage &&
                (best < 0 || kept[i].bytes < kept[best].bytes))
                best = i;
        if (best >= 0) {
            void *memory = kept[best].memory;
            forget(best);
            return memory;
        }
        // None fits: the kept ones go back first, so that they never add to
        // the memory a new buffer needs.
        while (keptCount > 0) {
            free(kept[keptCount - 1].memory);
            --keptCount;
        }
    }
    void *memory = nullptr;
    if (posix_memalign(&memory, kHugePage, bytes) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(memory, bytes, MADV_HUGEPAGE); // only a hint: without huge pages it works the same
#endif
    return memory;
}

void freePixelMemory(void *memory) {
    const size_t bytes = memory ? malloc_usable_size(memory) : 0;
    if (bytes < kSmallest) {
        free(memory);
        return;
    }
    std::lock_guard<std::mutex> lock(keptLock);
    if (keptCount == kMostKept) {
        free(kept[0].memory);
        forget(0);
    }
    kept[keptCount++] = {memory, bytes};
}
