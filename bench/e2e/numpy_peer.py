#!/usr/bin/env python3
"""One wavproc run written the way a user would write it with numpy: the peer that bench/e2e.sh
times next to wavproc.

It reads the record with numpy, transforms it with numpy.fft (scaled by dt), applies the same
trapezoidal band-pass and frequency-domain integration, writes the amplitude spectra of both
components to amp2.csv, transforms back, cuts the window, decimates, and writes the waveform file,
both files with numpy's formatting in the same columns as wavproc's (the exponent fields in
Python's form, 2.1370E+02 rather than 0.2137E+03).

Usage: numpy_peer.py RECORD OUTPUT [--bandpass FL1 FL2 FH1 FH2] [--integrate {0,1,2,3}]
                     [--cut START DURATION] [--skip N]
Needs numpy (Debian: python3-numpy).
"""
import argparse
import sys

import numpy as np


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("record")
    parser.add_argument("output")
    parser.add_argument("--bandpass", nargs=4, type=float, metavar=("FL1", "FL2", "FH1", "FH2"))
    parser.add_argument("--integrate", type=int, choices=(0, 1, 2, 3), default=0,
                        help="1 integration, 2 double integration, 3 differentiation")
    parser.add_argument("--cut", nargs=2, type=float, metavar=("START", "DURATION"))
    parser.add_argument("--skip", type=int, default=0)
    args = parser.parse_args()

    with open(args.record) as f:
        names = f.readline().split()[:3]
    data = np.loadtxt(args.record, skiprows=1, usecols=(0, 1, 2), ndmin=2)
    time, x = data[:, 0], data[:, 1:].T
    nt = len(time)
    dt = time[1] - time[0]
    nf = max(4, 1 << (nt - 1).bit_length())
    if nf > 32768:
        sys.exit("more than 32768 samples")

    spectrum = np.fft.rfft(x, n=nf) * dt
    dur = nf * dt
    omega = np.arange(nf // 2 + 1) * (2 * np.pi / dur)
    if args.bandpass:
        corners = 2 * np.pi * np.array(args.bandpass)
        spectrum *= np.interp(omega, corners, [0.0, 1.0, 1.0, 0.0], left=0.0, right=0.0)
    if args.integrate:
        factor = {1: 1 / (1j * omega[1:]), 2: -1 / omega[1:] ** 2, 3: 1j * omega[1:]}[args.integrate]
        spectrum[:, 1:] *= factor

    head = "".join(f"{name:20.20s}," for name in names[1:])[:-1]
    amplitude = np.column_stack([omega[1:] / (2 * np.pi), np.abs(spectrum[:, 1:]).T])
    np.savetxt("amp2.csv", amplitude, fmt="%8.4f,%12.4E,%12.4E,", header=" frequency(Hz)," + head, comments="")

    wave = np.fft.irfft(spectrum, n=nf)[:, :nt] / dt
    if args.cut:
        start = int(args.cut[0] / dt)
        count = int(args.cut[1] / dt) + 1
        window = np.zeros((2, count))
        source = np.arange(count) + start
        inside = (source >= 0) & (source < nf)
        window[:, inside] = np.fft.irfft(spectrum, n=nf)[:, source[inside]] / dt
        wave = window
    rows = wave[:, :: args.skip + 1]
    columns = np.column_stack([np.arange(rows.shape[1]) * (args.skip + 1) * dt, rows.T, np.zeros(rows.shape[1])])
    np.savetxt(args.output, columns, fmt="%6.3f,%12.4f,%12.4f,%12.4f,", header=" time(s)," + head, comments="")


if __name__ == "__main__":
    main()
