// The widget that shows a picture in the image windows and the display
// dialog: at a scale, scrolled, as colour or as its alpha channel.
#pragma once

#include <FL/Fl_Group.H>

#include <functional>
#include <string>
#include <vector>

#include "image/image.h"

class Fl_Box;
class Fl_Button;
class Fl_Scrollbar;

// A picture seen at a scale: one to one, smaller (each screen pixel the
// average of the picture pixels it covers) or larger (each picture pixel a
// block of screen pixels). Where the picture is larger than the view, scroll
// bars and the mouse wheel move it; Ctrl with the wheel zooms about the
// pointer. The view also follows mouse drags as a rubber band or as a
// placement rectangle, outlines the drag while it lasts, and calls its
// callback when the button is released.
//
// Everything it tells its owner is in the picture's own pixels, whatever the
// scale and however far it has scrolled; points left of or above the picture
// are negative, and none are clamped to it.
class ImageView : public Fl_Group {
  public:
    struct Point {
        int x, y;
    };
    // Width or height may be zero or negative.
    struct Rect {
        int left, top, width, height;
    };
    struct Size {
        int width, height;
    };
    // num / den, in lowest terms.
    struct Scale {
        long long num, den;
    };
    enum class DragMode {
        Off,        // presses on the picture are not taken
        RubberBand, // a rectangle from the press to the pointer
        Placement,  // the placement rectangle, its centre on the pointer
    };
    // A key that zooms, with the View menu's label for it (null for a second
    // key of the same action).
    struct ZoomKey {
        const char *label;
        int key;
        void (ImageView::*zoom)();
    };
    static const ZoomKey zoomKeys[5];

    ImageView(int x, int y, int w, int h);
    ~ImageView() override = default;

    // Shows `image`, a register, as it is at each paint, so a repaint never
    // reads a buffer the register has released; `alphaToggle` selects alpha
    // display. Ends any drag and keeps the scale, also in fit mode: the
    // owner refits (fitWithin) when it sizes its window anew.
    void setImage(const Image *image, Fl_Button *alphaToggle);
    // The register shown, with its current pixels and size.
    const Image *image() const { return shown; }

    // Zoom In and Out go to the next step of the ladder, about the middle of
    // the view; they and Actual Size leave fit mode. Fit in Window enters it:
    // the largest scale, at most one to one, at which the whole picture fits
    // the view, found again whenever the view is resized.
    void zoomIn();
    void zoomOut();
    void actualSize();
    void fitInWindow();
    // In fit mode, fits the picture to a width x height area instead, for
    // the window that then sizes itself around the displayed picture.
    void fitWithin(int width, int height);
    // The picture's size on the screen: 0 x 0 without a picture.
    Size displayedSize() const;
    bool oneToOne() const { return scale.num == scale.den; }
    // The scale as a percentage, "25%".
    std::string scaleText() const;
    // Called after the scale has changed.
    std::function<void()> onScaleChange;
    // Where the view tells the scale and, while the pointer is over the
    // picture, its column and row and the straight values of its pixel.
    Fl_Box *readout = nullptr;

    // The displayed picture's pixel at the view's top-left corner.
    Point scrollPosition() const { return offset; }
    // Scrolls there, as far as the picture reaches.
    void scrollTo(int x, int y);

    // The picture pixel under a point of the window, and the window's
    // rectangle that shows a rectangle of the picture: the screen pixels
    // whose top-left corners lie in it.
    Point toPicture(int x, int y) const;
    Rect toScreen(const Rect &picture) const;

    DragMode dragMode() const { return mode; }
    void setDragMode(DragMode newMode) { mode = newMode; }
    // From the button's press to its release.
    bool dragging() const { return isDragging; }
    // The rubber band as a rectangle, taken from its two corners by the
    // horizontal comparison alone: a drag toward the upper right or the
    // lower left gives a negative height.
    Rect rubberBand() const;
    // The placement rectangle: the owner sets it, a drag moves it.
    Rect placement() const { return placed; }
    void setPlacement(const Rect &rectangle) { placed = rectangle; }

    // The part of the displayed picture that the view shows, and its pixels
    // as RGBA rows `lineBytes` apart: the register's own at one to one, else
    // computed once for that picture, scale and part. Null when nothing is
    // shown or memory runs out.
    const unsigned char *shownPixels(Rect &part, int &lineBytes);

    void draw() override;
    int handle(int event) override;
    void resize(int x, int y, int w, int h) override;

  private:
    Size pictureSize() const;
    Scale fitScale(int width, int height) const;
    // Sets the scale, keeping the picture point under `anchor` (from the
    // view's corner) where it is.
    void setScale(Scale newScale, Point anchor);
    // One step up the ladder (direction 1) or down (-1).
    void zoomStep(int direction, Point anchor);
    Point middle() const { return {areaWidth / 2, areaHeight / 2}; }
    // Places the scroll bars the displayed picture needs and keeps the
    // scroll position within it.
    void arrange();
    void track(Point pointer);
    void updateReadout();

    const Image *shown = nullptr;
    Fl_Button *alphaToggle = nullptr;
    Scale scale{1, 1};
    bool fitting = true;
    Point offset{0, 0};
    // The part of the view the picture may take: all but the scroll bars.
    int areaWidth = 0, areaHeight = 0;
    Fl_Scrollbar *across, *down;

    DragMode mode = DragMode::RubberBand;
    bool isDragging = false;
    Point bandStart{}, bandEnd{};
    Rect placed{};
    // The pointer's place in the window while it is over the view.
    bool pointerIn = false;
    Point pointer{};

    // The pixels of the part last computed, and for what.
    std::vector<unsigned char> cache;
    struct CacheKey {
        const unsigned char *pixels;
        int width, height;
        Scale scale;
        Rect part;
        bool operator==(const CacheKey &other) const;
    } cached{};
};
