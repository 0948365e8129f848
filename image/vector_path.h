// Which instruction set the pixel loops that have a faster variant use:
// the x86-64 baseline every processor has, AVX2, or AVX-512 (its
// foundation with the byte, word, doubleword and vector-length parts) where
// the processor has them; a loop with no AVX-512 variant takes its AVX2 one
// on the AVX-512 path. Each variant compiles the same source for its instruction set and
// gives the same bytes; the choice is made once, from the processor, and
// tests and benchmarks may set it to compare the variants.
#pragma once

enum class VectorPath { Plain, Avx2, Avx512 };
// Every path, from the plain one up.
inline constexpr VectorPath kVectorPaths[] = {VectorPath::Plain, VectorPath::Avx2, VectorPath::Avx512};

// Whether this processor can run the path (Plain always can).
bool vectorPathSupported(VectorPath path);
// The path in use: the fastest this processor supports.
VectorPath vectorPath();
inline bool useAvx2() { return vectorPath() >= VectorPath::Avx2; }
inline bool useAvx512() { return vectorPath() == VectorPath::Avx512; }
// Sets the path, for tests and benchmarks; one the processor lacks falls back
// to the fastest below it that it has. Not while an operation runs.
void setVectorPath(VectorPath path);

// A loop body that each path's function inlines, so that it is compiled for
// that path's instruction set.
#define VECTOR_BODY inline __attribute__((always_inline))

// Compiles a function for AVX2 or AVX-512 (nothing elsewhere than on x86-64). Its
// floating-point arithmetic rounds as the baseline's does: fused
// multiply-adds are a separate instruction set, never enabled here.
#if defined(__x86_64__)
#define AVX2_FUNCTION __attribute__((target("avx2")))
#define AVX512_FUNCTION __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq")))
#else
#define AVX2_FUNCTION
#define AVX512_FUNCTION
#endif
