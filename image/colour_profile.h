// Pixels described by an ICC colour profile embedded in a file, converted to
// sRGB with Little CMS. A file without a profile, or with an sRGB one, is
// taken as sRGB and needs no transform; so does one whose profile is broken
// or made for another colour space than its pixels', as viewers take them.
#pragma once

#include <cstddef>
#include <memory>

// How the decoded pixels handed to the transform are laid out, 8 bits a
// channel: InvertedCmyk is CMYK stored as 255 - value, as some JPEG files do.
enum class ProfilePixels { Grey, GreyAlpha, Rgb, Rgba, Cmyk, InvertedCmyk };

struct SrgbTransform;
struct SrgbTransformDeleter {
    void operator()(SrgbTransform *transform) const;
};
using SrgbTransformPtr = std::unique_ptr<SrgbTransform, SrgbTransformDeleter>;

// The transform from the profile's `n` bytes to sRGB for pixels laid out as
// `pixels`; null when none is needed or none can be made (see above). A
// profile counts as sRGB when its transform moves no colour of a test grid
// by more than one level.
SrgbTransformPtr makeSrgbTransform(const unsigned char *profile, size_t n, ProfilePixels pixels);

// Converts `count` pixels to straight sRGB RGBA, alpha copied (255 where the
// pixels have none). Safe to call from several threads at once, each on its
// own rows.
void convertToSrgb(const SrgbTransform &transform, const unsigned char *src, size_t count, unsigned char *rgba);
