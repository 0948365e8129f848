# The commands bench/run and bench/growth time, with the peers' equivalents,
# for a picture of width x height; sourced, after setting `width`, `height`
# and `work` (a folder for the peers' kernel files and palette picture).
# shellcheck shell=bash disable=SC2034,SC2154 # the sourcing script sets and reads them
primaries="0,0,0 255,255,255 255,0,0 0,255,0 0,0,255 255,255,0 255,0,255 0,255,255"
blur5=1,1,2,1,1,1,2,4,2,1,2,4,8,4,2,1,2,4,2,1,1,1,2,1,1
blur7=1,4,8,10,8,4,1,4,12,25,29,25,12,4,8,25,49,58,49,25,8,10,29,58,67,58,29,10,8,25,49,58,49,25,8,4,12,25,29,25,12,4,1,4,8,10,8,4,1
sharpen=-1,-1,-1,-1,25,-1,-1,-1,-1
edges=-1,-1,-1,-1,8,-1,-1,-1,-1
# A kernel as a libvips matrix file, divided by its sum (1 if that is 0).
vipsMask() {
  awk -v k="$2" 'BEGIN { n = split(k, w, ","); size = sqrt(n); for (i = 1; i <= n; ++i) sum += w[i]
    print size, size, (sum ? sum : 1), 0
    for (i = 1; i <= n; ++i) printf "%s%s", w[i], (i % size ? " " : "\n") }' > "$work/$1.mat"
  echo "$work/$1.mat"
}

# The middle quarter of the picture, for crop.
left=$((width / 4)) top=$((height / 4)) cropWidth=$((width / 2)) cropHeight=$((height / 2))
# name | images read (1 or 2) | our command | ImageMagick operators |
# GraphicsMagick operators (or "composite OPERATORS" for its own command) |
# libvips operation and its arguments | bench/peers.py operation ("" = none)
benchmarks=(
  "composite over|2|composite B over A 0 0|-compose over -composite|composite -compose over|composite2 over|over"
  "blur 1|1|blur A 1|-define convolve:scale=! -morphology Convolve 5x5:$blur5|-convolve $blur5|conv $(vipsMask blur5 "$blur5") --precision integer|convolve $blur5"
  "blur 2|1|blur A 2|-define convolve:scale=! -morphology Convolve 7x7:$blur7|-convolve $blur7|conv $(vipsMask blur7 "$blur7") --precision integer|convolve $blur7"
  "sharpen|1|sharpen A|-define convolve:scale=! -morphology Convolve 3x3:$sharpen|-convolve $sharpen|conv $(vipsMask sharpen "$sharpen") --precision integer|convolve $sharpen"
  "edgedetect|1|edgedetect A|-morphology Convolve 3x3:$edges|-convolve $edges|conv $(vipsMask edges "$edges") --precision integer|convolve $edges"
  "unsharpmask|1|unsharpmask A|-unsharp 1x0.6+0.32+0|-unsharp 1x0.6+0.32+0||unsharp 0.31967213114754084"
  "double|1|double A|-filter Triangle -resize 200%|-filter Triangle -resize 200%|resize 2 --kernel linear|resize 2 2 linear"
  "half|1|half A|-filter Triangle -resize 50%|-sample 50%|subsample 2 2|resize 0.5 0.5 nearest"
  "scale 1.7 1.3|1|scale A 1.7 1.3|-filter Triangle -resize 170%x130%|-filter Triangle -resize 170%x130%|resize 1.7 --vscale 1.3 --kernel linear|resize 1.7 1.3 linear"
  "rotate 30|1|rotate A 30|-background none -rotate 30|-background none -rotate 30|rotate 30|rotate 30"
  "BW|1|BW A|-dither FloydSteinberg -monochrome|-monochrome||quantize 0,0,0,255,255,255"
  "BW 1|1|BW A 1|-threshold 50%|-threshold 50%|relational_const more 127|threshold 127"
  "BW 2|1|BW A 2|-ordered-dither o2x2|-ordered-dither All 2x2||"
  "BW 3|1|BW A 3|-ordered-dither o3x3|-ordered-dither All 3x3||"
  "primary|1|primary A|-dither FloydSteinberg -remap $work/primary.png|-map $work/primary.png||quantize ${primaries// /,}"
  "pastel|1|pastel A||||"
  "darken 0.7|1|darken A 0.7|-evaluate multiply 0.7|-operator All Multiply 0.7|linear 0.7 0 --uchar|multiply 0.7"
  "dissolve 0.5|1|dissolve A 0.5|-channel A -evaluate multiply 0.5 +channel|||"
  "difference|2|difference A B 8||||"
  "grays|1|grays A|-colorspace Gray|-colorspace Gray|colourspace b-w|gray"
  "bluescreen|1|bluescreen A 255 2.1 0.6||||"
  "crop|1|crop A $left $top $cropWidth $cropHeight|-crop ${cropWidth}x$cropHeight+$left+$top +repage|-crop ${cropWidth}x$cropHeight+$left+$top +repage|crop $left $top $cropWidth $cropHeight|crop $left $top $cropWidth $cropHeight"
  "copy|1|copy A B||||copy"
  "solid|1|solid A $width $height 200 100 50 128||||fill $width $height 200 100 50 128"
  "painter|1|painter A||||"
)
