#!/usr/bin/env python3
"""Writes examples/damaged_sales.dbf and its memo file damaged_sales.fpt: a
small FoxPro sales table written by python3-dbf, then damaged the way real
tables get damaged:

  * the header's record count, header length and record length are zeroed
    (a crash while the header was being rewritten);
  * the first record is marked deleted;
  * one memo was edited, so the memo file holds an abandoned old value;
  * half a record of junk follows the end-of-file mark (an append that
    never finished);
  * the memo file's header (next free block, block size) is zeroed.

Run with the system interpreter, which has python3-dbf:

    /usr/bin/python3 examples/make_damaged_sample.py [OUT_FOLDER]

Repair it with:  build/bin/dbfrepair repair examples/damaged_sales.dbf -o /tmp
"""
import datetime
import os
import sys

import dbf

ROWS = [
    (1001, "Hallvard Trading", "Oslo", 1250.00, datetime.date(2023, 1, 9), True,
     "First order of the year. Delivered by sea freight."),
    (1002, "Maison Perrault", "Lyon", 89.90, datetime.date(2023, 1, 17), True, "Sample pack."),
    (1003, "Quinta do Vale", "Porto", 4300.50, datetime.date(2023, 2, 2), False,
     "Large order in three parts; the customer asked for monthly invoices "
     "and a single delivery address for all three parts. " * 3),
    (1004, "Bursztyn Sp. z o.o.", "Gdansk", 15.00, datetime.date(2023, 2, 28), True, ""),
    (1005, "Daugava Tools", "Riga", 730.25, datetime.date(2023, 3, 14), False, "Pays on 30 days."),
    (1006, "Aura Design Oy", "Turku", 2999.99, datetime.date(2023, 4, 1), True, "Repeat customer."),
    (1007, "Pivovar Brno", "Brno", 120.00, datetime.date(2023, 4, 22), True, "Returned one crate."),
    (1008, "Shandon Books", "Cork", 64.10, datetime.date(2023, 5, 5), False, "Ask for the VAT number."),
]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(out, "damaged_sales.dbf")
    memo = os.path.join(out, "damaged_sales.fpt")
    for p in (path, memo):
        if os.path.exists(p):
            os.remove(p)
    table = dbf.Table(path, "id N(6,0); customer C(25); city C(15); amount N(10,2); sold D; paid L; notes M",
                      dbf_type="fp", codepage="cp1252")
    table.open(dbf.READ_WRITE)
    for row in ROWS:
        table.append(row)
    with table[4] as record:
        record.notes = "Pays on 30 days; the reminder of 15 May was answered with a partial payment."
    dbf.delete(table[0])
    table.close()

    data = bytearray(open(path, "rb").read())
    record_length = data[10] | (data[11] << 8)
    data[1:4] = bytes([123, 6, 1])  # a fixed last-update date keeps the file reproducible
    data[4:12] = bytes(8)
    data += b"\x1a" if data[-1:] != b"\x1a" else b""
    data += b" 1009Half-written appe" + bytes(max(0, record_length // 2 - 21))
    open(path, "wb").write(bytes(data))

    memo_data = bytearray(open(memo, "rb").read())
    memo_data[0:8] = bytes(8)
    open(memo, "wb").write(bytes(memo_data))


if __name__ == "__main__":
    main()
