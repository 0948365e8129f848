// Scaling and rotation done the plain way, for the tests to compare with:
// the image centred on a whole canvas, every result pixel sampled from it
// one by one, then the black edges trimmed.
#pragma once

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "ops/resample.h"

// Makes `image` the width x height picture whose pixel (j, i) samples, at
// position(j, i), a canvasWidth x canvasHeight canvas in `background` with
// the image centred on it, and is `background` where floor of the position
// falls outside the canvas; then trims its black edges. A neighbour past the
// canvas's last column or row is that column or row again.
inline void sampleWholeCanvas(Image &image, int width, int height, int canvasWidth, int canvasHeight,
                              const unsigned char background[4],
                              const std::function<std::pair<double, double>(int j, int i)> &position) {
    std::vector<unsigned char> canvas((size_t)canvasWidth * canvasHeight * 4);
    const int offX = canvasWidth / 2 - image.width / 2, offY = canvasHeight / 2 - image.height / 2;
    for (int r = 0; r < canvasHeight; ++r)
        for (int c = 0; c < canvasWidth; ++c) {
            const int x = c - offX, y = r - offY;
            const bool inside = x >= 0 && x < image.width && y >= 0 && y < image.height;
            memcpy(&canvas[((size_t)r * canvasWidth + c) * 4],
                   inside ? image.pixels + ((size_t)y * image.width + x) * 4 : background, 4);
        }
    auto at = [&](int c, int r) { return &canvas[((size_t)r * canvasWidth + c) * 4]; };
    unsigned char *out = allocPixels(width, height);
    for (int i = 0; i < height; ++i)
        for (int j = 0; j < width; ++j) {
            const auto [x, y] = position(j, i);
            unsigned char *p = out + ((size_t)i * width + j) * 4;
            if (!(x >= 0 && x < canvasWidth && y >= 0 && y < canvasHeight)) {
                memcpy(p, background, 4);
                continue;
            }
            const int xi = (int)x, yi = (int)y;
            const int x1 = std::min(xi + 1, canvasWidth - 1), y1 = std::min(yi + 1, canvasHeight - 1);
            blendBilinear(at(xi, yi), at(x1, yi), at(xi, y1), at(x1, y1), bilinearWeights(x - xi, y - yi), p);
        }
    image.replace(width, height, out);
    trimBlackRows(image);
    trimBlackColumns(image);
}
