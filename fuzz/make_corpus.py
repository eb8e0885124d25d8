#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ from valid records and
sessions. Run it again after changing an input layout of a target; the files it writes are kept in
the repository."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

RECORD = "Time NS EW\n0 1 0\n0.01 2 0\n0.02 3 0\n"
SHORT_RECORD = "Time(s) NS(gal) EW(gal)\n" + "".join(
    f"{i * 0.01:.2f} {((i * 7) % 11 - 5) * 0.125:.3f} {((i * 5) % 13 - 6) * 0.25:.3f}\n" for i in range(40))
ODD_RECORD = ("'t s',\"N S\",EW\n0,1,0\n\n0.01 , 2 ,0 extra\n0.02\n3 0\n1.5D-2 2*4\n.03 5. -0\n"
              "0.04 1.5-3 ,\n0.05 1E2 3 ! comment\n0.06 2*7")

# Each session: the answers, one per line, for the record above (the input file is "in.txt").
SESSIONS = {
    "all_no": "in.txt\n0\n0\n0\n0\n0\nout.csv\n\n",
    "polarity": "in.txt\n1\n1\n0\n1\n0\n0\n0\n0\nout.csv\n\n",
    "bandpass": "in.txt\n0\n1\n0.1 0.2 20 25\n0\n0\n0\nout.csv\n\n",
    "integrate": "in.txt\n0\n0\n1\n0\n1\nout.csv\n\n",
    "double_integrate": "in.txt\n0\n0\n2\n0\n0\nout.csv\n\n",
    "differentiate": "in.txt\n0\n0\n3\n0\n0\nout.csv\n\n",
    "cut": "in.txt\n0\n0\n0\n1\n0.01\n0.02\n0\nout.csv\n\n",
    "cut_before": "in.txt\n0\n0\n0\n1\n-0.02\n0.04\n1\nout.csv\n\n",
    "everything": "in.txt\n1\n1\n1\n1\n1\n0.1,0.2\n20,25\n2\n1\n0.01\n0.1\n2\namp2.csv\nend\n",
    "same_name": "in.txt\n0\n0\n0\n0\n-3\nin.txt\n",
    "blank_lines": "in.txt\n\n \n0 rest\n\t\n0,5\n/\n,1\n2*7\nout.csv\n",
}


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def run_seeds():
    for name, answers in SESSIONS.items():
        write("run_fuzz", name, answers.encode() + b"\0" + RECORD.encode())
    write("run_fuzz", "forty_rows", SESSIONS["bandpass"].encode() + b"\0" + SHORT_RECORD.encode())
    write("run_fuzz", "odd_record", SESSIONS["everything"].encode() + b"\0" + ODD_RECORD.encode())
    write("run_fuzz", "missing_file", b"in.txt\n0\n")
    write("run_fuzz", "header_only", SESSIONS["all_no"].encode() + b"\0Time NS EW\n")


# Statement bytes of reader_fuzz: kind = b % 4 (0 list read, 1 list read with an end-of-file
# branch, 2 line read of (b // 4) % 64 characters, 3 read without items); a list read has
# (b // 4) % 6 slots, each a byte s: s % 3 (0 integer, 1 double, 2 text); a text slot holds
# t = s // 3 characters up to 40, and 200 + 2 t characters above.
INTEGER, REAL = 0, 1


def text(length):
    t = length if length <= 40 else (length - 200) // 2
    return 2 + 3 * t


def list_read(slots, branch=False):
    return bytes([(1 if branch else 0) + 4 * len(slots)] + slots)


def line_read(length):
    return bytes([2 + 4 * length])


LINE_END = bytes([3])


def program(statements, pieces=0):
    return bytes([len(statements) - 1 + 8 * pieces]) + b"".join(statements)


def reader_seeds():
    header = list_read([text(20)] * 3)
    row = list_read([REAL] * 3, branch=True)
    answer = list_read([INTEGER])
    write("reader_fuzz", "record", program([header] + [row] * 7, 3) + RECORD.encode())
    write("reader_fuzz", "odd_record", program([header] + [row] * 7, 9) + ODD_RECORD.encode())
    write("reader_fuzz", "session",
          program([line_read(30), answer, answer, list_read([REAL] * 4), answer, line_read(30), LINE_END], 1)
          + b"in.txt\n1 yes\n\n2*7\n0.1,0.2\n20 25\n3\nout.csv\n\n")
    write("reader_fuzz", "numbers",
          program([list_read([REAL] * 5), list_read([INTEGER] * 5), list_read([REAL] * 3, True)], 5)
          + b"1.5D2 1.5-3 .5 5. -0\n  1 +1 12+3 2*9 ,\n1e999 -1e-999 3*\n")
    write("reader_fuzz", "quoted",
          program([list_read([text(20), text(5), text(300)]), list_read([text(20)] * 3)], 2)
          + b"'it''s' \"a\\\nb\" 3*x\nt(s) m/s2 x\n")


def fields_seeds():
    values = [0.048828125, 25.0, 999.9999, 999.99995, 0.01, 100.0, -12.3456789, -0.00004,
              1234567.8, 0.028284271, 9.99996, 1.5e-120, -123.456, 0.0, -0.0, 1e300, 5e-324,
              float("inf"), float("nan")]
    for i, v in enumerate(values):
        write("fields_fuzz", f"value_{i:02d}", struct.pack("<d", v) + bytes([11, 4]) + struct.pack("<i", 2000 - 7 * i))
    # One seed of each shape of value (the byte after the integer), with assorted bits and nudges.
    for shape in range(6):
        bits = 0x9E3779B97F4A7C15 * (shape + 1) % (1 << 64)
        write("fields_fuzz", f"shape_{shape}", struct.pack("<Q", bits) + bytes([31, 7]) + struct.pack("<i", -shape)
              + bytes([shape + 6 * (shape % 7) + 42 * (shape % 2)]))


if __name__ == "__main__":
    run_seeds()
    reader_seeds()
    fields_seeds()
