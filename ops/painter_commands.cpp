// The painter commands: image-to-map, painter, painter2 and painter3, and the
// stroke map and offset table they keep for the rest of the run.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "image/file_commands.h"
#include "painter.h"

namespace {

// The painters' stroke map: made by image-to-map, or from the brush file by
// the first painter that finds none.
std::optional<StrokeMap> strokeMap;
// The stroke offsets, made by the first painter that paints.
std::optional<OffsetTable> offsets;

// The brush file's second place: a fixed path of the platform the program
// came from, kept as it is and simply not found elsewhere.
const char kSharedBrushPath[] = "p:\\course\\ip301-studio\\public\\Images\\paintBrushes.tga";

// The program's own data folder: share/compositor beside the bin/ folder of
// an installed program, else the source tree's data/ for a program run where
// it was built.
std::string programDataDir() {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path exe = fs::canonical("/proc/self/exe", error);
    if (!error) {
        fs::path installed = exe.parent_path().parent_path() / "share" / "compositor";
        if (fs::is_directory(installed, error)) return installed.string();
    }
    return COMPOSITOR_SOURCE_DATA_DIR;
}

// Makes the stroke map from `image` and repaints the image to show it. False,
// with both as they were, when the memory cannot be had.
bool makeStrokeMap(Image &image) {
    StrokeMap map;
    if (!imageToMap(image, map)) return false;
    strokeMap = std::move(map);
    return true;
}

// Makes sure a stroke map exists, reading the brush file when there is none
// yet, and prints what it read or that it found nothing. False when the
// file's map cannot get memory.
bool loadBrushFile() {
    if (strokeMap) return true;
    const std::string ownPath = programDataDir() + "/paintBrushes.tga";
    Image brushes;
    const char *path = ownPath.c_str();
    if (!readImageFile(path, &brushes)) {
        path = kSharedBrushPath;
        readImageFile(path, &brushes);
    }
    if (brushes.empty()) {
        consolePrintRed("Couldn't find brush file!\n:");
        return true;
    }
    consolePrint(" Read stroke map from %s\n", path);
    const bool made = makeStrokeMap(brushes);
    brushes.release();
    return made;
}

// The offset table, made on the first call, which prints how long that took.
const OffsetTable &offsetTable() {
    if (!offsets) {
        const clock_t start = clock();
        offsets = makeOffsetTable();
        consolePrintRedResult("-- %s : %5.2f sec\n", "build rand table", (double)(clock() - start) / CLOCKS_PER_SEC);
    }
    return *offsets;
}

// Repaints register R with strokes of `brush` on a white canvas twice its size.
int paint(char *args, BrushCells brush) {
    if (!loadBrushFile()) return memoryError();
    if (!strokeMap) {
        consolePrintRed("Can't paint - no stroke map!\n");
        return 1;
    }
    if (!mapHolds(*strokeMap, brush)) {
        consolePrintRed("Can't paint - stroke map too small!\n");
        return 1;
    }
    splitWord(args);
    Image *source = lookupImage(args);
    if (!source) return 1;
    if (source->width <= 0 || source->height <= 0) {
        consolePrintRed("%s not a valid image\n", args);
        return 1;
    }
    unsigned char *canvas = whiteCanvas(*source);
    if (!canvas) {
        consolePrintRed("Can't paint - %s too large for a canvas twice its size!\n", args);
        return 1;
    }
    paintStrokes(*source, *strokeMap, brush, offsetTable(), (uint32_t *)canvas);
    source->replace(2 * source->width, 2 * source->height, canvas);
    return 1;
}

int painter(const Command &, char *args) { return paint(args, kDotBrush); }
int painter2(const Command &, char *args) { return paint(args, kSquiggleBrush); }
int painter3(const Command &, char *args) { return paint(args, kHighlightBrush); }

int strokeMapFromRegister(const Command &, char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    if (image && !makeStrokeMap(*image)) return memoryError();
    return 1;
}

} // namespace

FunctionCommand imageToMapCommand("image-to-map", "image-to-map R",
    "makes the painters' brush strokes from R", strokeMapFromRegister);
FunctionCommand painterCommand("painter", "painter R",
    "repaints R with round dots on a canvas twice its size", painter);
FunctionCommand painter2Command("painter2", "painter2 R", "repaints R with squiggles", painter2);
FunctionCommand painter3Command("painter3", "painter3 R", "repaints R with highlighted squiggles", painter3);
