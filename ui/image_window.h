// A window on one register, with the menus that run every image operation
// on it as command lines.
#pragma once

#include <string>

#include "image/image.h"

class Fl_Button;
class Fl_Choice;
class Fl_Menu_Bar;
class Fl_Output;
class Fl_Value_Slider;
class Fl_Window;
class Command;
class ImageView;

// Owns nothing: the FLTK window owns the widgets and the register bank the
// image. Windows are never destroyed; closing one only hides it.
class ImageWindow {
  public:
    // Builds the widgets for register `registerIndex`, titles the window
    // "Image X" and fits it to the image. The caller shows it.
    ImageWindow(Image *image, int registerIndex);

    // Unless noResize is set, sizes the window so that its view shows
    // exactly the displayed picture, within the work area of its screen
    // (moving it there if need be) and no narrower than minimumWidth. A view
    // in fit mode first takes the scale at which the whole picture fits that
    // area; at another scale a larger picture scrolls.
    void fitToImage();
    // "Image X", and the view's scale after it when that is not one to one.
    void showTitle();
    // Re-reads the register, fits the window to it, repaints the view and
    // prints "reset image X" on standard output.
    void refresh();

    // The register's letter, as every command line of this window has it.
    char letter() const { return (char)('A' + registerIndex); }

    // The interactive operations. Each saves the register into Z with
    // "copy X z" when it starts and restores it with "copy z X" before every
    // recomputation, so each change applies to the image as it was at the
    // start; crop alone is a single shot that saves nothing.
    // Menu items: they show their controls and run nothing yet except the
    // save (and, for the matte, its first result); all but the matte set `mode`.
    void startCrop();
    void startComposite();
    void startSliderOperation(const char *label, const Command &command, float minimum, float maximum,
                              float factor, float initial);
    void startBluescreen();
    // Callbacks of the view (button released), the composite choices, the
    // parameter slider, the three matte sliders and the finish button.
    void onViewRelease();
    void applyComposite();
    void applySliderOperation();
    void applyBluescreen();
    void finishOperation();
    // Hide a group of controls; the first two refresh afterwards.
    void hideSliderControls();
    void hideCompositeControls();
    void hideMatteSliders();
    // Gives the placement rectangle the size of the current source, or a
    // small square while there is none.
    void sizePlacement();

    Fl_Window *window;
    Fl_Button *alphaToggle;
    Fl_Choice *sourceChoice;
    Fl_Choice *operatorChoice;
    Fl_Output *targetOutput;
    ImageView *view;
    Fl_Menu_Bar *menuBar;
    Fl_Value_Slider *paramSlider;
    Fl_Button *finishButton;
    Fl_Value_Slider *bkSlider, *mu1Slider, *mu2Slider;
    // Narrower, the menu bar would cut off a title or the bar under the view
    // squeeze the composite controls or the view's readout.
    int minimumWidth = 0;
    char title[200] = "";
    int registerIndex = 0;
    Image *image = nullptr;
    // The interactive operation under way, as far as the view's release
    // concerns it; the matte and the finish button leave it alone.
    enum class Mode {
        Idle,
        Slider,    // darken, dissolve, rotate or scale by the parameter slider
        Crop,      // the next rubber band is cropped to
        Composite, // each release composites the source at the placement
    };
    Mode mode = Mode::Idle;
    float sliderFactor = 1;
    // The command the slider runs with the window's letter and its value twice.
    const Command *sliderCommand = nullptr;
    // Set while rotating or scaling: the window keeps its size until the
    // operation ends.
    bool noResize = false;
    ImageWindow *next = nullptr;
};

// Every window ever built, newest first.
extern ImageWindow *imageWindows;

// Refreshes every image window, as after a typed line or a menu action.
void refreshImageWindows();

// Reads a picture file into the first free register and opens a window on
// it, as command lines; a file that cannot be read has said why and opens
// no window.
void openInNewWindow(const char *path);

// The folder of the last file chosen in a file chooser, with its final
// slash; empty before the first. Read and Read Script start there, or in
// the working folder.
extern std::string chooserFolder;
