// Which instruction set the pixel loops that have a faster variant use:
// the x86-64 baseline every processor has, or AVX2 where the processor has
// it. Each variant compiles the same source for its instruction set and
// gives the same bytes; the choice is made once, from the processor, and
// tests and benchmarks may set it to compare the variants.
#pragma once

enum class VectorPath { Plain, Avx2 };

// Whether this processor can run the path (Plain always can).
bool vectorPathSupported(VectorPath path);
// The path in use: AVX2 where it is supported, else Plain.
VectorPath vectorPath();
inline bool useAvx2() { return vectorPath() == VectorPath::Avx2; }
// Sets the path, for tests and benchmarks; one the processor lacks falls back
// to Plain. Not while an operation runs.
void setVectorPath(VectorPath path);

// A loop body that each path's function inlines, so that it is compiled for
// that path's instruction set.
#define VECTOR_BODY inline __attribute__((always_inline))

// Compiles a function for AVX2 (nothing elsewhere than on x86-64). Its
// floating-point arithmetic rounds as the baseline's does: fused
// multiply-adds are a separate instruction set, never enabled here.
#if defined(__x86_64__)
#define AVX2_FUNCTION __attribute__((target("avx2")))
#else
#define AVX2_FUNCTION
#endif
