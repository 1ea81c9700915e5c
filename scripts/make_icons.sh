#!/bin/sh
# Regenerates the application icon's PNGs from data/icons/vantlebld.svg.
# The PNGs are kept in the tree, so a build never needs rsvg-convert; run this
# only after changing the SVG, and commit the PNGs with it.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
svg="$root/data/icons/vantlebld.svg"

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "make_icons: rsvg-convert missing, installing librsvg2-bin" >&2
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update && apt-get install -y librsvg2-bin
    elif command -v sudo >/dev/null 2>&1; then
        sudo apt-get update && sudo apt-get install -y librsvg2-bin
    else
        echo "make_icons: install librsvg2-bin (as root) and run again" >&2
        exit 1
    fi
fi

for size in 16 32 48 64 128 256; do
    dir="$root/data/icons/${size}x${size}"
    mkdir -p "$dir"
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$dir/vantlebld.png"
    echo "data/icons/${size}x${size}/vantlebld.png"
done
