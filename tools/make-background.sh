#!/usr/bin/env bash
# Draws the window's background picture (640 x 430, 24-bit BMP) and the icon images with
# ImageMagick. The output is committed; run this only to change the picture.
#   tools/make-background.sh [output folder]   (default: src/ui/assets)
set -euo pipefail
out="${1:-$(dirname "$0")/../src/ui/assets}"
mkdir -p "$out"
bold=/usr/share/wine/fonts/tahomabd.ttf
regular=/usr/share/wine/fonts/tahoma.ttf
[ -f "$bold" ] || bold=DejaVu-Sans-Bold
[ -f "$regular" ] || regular=DejaVu-Sans
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Left: dark patterned wallpaper.
convert -size 24x24 xc:'#2b2330' \
  -fill '#33293a' -draw 'polygon 12,0 24,12 12,24 0,12' \
  -fill '#3b3043' -draw 'circle 12,12 12,9' "$tmp/tile.png"
convert -size 340x430 tile:"$tmp/tile.png" \
  \( -size 340x430 gradient:'rgba(0,0,0,0.05)'-'rgba(0,0,0,0.55)' \) -composite "$tmp/left.png"

# Right: a light wall lit from the upper right, and a dark wooden cabinet from y 236 down.
convert -size 300x430 gradient:'#f4f1ea'-'#d9d3c8' -rotate 0 "$tmp/wall.png"
convert -size 400x194 xc:'#4e311d' -seed 7 -attenuate 0.9 +noise Gaussian \
  -motion-blur 0x40+0 -modulate 100,70 -crop 300x194+50+0 +repage \
  \( -size 300x194 gradient:'rgba(0,0,0,0)'-'rgba(0,0,0,0.45)' \) -composite \
  -fill 'rgba(255,230,200,0.22)' -draw 'rectangle 0,0 300,5' \
  -fill 'rgba(0,0,0,0.45)' -draw 'rectangle 0,6 300,9' \
  -fill 'rgba(20,10,4,0.7)' -draw 'rectangle 228,14 231,194' \
  -fill '#b08a5a' -draw 'roundrectangle 208,150 220,156 2,2' -draw 'roundrectangle 239,150 251,156 2,2' \
  "$tmp/cabinet.png"

# The alarm panel on the wall: white case, soft shadow, display, LEDs and keypad.
convert -size 150x170 xc:none \
  -fill 'rgba(0,0,0,0.45)' -draw 'roundrectangle 8,10 146,166 12,12' -blur 0x6 "$tmp/shadow.png"
convert -size 150x170 xc:none \
  -fill '#fbfbfa' -stroke '#c9c6c0' -strokewidth 1 -draw 'roundrectangle 2,2 140,158 12,12' \
  -stroke none -fill '#1f2a33' -draw 'roundrectangle 22,20 120,52 4,4' \
  -fill '#6fd3ff' -draw 'rectangle 30,30 74,34' -draw 'rectangle 30,40 100,43' \
  -fill '#37c35b' -draw 'circle 30,68 30,64' -fill '#f0b429' -draw 'circle 46,68 46,64' \
  -fill '#e5534b' -draw 'circle 62,68 62,64' \
  -fill '#e3e1dc' \
  -draw 'roundrectangle 26,84 50,98 3,3' -draw 'roundrectangle 59,84 83,98 3,3' -draw 'roundrectangle 92,84 116,98 3,3' \
  -draw 'roundrectangle 26,104 50,118 3,3' -draw 'roundrectangle 59,104 83,118 3,3' -draw 'roundrectangle 92,104 116,118 3,3' \
  -draw 'roundrectangle 26,124 50,138 3,3' -draw 'roundrectangle 59,124 83,138 3,3' -draw 'roundrectangle 92,124 116,138 3,3' \
  -fill '#8e8b85' -font "$bold" -pointsize 9 -annotate +52+154 'BREK' "$tmp/panel.png"

convert -size 640x430 xc:black \
  "$tmp/left.png" -geometry +0+0 -composite \
  "$tmp/wall.png" -geometry +340+0 -composite \
  "$tmp/shadow.png" -geometry +432+46 -composite \
  "$tmp/panel.png" -geometry +428+40 -composite \
  "$tmp/cabinet.png" -geometry +340+236 -composite \
  \( -size 14x430 gradient:'rgba(0,0,0,0.0)'-'rgba(0,0,0,0.0)' \) -geometry +333+0 -composite \
  "$tmp/base.png"

