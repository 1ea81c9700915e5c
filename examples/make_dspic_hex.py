#!/usr/bin/env python3
"""Write the dsPIC example HEX files.

gpasm has no dsPIC support, so the example programs are kept here as short
instruction lists and encoded by hand. Every instruction is a 24-bit word at
an even program address P; the HEX file holds it at byte address 2*P as four
bytes, low byte first, the fourth byte always 00. Data EEPROM words (dsPIC30F
only) sit at program address 7FFC00h and up, written the same way with the
value in the two low bytes.

Usage: make_dspic_hex.py [output directory]   (default: this script's folder)
"""

import os
import sys

# ---------------------------------------------------------------------------
# Instruction encodings (dsPIC30F/33F instruction set)

SPLIM = 0x0020
PSVPAG = 0x0034
CORCON = 0x0044


def goto(target):
    return [0x040000 | (target & 0xFFFE), (target >> 16) & 0x7F]


def call(target):
    return [0x020000 | (target & 0xFFFE), (target >> 16) & 0x7F]


def mov_lit(value, wd):
    """MOV #lit16, Wd"""
    return [0x200000 | ((value & 0xFFFF) << 4) | wd]


def mov_w_to_f(ws, f):
    """MOV Ws, f  (f an even data address below 10000h)"""
    assert f % 2 == 0 and f < 0x10000
    return [0x880000 | ((f >> 1) << 4) | ws]


def mov_postinc(ws, wd):
    """MOV [Ws++], Wd"""
    return [0x780000 | (wd << 7) | (3 << 4) | ws]


def bset(f, bit):
    """BSET f, #bit  (word form, f an even address below 2000h)"""
    assert f % 2 == 0 and f < 0x2000
    return [0xA80000 | ((bit >> 1) << 13) | f | (bit & 1)]


def dec(ws, wd):
    """DEC Ws, Wd"""
    return [0xE90000 | (wd << 7) | ws]


def bra(cond, here, target):
    """BRA [cond,] target; the offset counts instructions from here + 2."""
    offset = (target - (here + 2)) // 2
    assert -0x8000 <= offset < 0x8000
    return [0x300000 | (cond << 16) | (offset & 0xFFFF)]


BRA_ALWAYS = 0x7
BRA_NZ = 0xA
NOP = [0x000000]
RETURN = [0x060000]
RESET = [0xFE0000]


# ---------------------------------------------------------------------------
# A small two-pass assembler: a block is a start address and a list of items,
# each either a label name (str) or a function (address, labels) -> words.

def op(words):
    return lambda here, labels: words


def assemble(blocks):
    labels = {}
    for start, items in blocks:
        here = start
        for item in items:
            if isinstance(item, str):
                labels[item] = here
            else:
                # sizes do not depend on label values: measure with every
                # label standing at the instruction itself
                here += 2 * len(item(here, _Here(here)))
    code = {}
    for start, items in blocks:
        here = start
        for item in items:
            if isinstance(item, str):
                continue
            for word in item(here, labels):
                assert here not in code, "overlap at %06Xh" % here
                code[here] = word & 0xFFFFFF
                here += 2
    return code, labels


class _Here(dict):
    def __init__(self, here):
        super().__init__()
        self.here = here

    def __missing__(self, key):
        return self.here


# ---------------------------------------------------------------------------
# The example program: walk a pattern of 16-bit words, read through the
# program-space window at 8000h, onto an output latch, with a delay between
# steps. Every interrupt vector points to a handler that resets the chip.

def blink_program(dev):
    psv_page = dev["table"] >> 15
    psv_addr = 0x8000 | (dev["table"] & 0x7FFF)
    pattern = dev["pattern"]
    main = [
        "__reset",
        op(mov_lit(0x0C00, 15)),            # stack at 0C00h
        op(mov_lit(0x0FFE, 0)),
        op(mov_w_to_f(0, SPLIM)),
        op(NOP),
        op(bset(CORCON, 2)),                # PSV on
        op(mov_lit(psv_page, 0)),
        op(mov_w_to_f(0, PSVPAG)),
        op(mov_lit(dev["tris_value"], 0)),
        op(mov_w_to_f(0, dev["tris"])),
        "restart",
        op(mov_lit(psv_addr, 3)),
        op(mov_lit(len(pattern), 4)),
        "next",
        op(mov_postinc(3, 0)),
        op(mov_w_to_f(0, dev["lat"])),
        lambda here, l: call(l["delay"]),
        op(dec(4, 4)),
        lambda here, l: bra(BRA_NZ, here, l["next"]),
        lambda here, l: bra(BRA_ALWAYS, here, l["restart"]),
        "__DefaultInterrupt",
        op(RESET),
    ]
    delay = [
        "delay",
        op(mov_lit(8, 2)),
        "d_outer",
        op(mov_lit(0xFFFF, 1)),
        "d_inner",
        op(dec(1, 1)),
        lambda here, l: bra(BRA_NZ, here, l["d_inner"]),
        op(dec(2, 2)),
        lambda here, l: bra(BRA_NZ, here, l["d_outer"]),
        op(RETURN),
    ]
    vectors = []
    for first, last in dev["vector_tables"]:
        for addr in range(first, last + 1, 2):
            vectors.append((addr, lambda here, l: [l["__DefaultInterrupt"]]))
    blocks = [(0x000000, [lambda here, l: goto(l["__reset"])])]
    blocks += [(addr, [item]) for addr, item in vectors]
    blocks += [
        (dev["main"], main),
        (dev["delay"], delay),
        (dev["table"], [op([w]) for w in pattern]),
    ]
    code, labels = assemble(blocks)
    return code, labels


