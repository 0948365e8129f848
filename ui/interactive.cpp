// The interactive operations of an image window: crop by rubber band,
// composite by placement, the slider operations and the blue-screen matte.
// They only run command lines, so a session can be replayed as a script.
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Slider.H>

#include <initializer_list>

#include "commands.h"
#include "core/command.h"
#include "core/registers.h"
#include "image_view.h"
#include "image_window.h"

namespace {

void showActive(Fl_Widget *widget) {
    widget->activate();
    widget->show();
}

// While no source is current, the placement rectangle is this size.
constexpr int kPlacementSize = 4;
// Registers A to X are offered as composite sources; Y and Z never are.
constexpr int kSourceCount = 24;

} // namespace

void ImageWindow::hideSliderControls() {
    paramSlider->hide();
    finishButton->hide();
    noResize = false;
    refresh();
}

void ImageWindow::hideCompositeControls() {
    targetOutput->hide();
    operatorChoice->hide();
    sourceChoice->hide();
    refresh();
}

void ImageWindow::hideMatteSliders() {
    for (Fl_Slider *slider : {bkSlider, mu1Slider, mu2Slider}) {
        slider->hide();
        slider->deactivate();
    }
}

void ImageWindow::startCrop() {
    mode = Mode::Crop;
    view->setDragMode(ImageView::DragMode::RubberBand);
}

void ImageWindow::onViewRelease() {
    if (mode == Mode::Crop) {
        // The rectangle the outline showed, so a drag toward the upper right
        // or lower left passes a negative height, which crop turns round.
        const ImageView::Rect band = view->rubberBand();
        // A click without a drag would crop the picture away, and nothing
        // keeps a copy: wait for a real rectangle instead.
        if (band.width != 0 && band.height != 0) {
            runCommandLine(cropCommand, "%c %d %d %d %d", letter(), band.left, band.top, band.width, band.height);
            mode = Mode::Idle;
        }
    }
    if (mode == Mode::Composite) applyComposite();
    refresh();
}

void ImageWindow::startComposite() {
    hideSliderControls();
    mode = Mode::Composite;
    showActive(sourceChoice);
    sourceChoice->clear();
    view->setDragMode(ImageView::DragMode::Placement);
    view->setPlacement({0, 0, kPlacementSize, kPlacementSize});
    for (int i = 0; i < kSourceCount; ++i) {
        if (i == registerIndex || !registerAt(i)->pixels) continue;
        const char name[2] = {(char)('A' + i), '\0'};
        sourceChoice->add(name);
    }
    runCommandLine(copyCommand, "%c z", letter());
    // The second source; with a single one (no index 1) none is current
    // until the user picks it.
    sourceChoice->value(1);
    sizePlacement();
    showActive(operatorChoice);
    showActive(targetOutput);
    const char target[2] = {letter(), '\0'};
    targetOutput->value(target);
}

void ImageWindow::sizePlacement() {
    const char *name = sourceChoice->text();
    const Image *source = name ? registerAt(name[0] - 'A') : nullptr;
    const bool sized = source && source->pixels;
    const ImageView::Rect placed = view->placement();
    view->setPlacement({placed.left, placed.top, sized ? source->width : kPlacementSize,
                        sized ? source->height : kPlacementSize});
}

void ImageWindow::applyComposite() {
    sizePlacement();
    if (const char *name = sourceChoice->text()) {
        runCommandLine(copyCommand, "z %c", letter());
        runCommandLine(compositeCommand, "%s %s %c %d %d", name, operatorChoice->text(), letter(),
                       view->placement().left, view->placement().top);
    }
    refresh();
}

void ImageWindow::startSliderOperation(const char *label, const Command &command, float minimum, float maximum,
                                       float factor, float initial) {
    hideCompositeControls();
    hideMatteSliders();
    showActive(finishButton);
    finishButton->label(label);
    showActive(paramSlider);
    paramSlider->bounds(minimum, maximum);
    paramSlider->value(initial);
    paramSlider->step(0.05);
    view->setDragMode(ImageView::DragMode::RubberBand);
    mode = Mode::Slider;
    runCommandLine(copyCommand, "%c z", letter());
    sliderCommand = &command;
    sliderFactor = factor;
}

void ImageWindow::applySliderOperation() {
    runCommandLine(copyCommand, "z %c", letter());
    const double v = paramSlider->value() * sliderFactor;
    runCommandLine(*sliderCommand, "%c %g %g", letter(), v, v);
    refresh();
}

void ImageWindow::finishOperation() {
    hideSliderControls();
    hideMatteSliders();
    paramSlider->deactivate();
}

void ImageWindow::startBluescreen() {
    hideSliderControls();
    hideCompositeControls();
    showActive(finishButton);
    finishButton->label("blue");
    for (Fl_Slider *slider : {bkSlider, mu1Slider, mu2Slider}) showActive(slider);
    runCommandLine(copyCommand, "%c z", letter());
    applyBluescreen();
}

void ImageWindow::applyBluescreen() {
    runCommandLine(copyCommand, "z %c", letter());
    runCommandLine(bluescreenCommand, "%c %d %g %g", letter(), (int)bkSlider->value(), mu1Slider->value(),
                 mu2Slider->value());
    refresh();
}
