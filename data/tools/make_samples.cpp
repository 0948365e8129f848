// Draws the shipped sample images: a photograph-like landscape (opaque), a
// badge with a soft alpha channel and a balloon shot against a blue backdrop
// (opaque, for pulling a matte). Run from the repository root:
//   build/make_samples data
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tga.h"

namespace {

// Deterministic lattice noise, so the images are the same on every machine.
double lattice(int x, int y, uint32_t seed) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

double smooth(double t) { return t * t * (3 - 2 * t); }

double valueNoise(double x, double y, uint32_t seed) {
    int xi = (int)std::floor(x), yi = (int)std::floor(y);
    double tx = smooth(x - xi), ty = smooth(y - yi);
    double a = lattice(xi, yi, seed), b = lattice(xi + 1, yi, seed);
    double c = lattice(xi, yi + 1, seed), d = lattice(xi + 1, yi + 1, seed);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

double fractal(double x, double y, uint32_t seed, int octaves) {
    double sum = 0, amplitude = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + i);
        total += amplitude;
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / total;
}

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

unsigned char toByte(double v) { return (unsigned char)std::lround(std::clamp(v, 0.0, 255.0)); }

// An opaque pixel of colour c with the same grain added to every channel.
void storeGrainy(unsigned char *p, Rgb c, double grain) {
    p[0] = toByte(c.r + grain);
    p[1] = toByte(c.g + grain);
    p[2] = toByte(c.b + grain);
    p[3] = 255;
}

// Sky with clouds and a low sun, two mountain ranges, a meadow and a lake.
std::vector<unsigned char> landscape(int w, int h) {
    std::vector<unsigned char> rgba((size_t)w * h * 4);
    const double horizon = h * 0.58, shore = h * 0.74;
    const double sunX = w * 0.72, sunY = h * 0.30;
    auto farRidge = [&](double x) { return h * 0.30 + h * 0.22 * fractal(x / 90.0, 0.5, 11, 5); };
    auto nearRidge = [&](double x) { return h * 0.48 + h * 0.12 * fractal(x / 60.0, 3.5, 23, 5); };
    auto sky = [&](double x, double y) {
        Rgb c = mix({40, 82, 160}, {236, 196, 150}, y / horizon);
        double d = std::hypot(x - sunX, y - sunY);
        c = mix(c, {255, 240, 200}, std::exp(-d / (w * 0.09)) * 0.9);
        if (d < w * 0.035) c = {255, 250, 225};
        double cloud = fractal(x / 70.0, y / 25.0, 5, 6);
        return mix(c, {250, 245, 240}, (cloud - 0.52) * 3.0 * (1 - y / horizon));
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Rgb c;
            if (y >= shore) {
                // Water mirrors the mountains and the sky, darkened and rippled.
                double ripple = (fractal(x / 30.0, y / 3.0, 41, 3) - 0.5) * 6;
                double my = std::max(0.0, farRidge(x) + 4 - (y - shore) * 1.6 + ripple);
                Rgb mirrored = my >= farRidge(x) ? Rgb{100, 110, 140} : sky(x, my);
                c = mix(mirrored, {20, 40, 70}, 0.35 + (y - shore) / h);
            } else if (y >= nearRidge(x)) {
                double grass = fractal(x / 12.0, y / 6.0, 31, 5);
                c = mix({52, 98, 38}, {150, 170, 70}, grass * 1.2 - 0.1 + (y - horizon) / h);
            } else if (y >= farRidge(x)) {
                double rock = fractal(x / 25.0, y / 25.0, 17, 5);
                c = mix({88, 100, 130}, {170, 170, 185}, rock + (farRidge(x) - y) / h);
                c = mix(c, sky(x, horizon), 0.25);
            } else {
                c = sky(x, y);
            }
            storeGrainy(&rgba[((size_t)y * w + x) * 4], c, (lattice(x, y, 99) - 0.5) * 8);
        }
    }
    return rgba;
}

// A round badge: a ring and a five-pointed star, soft at every edge, on a
// fully transparent background. Stored premultiplied.
std::vector<unsigned char> badge(int size) {
    std::vector<unsigned char> rgba((size_t)size * size * 4);
    const double centre = (size - 1) / 2.0, radius = size * 0.46;
    const double pi = std::acos(-1.0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double dx = x - centre, dy = y - centre;
            double d = std::hypot(dx, dy);
            double angle = std::atan2(dy, dx) + pi / 2;
            double wedge = std::fmod(angle + 2 * pi, 2 * pi / 5) / (2 * pi / 5);
            double starRadius = radius * (0.38 + 0.34 * std::fabs(wedge - 0.5) * 2);
            double disc = std::clamp(radius - d, 0.0, 1.0);
            double ring = std::clamp((d - radius * 0.8) / 2.0, 0.0, 1.0) * disc;
            double star = std::clamp(starRadius - d, 0.0, 1.0);
            Rgb c = mix({230, 60, 40}, {250, 200, 40}, d / radius);
            double alpha = std::max({ring, star, disc * 0.35});
            if (star > ring) c = mix(c, {255, 245, 160}, star);
            unsigned char *p = &rgba[((size_t)y * size + x) * 4];
            unsigned a = toByte(alpha * 255);
            p[0] = (unsigned char)(toByte(c.r) * a / 255);
            p[1] = (unsigned char)(toByte(c.g) * a / 255);
            p[2] = (unsigned char)(toByte(c.b) * a / 255);
            p[3] = (unsigned char)a;
        }
    }
    return rgba;
}

