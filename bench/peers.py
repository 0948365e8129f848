#!/usr/bin/python3
"""Times one operation with OpenCV (on numpy arrays) and with Pillow, each on
one thread, for bench/run:

  bench/peers.py RUNS PICTURE SECOND OPERATION [ARGUMENT...]

The pictures are loaded first; each operation then runs once untimed and
RUNS times timed, alone, with time.process_time. Prints two figures, OpenCV's
then Pillow's: the median in milliseconds, or '-' where the library has no
equivalent. The operations:

  read [FILE]               open and load FILE (PICTURE by default); OpenCV
                            too when FILE is a PNG or JPEG file (cv2.imread,
                            IMREAD_UNCHANGED: RGBA from a PNG file, BGR from
                            a JPEG file)
  write FILE [CV_FILE]      save PICTURE as FILE, and with OpenCV as CV_FILE
                            when FILE is a PNG or JPEG file: PNG with each
                            library's defaults (Pillow: compress_level 6);
                            JPEG at quality 90 with 4:2:0 chroma (Pillow:
                            quality=90, subsampling=2; OpenCV:
                            IMWRITE_JPEG_QUALITY 90, its default 4:2:0), of
                            the colour over black, as the program writes it
  save FILE                 save PICTURE as FILE once, untimed, as "write"
                            does, and print nothing
  over                      SECOND over PICTURE
  convolve K,K,...          a square kernel divided by its sum (1 if that is 0)
  unsharp AMOUNT            PICTURE x (1 + AMOUNT) - its 3 x 3 blur x AMOUNT
  resize SX SY nearest|linear
  rotate DEGREES            bilinear, onto a canvas that holds the result
  quantize R,G,B,...        Floyd-Steinberg error diffusion to the palette
  threshold LEVEL           channels above LEVEL become 255, the others 0
  multiply FACTOR           every channel
  gray                      one grey channel
  crop X Y WIDTH HEIGHT
  copy
  fill WIDTH HEIGHT R G B A
"""
import math
import os
import statistics
import sys
import time

import cv2
import numpy as np
from PIL import Image, ImageFilter

cv2.setNumThreads(1)

runs, path, second_path, operation, arguments = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
picture, second = Image.open(path), Image.open(second_path)
picture.load()
second.load()
pixels = np.array(picture)


def convolve(text):
    weights = [float(value) for value in text.split(",")]
    size = math.isqrt(len(weights))
    scale = sum(weights) or 1
    kernel = np.array(weights, np.float32).reshape(size, size) / scale
    # Pillow's kernels are 3 x 3 or 5 x 5.
    pillow = ImageFilter.Kernel((size, size), weights, scale) if size in (3, 5) else None
    return lambda: cv2.filter2D(pixels, -1, kernel), (lambda: picture.filter(pillow)) if pillow else None


def unsharp(amount):
    amount = float(amount)
    mask = ImageFilter.UnsharpMask(1, round(amount * 100), 0)
    return (lambda: cv2.addWeighted(pixels, 1 + amount, cv2.blur(pixels, (3, 3)), -amount, 0),
            lambda: picture.filter(mask))


def resize(sx, sy, method):
    size = (round(picture.width * float(sx)), round(picture.height * float(sy)))
    opencv = {"nearest": cv2.INTER_NEAREST, "linear": cv2.INTER_LINEAR}[method]
    pillow = {"nearest": Image.Resampling.NEAREST, "linear": Image.Resampling.BILINEAR}[method]
    return lambda: cv2.resize(pixels, size, interpolation=opencv), lambda: picture.resize(size, pillow)


