// The floor the per-pixel commands are compared with: the time to copy a
// buffer the size of a 3840 x 2160 RGBA image once, both buffers already
// in memory. Prints the median of 21 copies in milliseconds.
//   build/bench/memcpy_floor
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

int main() {
    const size_t bytes = (size_t)3840 * 2160 * 4;
    std::vector<unsigned char> from(bytes, 1), to(bytes, 2);
    std::vector<double> ms;
    for (int run = 0; run < 21; ++run) {
        from[run] = (unsigned char)run; // a different copy each time
        const auto start = std::chrono::steady_clock::now();
        memcpy(to.data(), from.data(), bytes);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (to[run] != from[run]) return 1; // keeps the copy from being optimised away
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    printf("%.2f\n", ms[ms.size() / 2]);
    return 0;
}
