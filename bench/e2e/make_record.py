#!/usr/bin/env python3
"""Writes an accelerogram-like record in wavproc's input format to standard output.

The signal is the example record's (examples/make_record.py), every sample written with five
significant digits, dt = 0.01 s.
Usage: python3 make_record.py ROWS > record.txt
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
from make_record import write_record  # noqa: E402


def five_digits(x):
    """x in fixed-point form with five significant digits (no exponent, at most 9 decimals)."""
    if x == 0.0:
        return "0.0000"
    whole = math.floor(math.log10(abs(x))) + 1
    decimals = min(9, max(0, 5 - whole))
    text = "%.*f" % (decimals, x)
    return text if float(text) != 0.0 else "0.0000"


if __name__ == "__main__":
    write_record(int(sys.argv[1]) if len(sys.argv) > 1 else 32768, five_digits)
