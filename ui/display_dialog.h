// The modal dialog in which the `show` command displays a register.
#pragma once

#include "image/image.h"

// Shows `image` (the register itself, not a copy) with Done and Alpha
// buttons, and returns once Done is pressed or the dialog is closed.
void lessSimpModalDis(Image &image);
