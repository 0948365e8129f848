// Times what an image window's view computes to show a 4000 x 3000 picture:
// fitting it into the view of a 1280 x 1024 screen (1220 x 966, which the
// fit fills 1220 x 915), then one scroll step down (16 pixels, one click of
// the wheel) at each zoom step below and above one to one. At one to one the
// view paints from the register and computes nothing. Prints the median and
// the best processor time of several runs, in milliseconds, which other work
// on the machine disturbs less than wall time; run it on one core, where the
// two are the same:
//   taskset -c 0 build/bench/bench_view [RUNS]
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/parallel.h"
#include "ui/image_view.h"

namespace {

double cpuMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// Times `change` followed by the computation of what the view then shows.
template <class Change> void report(const char *what, ImageView &view, int runs, Change change) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const double start = cpuMilliseconds();
        change(r);
        ImageView::Rect part;
        int lineBytes;
        if (!view.shownPixels(part, lineBytes)) {
            fprintf(stderr, "%s: nothing shown\n", what);
            exit(1);
        }
        times.push_back(cpuMilliseconds() - start);
    }
    std::sort(times.begin(), times.end());
    printf("%-28s %7.2f ms median %7.2f ms best (%d threads)\n", what, times[times.size() / 2], times[0],
           threadCount());
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(atoi(argv[1]), 1) : 21;
    const int w = 4000, h = 3000;
    Image picture;
    picture.replace(w, h, allocPixels(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char *p = picture.pixels + ((size_t)y * w + x) * 4;
            p[0] = (unsigned char)(x * 255 / w);
            p[1] = (unsigned char)(y * 255 / h);
            p[2] = (unsigned char)((x ^ y) & 255);
            p[3] = 255;
        }

    ImageView view(0, 0, 1220, 966);
    report("fit", view, runs, [&](int) {
        view.setImage(&picture, nullptr); // forgets what it computed
        view.fitInWindow();
    });
    // Zoom In from the fit goes to 1/3, and on up the ladder.
    for (int step = 0; step < 8; ++step) {
        view.zoomIn();
        if (view.oneToOne()) continue;
        const std::string name = "scroll step at " + view.scaleText();
        // Up and down by 16 about the middle of the way the picture scrolls.
        view.scrollTo(0, INT_MAX);
        const int middle = view.scrollPosition().y / 2 - 8;
        report(name.c_str(), view, runs, [&](int r) { view.scrollTo(0, middle + r % 2 * 16); });
    }
    picture.release();
    return 0;
}
