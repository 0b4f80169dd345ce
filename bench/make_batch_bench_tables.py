#!/usr/bin/env python3
"""Writes the tables of the batch benchmark into DIR:

    DIR/small/s0000.dbf ... s0999.dbf   1,000 FoxPro tables with memos,
                                        1 to 200 KB each (table and .fpt)
    DIR/big/b00.dbf ... b19.dbf         20 tables of about 20 MB each

Every third table has its record count and header length zeroed, as a
damaged header has them, so the batch repairs real damage too.

    make_batch_bench_tables.py DIR [SMALL] [BIG] [BIG_MB]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_memo_bench_table import write_table  # noqa: E402

# About 1.1 KB of table and memo per record.
BYTES_PER_RECORD = 1130


def damage(path):
    with open(path, 'r+b') as f:
        f.seek(4)
        f.write(bytes(6))


def main():
    out = sys.argv[1]
    small = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    big = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    big_mb = int(sys.argv[4]) if len(sys.argv) > 4 else 20
    os.makedirs(os.path.join(out, 'small'), exist_ok=True)
    os.makedirs(os.path.join(out, 'big'), exist_ok=True)
    n = 0
    for i in range(small):
        # Sizes spread evenly from 1 KB to 200 KB.
        kb = 1 + (i * 7919) % 200
        path = os.path.join(out, 'small', 's%04d.dbf' % i)
        write_table(path, max(1, kb * 1024 // BYTES_PER_RECORD))
        if n % 3 == 0:
            damage(path)
        n += 1
    for i in range(big):
        path = os.path.join(out, 'big', 'b%02d.dbf' % i)
        write_table(path, big_mb * 1000000 // BYTES_PER_RECORD)
        if n % 3 == 0:
            damage(path)
        n += 1


if __name__ == '__main__':
    main()
