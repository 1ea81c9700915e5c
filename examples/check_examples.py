#!/usr/bin/env python3
"""Check the example HEX files against the device table.

For every *.hex in this folder (or the files named on the command line):
  - every record is well formed Intel HEX (":", hex digits, length, checksum),
    of a type the host reads (00 data, 01 end, 04 extended linear address),
    and the file ends with the end record :00000001FF;
  - the device is the piccodes.ini model whose name is the file name up to
    the first "_" (pic18f252_blink.hex -> PIC18F252);
  - the file looks like code of that family (the same marks the host sets
    while reading a HEX file: 14-bit words, PIC18 words or dsPIC groups);
  - no flash byte lies at or above the bootloader zone start (the reset slot
    and the bootloader's own code), nor beyond the end of flash;
  - the reset code has a GOTO in its first instructions (and, on PIC16F,
    sets PCLATH before it);
  - EEPROM bytes only on chips that have an EEPROM the host writes, and
    inside its size.

Prints one line per file; exits with status 1 if anything is wrong.
Usage: check_examples.py [--ini PATH] [FILE.hex ...]
"""

import glob
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_INI = os.path.join(HERE, "..", "data", "piccodes.ini")

FAMILIES = "BCJKDE"


def parse_number(text):
    t = text.strip()
    sign = 1
    if t[:1] in "+-":
        sign = -1 if t[0] == "-" else 1
        t = t[1:]
    if t[:1] == "$":
        return sign * int(t[1:], 16)
    if t[:2].lower() == "0x":
        return sign * int(t[2:], 16)
    if t[:1].lower() == "x":
        return sign * int(t[1:], 16)
    return sign * int(t, 10)


def load_table(path):
    """Device lines of piccodes.ini, read the way the host reads them."""
    models = {}
    with open(path, encoding="ascii") as f:
        for n, line in enumerate(f, 1):
            if line.strip(" \t\r\n") == "" or line.startswith(";"):
                continue
            fields = [x.strip(" \t\r\n") for x in line.split(",")]
            if len(fields) < 11:
                raise ValueError("%s:%d: fewer than 11 fields" % (path, n))
            m = {
                "code": parse_number(fields[0]),
                "family": fields[1][:1],
                "name": fields[2],
            }
            for key, text in zip(("flash", "ee", "page", "row", "rows",
                                  "bldpages", "slot", "options"), fields[3:11]):
                m[key] = parse_number(text)
            bpi = 4 if m["family"] in "DE" else 2
            m["bpi"] = bpi
            size = bpi * (m["page"] * m["bldpages"] + m["slot"])
            m["zone"] = m["flash"] - size
            models[m["name"].upper()] = m
    return models


def read_hex(path, errors):
    """Returns {byte address: value}, the INHX32 mark, and the record count."""
    data = {}
    base = 0
    inhx32 = False
    ended = False
    with open(path, "rb") as f:
        raw = f.read()
    lines = raw.decode("ascii", "replace").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for n, line in enumerate(lines, 1):
        line = line.rstrip("\r")
        if ended:
            errors.append("line %d: text after the end record" % n)
            break
        if len(line) < 11 or line[0] != ":":
            errors.append("line %d: not a HEX record" % n)
            continue
        digits = line[1:]
        try:
            rec = bytes.fromhex(digits)
        except ValueError:
            errors.append("line %d: not a hex digit" % n)
            continue
        count, addr, rtype = rec[0], rec[1] << 8 | rec[2], rec[3]
        if len(digits) != 2 * count + 10:
            errors.append("line %d: wrong length" % n)
            continue
        if sum(rec) & 0xFF:
            errors.append("line %d: checksum" % n)
        payload = rec[4:-1]
        if rtype == 0:
            for k, v in enumerate(payload):
                a = base + addr + k
                if a in data:
                    errors.append("line %d: address %06Xh given twice" % (n, a))
                data[a] = v
        elif rtype == 1:
            if line != ":00000001FF":
                errors.append("line %d: end record is not :00000001FF" % n)
            ended = True
        elif rtype == 4:
            if count != 2 or addr != 0:
                errors.append("line %d: bad extended address record" % n)
            inhx32 = True
            base = (payload[0] << 8 | payload[1]) << 16
        else:
            errors.append("line %d: record type %02X is not read by the host" % (n, rtype))
    if not ended:
        errors.append("no end record")
    return data, inhx32


