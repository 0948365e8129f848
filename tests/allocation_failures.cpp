// operator new and its array forms, replaced for the whole unit-test program
// so that a test can make one allocation fail. The nothrow forms go through
// it too, so every object that delete frees came from malloc; new and delete
// stay out of line, where the compiler cannot pair malloc with delete or new
// with free.
#include <cstdlib>
#include <new>

#include "test_support.h"

namespace {
long allocationsBeforeFailure = -1;
} // namespace

void failAllocationAfter(long n) { allocationsBeforeFailure = n; }

__attribute__((noinline)) void *operator new(size_t size) {
    void *p = allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0 ? nullptr : malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void *operator new(size_t size, const std::nothrow_t &) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
__attribute__((noinline)) void operator delete(void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { operator delete(p); }
void *operator new[](size_t size) { return operator new(size); }
void *operator new[](size_t size, const std::nothrow_t &nothrow) noexcept { return operator new(size, nothrow); }
void operator delete[](void *p) noexcept { operator delete(p); }
void operator delete[](void *p, size_t) noexcept { operator delete(p); }
