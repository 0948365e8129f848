// Rotation about the image centre with bilinear interpolation.
#pragma once

#include "image/image.h"
#include "resample.h"

// The size of the rotated image before its trim: with psi the angle in
// degrees plus atan2(height, width) (radians added as if degrees), converted
// by 0.01745329251994, it is |cos psi| w + |sin psi| h by |cos psi| h +
// |sin psi| w, truncated. False when a side does not fit a 32-bit int.
bool rotatedSize(int width, int height, double degrees, int &rotatedWidth, int &rotatedHeight);

// Turns the image by `degrees` (counter-clockwise on screen for a positive
// angle) onto a canvas of rotatedSize; uncovered pixels are transparent
// black, and black edge rows and columns are trimmed afterwards.
Resized rotateImage(Image &image, double degrees);