def classify(family, a):
    """Area of a HEX byte address: flash, config, eeprom (with offset) or none."""
    if family == "B":
        p = a // 2
        if p < 0x2000:
            return "flash", None
        if p < 0x2100:
            return "config", None
        if p < 0x2200:
            return ("eeprom", p - 0x2100) if a % 2 == 0 else ("eeprom-high", None)
        return "none", None
    if family in "CJK":
        p = a
        if p < 0x200000:
            return "flash", None
        if 0x300000 <= p < 0x400000:
            return "config", None
        if 0xF00000 <= p < 0xF10000:
            return "eeprom", p - 0xF00000
        return "none", None
    p = a // 2
    if family == "D":
        if p < 0x7FF000:
            return "flash", None
        if p < 0x800000:
            return "eeprom", p
    elif p < 0x800000:
        return "flash", None
    if 0xF80000 <= p < 0xF80010:
        return "config", None
    return "none", None


def word(data, w):
    return data.get(2 * w, 0xFF) | data.get(2 * w + 1, 0xFF) << 8


def check_reset_code(m, data, errors):
    fam = m["family"]
    if fam == "B":
        words = [word(data, i) for i in range(4)]
        gotos = [i for i, w in enumerate(words) if w & 0x3800 == 0x2800]
        if not gotos:
            errors.append("no GOTO in the first 4 words")
            return
        before = words[:gotos[0]]
        whole = any(w & 0x3EFF == 0x008A for w in before)
        bit3 = any(w & 0x3BFF == 0x118A for w in before)
        bit4 = any(w & 0x3BFF == 0x120A for w in before)
        if not (whole or (bit3 and bit4)):
            errors.append("PCLATH is not set before the reset GOTO")
    elif fam in "CJK":
        if not any(word(data, i) & 0xFF00 == 0xEF00 for i in range(4)):
            errors.append("no GOTO in the first 4 words")
    else:
        b = [data.get(i, 0xFF) for i in range(8)]
        if b[2:4] != [0x04, 0x00] or b[5:8] != [0, 0, 0]:
            errors.append("no GOTO at address 0")


def check_file(path, models):
    errors = []
    name = os.path.basename(path)
    model = models.get(name.split("_")[0].upper())
    if model is None:
        return ["no piccodes.ini model named after %s" % name], ""
    data, inhx32 = read_hex(path, errors)
    fam = model["family"]
    code18 = any(a % 2 == 1 and v & 0xC0 for a, v in data.items())
    dspic = all(v == 0 for a, v in data.items() if a % 4 == 3)
    if fam == "B" and code18:
        errors.append("holds words that are not 14-bit PIC16F code")
    if fam in "CJK" and (not code18 or dspic):
        errors.append("does not look like PIC18 code")
    if fam in "DE" and not dspic:
        errors.append("does not look like dsPIC code")
    flash_top = -1
    ee = 0
    cfg = 0
    for a in sorted(data):
        area, offset = classify(fam, a)
        if area == "flash":
            if a >= model["flash"]:
                errors.append("flash byte %06Xh beyond the end of flash" % a)
                break
            if a >= model["zone"]:
                errors.append("byte %06Xh inside the bootloader zone [%06Xh..%06Xh)"
                              % (a, model["zone"], model["flash"]))
                break
            flash_top = a
        elif area == "eeprom":
            ee += 1
            if fam in "JKE":
                errors.append("EEPROM data at %06Xh: %s EEPROM is not written by the host"
                              % (a, model["name"]))
                break
            limit = model["ee"]
            inside = (offset >= 0x800000 - limit) if fam == "D" else (offset < limit)
            if not inside:
                errors.append("EEPROM byte %06Xh outside the %d-byte EEPROM" % (a, limit))
                break
        elif area == "eeprom-high":
            # PIC16F EEPROM data come as 14-bit words: the high byte is 00
            if data[a] != 0:
                errors.append("EEPROM word at %06Xh has a high byte" % (a - 1))
                break
        elif area == "config":
            cfg += 1
        else:
            errors.append("byte %06Xh lies in no memory area" % a)
            break
    if data:
        check_reset_code(model, data, errors)
    else:
        errors.append("no data")
    summary = "%s %-18s %s, %d bytes, flash up to %06Xh (zone %06Xh), %d EEPROM, %d config" % (
        "$%02X" % model["code"], model["name"], "INHX32" if inhx32 else "INHX8M",
        len(data), flash_top, model["zone"], ee, cfg)
    return errors, summary


def main(argv):
    ini = DEFAULT_INI
    files = []
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == "--ini":
            ini = args.pop(0)
        else:
            files.append(a)
    if not files:
        files = sorted(glob.glob(os.path.join(HERE, "*.hex")))
    models = load_table(ini)
    bad = 0
    for path in files:
        errors, summary = check_file(path, models)
        if errors:
            bad += 1
            print("FAIL %s: %s" % (os.path.basename(path), "; ".join(errors)))
        else:
            print("ok   %-30s %s" % (os.path.basename(path), summary))
    if not files:
        print("no HEX files")
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
