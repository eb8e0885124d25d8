#!/usr/bin/env python3
"""Writes a synthetic accelerogram-like record in wavproc's input format to standard output.

The signal is deterministic: filtered pseudo-random noise under a rise-plateau-decay envelope,
plus a long-period pulse, sampled every 0.01 s, in gal, with a few significant digits.
Usage: python3 make_record.py [samples] > record.txt
"""
import argparse
import math
import sys


def lcg(seed):
    state = seed
    while True:
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        yield ((state >> 11) / float(1 << 53)) * 2.0 - 1.0


def envelope(t, total):
    rise, plateau = 0.1 * total, 0.35 * total
    if t < rise:
        return (t / rise) ** 2
    if t < plateau:
        return 1.0
    return math.exp(-3.0 * (t - plateau) / (total - plateau))


def component(noise, n, dt, amplitude, period, phase):
    out, a, b = [], 0.0, 0.0
    for i in range(n):
        t = i * dt
        # Two one-pole smoothings give the noise a band of a few hertz, like strong ground motion.
        a += 0.35 * (next(noise) - a)
        b += 0.5 * (a - b)
        pulse = 0.3 * math.sin(2 * math.pi * t / period + phase)
        out.append(amplitude * envelope(t, n * dt) * (b * 3.0 + pulse))
    return out


def gal(x):
    text = "%.3f" % x
    return "0.000" if float(text) == 0.0 else text


def write_record(n, sample_text):
    """Writes the record of n samples to standard output, each sample through sample_text."""
    dt = 0.01
    ns = component(lcg(20261208), n, dt, 180.0, 2.7, 0.0)
    ew = component(lcg(19950117), n, dt, 140.0, 3.9, 1.1)
    lines = ["Time(s) NS(gal) EW(gal)"]
    for i in range(n):
        lines.append("%.2f %s %s" % (i * dt, sample_text(ns[i]), sample_text(ew[i])))
    sys.stdout.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(
        description="Writes a synthetic accelerogram-like record in wavproc's input format "
        "(a header line, then rows of time, NS and EW in gal, every 0.01 s) to standard output.")
    parser.add_argument("samples", nargs="?", type=int, default=4000,
                        help="number of rows (default 4000, as examples/record.txt)")
    args = parser.parse_args()
    if args.samples < 0:
        parser.error("samples must not be negative")
    write_record(args.samples, gal)


if __name__ == "__main__":
    main()
