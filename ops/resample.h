// Resampling: the bilinear sums and the black-edge trim that scaling and
// rotation share, and scaling itself.
#pragma once

#include <functional>

#include "image/image.h"
#include "image/vector_path.h"

// Byte values as doubles: in the sampler a table load is cheaper than a
// conversion.
struct ByteValues {
    double of[256];
    constexpr ByteValues() : of() {
        for (int i = 0; i < 256; ++i) of[i] = i;
    }
};
inline constexpr ByteValues kByteValues;

// The weights of the four neighbours of a sample at fractions fx, fy of the
// way from its first neighbour to the next, across and down.
struct BilinearWeights {
    double w00, w10, w01, w11;
};
inline BilinearWeights bilinearWeights(double fx, double fy) {
    return {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
}

// The bilinear sample of the neighbours P00, its right P10, the one below
// P01 and below right P11: each channel ((P01*w01 + P11*w11) + P10*w10) +
// P00*w00 in double precision, added in that order, truncated. Rotation
// samples with it, and scaling's vector code computes the same sums.
VECTOR_BODY void blendBilinear(const unsigned char *p00, const unsigned char *p10,
                                                         const unsigned char *p01, const unsigned char *p11,
                                                         const BilinearWeights &w, unsigned char *out) {
    // Summed before the store, so that the output cannot alias the input.
    const double *v = kByteValues.of;
    double sums[4];
    for (int k = 0; k < 4; ++k)
        sums[k] = ((v[p01[k]] * w.w01 + v[p11[k]] * w.w11) + v[p10[k]] * w.w10) + v[p00[k]] * w.w00;
    for (int k = 0; k < 4; ++k) out[k] = (unsigned char)(int)sums[k];
}

// What scaling or rotation came to. When the result would be too large or
// memory runs out, the image stays as it was.
enum class Resized { Done, TooLarge, NoMemory };

// Whether a canvas of this size stays within 2^31 - 1 bytes, the bound of
// what a factor or an angle can make the program allocate.
bool canvasFits(int canvasWidth, int canvasHeight);

// A computed image side truncated toward zero into `side`; false when it is
// not finite or does not fit a 32-bit int.
bool truncateSide(double size, int &side);

// Cut away the rows at the top and bottom (columns at the left and right)
// whose pixels all have colour 0, 0, 0, whatever their alpha. Black rows and
// columns inside the picture stay. An image with no rows left ends 0 x 0.
void trimBlackRows(Image &image);
void trimBlackColumns(Image &image);

// Writes rows first .. last - 1 of a picture one after another from `out`.
using RowRenderer = std::function<void(int first, int last, unsigned char *out)>;

// Makes `image` the width x height picture that `render` draws, less the
// black edge rows and columns that trimBlackRows and trimBlackColumns cut:
// the black rows at the top and bottom are found first, one at a time, and
// never stored; the others are rendered by blocks on all processors straight
// into the result, whose black edge columns are then cut away in its own
// buffer. The image is replaced only once every row is rendered, so `render`
// may read it. Throws std::bad_alloc, with the image unchanged, when memory
// runs out. With `inPlace` the kept rows are rendered instead in one block,
// in order, into the image's own buffer from its start, for a `render` that
// reads each pixel of the image before it writes over it.
void renderTrimmed(Image &image, int width, int height, const RowRenderer &render, bool inPlace = false);

// Scales by sx across and sy down: a factor above 1 enlarges the image by it,
// truncated; otherwise the size stays and the trim shrinks it afterwards.
// The image is centred on a canvas of the result's size in opaque black, each
// result pixel samples the canvas at the back-mapped position, and black edge
// rows and columns are trimmed. A negative factor mirrors.
Resized scaleImage(Image &image, double sx, double sy);
