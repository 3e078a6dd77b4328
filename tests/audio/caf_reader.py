#!/usr/bin/python3
"""Independent CAF reader for the tests: parses the chunks with the standard library only.

usage: caf_reader.py IN.caf OUT.raw
Writes the audio data as signed 16-bit little-endian samples to OUT.raw and prints one line:
rate=<Hz> format=<4cc> flags=<n> bytes_per_packet=<n> frames_per_packet=<n> channels=<n> bits=<n> frames=<n>
"""
import struct
import sys


def main():
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, "rb") as f:
        data = f.read()
    if data[:4] != b"caff":
        sys.exit("not a CAF file")
    pos = 8  # file type, version, flags
    desc = None
    audio = None
    while pos + 12 <= len(data):
        kind = data[pos:pos + 4]
        (size,) = struct.unpack(">q", data[pos + 4:pos + 12])
        body = pos + 12
        if size < 0:  # data chunk of unknown size runs to the end of the file
            size = len(data) - body
        if kind == b"desc":
            desc = struct.unpack(">d4sIIIII", data[body:body + 32])
        elif kind == b"data":
            audio = data[body + 4:body + size]  # skip the edit count
        pos = body + size
    if desc is None or audio is None:
        sys.exit("missing desc or data chunk")
    rate, fmt, flags, bpp, fpp, channels, bits = desc
    if bits != 16 or fmt != b"lpcm":
        sys.exit("not 16-bit linear PCM")
    count = len(audio) // 2
    order = "<" if flags & 2 else ">"
    samples = struct.unpack(order + "%dh" % count, audio[:count * 2])
    with open(dst, "wb") as out:
        out.write(struct.pack("<%dh" % count, *samples))
    print("rate=%d format=%s flags=%d bytes_per_packet=%d frames_per_packet=%d channels=%d bits=%d frames=%d"
          % (rate, fmt.decode(), flags, bpp, fpp, channels, bits, count // channels))


if __name__ == "__main__":
    main()
