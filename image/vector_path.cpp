#include "vector_path.h"

namespace {

VectorPath bestPath() { return vectorPathSupported(VectorPath::Avx2) ? VectorPath::Avx2 : VectorPath::Plain; }

VectorPath &currentPath() {
    static VectorPath path = bestPath();
    return path;
}

} // namespace

bool vectorPathSupported(VectorPath path) {
#if defined(__x86_64__)
    if (path == VectorPath::Avx2) return __builtin_cpu_supports("avx2");
#endif
    return path == VectorPath::Plain;
}

VectorPath vectorPath() { return currentPath(); }

void setVectorPath(VectorPath path) { currentPath() = vectorPathSupported(path) ? path : VectorPath::Plain; }
