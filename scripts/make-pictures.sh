#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick's convert. The PNGs it writes are committed, so the build never
# runs this; run it again after changing a drawing and commit the result.
#
#   resources/glyphs/Card*.png   20 x 10 button glyphs: normal image left, disabled image right, on a cyan
#                                (0,255,255) background that the loader turns transparent
#   resources/icons/*.png        tree pictures, the open-in-browser picture and the program icon in six sizes
#
# Small pictures are pixel art (one character per pixel, turned into XPM for convert); the program icon is drawn
# with vector primitives at 256 x 256 and scaled down. Output carries no time stamps, so a rerun with the same
# drawings leaves the files byte for byte unchanged.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
glyphs=$root/resources/glyphs
icons=$root/resources/icons
mkdir -p "$glyphs" "$icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Options for every written PNG: no dates or other text chunks, so the files are reproducible.
png_opts=(-strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt)

# art_to_png OUT PALETTE < rows
# PALETTE holds XPM colour lines ("k c #000000"); stdin holds the rows of the picture, one character a pixel.
art_to_png()
{
    local out=$1 palette=$2
    local -a rows
    mapfile -t rows
    local width=${#rows[0]} height=${#rows[@]} colours row
    for row in "${rows[@]}"; do
        if [ ${#row} -ne "$width" ]; then
            echo "make-pictures: row '$row' of $out is not $width pixels wide" >&2
            exit 1
        fi
    done
    colours=$(grep -c . <<<"$palette")
    {
        echo '/* XPM */'
        echo 'static char* art[] = {'
        echo "\"$width $height $colours 1\","
        while IFS= read -r row; do
            [ -n "$row" ] && echo "\"$row\","
        done <<<"$palette"
        for row in "${rows[@]}"; do echo "\"$row\","; done
        echo '};'
    } >"$work/art.xpm"
    convert "$work/art.xpm" "${png_opts[@]}" "$out"
}

# ---------------------------------------------------------------------------------------------------------------
# Button glyphs
# ---------------------------------------------------------------------------------------------------------------

glyph_palette='. c #00FFFF
k c #000000
Y c #FFD800
L c #FFF2A0
o c #D8A800
b c #B8E0F8
w c #FFFFFF'

# glyph NAME < rows: the 10 x 10 normal image; the disabled image is derived from it the way classic toolkits
# grey a glyph: its dark pixels become mid grey with a white shadow one pixel down and right, its light pixels
# vanish into the background. The pair is stored as an 8-bit palette PNG.
glyph()
{
    local name=$1
    art_to_png "$work/$name-normal.png" "$glyph_palette"
    # White where the normal image is dark, black elsewhere (the cyan background counts as light).
    convert "$work/$name-normal.png" -fill white -opaque '#00FFFF' -colorspace Gray -threshold 50% -negate \
        "$work/$name-mask.png"
    convert "$work/$name-mask.png" -background black -splice 1x1 -crop 10x10+0+0 +repage "$work/$name-shadow.png"
    convert -size 10x10 xc:'#00FFFF' \
        \( -size 10x10 xc:white \) "$work/$name-shadow.png" -composite \
        \( -size 10x10 xc:'#808080' \) "$work/$name-mask.png" -composite \
        "$work/$name-disabled.png"
    convert "$work/$name-normal.png" "$work/$name-disabled.png" +append -type Palette "${png_opts[@]}" \
        "PNG8:$glyphs/$name.png"
}

glyph CardDown <<'ART'
..........
..........
..........
.kkkkkkkk.
..kkkkkk..
...kkkk...
....kk....
..........
..........
..........
ART

glyph CardOK <<'ART'
..........
........k.
.......kk.
.k....kkk.
.kk..kkk..
.kkkkkkk..
..kkkkk...
...kkk....
....k.....
..........
ART

glyph CardLookup <<'ART'
..........
..........
..........
..........
.kk.kk.kk.
.kk.kk.kk.
..........
..........
..........
..........
ART

glyph CardFolder <<'ART'
..........
.kkk......
kLLLkkkkk.
kLYYYYYYYk
kLYYYYYYYk
kLYYYYYYYk
kLYYYYYYYk
kooooooook
kkkkkkkkkk
..........
ART

glyph CardFind <<'ART'
..kkk.....
.kwbbk....
kwbbbbk...
kbbbbbk...
kbbbbbk...
.kbbbk....
..kkkkk...
.....kkk..
......kkk.
.......kk.
ART

# ---------------------------------------------------------------------------------------------------------------
# Tree pictures and the open-in-browser picture, 16 x 16 on transparent
# ---------------------------------------------------------------------------------------------------------------

icon_palette='. c None
k c #5A4000
K c #303030
Y c #FFD54A
L c #FFF0A8
o c #E0A400
r c #D8402C
R c #A82818
w c #FFF8E8
W c #D8CCB0
d c #8A5A2C
b c #78B8F0'

# The root: a small house, the home of every group.
art_to_png "$icons/root.png" "$icon_palette" <<'ART'
................
.......KK.......
......KrrK..KK..
.....KrrrrK.KK..
....KrrrrrrKKK..
...KrrrrrrrrKK..
..KrrrrrrrrrrK..
.KRRRRRRRRRRRRK.
KKKKKKKKKKKKKKKK
..KwwwwwwwwwwK..
..KwbbwwKKKwwK..
..KwbbwwKddKwK..
..KwwwwwKddKwK..
..KwwwwwKddKwK..
..KWWWWWKddKWK..
..KKKKKKKKKKKK..
ART

# A group: a closed folder.
art_to_png "$icons/group.png" "$icon_palette" <<'ART'
................
................
.kkkkk..........
kLLLLLk.........
kLYYYYYkkkkkkkk.
kLLLLLLLLLLLLLLk
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kLYYYYYYYYYYYYok
kooooooooooooook
.kkkkkkkkkkkkkk.
................
ART

# The selected group: the same folder opened, its front flap tipped forward.
art_to_png "$icons/group-open.png" "$icon_palette" <<'ART'
................
................
.kkkkk..........
kLLLLLk.........
kLYYYYYkkkkkkk..
kLYYYYYYYYYYYYk.
kLYYkkkkkkkkkkkk
kLYkLLLLLLLLLLLk
kLYkLYYYYYYYYYok
kLkLYYYYYYYYYok.
kLkLYYYYYYYYYok.
kkLYYYYYYYYYok..
kkLYYYYYYYYYok..
kkooooooooook...
.kkkkkkkkkkkk...
................
ART

# Open in the browser: a globe, drawn large and scaled down so that its curves stay smooth.
convert -size 64x64 xc:none \
    -fill '#3C8CE0' -stroke '#1A4F8C' -strokewidth 3 -draw 'circle 32,32 32,3' \
    -fill '#5CB85C' -stroke none \
    -draw 'polygon 14,16 26,10 34,16 30,26 22,30 24,40 16,42 10,30' \
    -draw 'polygon 38,30 50,26 56,34 50,50 40,52 36,42' \
    -fill none -stroke '#E8F4FF' -strokewidth 3 \
    -draw 'ellipse 32,32 12,28 0,360' -draw 'line 5,32 59,32' \
    -draw 'path "M 10,18 Q 32,24 54,18"' -draw 'path "M 10,46 Q 32,40 54,46"' \
    -filter Lanczos -resize 16x16 "${png_opts[@]}" "PNG32:$icons/openurl.png"

# ---------------------------------------------------------------------------------------------------------------
# The program icon: a spiral notebook with a small alarm clock in front of it
# ---------------------------------------------------------------------------------------------------------------

rings=()
for y in 48 84 120 156 192; do
    rings+=(-draw "roundrectangle 36,$((y - 7)) 76,$((y + 7)) 7,7")
done
lines=()
for y in 72 96 120 144 168; do
    lines+=(-draw "line 92,$y 180,$y")
done

convert -size 256x256 xc:none \
    -fill '#00000030' -stroke none -draw 'roundrectangle 58,30 222,246 18,18' \
    -fill '#2E7D6B' -stroke '#1D5548' -strokewidth 4 -draw 'roundrectangle 52,22 214,238 18,18' \
    -fill '#FFFDF4' -stroke '#C9C2A8' -strokewidth 2 -draw 'roundrectangle 70,34 202,226 8,8' \
    -fill none -stroke '#9CC3E6' -strokewidth 4 "${lines[@]}" \
    -stroke '#E07A6A' -strokewidth 3 -draw 'line 88,40 88,220' \
    -fill '#D0D4DA' -stroke '#5E6670' -strokewidth 4 "${rings[@]}" \
    -fill '#00000038' -stroke none -draw 'circle 190,192 190,134' \
    -fill '#E05038' -stroke '#8E2A1C' -strokewidth 5 \
    -draw 'circle 146,128 160,114' -draw 'circle 218,128 204,114' \
    -fill '#FFFFFF' -stroke '#8E2A1C' -strokewidth 8 -draw 'circle 182,184 182,130' \
    -fill none -stroke '#404040' -strokewidth 4 \
    -draw 'line 182,140 182,146' -draw 'line 182,222 182,228' \
    -draw 'line 138,184 144,184' -draw 'line 220,184 226,184' \
    -stroke '#202020' -strokewidth 9 -draw 'line 182,184 182,152' \
    -strokewidth 7 -draw 'line 182,184 204,196' \
    -fill '#202020' -stroke none -draw 'circle 182,184 182,176' \
    "${png_opts[@]}" "PNG32:$icons/jotterel.png"

for size in 32 48 64 128; do
    convert "$icons/jotterel.png" -filter Lanczos -resize "${size}x${size}" "${png_opts[@]}" \
        "PNG32:$icons/jotterel-$size.png"
done

# At 16 x 16 a scaled drawing turns to mud, so the smallest size is drawn pixel by pixel.
art_to_png "$icons/jotterel-16.png" '. c None
g c #1D5548
G c #2E7D6B
p c #FFFDF4
l c #9CC3E6
s c #5E6670
r c #E05038
c c #8E2A1C
w c #FFFFFF
k c #202020' <<'ART'
................
..gggggggggg....
..gGppppppGg....
.ssspllllpGg....
..gGppppppGg....
..gGpllllpGg....
.sssppppppGg....
..gGpllllpGg....
..gGpppprrGg.rr.
.sssplllrrcccrr.
..gGpppppcwwwc..
..gGplllcwwkwwc.
.sssppppcwwkkwc.
..gGppppcwwwwwc.
..gggggggcwwwc..
..........ccc...
ART
