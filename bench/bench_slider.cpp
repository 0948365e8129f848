// Times one step of an image window's slider operations, as a drag of the
// slider makes it: the slider's callback, which restores the register from Z
// ("copy z A") and runs darken, rotate or scale on it, then the redraw of the
// window, the fitted view computed anew and sent to the X server. Also the
// restore alone and the redraw alone (a refresh of the window). The windows
// are the program's own, with the console shown, on one thread. Prints the
// median and the best processor time of several runs, and the median wall
// time, in milliseconds. Needs a display; run it on one core:
//   tools/with-xvfb.sh taskset -c 0 build/bench/bench_slider PICTURE.tga [RUNS]
#include <FL/Fl.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

#include <unistd.h>

#include "core/command.h"
#include "core/registers.h"
#include "image/parallel.h"
#include "ui/commands.h"
#include "ui/gui.h"
#include "ui/image_view.h"
#include "ui/image_window.h"

namespace {

double cpuMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double wallMilliseconds() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Draws what is damaged, as the event loop does after a callback, and waits
// until the server has taken it all.
void drawNow() {
    Fl::flush();
    XSync(fl_display, False);
}

// Times `step`, one untimed run first, and prints one line of the table.
void report(FILE *out, const char *what, int runs, const std::function<void()> &step) {
    step();
    std::vector<double> cpu, wall;
    for (int r = 0; r < runs; ++r) {
        const double startCpu = cpuMilliseconds(), startWall = wallMilliseconds();
        step();
        cpu.push_back(cpuMilliseconds() - startCpu);
        wall.push_back(wallMilliseconds() - startWall);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    fprintf(out, "| %s | %.1f | %.1f | %.1f |\n", what, cpu[cpu.size() / 2], cpu[0], wall[wall.size() / 2]);
    fflush(out);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_slider PICTURE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(atoi(argv[2]), 1) : 21;
    setThreadCount(1);
    Console *console = startConsole();
    if (!console) return 1;
    console->window->show();
    runCommandLine(readCommand, "A %s", argv[1]);
    const Image *picture = registerAt(0);
    if (!picture->pixels) return 1;
    const int width = picture->width, height = picture->height;
    runCommandLine(copyCommand, "A P"); // kept to start each operation from
    runCommandLine(iwCommand, "A");
    ImageWindow *window = imageWindows;
    // Until the window is mapped and drawn.
    for (int i = 0; i < 20; ++i) Fl::wait(0.02);
    drawNow();

    // The figures on standard output; what the windows print there goes away.
    FILE *out = fdopen(dup(STDOUT_FILENO), "w");
    if (!out || !freopen("/dev/null", "w", stdout)) return 1;
    const ImageView::Size shown = window->view->displayedSize();
    fprintf(out, "%d x %d shown fitted at %d x %d, %d runs, %d thread\n\n", width, height, shown.width,
            shown.height, runs, threadCount());
    fprintf(out, "| Step | processor ms, median | best | wall ms, median |\n|---|---:|---:|---:|\n");
    struct Operation {
        const char *name, *menu;
        double value;
    };
    for (const Operation &o : {Operation{"restore, darken 0.7, redraw", "Required/Darken", 0.7},
                               Operation{"restore, rotate 10, redraw", "Advanced/Rotate", 10},
                               Operation{"restore, scale 1.1, redraw", "Advanced/Scale", 1.1}}) {
        runCommandLine(copyCommand, "P A");
        window->menuBar->picked(window->menuBar->find_item(o.menu));
        drawNow();
        report(out, o.name, runs, [&] {
            window->paramSlider->value(o.value);
            window->paramSlider->do_callback();
            drawNow();
        });
        window->finishOperation();
    }
    runCommandLine(copyCommand, "P A");
    window->refresh();
    drawNow();
    report(out, "restore alone (copy z A)", runs, [&] { runCommandLine(copyCommand, "z A"); });
    report(out, "redraw alone (refresh)", runs, [&] {
        window->refresh();
        drawNow();
    });
    fclose(out);
    return 0;
}
