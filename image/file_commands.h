// Reading and writing picture files with the console's messages, for the
// file commands and the other commands that read a file.
#pragma once

#include "image.h"

// Replaces `image` with the picture in the file. On failure prints
// "Error trying to set image to `PATH'!" and the reason in red, keeps the
// picture it had and returns false.
bool readImageFile(const char *path, Image *image);
