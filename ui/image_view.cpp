#include "image_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace {

struct Size {
    int width, height;
};

// Paints the image at (x, y) straight from its buffer, colour or alpha, cut
// to maxWidth x maxHeight, and returns the size painted: nothing, 0 x 0, for
// an image without pixels or size.
Size paintImage(const Image &image, const Fl_Button *alphaToggle, int x, int y, int maxWidth, int maxHeight) {
    const int width = std::min(image.width, maxWidth);
    const int height = std::min(image.height, maxHeight);
    if (!image.pixels || width <= 0 || height <= 0) return {0, 0};
    const int lineBytes = image.width * 4;
    if (alphaToggle && alphaToggle->value())
        fl_draw_image_mono(image.pixels + 3, x, y, width, height, 4, lineBytes);
    else
        fl_draw_image(image.pixels, x, y, width, height, 4, lineBytes);
    return {width, height};
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
    const Size painted = shown ? paintImage(*shown, alphaToggle, x(), y(), w(), h()) : Size{0, 0};
    // What the image does not cover, so that no earlier, larger image stays.
    fl_color(color());
    fl_rectf(x() + painted.width, y(), w() - painted.width, h());
    fl_rectf(x(), y() + painted.height, painted.width, h() - painted.height);
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
        // The toolkit passes a wheel's sideways clicks on as presses of
        // buttons 6 and 7: they must not crop or composite.
        if (Fl::event_button() > FL_RIGHT_MOUSE) return 0;
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

ImageViewport::ImageViewport(int x, int y, int w, int h) : Fl_Scroll(x, y, w, h) {
    view = new ImageView(x, y, w, h);
    end();
}

void ImageViewport::resize(int x, int y, int w, int h) {
    Fl_Scroll::resize(x, y, w, h);
    fitView();
}

void ImageViewport::fitView() {
    const Image *image = view->image();
    const int width = image ? std::max(image->width, 0) : 0;
    const int height = image ? std::max(image->height, 0) : 0;
    // A scroll bar takes room from the other direction, where the image may
    // then need the other bar too.
    const int bar = Fl::scrollbar_size();
    bool wide = width > w(), tall = height > h();
    wide = wide || (tall && width > w() - bar);
    tall = tall || (wide && height > h() - bar);
    const int shownWidth = w() - (tall ? bar : 0), shownHeight = h() - (wide ? bar : 0);
    view->size(std::max(width, shownWidth), std::max(height, shownHeight));
    scroll_to(std::min(xposition(), view->w() - shownWidth), std::min(yposition(), view->h() - shownHeight));
}

ImageDisplay::ImageDisplay(int x, int y, int w, int h, unsigned char *pixels, Fl_Button *alphaToggle)
    : Fl_Widget(x, y, w, h), imageWidth(w), imageHeight(h), pixels(pixels), alphaToggle(alphaToggle) {}

void ImageDisplay::draw() {
    paintImage(Image{imageWidth, imageHeight, pixels}, alphaToggle, x(), y(), w(), h());
}
