// The modal dialog in which the `show` command displays a register.
#pragma once

#include "image/image.h"

// Shows `image` (the register itself, not a copy) with Done and Alpha
// buttons, fitted to the work area when it is larger and zoomed by the keys
// of the image windows' View menu, and returns once Done is pressed or the
// dialog is closed.
void lessSimpModalDis(Image &image);
