#include "capture.h"

#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <memory>

Capture captureWidget(Fl_Widget *widget, Rgb background) {
    Fl_Image_Surface surface(widget->w(), widget->h());
    surface.set_current();
    fl_color(background.r, background.g, background.b);
    fl_rectf(0, 0, widget->w(), widget->h());
    surface.draw(widget);
    std::unique_ptr<Fl_RGB_Image> image(surface.image());
    Fl_Display_Device::display_device()->set_current();

    Capture capture;
    capture.width = image->w();
    capture.height = image->h();
    capture.rgb.resize((size_t)capture.width * capture.height * 3);
    const uint8_t *data = (const uint8_t *)image->data()[0];
    const int stride = image->ld() ? image->ld() : image->w() * image->d();
    for (int y = 0; y < capture.height; ++y)
        for (int x = 0; x < capture.width; ++x)
            memcpy(&capture.rgb[(size_t)(y * capture.width + x) * 3], data + y * stride + x * image->d(), 3);
    return capture;
}
