#include "composite.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "pixel.h"

namespace {

// Keywords in the order they are tried: the first that starts the word wins.
const struct {
    const char *keyword;
    int op;
} kKeywords[] = {
    {"clear", kClear}, {"first", kFirst},   {"second", kSecond}, {"over", kOver}, {"under", kUnder},
    {"in", kIn},       {"heldout", kHeldOut}, {"out", kOut},     {"heldin", kHeldIn}, {"atop", kAtop},
    {"xor", kXor},     {"plus", kPlus},     {"below", kBelow},
};

// A weight as constant + ofA x aA + ofB x aB.
struct Weight {
    int constant, ofA, ofB;
};

// Fa and Fb of each operator, indexed by code.
constexpr Weight kWeights[][2] = {
    {{0, 0, 0}, {0, 0, 0}},         // clear
    {{255, 0, 0}, {0, 0, 0}},       // first
    {{0, 0, 0}, {255, 0, 0}},       // second
    {{255, 0, 0}, {255, -1, 0}},    // over
    {{255, 0, -1}, {255, 0, 0}},    // under
    {{0, 0, 1}, {0, 0, 0}},         // in
    {{0, 0, 0}, {255, -1, 0}},      // heldin
    {{0, 0, 0}, {0, 1, 0}},         // out
    {{255, 0, -1}, {0, 0, 0}},      // heldout
    {{0, 0, 1}, {255, -1, 0}},      // atop
    {{255, 0, -1}, {0, 1, 0}},      // below
    {{255, 0, -1}, {255, -1, 0}},   // xor
    {{255, 0, 0}, {255, 0, 0}},     // plus
};

// mulDiv255 of a channel by the operator's weight on side 0 (A) or 1 (B), in
// 16 bits (every intermediate value fits) so that the loop below becomes
// vector code; the weights 255 and 0 are folded away.
template <int op, int side> inline uint16_t weigh(uint16_t c, uint16_t alphaA, uint16_t alphaB) {
    constexpr Weight W = kWeights[op][side];
    if constexpr (W.ofA == 0 && W.ofB == 0 && W.constant == 255) return c;
    if constexpr (W.ofA == 0 && W.ofB == 0 && W.constant == 0) return 0;
    const uint16_t w = (uint16_t)(W.constant + W.ofA * alphaA + W.ofB * alphaB);
    const uint16_t t = (uint16_t)(c * w + 128);
    return (uint16_t)((t + (t >> 8)) >> 8);
}

// One run of n pixels of A onto B, left to right. Each pixel is taken as two
// 16-bit halves, channels 0 | 1 << 8 and 2 | alpha << 8. When A and B share
// the buffer the compiler's overlap check falls back to its plain loop, which
// keeps the order of reads and writes.
template <int op> void compositeRun(const unsigned char *pa, unsigned char *pb, size_t n) {
    for (size_t i = 0; i < n; ++i, pa += 4, pb += 4) {
        const auto [aLow, aHigh] = loadHalves(pa);
        const auto [bLow, bHigh] = loadHalves(pb);
        const uint16_t alphaA = aHigh >> 8, alphaB = bHigh >> 8;
        auto channel = [&](uint16_t ca, uint16_t cb) {
            const uint16_t sum = (uint16_t)(weigh<op, 0>(ca, alphaA, alphaB) + weigh<op, 1>(cb, alphaA, alphaB));
            return sum < 255 ? sum : (uint16_t)255;
        };
        const uint16_t outLow = (uint16_t)(channel(aLow & 0xFF, bLow & 0xFF) | channel(aLow >> 8, bLow >> 8) << 8),
                       outHigh = (uint16_t)(channel(aHigh & 0xFF, bHigh & 0xFF) | channel(alphaA, alphaB) << 8);
        storeHalves(pb, outLow, outHigh);
    }
}

template <int... ops> constexpr auto runsFor(std::integer_sequence<int, ops...>) {
    return std::array<void (*)(const unsigned char *, unsigned char *, size_t), sizeof...(ops)>{compositeRun<ops>...};
}

// The row loop of each operator, indexed by code.
constexpr auto kRuns = runsFor(std::make_integer_sequence<int, kPlus + 1>());

} // namespace

int parseCompositeOp(const char *word) {
    for (const auto &k : kKeywords)
        if (strncasecmp(word, k.keyword, strlen(k.keyword)) == 0) return k.op;
    return -1;
}

void compositeImages(const Image &a, Image &b, int op, int x, int y) {
    if (op < kClear || op > kPlus || !a.pixels || !b.pixels) return;
    // The part of B that A covers, in 64 bits so that no offset overflows.
    const long long left = std::max(0LL, (long long)x), right = std::min((long long)b.width, (long long)x + a.width);
    const long long top = std::max(0LL, (long long)y), bottom = std::min((long long)b.height, (long long)y + a.height);
    if (top >= bottom || left >= right) return;
    auto rows = [&](int first, int last) {
        for (long long row = top + first; row < top + last; ++row)
            kRuns[op](a.pixels + ((size_t)(row - y) * a.width + (size_t)(left - x)) * 4,
                      b.pixels + ((size_t)row * b.width + (size_t)left) * 4, (size_t)(right - left));
    };
    // Row by row, left to right: when A is B, pixels already rewritten are
    // read in their new state, so only then the rows go in order on one thread.
    if (a.pixels == b.pixels)
        rows(0, (int)(bottom - top));
    else
        forEachRowBlock((int)(bottom - top), rowsPerTask((int)(right - left)), rows);
}
