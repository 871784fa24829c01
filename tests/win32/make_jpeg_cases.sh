#!/usr/bin/env bash
# The JPEG tests' pictures, made from the program's face by libjpeg's own
# tools, each with libjpeg's decode of it as a BMP, and a resource script
# that puts them all into the test program.
#   make_jpeg_cases.sh face.jpg OUTDIR
set -euo pipefail
face=$1 out=$2
mkdir -p "$out"
djpeg -ppm -outfile "$out/face.ppm" "$face"

cp "$face" "$out/FACE.jpg"
cjpeg -quality 95 -sample 1x1 -outfile "$out/BASELINE444.jpg" "$out/face.ppm"
cjpeg -quality 95 -sample 1x1 -progressive -outfile "$out/PROGRESSIVE444.jpg" "$out/face.ppm"
cjpeg -quality 95 -sample 1x1 -restart 1 -outfile "$out/RESTART444.jpg" "$out/face.ppm"
cjpeg -quality 95 -grayscale -outfile "$out/GRAY.jpg" "$out/face.ppm"
cjpeg -quality 95 -sample 2x2 -outfile "$out/BASELINE420.jpg" "$out/face.ppm"
cjpeg -quality 95 -sample 2x1 -outfile "$out/BASELINE422.jpg" "$out/face.ppm"
# 13 x 7: rows that need padding, blocks cut at both edges.
jpegtran -crop 13x7+0+0 -outfile "$out/ODD444.jpg" "$out/BASELINE444.jpg"

rc="$out/jpeg_cases.rc.new"
: >"$rc"
for f in "$out"/*.jpg; do
  name=$(basename "$f" .jpg)
  djpeg -bmp -outfile "$out/$name.bmp" "$f"
  echo "JPEG_$name RCDATA \"$out/$name.jpg\"" >>"$rc"
  echo "BMP_$name RCDATA \"$out/$name.bmp\"" >>"$rc"
done
mv "$rc" "$out/jpeg_cases.rc"
