// Resampling: the bilinear sampler, centring on a canvas and the black-edge
// trim that scaling and rotation share, and scaling itself.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>

#include "image/image.h"

// Byte values as doubles: in the sampler a table load is cheaper than a
// conversion.
struct ByteValues {
    double of[256];
    constexpr ByteValues() : of() {
        for (int i = 0; i < 256; ++i) of[i] = i;
    }
};
inline constexpr ByteValues kByteValues;

// Interpolates the RGBA buffer of w x h pixels at column x, row y into `out`.
// False, leaving `out` alone, when floor(x) or floor(y) falls outside the
// buffer (not-a-number and infinities included). A missing right or lower
// neighbour is replaced by the last column or row. Each channel is
// ((P01*w01 + P11*w11) + P10*w10) + P00*w00 truncated, added in that order.
inline bool sampleBilinear(const unsigned char *pixels, int w, int h, double x, double y,
                           unsigned char *out) {
    // floor(x) lies in 0 .. w - 1 exactly when x does in [0, w); there
    // truncation is the floor. Written so that not-a-number fails too.
    if (!(x >= 0 && x < w && y >= 0 && y < h)) return false;
    const int xi = (int)x, yi = (int)y;
    const double fx = x - xi, fy = y - yi;
    const int x1 = xi + 1 < w ? xi + 1 : w - 1;
    const int y1 = yi + 1 < h ? yi + 1 : h - 1;
    const double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w11 = fx * fy, w01 = (1 - fx) * fy;
    const unsigned char *row0 = pixels + (size_t)yi * w * 4, *row1 = pixels + (size_t)y1 * w * 4;
    const unsigned char *p00 = row0 + xi * 4, *p10 = row0 + x1 * 4;
    const unsigned char *p01 = row1 + xi * 4, *p11 = row1 + x1 * 4;
    // Summed before the store, so that the output cannot alias the input;
    // the four channels in one loop of their own become vector code.
    const double *v = kByteValues.of;
    double sums[4];
    for (int k = 0; k < 4; ++k)
        sums[k] = ((v[p01[k]] * w01 + v[p11[k]] * w11) + v[p10[k]] * w10) + v[p00[k]] * w00;
    for (int k = 0; k < 4; ++k) out[k] = (unsigned char)(int)sums[k];
    return true;
}

// What scaling or rotation came to. When the result would be too large or
// memory runs out, the image stays as it was.
enum class Resized { Done, TooLarge, NoMemory };

// Whether a canvas of this size stays within 2^31 - 1 bytes, the bound of
// what a factor or an angle can make the program allocate.
bool canvasFits(int canvasWidth, int canvasHeight);

// A new canvasWidth x canvasHeight buffer holding `image` centred, at offset
// (canvasWidth / 2 - width / 2, canvasHeight / 2 - height / 2), and the
// `background` pixel wherever the image does not reach; parts of the image
// beyond the canvas are cut off. Null for a side of 0 or less, a canvas that
// does not fit (canvasFits), or memory that runs out.
unsigned char *centreOnCanvas(const Image &image, int canvasWidth, int canvasHeight,
                              const unsigned char background[4]);

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
