// Per-pixel tone operations on premultiplied images.
#pragma once

#include "image/image.h"

// Scales every channel, alpha included, by `factor`: floor(c x factor),
// kept within 0..255.
void darkenImage(Image &image, float factor);

// Scales the alpha of every pixel by `factor` (floor, kept within 0..255)
// and premultiplies the straight colour again with the new alpha.
void dissolveImage(Image &image, float factor);

// Replaces `first` by a matte of where it differs from `second`, an image of
// the same size: where a premultiplied colour channel differs by more than
// `threshold` and the second pixel is not transparent, the second pixel's
// straight colour, opaque; (0, 0, 0, 0) everywhere else. Written in place,
// so it always succeeds (true).
bool differenceMatte(Image &first, const Image &second, double threshold);
