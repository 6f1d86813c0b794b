#!/bin/sh
# Writes the plug-in's icon file: a download arrow over a tray, as a 16x16
# image in 16 colours and a 32x32 image in 256 colours, each with its mask.
#   make_icon.sh OUTPUT.ico
set -eu
out=${1:?usage: make_icon.sh OUTPUT.ico}
# The C locale makes awk write each value as one byte.
LC_ALL=C awk '
function byte(v) { printf "%c", v }
function word(v) { byte(v % 256); byte(int(v / 256) % 256) }
function dword(v) { word(v % 65536); word(int(v / 65536)) }
function rowbytes(bits) { return int((bits + 31) / 32) * 4 }
function imagesize(s, bpp) { return 40 + 4 * (2 ^ bpp) + s * rowbytes(s * bpp) + s * rowbytes(s) }

# The drawing on a 16-unit grid, sampled at pixel centres so that the
# larger image gets smoother edges. 0 = transparent, 1 = arrow, 2 = tray.
function shape(x, y, s,    u, v) {
  u = (x + 0.5) * 16 / s
  v = (y + 0.5) * 16 / s
  if (u >= 6 && u < 10 && v >= 1 && v < 7.5) return 1
  if (v >= 7 && v < 13 && (u - 8 < 13 - v) && (8 - u < 13 - v)) return 1
  if (v >= 13.5 && v < 15 && u >= 1 && u < 15) return 2
  if (v >= 10.5 && v < 15 && ((u >= 1 && u < 2.5) || (u >= 13.5 && u < 15))) return 2
  return 0
}

# Palette index of a pixel: blue arrow and grey tray from the standard 16
# colours; the 256-colour image shades the arrow through entries 16..47.
function colour(x, y, s, bpp,    k) {
  k = shape(x, y, s)
  if (k == 0) return 0
  if (k == 2) return 8
  return bpp == 4 ? 12 : 16 + int(y * 32 / s)
}

function palette(bpp,    i, n, base) {
  split("0 0 0|128 0 0|0 128 0|128 128 0|0 0 128|128 0 128|0 128 128|192 192 192|" \
        "128 128 128|255 0 0|0 255 0|255 255 0|0 0 255|255 0 255|0 255 255|255 255 255", vga, "|")
  n = 2 ^ bpp
  for (i = 0; i < n; i++) {
    if (i < 16) {
      split(vga[i + 1], rgb, " ")
      byte(rgb[3]); byte(rgb[2]); byte(rgb[1]); byte(0)
    } else if (i < 48) {
      base = 255 - (i - 16) * 5      # light to dark blue, top to bottom
      byte(base); byte(int(base * 0.45)); byte(int(base * 0.1)); byte(0)
    } else {
      dword(0)
    }
  }
}

function image(s, bpp,    x, y, acc, nbits, row, pad) {
  dword(40); dword(s); dword(2 * s); word(1); word(bpp); dword(0)
  dword(s * rowbytes(s * bpp) + s * rowbytes(s)); dword(0); dword(0); dword(0); dword(0)
  palette(bpp)
  for (y = s - 1; y >= 0; y--) {      # colour bits, bottom row first
    row = 0
    for (x = 0; x < s; x++) {
      if (bpp == 8) { byte(colour(x, y, s, bpp)); row++ }
      else if (x % 2 == 0) acc = colour(x, y, s, bpp) * 16
      else { byte(acc + colour(x, y, s, bpp)); row++ }
    }
    for (pad = row; pad < rowbytes(s * bpp); pad++) byte(0)
  }
  for (y = s - 1; y >= 0; y--) {      # mask: 1 where the background shows
    row = 0; acc = 0; nbits = 0
    for (x = 0; x < s; x++) {
      acc = acc * 2 + (shape(x, y, s) == 0 ? 1 : 0)
      if (++nbits == 8) { byte(acc); row++; acc = 0; nbits = 0 }
    }
    for (pad = row; pad < rowbytes(s); pad++) byte(0)
  }
}

BEGIN {
  word(0); word(1); word(2)                       # icon directory, two images
  offset = 6 + 2 * 16
  byte(16); byte(16); byte(16); byte(0); word(1); word(4); dword(imagesize(16, 4)); dword(offset)
  offset += imagesize(16, 4)
  byte(32); byte(32); byte(0); byte(0); word(1); word(8); dword(imagesize(32, 8)); dword(offset)
  image(16, 4)
  image(32, 8)
}' >"$out.tmp"
mv "$out.tmp" "$out"
