// Draws the painter's brush file: a grid of 23 x 23 cells in the brush colour
// code (white paper, dark paint, light grey edges that blend). Cell (0, 0) is
// a round dot, row 4 holds eight squiggles with a highlight along their upper
// side, row 5 the same eight squiggles plain. Run from the repository root:
//   build/make_brushes data
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tga.h"

namespace {

constexpr int kCell = 23, kColumns = 8, kRows = 6;
constexpr int kWidth = kCell * kColumns, kHeight = kCell * kRows;
constexpr double kCentre = (kCell - 1) / 2.0;

struct Rgb {
    unsigned char r, g, b;
};
const Rgb kPaper = {255, 255, 255}, kPaint = {40, 32, 24}, kEdge = {200, 200, 200},
          kHighlight = {235, 225, 160};

using Canvas = std::vector<Rgb>;

void put(Canvas &canvas, int cellX, int cellY, int x, int y, Rgb colour) {
    canvas[(size_t)(cellY * kCell + y) * kWidth + cellX * kCell + x] = colour;
}

void drawDot(Canvas &canvas) {
    for (int y = 0; y < kCell; ++y)
        for (int x = 0; x < kCell; ++x) {
            double d = std::hypot(x - kCentre, y - kCentre);
            if (d < 5.0)
                put(canvas, 0, 0, x, y, kPaint);
            else if (d < 6.2)
                put(canvas, 0, 0, x, y, kEdge);
        }
}

// Squiggle `k` of eight: a short wave turned by k x 22.5 degrees, with a
// phase and length of its own. With `highlight`, a thin light streak runs
// along the side of the body that faces the top left.
void drawSquiggle(Canvas &canvas, int k, int cellY, bool highlight) {
    const double pi = std::acos(-1.0);
    const double angle = k * pi / 8, length = 7.0 + k % 2, amplitude = 1.8, phase = k * 0.9;
    const double ux = std::cos(angle), uy = std::sin(angle);
    double vx = -uy, vy = ux;
    if (vx + vy > 0) vx = -vx, vy = -vy; // v points towards the light
    auto wave = [&](double s) { return amplitude * std::sin(pi * s / length + phase); };
    for (int y = 0; y < kCell; ++y)
        for (int x = 0; x < kCell; ++x) {
            const double px = x - kCentre, py = y - kCentre;
            double nearest = 1e9, side = 0;
            for (int i = 0; i <= 200; ++i) {
                double s = -length + 2 * length * i / 200;
                double cx = s * ux + wave(s) * vx, cy = s * uy + wave(s) * vy;
                double d = std::hypot(px - cx, py - cy);
                if (d < nearest) nearest = d, side = (px - cx) * vx + (py - cy) * vy;
            }
            if (highlight && nearest < 1.9 && side > 0.4 && side < 1.4)
                put(canvas, k, cellY, x, y, kHighlight);
            else if (nearest < 1.9)
                put(canvas, k, cellY, x, y, kPaint);
            else if (nearest < 2.8)
                put(canvas, k, cellY, x, y, kEdge);
        }
}

} // namespace

int main(int argc, char **argv) {
    std::string path = std::string(argc > 1 ? argv[1] : "data") + "/paintBrushes.tga";
    Canvas canvas((size_t)kWidth * kHeight, kPaper);
    drawDot(canvas);
    for (int k = 0; k < kColumns; ++k) {
        drawSquiggle(canvas, k, 4, true);
        drawSquiggle(canvas, k, 5, false);
    }
    // The writer takes the bottom row first.
    std::vector<unsigned char> rgba;
    for (int y = kHeight - 1; y >= 0; --y)
        for (int x = 0; x < kWidth; ++x) {
            Rgb c = canvas[(size_t)y * kWidth + x];
            rgba.insert(rgba.end(), {c.r, c.g, c.b, 255});
        }
    if (tgaWrite(path.c_str(), kWidth, kHeight, rgba.data(), TGA_RGBA)) return 0;
    fprintf(stderr, "%s: %s\n", path.c_str(), tgaErrorText(tgaLastError()));
    return 1;
}
