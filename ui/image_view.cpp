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

// A yellow frame with a blue frame one pixel inside it.
void drawOutline(int x, int y, int width, int height) {
    fl_color(FL_YELLOW);
    fl_rect(x, y, width, height);
    fl_color(FL_BLUE);
    fl_rect(x + 1, y + 1, width - 2, height - 2);
}

} // namespace

ImageView::ImageView(int x, int y, int w, int h, const char *label)
    : Fl_Widget(x, y, w, h, label), imageWidth(w), imageHeight(h) {}

void ImageView::setImage(unsigned char *newPixels, int width, int height, Fl_Button *toggle) {
    pixels = newPixels;
    imageWidth = width;
    imageHeight = height;
    alphaToggle = toggle;
    dragging = 0;
}

void ImageView::rubberBand(int &left, int &top, int &width, int &height) const {
    if (endX < startX) {
        left = endX, width = startX - endX, top = endY, height = startY - endY;
    } else {
        left = startX, width = endX - startX, top = startY, height = endY - startY;
    }
}

void ImageView::draw() {
    fl_push_clip(x(), y(), w(), h());
    const Image shown = source ? *source : Image{imageWidth, imageHeight, pixels};
    paintImage(shown, alphaToggle, x(), y(), w(), h());
    if (dragging) {
        if (dragMode == 0) {
            int left, top, width, height;
            rubberBand(left, top, width, height);
            drawOutline(x() + left, y() + top, width, height);
        } else if (dragMode == 1) {
            drawOutline(x() + endX, y() + endY, startX, startY);
        }
    }
    fl_pop_clip();
}

int ImageView::handle(int event) {
    const int mx = Fl::event_x() - x();
    const int my = Fl::event_y() - y();
    switch (event) {
    case FL_PUSH:
        if (dragMode == 0) {
            startX = endX = mx;
            startY = endY = my;
        } else if (dragMode == 1) {
            endX = mx - startX / 2;
            endY = my - startY / 2;
        }
        dragging = 1;
        return 1;
    case FL_DRAG:
    case FL_RELEASE:
        // X merges pointer motion, so a release that closely follows the last
        // move arrives without a drag to its point: take the end from both.
        if (dragMode == 1) {
            endX = mx - startX / 2;
            endY = my - startY / 2;
        } else {
            endX = mx;
            endY = my;
        }
        if (event == FL_RELEASE) dragging = 0;
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
