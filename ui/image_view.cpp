#include "image_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "image/parallel.h"
#include "image/premultiply.h"

namespace {

using Scale = ImageView::Scale;
using Rect = ImageView::Rect;

long long floorDiv(long long a, long long b) { return a >= 0 ? a / b : -((b - 1 - a) / b); }
long long ceilDiv(long long a, long long b) { return -floorDiv(-a, b); }

bool less(Scale a, Scale b) { return a.num * b.den < b.num * a.den; }

Scale lowestTerms(Scale s) {
    const long long divisor = std::gcd(s.num, s.den);
    return {s.num / divisor, s.den / divisor};
}

// The zoom ladder.
constexpr Scale kSteps[] = {{1, 16}, {1, 8}, {1, 4}, {1, 3}, {1, 2}, {2, 3}, {1, 1}, {3, 2},
                            {2, 1},  {3, 1}, {4, 1}, {6, 1}, {8, 1}, {12, 1}, {16, 1}};
// The smallest scale a fit goes down to, so that the sums of the picture
// pixels one screen pixel covers stay within 32 bits.
constexpr Scale kSmallest{1, 4096};
// The longest side the toolkit's coordinates can take on the screen.
constexpr long long kLongestSide = 1 << 30;

// Fills `out` with `part` of the picture shown at scale `s`, a rectangle
// within the displayed picture, as RGBA rows. Displayed column i starts at
// picture column floor(i / s) and shows the average of the picture columns
// from there to where column i + 1 starts, rounded, or above one to one the
// picture column alone; rows likewise. The colour is premultiplied, so a
// transparent pixel counts as black of no coverage.
void scalePart(const Image &image, Scale s, const Rect &part, unsigned char *out) {
    const auto start = [&](long long i, int end) { return (int)std::min<long long>(floorDiv(i * s.den, s.num), end); };
    std::vector<int> first(part.width), count(part.width);
    for (int i = 0; i < part.width; ++i) {
        first[i] = start(part.left + i, image.width);
        count[i] = std::max(1, start(part.left + i + 1, image.width) - first[i]);
    }
    const int from = first.front(), span = first.back() + count.back() - from;
    forEachRowBlock(part.height, rowsPerTask(std::max(span, part.width)), [&](int top, int bottom) {
        // Each displayed row sums its picture rows first, then each column's block.
        std::vector<uint32_t> sums((size_t)span * 4);
        const size_t rowBytes = (size_t)part.width * 4;
        for (int r = top; r < bottom; ++r) {
            const int y = start(part.top + r, image.height);
            const int rows = std::max(1, start(part.top + r + 1, image.height) - y);
            unsigned char *o = out + r * rowBytes;
            // Enlarged, a picture row makes several displayed rows in turn.
            if (r > top && y == start(part.top + r - 1, image.height)) {
                memcpy(o, o - rowBytes, rowBytes);
                continue;
            }
            std::fill(sums.begin(), sums.end(), 0);
            for (int k = 0; k < rows; ++k) {
                const unsigned char *p = image.pixels + ((size_t)(y + k) * image.width + from) * 4;
                for (size_t j = 0; j < sums.size(); ++j) sums[j] += p[j];
            }
            for (int i = 0; i < part.width; ++i, o += 4) {
                const uint32_t n = (uint32_t)(count[i] * rows);
                uint32_t total[4] = {n / 2, n / 2, n / 2, n / 2};
                const uint32_t *q = &sums[(size_t)(first[i] - from) * 4];
                for (const uint32_t *end = q + count[i] * 4; q < end; q += 4)
                    for (int c = 0; c < 4; ++c) total[c] += q[c];
                // In double precision, which divides several times faster
                // than 32-bit integers on some processors. The quotient is
                // below 256 and n below 2^32: the rounded quotient is never
                // close enough to a whole number above the true one to
                // reach it, so truncating it gives the integer quotient.
                const double divisor = n;
                for (int c = 0; c < 4; ++c) o[c] = (unsigned char)(int)(total[c] / divisor);
            }
        }
    });
}

// A yellow frame with a blue frame one pixel inside it.
void drawOutline(const Rect &r) {
    fl_color(FL_YELLOW);
    fl_rect(r.left, r.top, r.width, r.height);
    fl_color(FL_BLUE);
    fl_rect(r.left + 1, r.top + 1, r.width - 2, r.height - 2);
}

} // namespace

