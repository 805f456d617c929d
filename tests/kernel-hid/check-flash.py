#!/usr/bin/env python3
"""Checks a device's flash dump against a firmware file, reading the file format on its own.

  check-flash.py DUMP --image FILE.ksf --header-at ADDR   the image was written
  check-flash.py DUMP --untouched ADDR:LEN                 only ADDR:LEN differs from 0xFF

A written image: the header block (fixed part and section table) at ADDR, every ordinary
section's data at its flash address, every clear section (name containing "Factory.CLR." or
"Upgrade.CLR") erased to 0x00, every "Upgrade." section left blank (0xFF).
Prints one line per checked range; exits 1 on the first mismatch.
"""
import struct
import sys


def fail(text):
    print("  MISMATCH: " + text)
    sys.exit(1)


def check_image(flash, image_path, header_at):
    data = open(image_path, "rb").read()
    if data[0:4] != b"KSFH":
        fail(image_path + " is not a firmware file")
    header_size = struct.unpack_from("<H", data, 10)[0]
    count = data[156]
    if header_size != 157 + 28 * count:
        fail("bad header size in " + image_path)
    if flash[header_at:header_at + header_size] != data[:header_size]:
        fail("header block at 0x%x differs" % header_at)
    print("  header block at 0x%x, %d bytes: ok" % (header_at, header_size))
    offset = header_size
    for i in range(count):
        entry = data[157 + 28 * i:157 + 28 * (i + 1)]
        name = entry[:16].split(b"\0")[0].decode("ascii")
        address, length = struct.unpack_from("<II", entry, 16)
        body = data[offset:offset + length]
        offset += length
        got = flash[address:address + length]
        if name.startswith("Upgrade."):
            want, what = b"\xff" * length, "left alone"
        elif "Factory.CLR." in name or "Upgrade.CLR" in name:
            want, what = b"\x00" * length, "erased"
        else:
            want, what = body, "written"
        if got != want:
            first = next(i for i in range(length) if got[i] != want[i])
            fail("section %s at 0x%x: byte 0x%x is 0x%02x, expected 0x%02x (%s)"
                 % (name, address, address + first, got[first], want[first], what))
        print("  section %-14s 0x%06x, %6d bytes %s: ok" % (name, address, length, what))


def check_untouched(flash, spec):
    address, length = (int(x, 0) for x in spec.split(":"))
    outside = flash[:address] + flash[address + length:]
    if outside.count(0xFF) != len(outside):
        first = next(i for i, b in enumerate(flash) if b != 0xFF and not address <= i < address + length)
        fail("byte 0x%x changed to 0x%02x" % (first, flash[first]))
    print("  unchanged outside 0x%x..0x%x: ok" % (address, address + length))


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    flash = open(argv[1], "rb").read()
    print("flash check " + argv[1])
    if argv[2] == "--image" and len(argv) == 6 and argv[4] == "--header-at":
        check_image(flash, argv[3], int(argv[5], 0))
    elif argv[2] == "--untouched" and len(argv) == 4:
        check_untouched(flash, argv[3])
    else:
        print(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
