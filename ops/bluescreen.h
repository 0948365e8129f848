// Pulling a matte out of a picture taken against a blue backdrop.
#pragma once

#include "image/image.h"

// Gives every pixel the alpha 255 - mu1 x (min(blue, bk) - mu2 x max(red,
// green)), taken on the stored bytes, truncated toward zero and kept within
// 0..255, and premultiplies the pixel's straight colour by it. Pixels that
// were fully transparent become (0, 0, 0, 0).
void bluescreenMatte(Image &image, int bk, double mu1, double mu2);