def rotate(degrees):
    degrees = float(degrees)
    cos, sin = abs(math.cos(math.radians(degrees))), abs(math.sin(math.radians(degrees)))
    width, height = picture.size
    size = (math.ceil(width * cos + height * sin), math.ceil(width * sin + height * cos))
    matrix = cv2.getRotationMatrix2D((width / 2, height / 2), degrees, 1)
    matrix[:, 2] += ((size[0] - width) / 2, (size[1] - height) / 2)
    return (lambda: cv2.warpAffine(pixels, matrix, size, flags=cv2.INTER_LINEAR, borderValue=0),
            lambda: picture.rotate(degrees, Image.Resampling.BILINEAR, expand=True))


def quantize(colours):
    palette = Image.new("P", (1, 1))
    palette.putpalette([int(value) for value in colours.split(",")])
    rgb = picture.convert("RGB")
    return None, lambda: rgb.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG)


def threshold(level):
    level = float(level)
    return (lambda: cv2.threshold(pixels, level, 255, cv2.THRESH_BINARY)[1],
            lambda: picture.point(lambda value: 255 if value > level else 0))


def multiply(factor):
    factor = float(factor)
    return lambda: cv2.convertScaleAbs(pixels, alpha=factor), lambda: picture.point(lambda value: value * factor)


def crop(x, y, width, height):
    x, y, width, height = int(x), int(y), int(width), int(height)
    return lambda: pixels[y:y + height, x:x + width].copy(), lambda: picture.crop((x, y, x + width, y + height))


def fill(width, height, *colour):
    size, colour = (int(width), int(height)), tuple(int(value) for value in colour)
    return lambda: np.full((size[1], size[0], 4), colour, np.uint8), lambda: Image.new("RGBA", size, colour)


def kind(file):
    suffix = os.path.splitext(file)[1].lower()
    return "png" if suffix == ".png" else "jpeg" if suffix in (".jpg", ".jpeg") else None


def read(file=None):
    file = file or path
    opencv = (lambda: cv2.imread(file, cv2.IMREAD_UNCHANGED)) if kind(file) else None
    return opencv, lambda: Image.open(file).load()


def over_black():
    """The colour premultiplied by alpha, floor(c x a / 255) as the program
    reads a file, in RGB: what a format without alpha gets."""
    rgba = pixels.astype(np.uint16)
    return (rgba[..., :3] * rgba[..., 3:] // 255).astype(np.uint8)


def write(file, opencv_file=None):
    if not opencv_file:
        return None, write(file, os.devnull)[1]
    if kind(file) == "png":
        bgra = cv2.cvtColor(pixels, cv2.COLOR_RGBA2BGRA)
        return lambda: cv2.imwrite(opencv_file, bgra), lambda: picture.save(file)
    if kind(file) == "jpeg":
        rgb = over_black()
        bgr, pillow = cv2.cvtColor(rgb, cv2.COLOR_RGB2BGR), Image.fromarray(rgb, "RGB")
        return (lambda: cv2.imwrite(opencv_file, bgr, [cv2.IMWRITE_JPEG_QUALITY, 90]),
                lambda: pillow.save(file, quality=90, subsampling=2))
    return None, lambda: picture.save(file)


def save(file):
    write(file)[1]()
    sys.exit(0)


operations = {
    "read": read,
    "write": write,
    "save": save,
    "over": lambda: (None, lambda: Image.alpha_composite(picture, second)),
    "convolve": convolve,
    "unsharp": unsharp,
    "resize": resize,
    "rotate": rotate,
    "quantize": quantize,
    "threshold": threshold,
    "multiply": multiply,
    "gray": lambda: (lambda: cv2.cvtColor(pixels, cv2.COLOR_RGBA2GRAY), lambda: picture.convert("L")),
    "crop": crop,
    "copy": lambda: (lambda: pixels.copy(), lambda: picture.copy()),
    "fill": fill,
}


def milliseconds(run):
    if run is None:
        return "-"
    run()
    times = []
    for _ in range(runs):
        start = time.process_time()
        result = run()
        times.append(time.process_time() - start)
        del result  # freed outside the timing
    return f"{statistics.median(times) * 1000:.2f}"


print(*(milliseconds(run) for run in operations[operation](*arguments)))
