#!/bin/sh
# Regenerate every example HEX file from its source, then check them all
# against data/piccodes.ini.
#
#   PIC16F / PIC18F sources (*.asm): gpasm from gputils
#   dsPIC examples: make_dspic_hex.py (gpasm has no dsPIC support)
#
# Usage: examples/build_examples.sh   (from anywhere)
set -eu

cd "$(dirname "$0")"

if ! command -v gpasm >/dev/null 2>&1; then
    echo "gpasm not found: install gputils" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# assemble FORMAT SOURCE OUTPUT: gpasm also writes .lst and .cod files,
# which stay in the scratch folder.
assemble() {
    gpasm -q -a "$1" -o "$work/$3" "$2"
    cp "$work/$3" "$3"
    echo "$3: from $2 ($1)"
}

assemble inhx8m pic16f877a_blink.asm   pic16f877a_blink.hex
assemble inhx32 pic16f876a_blink32.asm pic16f876a_blink32.hex
assemble inhx8m pic16f88_blink.asm     pic16f88_blink.hex
assemble inhx32 pic18f252_blink.asm    pic18f252_blink.hex
assemble inhx32 pic18f46j50_blink.asm  pic18f46j50_blink.hex
assemble inhx32 pic18f46k22_blink.asm  pic18f46k22_blink.hex
assemble inhx8m pic18f452_blink8m.asm  pic18f452_blink8m.hex

python3 make_dspic_hex.py .

if command -v srec_cat >/dev/null 2>&1; then
    for f in *.hex; do
        srec_cat "$f" -intel -o /dev/null -binary
    done
    echo "srec_cat reads every HEX file"
fi

python3 check_examples.py
