#include "composite.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

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

// A weight as constant + ofA x aA + ofB x aB, so that one loop serves every
// operator without a branch per pixel.
struct Weight {
    int constant, ofA, ofB;
    int at(int alphaA, int alphaB) const { return constant + ofA * alphaA + ofB * alphaB; }
};

// Fa and Fb of each operator, indexed by code.
const Weight kWeights[][2] = {
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
    const Weight fa = kWeights[op][0], fb = kWeights[op][1];
    // Row by row, left to right: when A is B, pixels already rewritten are
    // read in their new state.
    for (long long row = top; row < bottom; ++row) {
        const unsigned char *pa = a.pixels + ((size_t)(row - y) * a.width + (size_t)(left - x)) * 4;
        unsigned char *pb = b.pixels + ((size_t)row * b.width + (size_t)left) * 4;
        for (long long column = left; column < right; ++column, pa += 4, pb += 4) {
            const int wa = fa.at(pa[3], pb[3]), wb = fb.at(pa[3], pb[3]);
            for (int k = 0; k < 4; ++k) {
                const int sum = mulDiv255(pa[k], wa) + mulDiv255(pb[k], wb);
                pb[k] = (unsigned char)(sum < 255 ? sum : 255);
            }
        }
    }
}
