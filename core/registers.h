// The 26 image registers A to Z.
#pragma once

#include "image/image.h"

constexpr int kRegisterCount = 26;

// The register a one-letter name (either case) stands for; prints why not
// and returns null for a missing, long or non-letter name.
Image *lookupRegister(const char *name);

// Register by index 0 to 25 (unchecked).
Image *registerAt(int index);

// The first of A to Y without pixels, else 25 (Z, whatever it holds).
int firstFreeRegister();

// lookupRegister, and then refuses a register that holds no pixels with
// "%s not a valid image" (the name as typed). Null in both cases.
Image *lookupImage(const char *name);

// Reports, as one red line, a new image too large to allocate. Returns 1,
// the result every command gives, so a command can end with
// `return memoryError()`.
int memoryError();
