#!/usr/bin/python3
"""Writes damaged copies of the real tables to a folder, the same bytes on
every run: one folder per copy, holding the table and its memo file.

    make_damaged_tables.py SOURCE_FOLDER OUT_FOLDER

Prints the number of tables written."""
import os
import random
import shutil
import sys


def memo_of(folder, table):
    stem = os.path.splitext(table)[0]
    for name in sorted(os.listdir(folder)):
        base, ext = os.path.splitext(name)
        if base == stem and ext.lower() in ('.fpt', '.dbt', '.smt'):
            return name
    return None


def damages(data, rnd):
    """(name, new table bytes or None for the memo damage) for one table."""
    n = len(data)
    header = int.from_bytes(data[8:10], 'little')
    record = max(1, int.from_bytes(data[10:12], 'little'))
    out = [('counts_zeroed', data[:4] + bytes(8) + data[12:]),
           ('count_high', data[:4] + (int.from_bytes(data[4:8], 'little') + 7).to_bytes(4, 'little') + data[8:]),
           ('no_eof_mark', data[:-1] if data[-1:] == b'\x1a' else data + b'\x1a'),
           ('junk_after_end', data + b'Q' * (2 * record + 3)),
           ('memo_header_zeroed', None)]
    if header < n:
        cut = header + (n - header) // 2 + record // 3
        out.append(('cut_mid_record', data[:cut]))
        for i in range(6):
            pos = rnd.randrange(header, n)
            span = rnd.randrange(1, 40)
            blob = bytes(rnd.randrange(256) for _ in range(span))
            out.append(('bytes_%d' % i, data[:pos] + blob + data[pos + span:]))
        pos = rnd.randrange(header, n)
        out.append(('bytes_lost', data[:pos] + data[pos + rnd.randrange(1, 3 * record):]))
        pos = rnd.randrange(header, n)
        out.append(('bytes_added', data[:pos] + bytes(rnd.randrange(1, record + 2)) + data[pos:]))
    pos = rnd.randrange(32, max(33, min(header, n)))
    out.append(('descriptor_byte', data[:pos] + bytes([data[pos] ^ 0x5A]) + data[pos + 1:]))
    return out


def main():
    source, target = sys.argv[1], sys.argv[2]
    rnd = random.Random(20240607)
    count = 0
    for table in sorted(os.listdir(source)):
        if not table.lower().endswith('.dbf'):
            continue
        data = open(os.path.join(source, table), 'rb').read()
        memo = memo_of(source, table)
        for name, damaged in damages(data, rnd):
            if damaged is None and memo is None:
                continue
            folder = os.path.join(target, '%s_%s' % (os.path.splitext(table)[0], name))
            os.makedirs(folder)
            with open(os.path.join(folder, table), 'wb') as f:
                f.write(data if damaged is None else damaged)
            if memo:
                shutil.copyfile(os.path.join(source, memo), os.path.join(folder, memo))
                if damaged is None:
                    with open(os.path.join(folder, memo), 'r+b') as f:
                        f.write(bytes(8))
            count += 1
    print(count)


main()
