// Memory for pixel buffers, shared by the TGA library and the program; it
// depends on nothing but the C and POSIX libraries.
#pragma once

#include <cstddef>

// Like malloc; the buffer is given back with freePixelMemory, or with free.
// A buffer of a few megabytes or more is aligned to 2 MiB and the kernel is
// asked to back it with huge pages: the first touch of a 3840 x 2160 picture
// then costs 16 page faults instead of 8100, which on a virtual machine take
// longer than most operations on the pixels. Better still, such a buffer
// given back with freePixelMemory is kept and handed out again for about its
// size, already mapped and cleared by the kernel once, so that a command
// making a new picture the size of one it has let go of pays for neither.
void *allocatePixelMemory(size_t bytes);

// Gives back a buffer of allocatePixelMemory or of malloc (null is no buffer).
void freePixelMemory(void *memory);
