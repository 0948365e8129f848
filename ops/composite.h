// Compositing of premultiplied images with the twelve two-image operators
// and "plus".
#pragma once

#include "image/image.h"

// Operator codes; the comments give the weights Fa on A and Fb on B, where
// aA and aB are the two pixels' alphas on the 0..255 scale.
enum CompositeOp {
    kClear = 0,  // 0, 0
    kFirst,      // 255, 0
    kSecond,     // 0, 255
    kOver,       // 255, 255 - aA
    kUnder,      // 255 - aB, 255
    kIn,         // aB, 0
    kHeldIn,     // 0, 255 - aA
    kOut,        // 0, aA
    kHeldOut,    // 255 - aB, 0
    kAtop,       // aB, 255 - aA
    kBelow,      // 255 - aB, aA
    kXor,        // 255 - aB, 255 - aA
    kPlus,       // 255, 255
};

// The operator whose keyword starts `word` (ignoring case), or -1.
int parseCompositeOp(const char *word);

// Combines A into B in place, A's top-left pixel on B's column x, row y:
// each covered pixel of B becomes A x Fa + B x Fb, channel by channel,
// saturated at 255. Only the overlap changes; B keeps its size. A and B may
// be the same image, which is then read as it is being rewritten.
void compositeImages(const Image &a, Image &b, int op, int x, int y);
