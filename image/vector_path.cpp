#include "vector_path.h"

namespace {

// The fastest path the processor supports, up to `path`.
VectorPath supportedUpTo(VectorPath path) {
    while (!vectorPathSupported(path)) path = (VectorPath)((int)path - 1);
    return path;
}

VectorPath &currentPath() {
    static VectorPath path = supportedUpTo(VectorPath::Avx512);
    return path;
}

} // namespace

bool vectorPathSupported(VectorPath path) {
#if defined(__x86_64__)
    if (path == VectorPath::Avx2) return __builtin_cpu_supports("avx2");
    if (path == VectorPath::Avx512)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx512dq");
#endif
    return path == VectorPath::Plain;
}

VectorPath vectorPath() { return currentPath(); }

void setVectorPath(VectorPath path) {
    currentPath() = supportedUpTo(path);
}
