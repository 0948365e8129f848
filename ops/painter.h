// Painterly rendering: an image repainted with small brush strokes taken
// from the cells of a stroke map, on a canvas twice its size.
#pragma once

#include <cstdint>
#include <vector>

#include "core/command.h"
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

// The run's stroke map, or null while there is none.
const StrokeMap *strokeMap();

// Makes sure a stroke map exists, reading the brush file when there is none
// yet. Prints what it read or why it failed.
void loadBrushFile();

// Builds the run's stroke map from the image's red and green and repaints
// the image to show the codes: paint white, blend grey, clear green, the rest
// black.
void imageToMap(Image &image);

// Positions of one stroke within a 128 x 64 tile, both even.
struct StrokeOffset {
    int x, y;
};
constexpr int kOffsetCount = 2048;

// The table of 2048 stroke offsets, the same in every run; built on the first
// call, which prints how long that took.
const StrokeOffset *buildOffsetTable();

// Draws the w x h map cell whose top-left corner is (sx, sy) onto the canvas
// with its top-left corner at (dx, dy), clipped to the canvas.
void stampStroke(uint32_t *canvas, int canvasWidth, int canvasHeight, int dx, int dy,
                 const unsigned char *codes, int mapWidth, int sx, int sy, int w, int h,
                 unsigned char red, unsigned char green, unsigned char blue);

// The painter commands: one execute, and a choice of brush cell per stroke
// that tells them apart.
class PainterCommand : public Command {
  public:
    // mapWidth x mapHeight is the least stroke map that holds the cells the
    // command reads.
    PainterCommand(const char *name, int mapWidth, int mapHeight)
        : Command(name), mapWidth(mapWidth), mapHeight(mapHeight) {}

    int execute(char *args) override;

    // Chooses the cell (column, row) of the stroke centred on source pixel
    // (x, y). The column carries over from the previous stroke of the same
    // execution and starts at 0.
    virtual void pickStroke(int x, int y, int &column, int &row) = 0;

    const int mapWidth, mapHeight;
};

// Paints the strokes for `source` onto `canvas`, a 2W x 2H buffer for a W x H
// source, in the order of the offset table, with cells of `map` chosen by
// `painter`.
void paintStrokes(const Image &source, const StrokeMap &map, const StrokeOffset *offsets,
                  PainterCommand &painter, uint32_t *canvas);