// A hot-air balloon with coloured gores, ropes and a wicker basket in front
// of an evenly lit blue studio backdrop. Every colour of the balloon has
// little blue, and the backdrop little red and green, so a matte pulled on
// blue keeps the balloon and drops the backdrop; the edges are antialiased,
// so they mix the two as a camera would.
std::vector<unsigned char> balloon(int w, int h) {
    std::vector<unsigned char> rgba((size_t)w * h * 4);
    const double pi = std::acos(-1.0);
    const double cx = w / 2.0, cy = h * 0.38, radius = w * 0.36;
    const double mouthY = h * 0.80, mouth = w * 0.09;
    const double basketTop = h * 0.875, basketBottom = h * 0.975, basketHalf = w * 0.085;
    const Rgb gores[] = {{212, 48, 36}, {246, 202, 52}, {236, 122, 32}, {72, 150, 62}};
    auto halfWidth = [&](double y) {
        if (y < cy) return std::sqrt(std::max(0.0, radius * radius - (y - cy) * (y - cy)));
        if (y > mouthY) return -1.0;
        return mouth + (radius - mouth) * std::cos((y - cy) / (mouthY - cy) * pi / 2);
    };
    // Distance from (x, y) to the segment from (ax, ay) to (bx, by).
    auto segment = [](double x, double y, double ax, double ay, double bx, double by) {
        double dx = bx - ax, dy = by - ay;
        double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(x - ax - t * dx, y - ay - t * dy);
    };
    // The scene at one point: the balloon's colour, or nothing on the backdrop.
    auto subject = [&](double x, double y, Rgb &c) {
        double hw = halfWidth(y), dx = x - cx;
        if (hw > 0 && std::fabs(dx) < hw) {
            double across = dx / hw; // -1 .. 1 around the envelope
            int gore = (int)std::floor((std::asin(across) / pi + 0.5) * 12) % 4;
            double shade = 0.5 + 0.5 * std::sqrt(1 - across * across) * (1 - 0.3 * (y - cy) / h);
            c = mix({0, 0, 0}, gores[gore], shade);
            return true;
        }
        for (double side : {-1.0, -0.35, 0.35, 1.0}) {
            if (segment(x, y, cx + side * mouth, mouthY, cx + side * basketHalf * 0.9, basketTop) < 0.6) {
                c = {72, 52, 30};
                return true;
            }
        }
        if (y >= basketTop && y < basketBottom && std::fabs(dx) < basketHalf) {
            bool weave = ((int)std::floor(y / 2.5) + (int)std::floor((x + 100) / 4)) % 2 == 0;
            c = weave ? Rgb{134, 88, 46} : Rgb{98, 62, 32};
            return true;
        }
        return false;
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Backdrop: a little brighter in the middle, with soft blotches.
            double light = 1 - 0.12 * std::hypot((x - cx) / w, (y - h / 2.0) / h) * 2;
            double blotch = (fractal(x / 40.0, y / 40.0, 61, 4) - 0.5) * 16;
            Rgb backdrop = {22 + blotch * 0.3, 54 + blotch * 0.5, (196 + blotch) * light};
            // 4 x 4 samples per pixel for antialiased edges.
            Rgb sum = {0, 0, 0};
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    Rgb c = backdrop;
                    subject(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4, c);
                    sum = {sum.r + c.r / 16, sum.g + c.g / 16, sum.b + c.b / 16};
                }
            }
            storeGrainy(&rgba[((size_t)y * w + x) * 4], sum, (lattice(x, y, 77) - 0.5) * 6);
        }
    }
    return rgba;
}

// The writer takes the bottom row first.
bool writeTopDown(const std::string &path, int w, int h, std::vector<unsigned char> rgba) {
    std::vector<unsigned char> flipped(rgba.size());
    const size_t row = (size_t)w * 4;
    for (int y = 0; y < h; ++y) std::copy_n(&rgba[y * row], row, &flipped[(h - 1 - y) * row]);
    if (tgaWrite(path.c_str(), w, h, flipped.data(), TGA_RGBA)) return true;
    fprintf(stderr, "%s: %s\n", path.c_str(), tgaErrorText(tgaLastError()));
    return false;
}

} // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : "data";
    bool ok = writeTopDown(dir + "/landscape.tga", 384, 256, landscape(384, 256));
    ok = writeTopDown(dir + "/badge.tga", 160, 160, badge(160)) && ok;
    ok = writeTopDown(dir + "/balloon-bluescreen.tga", 128, 160, balloon(128, 160)) && ok;
    return ok ? 0 : 1;
}
