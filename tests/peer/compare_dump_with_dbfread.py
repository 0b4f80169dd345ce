"""Checks `dbfrepair dump --json` output against python3-dbfread.

Usage: compare_dump_with_dbfread.py TABLE.dbf DUMP.json [--utf8]

--utf8: read an unmarked table's texts as UTF-8 (as the dump decided).
Without it an unmarked table is read as the tool documents it: UTF-8 when
every text is UTF-8 and one is more than ASCII, DOS 850 when a text holds a
byte Windows-1252 leaves undefined, else Windows-1252.

Every record (deleted ones included, in file order) and every value is
compared; blanks must be null where dbfread gives None, numbers must carry
dbfread's digits exactly (the dump is read with exact decimals), date-times
their milliseconds. The two readers differ by rule in a few places, which
are mapped here instead of being counted as faults:
  - character fields: dbfread strips trailing NULs and spaces, the engine cuts
    at the first NUL and strips trailing white space;
  - dBASE IV memos: dbfread reads 8 bytes past the stored length (it takes
    the stored total for the data length) and cuts at a 0x1F mark, so its
    text may carry up to 8 stale bytes after the engine's;
  - binary values are compared by their length.
Prints "OK <records>" and exits 0 when everything agrees; otherwise prints
one line per difference and exits 1.
"""
import codecs
import decimal
import json
import struct
import sys

import dbfread
from dbfread.memo import BinaryMemo

CODEPAGES = {
    0x01: 'cp437', 0x02: 'cp850', 0x03: 'cp1252', 0x57: 'cp1252', 0x58: 'cp1252', 0x59: 'cp1252',
    0x64: 'cp852', 0x65: 'cp866', 0x26: 'cp866', 0xC8: 'cp1250', 0xC9: 'cp1251', 0xCA: 'cp1254',
    0xCB: 'cp1253', 0x7D: 'cp1255', 0x7E: 'cp1256',
}
WHITE = ' \t\r\n\v\f'

# Bytes a code page leaves undefined (0x81 in Windows-1252) become the code
# point of the same number, as the Windows conversion and the engine's text
# codec do, instead of U+FFFD.
codecs.register_error('samecodepoint', lambda e: (chr(e.object[e.start]), e.start + 1))


DOS_BYTES = frozenset(b'\x81\x8d\x8f\x90\x9d')


def unmarked_encoding(table_path):
    table = dbfread.DBF(table_path, encoding='latin-1', ignore_missing_memofile=True,
                        recfactory=lambda items: [v for _, v in items])
    kinds = [f.type in 'CMV' for f in table.fields]
    texts = [v.encode('latin-1') for records in (table, table.deleted) for r in records
             for v, is_text in zip(r, kinds) if is_text and isinstance(v, str)]
    try:
        if any(max(t, default=0) > 0x7F for t in texts) and all(t.decode('utf-8') is not None for t in texts):
            return 'utf-8'
    except UnicodeDecodeError:
        pass
    return 'cp850' if any(DOS_BYTES.intersection(t) for t in texts) else 'cp1252'


def main():
    table_path, dump_path = sys.argv[1], sys.argv[2]
    with open(dump_path, encoding='utf-8') as f:
        dump = json.load(f, parse_float=decimal.Decimal)
    with open(table_path, 'rb') as f:
        raw = f.read()
    version = raw[0]
    count, header_length, record_length = struct.unpack('<iHH', raw[4:12])
    encoding = CODEPAGES.get(raw[29], 'cp1252')
    if raw[29] not in CODEPAGES:
        encoding = 'utf-8' if sys.argv[3:] == ['--utf8'] else unmarked_encoding(table_path)
    # Values as a list: field names may repeat (dbase_03.dbf has two Point_ID).
    table = dbfread.DBF(table_path, encoding=encoding, char_decode_errors='samecodepoint',
                        ignore_missing_memofile=False, recfactory=lambda items: [v for _, v in items])
    live = iter(table)
    deleted = iter(table.deleted)
    problems = []

    fields = table.fields
    if len(dump['fields']) != len(fields):
        problems.append('field count %d, dbfread %d' % (len(dump['fields']), len(fields)))
    for ours, peer in zip(dump['fields'], fields):
        width = peer.length if peer.type in 'BFINY' else peer.length + 256 * peer.decimal_count
        if (ours['name'], ours['type'], ours['length']) != (peer.name, peer.type, width):
            problems.append('field %r: ours %r, dbfread %r' % (peer.name, ours, (peer.name, peer.type, width)))
        if peer.type in 'FN' and ours['decimals'] != peer.decimal_count:
            problems.append('field %r decimals %d, dbfread %d' % (peer.name, ours['decimals'], peer.decimal_count))

    if len(dump['records']) != count:
        problems.append('record count %d, header %d' % (len(dump['records']), count))

    for index, record in enumerate(dump['records']):
        flag = raw[header_length + index * record_length]
        is_deleted = flag == 0x2A
        if record['deleted'] != is_deleted:
            problems.append('record %d deleted=%r, file flag %r' % (index, record['deleted'], chr(flag)))
        peer_record = next(deleted if is_deleted else live)
        for field, ours, peer in zip(fields, record['values'], peer_record):
            message = compare(field, ours, peer, version, encoding)
            if message:
                problems.append('record %d field %s: %s' % (index, field.name, message))

    for line in problems[:50]:
        print(line)
    if problems:
        print('%d differences' % len(problems))
        sys.exit(1)
    print('OK %d' % len(dump['records']))


def compare(field, ours, peer, version, encoding):
    t = field.type
    if t == 'C' or t not in 'NFDLITYBMGP0':
        expected = None if peer is None else peer.split('\0')[0].rstrip(WHITE)
        got = None if ours is None else ours.rstrip(WHITE)
        return None if got == expected else 'ours %r, dbfread %r' % (ours, peer)
    if t in 'NF':
        if peer is None or ours is None or isinstance(ours, str):
            return None if ours is peer else 'ours %r, dbfread %r' % (ours, peer)
        if isinstance(peer, int):
            return None if decimal.Decimal(ours) == peer else 'ours %r, dbfread %r' % (ours, peer)
        return None if float(ours) == peer else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'D':
        expected = None if peer is None else peer.isoformat()
        return None if ours == expected else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'L':
        return None if ours is peer else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'I':
        return None if ours == peer else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'Y':
        return None if ours is not None and decimal.Decimal(ours) == peer else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'T':
        expected = None if peer is None else peer.isoformat()
        return None if ours == expected else 'ours %r, dbfread %r' % (ours, peer)
    if t == '0':
        expected = int.from_bytes(peer[:4], 'little')
        return None if ours == expected else 'ours %r, dbfread %r' % (ours, peer)
    if t == 'B' and version in (0x30, 0x31, 0x32):
        return None if ours is not None and float(ours) == peer else 'ours %r, dbfread %r' % (ours, peer)
    if t in 'GPB':
        expected = None if peer is None else {'bytes': len(peer)}
        return None if ours == expected else 'ours %r, dbfread %r bytes' % (ours, None if peer is None else len(peer))
    # M
    if isinstance(peer, bytes):
        peer = peer.decode(encoding, errors='samecodepoint')
    if peer is None or peer == '':
        return None if ours in (None, '') else 'ours %r, dbfread %r' % (ours, peer)
    if ours == peer:
        return None
    if version in (0x7B, 0x8B, 0xCB) and ours is not None and peer.startswith(ours) \
            and len(peer) <= len(ours) + 8:
        return None
    return 'ours %r, dbfread %r' % (ours if ours is None else ours[:80], peer[:80])


if __name__ == '__main__':
    main()
