// Widgets that paint an image one to one, as colour or as its alpha channel.
#pragma once

#include <FL/Fl_Scroll.H>
#include <FL/Fl_Widget.H>

#include "image/image.h"

class Fl_Button;

// The image in an image window. It paints the image at its top-left corner
// and clears the rest of its area. Besides painting, it follows mouse drags
// as a rubber band or as a placement rectangle, outlines the drag while it
// lasts, and calls its callback when the button is released. Coordinates are
// taken from the widget's top-left corner, so they are the image's columns
// and rows, however the viewport has scrolled the widget; they are not
// clamped to the widget.
class ImageView : public Fl_Widget {
  public:
    struct Point {
        int x, y;
    };
    // Width or height may be zero or negative.
    struct Rect {
        int left, top, width, height;
    };
    enum class DragMode {
        RubberBand, // a rectangle from the press to the pointer
        Placement,  // the placement rectangle, its centre on the pointer
    };

    ImageView(int x, int y, int w, int h, const char *label = nullptr);
    ~ImageView() override = default;

    // Shows `image`, a register, as it is at each paint, so a repaint never
    // reads a buffer the register has released; `alphaToggle` selects alpha
    // display. Ends any drag. The caller redraws the view afterwards.
    void setImage(const Image *image, Fl_Button *alphaToggle);
    // The register shown, with its current pixels and size.
    const Image *image() const { return shown; }

    // The rubber band as a rectangle, taken from its two corners by the
    // horizontal comparison alone: a drag toward the upper right or the
    // lower left gives a negative height.
    Rect rubberBand() const;

    void draw() override;
    int handle(int event) override;

    DragMode dragMode = DragMode::RubberBand;
    // From the button's press to its release.
    bool dragging = false;
    // The rubber band's corners: where the drag started and where the pointer is.
    Point bandStart{}, bandEnd{};
    // The placement rectangle: the owner sets its size, a drag its corner.
    Rect placement{};

  private:
    // Moves the rubber band's end or the placement to the pointer.
    void track(Point pointer);

    const Image *shown = nullptr;
    Fl_Button *alphaToggle = nullptr;
};

// The scrolling area of an image window, which holds its view. The view is as
// large as its image, and at least as large as the part of the area that
// scroll bars leave, so that it paints all of that part; where the image is
// larger, scroll bars and the mouse wheel move it.
class ImageViewport : public Fl_Scroll {
  public:
    // Makes the view, at the area's top-left corner.
    ImageViewport(int x, int y, int w, int h);

    void resize(int x, int y, int w, int h) override;
    // Sizes the view to its image and to the area, and keeps the scroll
    // position within the image.
    void fitView();

    ImageView *view;
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
