#!/usr/bin/python3
"""The spectrum analysis of fieldmeter written with numpy, for comparison.

usage: reference_analysis.py SECONDS_OF_AUDIO [stream|batch]
Analyses SECONDS_OF_AUDIO of deterministic 16-bit noise in 2048-sample blocks, the way the audio
thread does (s / 32768, real FFT, packed layout scaled by 2, 320 overlapping band powers), and
prints "<blocks> <seconds>" (CPU time of the analysis only).

stream (the default) analyses one block at a time, as blocks arrive from the microphone;
batch vectorises over 512 blocks at once, which only a recording analysed afterwards allows.
"""
import sys
import time

import numpy as np

N = 2048
BANDS = 320
CHUNK = 512  # blocks per vectorised step


def analyse(blocks):
    x = blocks.astype(np.float32) / np.float32(32768.0)
    X = np.fft.rfft(x, axis=1)
    y = np.empty((blocks.shape[0], N), dtype=np.float32)
    y[:, 0::2] = 2.0 * X[:, :N // 2].real
    y[:, 1::2] = 2.0 * X[:, :N // 2].imag
    y[:, 1] = 2.0 * X[:, N // 2].real
    sq = y[:, :4 * BANDS + 1] ** 2
    pairs = sq[:, :-1] + sq[:, 1:]  # pair m of band b is pairs[4b + m - 1]
    p = pairs[:, :4 * BANDS].reshape(blocks.shape[0], BANDS, 4)
    acc = ((p[:, :, 0] + p[:, :, 1]) + p[:, :, 2]) + p[:, :, 3]
    return np.float32(0.25) * acc


def main():
    seconds = float(sys.argv[1])
    mode = sys.argv[2] if len(sys.argv) > 2 else "stream"
    total = int(seconds * 44100) // N
    rng = np.random.default_rng(7)
    source = rng.integers(-32768, 32768, size=(CHUNK, N), dtype=np.int16)
    if mode == "stream":
        start = time.process_time()
        checksum = 0.0
        for b in range(total):
            powers = analyse(source[b % CHUNK:b % CHUNK + 1])
            checksum += float(powers[0, 0])
        print(total, time.process_time() - start)
        return
    elapsed = 0.0
    done = 0
    checksum = 0.0
    while done < total:
        count = min(CHUNK, total - done)
        start = time.process_time()
        powers = analyse(source[:count])
        elapsed += time.process_time() - start
        checksum += float(powers[0, 0])
        done += count
    print(total, elapsed)


if __name__ == "__main__":
    main()
