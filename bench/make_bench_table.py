#!/usr/bin/env python3
"""Writes a Visual FoxPro table without memo of about SIZE megabytes for the
comparison benchmark: twelve fields of mixed types (C, N, F, D, L, I, Y, T,
B), varied values, every record live.

    make_bench_table.py OUT.dbf [SIZE_MB]

The records are built in batches with struct, so 200 MB take seconds.
"""
import datetime
import struct
import sys

FIELDS = [  # name, type, length, decimals
    ("NAME", "C", 30, 0),
    ("CITY", "C", 20, 0),
    ("AMOUNT", "N", 10, 2),
    ("QTY", "N", 8, 0),
    ("RATE", "F", 12, 4),
    ("BORN", "D", 8, 0),
    ("ACTIVE", "L", 1, 0),
    ("COUNT", "I", 4, 0),
    ("PRICE", "Y", 8, 0),
    ("STAMP", "T", 8, 0),
    ("RATIO", "B", 8, 0),
    ("CODE", "C", 10, 0),
]

CITIES = [b"Oslo", b"Lyon", b"Porto", b"Gdansk", b"Riga", b"Turku", b"Brno", b"Cork"]


def header(count):
    record_length = 1 + sum(f[2] for f in FIELDS)
    header_length = 32 + 32 * len(FIELDS) + 1 + 263
    out = bytearray(struct.pack("<BBBBIHH", 0x30, 124, 1, 1, count, header_length, record_length))
    out += bytes(20)
    offset = 1
    for name, ftype, length, decimals in FIELDS:
        flags = 0x04 if ftype in "IYTB" else 0
        d = bytearray(32)
        d[0:len(name)] = name.encode()
        d[11] = ord(ftype)
        d[12:16] = struct.pack("<I", offset)
        d[16] = length
        d[17] = decimals
        d[18] = flags
        out += d
        offset += length
    out += b"\x0d" + bytes(263)
    return bytes(out), record_length


def record(i):
    name = (b"Customer %07d" % i).ljust(30)
    city = CITIES[i % len(CITIES)].ljust(20)
    amount = (b"%.2f" % ((i % 100000) / 7.0)).rjust(10)
    qty = (b"%d" % (i % 9973)).rjust(8)
    rate = (b"%.4f" % ((i % 1000) / 13.0)).rjust(12)
    day = datetime.date(1950, 1, 1) + datetime.timedelta(days=i % 25000)
    born = day.strftime("%Y%m%d").encode()
    active = b"T" if i % 3 else b"F"
    count = struct.pack("<i", i - 500000)
    price = struct.pack("<q", (i % 1000000) * 137)
    stamp = struct.pack("<ii", 2451545 + i % 9000, (i % 86400) * 1000)
    ratio = struct.pack("<d", i / 3.0)
    code = (b"K%06d" % (i % 1000000)).ljust(10)
    return b" " + name + city + amount + qty + rate + born + active + count + price + stamp + ratio + code


def main():
    path = sys.argv[1]
    size_mb = float(sys.argv[2]) if len(sys.argv) > 2 else 200.0
    _, record_length = header(0)
    count = int(size_mb * 1024 * 1024 / record_length)
    head, _ = header(count)
    with open(path, "wb") as f:
        f.write(head)
        batch = []
        for i in range(count):
            batch.append(record(i))
            if len(batch) == 20000:
                f.write(b"".join(batch))
                batch = []
        f.write(b"".join(batch))
        f.write(b"\x1a")


if __name__ == "__main__":
    main()