# ---------------------------------------------------------------------------
# Devices. Addresses are program addresses; the bootloader zone of each
# device (piccodes.ini) begins at the HEX byte address noted, and nothing
# here comes near it.

DEVICES = [
    {
        # dsPIC30F4013: 16K instructions, zone from HEX FB80h (program 7DC0h)
        "file": "dspic30f4013_blink.hex",
        "vector_tables": [(0x000004, 0x00007E), (0x000084, 0x0000FE)],
        "main": 0x000100,
        "delay": 0x001000,
        "table": 0x002000,
        "tris": 0x02D2,                     # TRISD
        "lat": 0x02D6,                      # LATD
        "tris_value": 0xFFF0,               # RD0..RD3 outputs
        "pattern": [0x0001, 0x0002, 0x0004, 0x0008, 0x0004, 0x0002],
        "eeprom": (0x7FFC00, [0x5642, 0x3033, 0x0001, 0x0002,
                              0x1234, 0xABCD, 0x0000, 0xFFFF]),
    },
    {
        # dsPIC30F3014: 8K instructions, zone from HEX 7B80h (program
        # 3DC0h). All of it lies in the first 64 KB of the HEX address
        # space and it has no EEPROM data, so it is written as INHX8M:
        # no extended address record at all.
        "file": "dspic30f3014_blink8m.hex",
        "format": "inhx8m",
        "vector_tables": [(0x000004, 0x00007E), (0x000084, 0x0000FE)],
        "main": 0x000100,
        "delay": 0x000800,
        "table": 0x003000,
        "tris": 0x02C6,                     # TRISB
        "lat": 0x02CA,                      # LATB
        "tris_value": 0xFFFE,               # RB0 output
        "pattern": [0x0001, 0x0000, 0x0001, 0x0000, 0x0000, 0x0000],
        "eeprom": None,
    },
    {
        # dsPIC33FJ128GP706: 44032 instructions, zone from HEX 2A700h
        # (program 15380h); the pattern sits in the last user page, above
        # the first 64 KB of the HEX address space.
        "file": "dspic33fj128gp706_blink.hex",
        "vector_tables": [(0x000004, 0x0000FE), (0x000104, 0x0001FE)],
        "main": 0x000200,
        "delay": 0x004000,
        "table": 0x015000,
        "tris": 0x02D2,                     # TRISD
        "lat": 0x02D6,                      # LATD
        "tris_value": 0xFF00,               # RD0..RD7 outputs
        "pattern": [0x0081, 0x0042, 0x0024, 0x0018, 0x0024, 0x0042],
        "eeprom": None,
    },
    {
        # dsPIC33FJ32MC202: 11264 instructions, zone from HEX A600h
        # (program 5300h)
        "file": "dspic33fj32mc202_blink.hex",
        "vector_tables": [(0x000004, 0x0000FE), (0x000104, 0x0001FE)],
        "main": 0x000200,
        "delay": 0x000800,
        "table": 0x005000,
        "tris": 0x02C0,                     # TRISA
        "lat": 0x02C4,                      # LATA
        "tris_value": 0xFFEF,               # RA4 output
        "pattern": [0x0010, 0x0000, 0x0010, 0x0000, 0x0000, 0x0000],
        "eeprom": None,
    },
]


# ---------------------------------------------------------------------------
# Intel HEX output (INHX32, or INHX8M for a file within the first 64 KB)

def image_bytes(code, eeprom):
    data = {}
    for addr, word in code.items():
        for i, b in enumerate((word & 0xFF, (word >> 8) & 0xFF,
                               (word >> 16) & 0xFF, 0)):
            data[2 * addr + i] = b
    if eeprom:
        start, words = eeprom
        for k, value in enumerate(words):
            for i, b in enumerate((value & 0xFF, value >> 8, 0, 0)):
                data[2 * (start + 2 * k) + i] = b
    return data


def record(rtype, addr, payload):
    body = bytes([len(payload), (addr >> 8) & 0xFF, addr & 0xFF, rtype]) + bytes(payload)
    return ":%s%02X" % (body.hex().upper(), (-sum(body)) & 0xFF)


def intel_hex(data, per_record=16, inhx8m=False):
    lines = []
    upper = None
    addrs = sorted(data)
    i = 0
    while i < len(addrs):
        start = addrs[i]
        run = [data[start]]
        i += 1
        # a record holds consecutive bytes, never crosses a 16-byte line
        # boundary and never crosses a 64 KB boundary
        while (i < len(addrs) and addrs[i] == start + len(run)
               and len(run) < per_record
               and (start + len(run)) % per_record != 0):
            run.append(data[addrs[i]])
            i += 1
        if inhx8m:
            assert start < 0x10000, "INHX8M holds only the first 64 KB"
        elif start >> 16 != upper:
            upper = start >> 16
            lines.append(record(4, 0, [upper >> 8, upper & 0xFF]))
        lines.append(record(0, start & 0xFFFF, run))
    lines.append(":00000001FF")
    return "\n".join(lines) + "\n"


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for dev in DEVICES:
        code, labels = blink_program(dev)
        text = intel_hex(image_bytes(code, dev["eeprom"]),
                         inhx8m=dev.get("format") == "inhx8m")
        path = os.path.join(out_dir, dev["file"])
        with open(path, "w", newline="\n") as f:
            f.write(text)
        print("%s: %d instructions, entry __reset at %06Xh" %
              (dev["file"], len(code), labels["__reset"]))


if __name__ == "__main__":
    main()
