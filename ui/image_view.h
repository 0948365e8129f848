// Widgets that paint an image one to one, as colour or as its alpha channel.
#pragma once

#include <FL/Fl_Widget.H>

#include "image/image.h"

class Fl_Button;

// The image in an image window. Besides painting, it follows mouse drags as a
// rubber band (dragMode 0) or as a placement rectangle (dragMode 1), outlines
// the drag while it lasts, and calls its callback when the button is released.
class ImageView : public Fl_Widget {
  public:
    ImageView(int x, int y, int w, int h, const char *label = nullptr);
    ~ImageView() override = default;

    // Takes the image to paint and the toggle that selects alpha display, and
    // ends any drag. The caller redraws the view afterwards.
    void setImage(unsigned char *pixels, int width, int height, Fl_Button *alphaToggle);
    // Makes the view paint `image` (a register) as it is at paint time rather
    // than what setImage was last given, so a repaint that comes before the
    // owner's refresh never reads a buffer the register has released.
    void follow(const Image *image) { source = image; }

    // The rubber band as a rectangle, taken from its two corners by the
    // horizontal comparison alone: a drag toward the upper right or the
    // lower left gives a negative height.
    void rubberBand(int &left, int &top, int &width, int &height) const;

    void draw() override;
    int handle(int event) override;

    int imageWidth;
    int imageHeight;
    unsigned char *pixels = nullptr;
    Fl_Button *alphaToggle = nullptr;
    // Rubber band: where the drag started and where the pointer is.
    // Placement: the rectangle's size, and its left and top.
    int startX = 0, startY = 0;
    int endX = 0, endY = 0;
    int dragging = 0;
    int dragMode = 0;

  private:
    const Image *source = nullptr;
};

// The image of the modal display dialog: paints only, takes no events.
class ImageDisplay : public Fl_Widget {
  public:
    ImageDisplay(int x, int y, int w, int h, unsigned char *pixels, Fl_Button *alphaToggle);
    ~ImageDisplay() override = default;

    void draw() override;

    int imageWidth;
    int imageHeight;
    unsigned char *pixels;
    Fl_Button *alphaToggle;
};
