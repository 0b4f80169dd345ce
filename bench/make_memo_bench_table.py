#!/usr/bin/env python3
"""Writes a memo-heavy FoxPro 2.x table for the comparison benchmark: RECORDS
records (default 200,000) of C, N, D and M fields, each with a memo text of
about 1 KB, in a .fpt with 64-byte blocks (about 12 MB of table and 200 MB of
memo for the default).

    make_memo_bench_table.py OUT.dbf [RECORDS]

The memo file is named after the table (OUT.fpt). Bytes are laid out with
struct, so the default size takes seconds.
"""
import struct
import sys

def write_table(out, records):
    """Writes OUT (and OUT's .fpt) with RECORDS records; returns nothing."""
    memo_path = out[:out.rindex('.')] + '.fpt'
    BLOCK = 64

    fields = [("NAME", b"C", 30, 0), ("AMOUNT", b"N", 10, 2), ("BORN", b"D", 8, 0), ("NOTES", b"M", 10, 0)]
    reclen = 1 + sum(f[2] for f in fields)
    header_len = 32 + 32 * len(fields) + 1
    header = struct.pack('<BBBBIHH', 0xF5, 126, 12, 9, records, header_len, reclen) + bytes(16) + b'\x00' + b'\x03' + bytes(2)
    for name, kind, length, decimals in fields:
        header += name.encode().ljust(11, b'\0') + kind + bytes(4) + bytes([length, decimals]) + bytes(14)
    header += b'\r'

    words = b"ledger invoice payment customer balance account supplier order delivery return "
    with open(out, 'wb') as table, open(memo_path, 'wb') as memo:
        table.write(header)
        memo.write(struct.pack('>IHH', 0, 0, BLOCK).ljust(512, b'\0'))
        block = 512 // BLOCK
        batch = []
        memo_batch = []
        for i in range(records):
            text = (words * 13)[: 900 + i % 200] + str(i).encode()
            value = struct.pack('>II', 1, len(text)) + text
            padded = value.ljust(-(-len(value) // BLOCK) * BLOCK, b'\0')
            memo_batch.append(padded)
            batch.append(b' ' + ('customer %d' % i).encode().ljust(30) + ('%10.2f' % (i * 1.25 % 99999)).encode()
                         + ('%04d%02d%02d' % (1990 + i % 30, 1 + i % 12, 1 + i % 28)).encode()
                         + ('%10d' % block).encode())
            block += len(padded) // BLOCK
            if len(batch) == 4096:
                table.write(b''.join(batch))
                memo.write(b''.join(memo_batch))
                batch, memo_batch = [], []
        table.write(b''.join(batch) + b'\x1a')
        memo.write(b''.join(memo_batch))
        memo.seek(0)
        memo.write(struct.pack('>I', block))


if __name__ == '__main__':
    write_table(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 200000)
