#!/usr/bin/env python3
"""Writes src/platform/upcase_table.inc: the upper case of each UTF-16 unit as Windows'
file systems compare names.

NTFS keeps such a table ($UpCase) and compares names unit by unit after it. It maps a unit
to its simple upper case only where that maps back (the upper case's lower case is the
unit itself): so "µ", "ı", "ſ", "ς" and the title-case digraphs stay as they are, and a
unit whose upper case needs two units (such as "ß") stays too. Units outside the BMP are
surrogates here and stay.

    scripts/make_upcase_table.py > src/platform/upcase_table.inc

The table is written as runs: units first..last, every `step`-th one, move by `delta`.
"""
import sys
import unicodedata


def upper(unit):
    ch = chr(unit)
    up = ch.upper()
    if len(up) != 1:
        up = ch.title()  # the simple mapping of units whose full one has two units
    if len(up) != 1 or up == ch or ord(up) > 0xFFFF or up.lower() != ch:
        return None
    return ord(up)


def main():
    mapping = {}
    for unit in range(0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        up = upper(unit)
        if up is not None:
            mapping[unit] = up
    runs = []
    for unit, up in sorted(mapping.items()):
        delta = up - unit
        if runs:
            first, last, step, run_delta = runs[-1]
            if run_delta == delta and ((step == 0 and unit - last in (1, 2)) or
                                       (step and unit - last == step)):
                runs[-1] = [first, unit, step or unit - last, delta]
                continue
        runs.append([unit, unit, 0, delta])
    out = sys.stdout
    out.write("// Made by scripts/make_upcase_table.py from Unicode %s; do not edit.\n"
              % unicodedata.unidata_version)
    out.write("// {first, last, step, delta}: units first..last, every step-th one, "
              "move by delta.\n")
    for first, last, step, delta in runs:
        out.write("{0x%04X, 0x%04X, %d, %d},\n" % (first, last, step or 1, delta))


if __name__ == "__main__":
    main()
