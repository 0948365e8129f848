// ICC profiles to sRGB through Little CMS, each transform in a context of its
// own whose error handler prints nothing.
#include "colour_profile.h"

#include <lcms2.h>

#include <cstdlib>
#include <new>

struct SrgbTransform {
    cmsContext context = nullptr;
    cmsHTRANSFORM transform = nullptr;
    bool hasAlpha = false;
    ~SrgbTransform() {
        if (transform) cmsDeleteTransform(transform);
        if (context) cmsDeleteContext(context);
    }
};

void SrgbTransformDeleter::operator()(SrgbTransform *transform) const { delete transform; }

namespace {

void ignoreError(cmsContext, cmsUInt32Number, const char *) {}

struct Layout {
    cmsColorSpaceSignature space;
    cmsUInt32Number format;
    bool hasAlpha;
};

Layout layoutOf(ProfilePixels pixels) {
    switch (pixels) {
    case ProfilePixels::Grey: return {cmsSigGrayData, TYPE_GRAY_8, false};
    case ProfilePixels::GreyAlpha: return {cmsSigGrayData, TYPE_GRAYA_8, true};
    case ProfilePixels::Rgb: return {cmsSigRgbData, TYPE_RGB_8, false};
    case ProfilePixels::Rgba: return {cmsSigRgbData, TYPE_RGBA_8, true};
    case ProfilePixels::Cmyk: return {cmsSigCmykData, TYPE_CMYK_8, false};
    case ProfilePixels::InvertedCmyk: break;
    }
    return {cmsSigCmykData, TYPE_CMYK_8_REV, false};
}

// Whether the transform leaves every colour of a grid within one level of
// itself: then the profile is sRGB in all but name (or in name too), and
// converting would only add rounding. Testing what the transform does, not
// the profile's tags, also catches sRGB profiles built from lookup tables
// and ones that name themselves otherwise. Grey pixels are compared with the
// grey of sRGB; CMYK is never sRGB.
bool actsAsSrgb(const SrgbTransform &t, ProfilePixels pixels) {
    if (pixels == ProfilePixels::Cmyk || pixels == ProfilePixels::InvertedCmyk) return false;
    const bool grey = pixels == ProfilePixels::Grey || pixels == ProfilePixels::GreyAlpha;
    const int channels = grey ? 1 : 3, size = channels + (t.hasAlpha ? 1 : 0);
    // Grey: every level; colour: 18 levels a channel, 0 to 255 by 15.
    constexpr int kLevels = 18, kMost = kLevels * kLevels * kLevels;
    const int count = grey ? 256 : kMost;
    unsigned char src[kMost * 4], expected[kMost * 3], out[kMost * 4];
    for (int i = 0; i < count; ++i) {
        unsigned char *rgb = expected + 3 * i;
        if (grey) {
            rgb[0] = rgb[1] = rgb[2] = (unsigned char)i;
        } else {
            rgb[0] = (unsigned char)(i / (kLevels * kLevels) * 15);
            rgb[1] = (unsigned char)(i / kLevels % kLevels * 15);
            rgb[2] = (unsigned char)(i % kLevels * 15);
        }
        for (int c = 0; c < channels; ++c) src[size * i + c] = rgb[c];
        if (t.hasAlpha) src[size * i + channels] = 255;
    }
    cmsDoTransform(t.transform, src, out, (cmsUInt32Number)count);
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
            if (abs(out[4 * i + c] - expected[3 * i + c]) > 1) return false;
    return true;
}

} // namespace

SrgbTransformPtr makeSrgbTransform(const unsigned char *profile, size_t n, ProfilePixels pixels) {
    if (!profile || n == 0) return nullptr;
    SrgbTransformPtr result(new (std::nothrow) SrgbTransform);
    if (!result) return nullptr;
    result->context = cmsCreateContext(nullptr, nullptr);
    if (!result->context) return nullptr;
    cmsSetLogErrorHandlerTHR(result->context, ignoreError);
    const Layout layout = layoutOf(pixels);
    result->hasAlpha = layout.hasAlpha;
    cmsHPROFILE input = cmsOpenProfileFromMemTHR(result->context, profile, (cmsUInt32Number)n);
    if (!input) return nullptr;
    cmsHPROFILE srgb = cmsGetColorSpace(input) == layout.space ? cmsCreate_sRGBProfileTHR(result->context) : nullptr;
    // No cache: the transform then keeps no state between calls, and the
    // rows of one picture can be converted on several threads at once.
    if (srgb)
        result->transform = cmsCreateTransformTHR(result->context, input, layout.format, srgb, TYPE_RGBA_8,
                                                  INTENT_PERCEPTUAL,
                                                  cmsFLAGS_NOCACHE | (layout.hasAlpha ? cmsFLAGS_COPY_ALPHA : 0));
    if (srgb) cmsCloseProfile(srgb);
    cmsCloseProfile(input);
    if (!result->transform || actsAsSrgb(*result, pixels)) return nullptr;
    return result;
}

void convertToSrgb(const SrgbTransform &transform, const unsigned char *src, size_t count, unsigned char *rgba) {
    // Little CMS writes no alpha of its own where the source has none.
    cmsDoTransform(transform.transform, src, rgba, (cmsUInt32Number)count);
    if (!transform.hasAlpha)
        for (size_t i = 0; i < count; ++i) rgba[4 * i + 3] = 255;
}
