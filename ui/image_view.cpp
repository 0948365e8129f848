#include "image_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace {

// Paints the image at (x, y) straight from its buffer, colour or alpha, cut
// to maxWidth x maxHeight. Nothing for an image without pixels or size.
void paintImage(const Image &image, const Fl_Button *alphaToggle, int x, int y, int maxWidth,
                int maxHeight) {
    const int width = std::min(image.width, maxWidth);
    const int height = std::min(image.height, maxHeight);
    if (!image.pixels || width <= 0 || height <= 0) return;
    const int lineBytes = image.width * 4;
    if (alphaToggle && alphaToggle->value())
        fl_draw_image_mono(image.pixels + 3, x, y, width, height, 4, lineBytes);
    else
        fl_draw_image(image.pixels, x, y, width, height, 4, lineBytes);
}

// A yellow frame with a blue frame one pixel inside it, at `r` moved by (x, y).
void drawOutline(int x, int y, const ImageView::Rect &r) {
    fl_color(FL_YELLOW);
    fl_rect(x + r.left, y + r.top, r.width, r.height);
    fl_color(FL_BLUE);
    fl_rect(x + r.left + 1, y + r.top + 1, r.width - 2, r.height - 2);
}

} // namespace

ImageView::ImageView(int x, int y, int w, int h, const char *label) : Fl_Widget(x, y, w, h, label) {}

void ImageView::setImage(const Image *image, Fl_Button *toggle) {
    shown = image;
    alphaToggle = toggle;
    dragging = false;
}

ImageView::Rect ImageView::rubberBand() const {
    if (bandEnd.x < bandStart.x)
        return {bandEnd.x, bandEnd.y, bandStart.x - bandEnd.x, bandStart.y - bandEnd.y};
    return {bandStart.x, bandStart.y, bandEnd.x - bandStart.x, bandEnd.y - bandStart.y};
}

void ImageView::draw() {
    fl_push_clip(x(), y(), w(), h());
    if (shown) paintImage(*shown, alphaToggle, x(), y(), w(), h());
    if (dragging) drawOutline(x(), y(), dragMode == DragMode::Placement ? placement : rubberBand());
    fl_pop_clip();
}

void ImageView::track(Point pointer) {
    if (dragMode == DragMode::Placement) {
        placement.left = pointer.x - placement.width / 2;
        placement.top = pointer.y - placement.height / 2;
    } else {
        bandEnd = pointer;
        // A rubber band also takes the placement to its end, so a source
        // picked after a crop is composited at the crop's end corner.
        placement.left = pointer.x;
        placement.top = pointer.y;
    }
}

int ImageView::handle(int event) {
    const Point pointer{Fl::event_x() - x(), Fl::event_y() - y()};
    switch (event) {
    case FL_PUSH:
        if (dragMode == DragMode::RubberBand) bandStart = pointer;
        track(pointer);
        dragging = true;
        return 1;
    case FL_DRAG:
    case FL_RELEASE:
        // X merges pointer motion, so a release that closely follows the last
        // move arrives without a drag to its point: take the end from both.
        track(pointer);
        if (event == FL_RELEASE) dragging = false;
        damage(1);
        if (event == FL_RELEASE) do_callback();
        return 1;
    default:
        return 0;
    }
}

ImageDisplay::ImageDisplay(int x, int y, int w, int h, unsigned char *pixels, Fl_Button *alphaToggle)
    : Fl_Widget(x, y, w, h), imageWidth(w), imageHeight(h), pixels(pixels), alphaToggle(alphaToggle) {}

void ImageDisplay::draw() {
    paintImage(Image{imageWidth, imageHeight, pixels}, alphaToggle, x(), y(), w(), h());
}
