// Internals shared by the parts of the TGA library.
#pragma once

void tgaSetError(int code);

// Length of the fixed file header.
constexpr int kTgaHeaderSize = 18;