const ImageView::ZoomKey ImageView::zoomKeys[5] = {
    {"Zoom In", '+', &ImageView::zoomIn},         {nullptr, '=', &ImageView::zoomIn},
    {"Zoom Out", '-', &ImageView::zoomOut},       {"Actual Size", '1', &ImageView::actualSize},
    {"Fit in Window", 'f', &ImageView::fitInWindow},
};

bool ImageView::CacheKey::operator==(const CacheKey &o) const {
    return pixels == o.pixels && width == o.width && height == o.height && scale.num == o.scale.num &&
           scale.den == o.scale.den && part.left == o.part.left && part.top == o.part.top &&
           part.width == o.part.width && part.height == o.part.height;
}

ImageView::ImageView(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {
    const auto scrolled = [](Fl_Widget *, void *data) {
        ImageView *view = (ImageView *)data;
        view->scrollTo(view->across->value(), view->down->value());
    };
    across = new Fl_Scrollbar(x, y, w, 0);
    across->type(FL_HORIZONTAL);
    across->callback(scrolled, this);
    down = new Fl_Scrollbar(x, y, 0, h);
    down->callback(scrolled, this);
    end();
    arrange();
}

void ImageView::setImage(const Image *image, Fl_Button *toggle) {
    shown = image;
    alphaToggle = toggle;
    isDragging = false;
    // A command may have changed the pixels where they are.
    cached = {};
    arrange();
    updateReadout();
}

ImageView::Size ImageView::pictureSize() const {
    return shown ? Size{std::max(shown->width, 0), std::max(shown->height, 0)} : Size{0, 0};
}

ImageView::Size ImageView::displayedSize() const {
    const Size picture = pictureSize();
    return {(int)ceilDiv(picture.width * scale.num, scale.den), (int)ceilDiv(picture.height * scale.num, scale.den)};
}

std::string ImageView::scaleText() const {
    const double percent = 100.0 * (double)scale.num / (double)scale.den;
    char text[32];
    snprintf(text, sizeof text, percent >= 100 ? "%.0f%%" : "%.3g%%", percent);
    return text;
}

ImageView::Scale ImageView::fitScale(int width, int height) const {
    const Size picture = pictureSize();
    Scale s{1, 1};
    if (picture.width > 0 && less({std::max(width, 1), picture.width}, s)) s = {std::max(width, 1), picture.width};
    if (picture.height > 0 && less({std::max(height, 1), picture.height}, s))
        s = {std::max(height, 1), picture.height};
    return lowestTerms(less(s, kSmallest) ? kSmallest : s);
}

void ImageView::setScale(Scale newScale, Point anchor) {
    const bool changed = newScale.num != scale.num || newScale.den != scale.den;
    const double factor = (double)(newScale.num * scale.den) / (double)(newScale.den * scale.num);
    offset = {(int)std::lround((offset.x + anchor.x) * factor) - anchor.x,
              (int)std::lround((offset.y + anchor.y) * factor) - anchor.y};
    scale = newScale;
    arrange();
    if (!changed) return;
    updateReadout();
    if (onScaleChange) onScaleChange();
}

void ImageView::zoomStep(int direction, Point anchor) {
    const Size picture = pictureSize();
    // Up, the first larger step that the screen's coordinates can hold; down,
    // the last smaller one.
    const Scale *next = nullptr;
    for (const Scale &step : kSteps) {
        const bool holds = std::max(picture.width, picture.height) * step.num <= kLongestSide * step.den;
        if (direction > 0 ? !next && less(scale, step) && holds : less(step, scale)) next = &step;
    }
    if (!next) return;
    fitting = false;
    setScale(*next, anchor);
}

void ImageView::zoomIn() { zoomStep(1, middle()); }
void ImageView::zoomOut() { zoomStep(-1, middle()); }

void ImageView::actualSize() {
    fitting = false;
    setScale({1, 1}, middle());
}

void ImageView::fitInWindow() {
    fitting = true;
    setScale(fitScale(w(), h()), middle());
}

void ImageView::fitWithin(int width, int height) {
    if (fitting) setScale(fitScale(width, height), {0, 0});
}

void ImageView::resize(int x, int y, int w, int h) {
    // Not the group's resize, which would stretch the scroll bars.
    Fl_Widget::resize(x, y, w, h);
    if (fitting)
        setScale(fitScale(w, h), {0, 0});
    else
        arrange();
}

void ImageView::scrollTo(int x, int y) {
    offset = {x, y};
    arrange();
    updateReadout();
}

void ImageView::arrange() {
    const Size size = displayedSize();
    const int width = std::max(w(), 0), height = std::max(h(), 0);
    // A scroll bar takes room from the other direction, where the picture may
    // then need the other bar too.
    const int bar = Fl::scrollbar_size();
    bool wide = size.width > width, tall = size.height > height;
    wide = wide || (tall && size.width > width - bar);
    tall = tall || (wide && size.height > height - bar);
    areaWidth = std::max(width - (tall ? bar : 0), 0);
    areaHeight = std::max(height - (wide ? bar : 0), 0);
    offset.x = std::max(0, std::min(offset.x, size.width - areaWidth));
    offset.y = std::max(0, std::min(offset.y, size.height - areaHeight));
    across->resize(x(), y() + areaHeight, areaWidth, bar);
    down->resize(x() + areaWidth, y(), bar, areaHeight);
    const auto showIf = [](Fl_Widget *widget, bool needed) { needed ? widget->show() : widget->hide(); };
    showIf(across, wide);
    showIf(down, tall);
    across->value(offset.x, areaWidth, 0, size.width);
    down->value(offset.y, areaHeight, 0, size.height);
    redraw();
}

ImageView::Point ImageView::toPicture(int px, int py) const {
    return {(int)floorDiv((long long)(px - x() + offset.x) * scale.den, scale.num),
            (int)floorDiv((long long)(py - y() + offset.y) * scale.den, scale.num)};
}

ImageView::Rect ImageView::toScreen(const Rect &picture) const {
    const auto edge = [&](long long p) { return (int)ceilDiv(p * scale.num, scale.den); };
    const int left = edge(picture.left), top = edge(picture.top);
    return {x() - offset.x + left, y() - offset.y + top, edge((long long)picture.left + picture.width) - left,
            edge((long long)picture.top + picture.height) - top};
}

ImageView::Rect ImageView::rubberBand() const {
    if (bandEnd.x < bandStart.x)
        return {bandEnd.x, bandEnd.y, bandStart.x - bandEnd.x, bandStart.y - bandEnd.y};
    return {bandStart.x, bandStart.y, bandEnd.x - bandStart.x, bandEnd.y - bandStart.y};
}

const unsigned char *ImageView::shownPixels(Rect &part, int &lineBytes) {
    const Size size = displayedSize();
    part = {offset.x, offset.y, std::min(areaWidth, size.width - offset.x), std::min(areaHeight, size.height - offset.y)};
    if (!shown || !shown->pixels || part.width <= 0 || part.height <= 0) return nullptr;
    if (oneToOne()) {
        lineBytes = shown->width * 4;
        return shown->pixels + ((size_t)part.top * shown->width + part.left) * 4;
    }
    const CacheKey key{shown->pixels, shown->width, shown->height, scale, part};
    if (!(cached == key)) {
        cached = {};
        if (!fitsInMemory([&] {
                cache.resize((size_t)part.width * part.height * 4);
                scalePart(*shown, scale, part, cache.data());
            }))
            return nullptr;
        cached = key;
    }
    lineBytes = part.width * 4;
    return cache.data();
}

void ImageView::draw() {
    Rect part{};
    int lineBytes = 0;
    const unsigned char *pixels = shownPixels(part, lineBytes);
    if (!pixels) part.width = part.height = 0;
    fl_push_clip(x(), y(), areaWidth, areaHeight);
    if (pixels && alphaToggle && alphaToggle->value())
        fl_draw_image_mono(pixels + 3, x(), y(), part.width, part.height, 4, lineBytes);
    else if (pixels)
        fl_draw_image(pixels, x(), y(), part.width, part.height, 4, lineBytes);
    // What the picture does not cover, so that no earlier, larger picture stays.
    fl_color(color());
    fl_rectf(x() + part.width, y(), areaWidth - part.width, areaHeight);
    fl_rectf(x(), y() + part.height, part.width, areaHeight - part.height);
    if (isDragging) drawOutline(toScreen(mode == DragMode::Placement ? placed : rubberBand()));
    fl_pop_clip();
    draw_child(*across);
    draw_child(*down);
    // The corner between two scroll bars.
    fl_color(color());
    if (across->visible() && down->visible())
        fl_rectf(x() + areaWidth, y() + areaHeight, w() - areaWidth, h() - areaHeight);
}

void ImageView::track(Point at) {
    if (mode == DragMode::Placement) {
        placed.left = at.x - placed.width / 2;
        placed.top = at.y - placed.height / 2;
    } else {
        bandEnd = at;
        // A rubber band also takes the placement to its end, so a source
        // picked after a crop is composited at the crop's end corner.
        placed.left = at.x;
        placed.top = at.y;
    }
}

void ImageView::updateReadout() {
    if (!readout) return;
    const Point at = toPicture(pointer.x, pointer.y);
    const Size picture = pictureSize();
    const int fromLeft = pointer.x - x(), fromTop = pointer.y - y();
    const bool over = pointerIn && shown && shown->pixels && fromLeft >= 0 && fromTop >= 0 &&
                      fromLeft < areaWidth && fromTop < areaHeight && at.x < picture.width && at.y < picture.height;
    char text[160];
    if (over) {
        // The values a file would store: the colour divided by alpha.
        const unsigned char *p = shown->pixels + ((size_t)at.y * picture.width + at.x) * 4;
        const unsigned char *straight = straightForFile().value[p[3]];
        snprintf(text, sizeof text, "x %d  y %d  R %d G %d B %d A %d  %s", at.x, at.y, straight[p[0]],
                 straight[p[1]], straight[p[2]], p[3], scaleText().c_str());
    } else {
        snprintf(text, sizeof text, "%s", scaleText().c_str());
    }
    if (readout->label() && !strcmp(readout->label(), text)) return;
    readout->copy_label(text);
    readout->redraw();
}

int ImageView::handle(int event) {
    switch (event) {
    case FL_PUSH: {
        // The scroll bars take their own presses.
        if (!Fl::event_inside(x(), y(), areaWidth, areaHeight)) return Fl_Group::handle(event);
        // The toolkit passes a wheel's sideways clicks on as presses of
        // buttons 6 and 7: they must not crop or composite.
        if (mode == DragMode::Off || Fl::event_button() > FL_RIGHT_MOUSE) return 0;
        const Point at = toPicture(Fl::event_x(), Fl::event_y());
        if (mode == DragMode::RubberBand) bandStart = at;
        track(at);
        isDragging = true;
        return 1;
    }
    case FL_DRAG:
    case FL_RELEASE:
        // X merges pointer motion, so a release that closely follows the last
        // move arrives without a drag to its point: take the end from both.
        track(toPicture(Fl::event_x(), Fl::event_y()));
        pointer = {Fl::event_x(), Fl::event_y()};
        updateReadout();
        if (event == FL_RELEASE) isDragging = false;
        redraw();
        if (event == FL_RELEASE) do_callback();
        return 1;
    case FL_ENTER:
    case FL_MOVE:
    case FL_LEAVE:
        pointerIn = event != FL_LEAVE;
        pointer = {Fl::event_x(), Fl::event_y()};
        updateReadout();
        // Taking the entry brings the moves and the leave.
        return event == FL_ENTER;
    case FL_MOUSEWHEEL:
        if (Fl::event_state(FL_CTRL) && Fl::event_dy()) {
            zoomStep(-Fl::event_dy(), {Fl::event_x() - x(), Fl::event_y() - y()});
            return 1;
        }
        return Fl_Group::handle(event);
    case FL_SHORTCUT:
        for (const ZoomKey &k : zoomKeys)
            if (Fl::test_shortcut(k.key)) {
                (this->*k.zoom)();
                return 1;
            }
        return Fl_Group::handle(event);
    default:
        return Fl_Group::handle(event);
    }
}
