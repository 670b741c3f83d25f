#!/bin/sh
# Draws the page set's images with ImageMagick. The images are kept in the repository; run this
# only to change them:  pages/tools/make-images.sh  (needs the imagemagick package).
set -eu
cd "$(dirname "$0")/.."
IM=/usr/bin/convert
[ -x "$IM" ] || IM=convert
SANS=DejaVu-Sans
BOLD=DejaVu-Sans-Bold

# Header, 760 x 90: a blue band with the coax "wave", the product name and the device name.
$IM -size 760x90 gradient:'#0b4f80'-'#1d86c6' -rotate 0 \
    -fill none -stroke '#ffffff40' -strokewidth 2 \
    -draw "path 'M 0,70 C 120,40 240,100 380,62 S 620,30 760,58'" \
    -draw "path 'M 0,80 C 140,55 260,105 400,72 S 640,42 760,68'" \
    -stroke none -fill '#ffffff' \
    -draw "roundrectangle 22,22 74,68 8,8" \
    -fill '#0b4f80' -draw "circle 48,45 48,31" \
    -fill '#ffffff' -draw "circle 48,45 48,38" \
    -fill '#0b4f80' -draw "circle 48,45 48,42" \
    -fill '#ffffff' -font $BOLD -pointsize 26 -annotate +92+46 'Ethernet Coax Bridge' \
    -fill '#d6ecfa' -font $SANS -pointsize 13 -annotate +94+68 'KBR3300 configuration' \
    -fill '#ffffffb0' -font $SANS -pointsize 11 -gravity NorthEast -annotate +22+14 'MoCA adaptor' \
    -depth 8 ecb_top.png

# Footer, 760 x 36.
$IM -size 760x36 gradient:'#1d86c6'-'#0b4f80' \
    -fill '#d6ecfa' -font $SANS -pointsize 11 -gravity West -annotate +24+0 'Ethernet Coax Bridge' \
    -gravity East -annotate +24+0 'KBR3300' \
    -depth 8 ecb_bottom.png

# Logo, 120 x 48.
$IM -size 120x48 xc:'#ffffff' \
    -fill '#0b4f80' -draw "roundrectangle 2,4 42,44 7,7" \
    -fill '#ffffff' -draw "circle 22,24 22,12" \
    -fill '#0b4f80' -draw "circle 22,24 22,18" \
    -fill '#1d86c6' -draw "circle 22,24 22,21" \
    -fill '#0b4f80' -font $BOLD -pointsize 15 -annotate +50+23 'ECB' \
    -fill '#1d86c6' -font $SANS -pointsize 10 -annotate +50+38 'KBR3300' \
    -depth 8 logo.gif

# Section strip, 760 x 24 (heading background).
$IM -size 24x760 gradient:'#e4ebf0'-'#ffffff' -rotate 90 \
    -fill '#0b4f80' -draw "rectangle 0,0 5,23" \
    -depth 8 table.png

# Reboot button, 82 x 35.
$IM -size 82x35 xc:none \
    -fill '#084b7e' -draw "roundrectangle 0,0 81,34 6,6" \
    -fill '#b0461c' -draw "roundrectangle 1,1 80,33 5,5" \
    -fill '#d8612d' -draw "roundrectangle 2,2 79,17 4,4" \
    -fill '#ffffff' -stroke none -strokewidth 2 \
    -fill none -stroke '#ffffff' -draw "arc 9,10 23,24 -60,240" -draw "line 16,8 16,16" \
    -stroke none -fill '#ffffff' -font $BOLD -pointsize 12 -annotate +28+22 'Reboot' \
    -depth 8 bReboot.png

ls -l ecb_top.png ecb_bottom.png logo.gif table.png bReboot.png
