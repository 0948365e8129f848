// Painterly rendering: an image repainted with small brush strokes taken
// from the cells of a stroke map, on a canvas twice its size.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/image.h"

// What one stroke pixel does to the canvas pixel under it.
enum StrokeCode : unsigned char {
    kStrokeLeave = 0, // canvas unchanged
    kStrokePaint = 1, // canvas takes the stroke colour
    kStrokeBlend = 2, // each byte becomes (canvas >> 1) + (stroke >> 1)
    kStrokeClear = 3, // canvas becomes (0, 0, 0, 0)
};

// Side of the square brush cells the map is read in.
constexpr int kStrokeSize = 23;
// A stroke centred on a canvas pixel reaches this far to each side of it.
constexpr int kStrokeHalf = kStrokeSize / 2;

// Where in a cell its codes other than leave lie: the stroke draws only
// that rectangle, relative to the cell's corner (empty when w or h is 0).
struct CellBounds {
    int x, y, w, h;
};

// One code per pixel of a brush image, rows from the top, and the bounds of
// each whole cell, row after row.
struct StrokeMap {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> codes;
    std::vector<CellBounds> cells;
    int cellColumns = 0;
};

// Makes `map` from the image's red and green and repaints the image to show
// the codes: paint white, blend grey, clear green, the rest black. False,
// with the image and `map` unchanged, when the memory cannot be had.
bool imageToMap(Image &image, StrokeMap &map);

// The cells a painter draws with: the first `count` cells of map row `row`,
// in turn from left to right, the first stroke taking the one after cell 0.
struct BrushCells {
    int row, count;
};
constexpr int kSquiggleCount = 8;
constexpr BrushCells kDotBrush = {0, 1};                    // the round dot
constexpr BrushCells kSquiggleBrush = {5, kSquiggleCount};  // squiggles
constexpr BrushCells kHighlightBrush = {4, kSquiggleCount}; // highlighted squiggles

// True when `map` holds every cell of `brush`.
bool mapHolds(const StrokeMap &map, BrushCells brush);

// Strokes are placed on a lattice of tiles, each stroke on an even column
// and row of its tile.
constexpr int kTileWidth = 128;
constexpr int kTileHeight = 64;
constexpr int kOffsetCount = (kTileWidth / 2) * (kTileHeight / 2);

// Position of one stroke within a tile.
struct StrokeOffset {
    int x, y;
};
using OffsetTable = std::array<StrokeOffset, kOffsetCount>;

// Every even position of a tile once, in a fixed shuffled order: the same
// table in every run and on every platform.
OffsetTable makeOffsetTable();

// Draws the w x h map cell whose top-left corner is (sx, sy) onto the canvas
// with its top-left corner at (dx, dy), clipped to the canvas, whose rows
// lie canvasStride pixels apart.
void stampStroke(uint32_t *canvas, int canvasWidth, int canvasHeight, int canvasStride, int dx, int dy,
                 const unsigned char *codes, int mapWidth, int sx, int sy, int w, int h,
                 unsigned char red, unsigned char green, unsigned char blue);

// A white canvas twice the size of `source` each way, to be freed like an
// image's pixels. Null when its byte count does not fit 32 bits or its
// memory cannot be had.
unsigned char *whiteCanvas(const Image &source);

// Paints the strokes for `source` onto `canvas`, a 2W x 2H buffer for a W x H
// source. Each entry of `offsets`, in table order, places one stroke in every
// tile over the source; a stroke takes the next cell of `brush` and the colour
// of the source pixel it falls on, and is centred on the canvas pixel at twice
// that pixel's position.
void paintStrokes(const Image &source, const StrokeMap &map, BrushCells brush, const OffsetTable &offsets,
                 uint32_t *canvas);
