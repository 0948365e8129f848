// Black and white, grey levels and fixed palettes. Every method works on the
// stored (premultiplied) colour bytes as they are and leaves alpha alone.
#pragma once

#include "image/image.h"

// Red, green, blue.
typedef unsigned char PaletteColour[3];

struct Palette {
    const PaletteColour *colours;
    int size;
};

// Black and white; eight primary and secondary colours; 38 pastel tints and
// shades.
extern const Palette paletteBW, palettePrimary, palettePastel;

// Colour channels become 255 where red + green + blue is at least 384, else 0.
void clipBW(Image &image);

// Ordered dithers: colour channels become 255 where red + green + blue is
// above the pixel's entry of a 2 x 2 or 3 x 3 threshold matrix, else 0.
void orderedDither2(Image &image);
void orderedDither3(Image &image);

// Colour channels become the grey (3 red + 6 green + blue) / 10, truncated.
void grayLevels(Image &image);

// How error diffusion treated one pixel: its colour plus the error carried
// to it, the palette colour chosen, and the error left over.
struct DiffusionStep {
    int value[3], chosen[3], error[3];
};

// The first two pixels of the first two rows, in the order visited.
struct DiffusionTrace {
    DiffusionStep steps[4];
    int count = 0;
};

// Replaces each colour by the palette colour nearest (city-block distance)
// to it plus the error carried from the pixels before: 3/8 to the right,
// 3/8 down and 1/4 down to the right, truncated; in the last two columns
// only the 3/8 down. False, with the image unchanged, when the memory for
// the error rows cannot be had.
bool errorDiffuse(Image &image, const Palette &palette, DiffusionTrace &trace);
