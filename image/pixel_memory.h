// Memory for pixel buffers, shared by the TGA library and the program; it
// depends on nothing but the C and POSIX libraries.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>

// Like malloc, and freed with free. A buffer of a few megabytes or more is
// aligned to 2 MiB and the kernel is asked to back it with huge pages: the
// first touch of a 3840 x 2160 picture then costs 16 page faults instead of
// 8100, which on a virtual machine take longer than most operations on the
// pixels.
inline void *allocatePixelMemory(size_t bytes) {
    constexpr size_t kHugePage = (size_t)2 << 20;
    if (bytes < 2 * kHugePage) return malloc(bytes);
    void *memory = nullptr;
    if (posix_memalign(&memory, kHugePage, bytes) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(memory, bytes, MADV_HUGEPAGE); // only a hint: without huge pages it works the same
#endif
    return memory;
}