# A bookshelf and a framed sketch on the dark wall.
convert "$tmp/base.png" \
  -fill '#4a3222' -draw 'rectangle 12,92 318,100' -fill '#2c1d13' -draw 'rectangle 12,100 318,104' \
  -fill '#7a2e2a' -draw 'rectangle 22,38 38,92' -fill '#2f4d6b' -draw 'rectangle 39,30 52,92' \
  -fill '#8a7a3c' -draw 'rectangle 53,44 70,92' -fill '#3d5e3a' -draw 'rectangle 71,34 84,92' \
  -fill '#5b3b5e' -draw 'rectangle 85,40 101,92' -fill '#a05a2c' -draw 'rectangle 102,28 114,92' \
  -fill '#26394f' -draw 'rectangle 115,46 133,92' -fill '#6d2530' -draw 'rectangle 134,36 147,92' \
  -fill '#7f6a4a' -draw 'polygon 150,92 158,92 178,44 170,41' \
  -fill '#3a4f5e' -draw 'rectangle 196,42 212,92' -fill '#8c3b34' -draw 'rectangle 213,32 226,92' \
  -fill '#4d6b3f' -draw 'rectangle 227,48 244,92' -fill '#6a5a8a' -draw 'rectangle 245,38 258,92' \
  -fill '#9a8456' -draw 'rectangle 259,44 276,92' -fill '#30303a' -draw 'rectangle 277,30 290,92' \
  -fill 'rgba(255,255,255,0.12)' -draw 'rectangle 22,38 24,92' -draw 'rectangle 53,44 55,92' \
  -draw 'rectangle 102,28 104,92' -draw 'rectangle 196,42 198,92' -draw 'rectangle 245,38 247,92' \
  -fill '#6b5132' -draw 'rectangle 262,128 322,198' -fill '#e9e2d2' -draw 'rectangle 268,134 316,192' \
  -stroke '#6d6558' -strokewidth 1 -fill none \
  -draw 'path "M 274,182 Q 284,150 292,160 T 310,142"' -draw 'circle 300,150 300,145' \
  -draw 'line 276,186 312,186' -stroke none \
  "$tmp/room.png"

# The corner between the two walls.
convert "$tmp/room.png" \( -size 30x236 gradient:'rgba(0,0,0,0.35)'-'rgba(0,0,0,0.35)' -rotate 0 \) \
  -geometry +340+0 -compose Over -composite \
  \( -size 236x24 gradient:'rgba(0,0,0,0.45)'-'rgba(0,0,0,0)' -rotate 270 \) -geometry +340+0 -composite \
  "$tmp/room2.png"

# Texts and step markers in white.
convert "$tmp/room2.png" -gravity NorthWest -fill white \
  -font "$bold" -pointsize 42 -annotate +30+112 'Брек GSM' "$tmp/titled.png"
convert "$tmp/titled.png" -gravity NorthWest -fill white \
  -font "$regular" -pointsize 17 -annotate +33+166 'Демонстрация работы' \
  -annotate +33+190 'контрольной панели' \
  -fill none -stroke white -strokewidth 2 -draw 'circle 47.5,260.5 47.5,245' -draw 'circle 355.5,260.5 355.5,245' \
  -stroke none -fill white -font "$bold" -pointsize 18 -annotate +42+249 '1' -annotate +350+249 '2' \
  -type TrueColor -define bmp:format=bmp3 BMP3:"$out/background.bmp"

# Icon: the panel's white case with its display, on a transparent ground.
for size in 16 32; do
  convert -size 32x32 xc:none -fill '#fbfbfa' -stroke '#7d8a96' -strokewidth 1.5 \
    -draw 'roundrectangle 4,2 27,29 4,4' -stroke none -fill '#1f2a33' -draw 'rectangle 8,6 23,12' \
    -fill '#37c35b' -draw 'circle 10,17 10,15.5' -fill '#e5534b' -draw 'circle 15,17 15,15.5' \
    -fill '#c9c6c0' -draw 'rectangle 8,21 12,24' -draw 'rectangle 14,21 18,24' -draw 'rectangle 20,21 24,24' \
    -resize ${size}x${size} PNG32:"$out/icon${size}.png"
done
# The desktop's larger sizes, drawn at 256 px from the same shapes.
convert -size 256x256 xc:none -draw "scale 8,8 fill '#fbfbfa' stroke '#7d8a96' stroke-width 1.5
    roundrectangle 4,2 27,29 4,4 stroke none fill '#1f2a33' rectangle 8,6 23,12
    fill '#37c35b' circle 10,17 10,15.5 fill '#e5534b' circle 15,17 15,15.5
    fill '#c9c6c0' rectangle 8,21 12,24 rectangle 14,21 18,24 rectangle 20,21 24,24" PNG32:"$out/icon256.png"
convert "$out/icon256.png" -resize 48x48 PNG32:"$out/icon48.png"
# The Windows program carries both sizes in one icon resource.
convert "$out/icon16.png" "$out/icon32.png" "$out/icon.ico"
echo "wrote $out/background.bmp, icon16.png, icon32.png, icon48.png, icon256.png, icon.ico"
