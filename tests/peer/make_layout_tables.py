"""Writes undamaged tables of unusual but real layouts, for the fixed-point
test of the repair (a table that needs no repair must come back exactly).

Usage: make_layout_tables.py OUTDIR

Every table is written by python3-dbf and then byte-patched where
python3-dbf cannot write the layout itself. Each has at least 20 records,
at least one of them deleted, and many character values that are long runs
of spaces (a record that is nearly all blanks looks like a record start
anywhere). Prints the names of the tables written, one a line.

  pad_nul_db3        dBASE III, one 0x00 after the header terminator
  pad_gis2_db3memo   dBASE III with memo, 2 zero bytes after the terminator
  pad_gis7_db3       dBASE III, 7 zero bytes after the terminator
  clipper_c300       Clipper, C(300) (high byte of the width in the decimals)
  vfp32_varchar      Visual FoxPro 0x32 with V and Q columns and _NullFlags
  no_columns         no field at all: 33-byte header, 1-byte records
  fox_general        FoxPro 2.x, G picture blobs (memo block type 0) and M
  db4_memo512        dBASE IV (0x8B) with a dBASE IV .dbt of 512-byte blocks
  vfp30_types        Visual FoxPro 0x30: nullable fields, Y(4), T with
                     milliseconds and blank, N(19) of 19 digits, blank dates
  vfp31_autoinc      Visual FoxPro 0x31 with an autoincrement integer
  repeated_names     dBASE III, two columns of the same name
  utf8_cp0           dBASE III, UTF-8 text under code-page mark 0
"""
import datetime
import decimal
import os
import struct
import sys

import dbf

OUT = sys.argv[1]
N = 24  # records per table
WRITTEN = []


def path(name, ext='.dbf'):
    return os.path.join(OUT, name + ext)


def spaces_text(i, width):
    """Character values, most of them long runs of spaces."""
    kind = i % 4
    if kind == 0:
        return ''
    if kind == 1:
        return ' ' * (width // 2) + 'r%d' % i
    if kind == 2:
        return 'row %d' % i
    return 'x'


def write(name, structure, kind, rows, deleted=(3, 17), codepage='cp1252'):
    t = dbf.Table(path(name), structure, dbf_type=kind, codepage=codepage)
    t.open(dbf.READ_WRITE)
    for row in rows:
        t.append(row)
    for i in deleted:
        dbf.delete(t[i])
    t.close()
    WRITTEN.append(name)


def load(name, ext='.dbf'):
    with open(path(name, ext), 'rb') as f:
        return bytearray(f.read())


def save(name, data, ext='.dbf'):
    with open(path(name, ext), 'wb') as f:
        f.write(bytes(data))


def layout(data):
    """(header length, record length, count, [descriptor dicts])."""
    count, header_length, record_length = struct.unpack('<IHH', data[4:12])
    fields = []
    pos, offset = 32, 1
    while pos + 32 <= header_length and data[pos] != 0x0D:
        d = data[pos:pos + 32]
        width = d[16] | (d[17] << 8) if chr(d[11]) == 'C' and data[0] not in (0x30, 0x31, 0x32) else d[16]
        fields.append({'name': bytes(d[:11]).split(b'\0')[0].decode('ascii'), 'type': chr(d[11]),
                       'pos': pos, 'offset': offset, 'width': width})
        offset += width
        pos += 32
    return header_length, record_length, count, fields


def field(fields, name):
    return next(f for f in fields if f['name'].upper() == name.upper())


def put(data, record, f, value):
    """Writes value (bytes, exactly the field's width) into a record."""
    header_length, record_length, _, _ = layout(data)
    assert len(value) == f['width'], (f['name'], value)
    at = header_length + record * record_length + f['offset']
    data[at:at + len(value)] = value


def pad_header(name, extra):
    """Moves the records back by len(extra) bytes placed after the 0x0D."""
    data = load(name)
    header_length = struct.unpack('<H', data[8:10])[0]
    data[header_length:header_length] = extra
    data[8:10] = struct.pack('<H', header_length + len(extra))
    save(name, data)


# 1. Header length a few bytes past the terminator.
PLAIN = 'name C(40); code C(8); qty N(8,2); day D; ok L'


def plain_rows():
    # The first record is blank but for its logical: the record area starts
    # with a long run of spaces.
    return [(spaces_text(i, 40), 'C%d' % i if i % 3 else '', None if i % 4 == 0 else i * 1.25 - 7,
             datetime.date(2000 + i, 1 + i % 12, 1 + i) if i % 5 else None, [None, False, True][i % 3]) for i in range(N)]


write('pad_nul_db3', PLAIN, 'db3', plain_rows())
pad_header('pad_nul_db3', b'\x00')
write('pad_gis2_db3memo', PLAIN + '; notes M', 'db3',
      [r + ('memo %d ' % i * (i % 7) if i % 4 else '',) for i, r in enumerate(plain_rows())])
pad_header('pad_gis2_db3memo', b'\x00' * 2)
write('pad_gis7_db3', PLAIN, 'db3', plain_rows())
pad_header('pad_gis7_db3', b'\x00' * 7)

# 2. Clipper character field wider than 255 bytes (python3-dbf writes the
# high byte of the width into the decimals byte itself).
write('clipper_c300', 'name C(300); code C(12); qty N(9,3); day D; ok L', 'clp',
      [(spaces_text(i, 300) + ('' if i % 2 else ' tail'), 'k%d' % i, i / 8, datetime.date(1990, 1, 1 + i), i % 2 == 0)
       for i in range(N)])
assert load('clipper_c300')[48:50] == bytearray([44, 1])

# 3. Visual FoxPro 0x32 with varchar and varbinary. python3-dbf writes C
# columns that become V and Q; the values and _NullFlags are then laid out
# as Visual FoxPro does: a value shorter than the column keeps its length in
# the column's last byte and sets the column's varlength bit; a nullable
# varchar's null bit follows its varlength bit. python3-dbfread knows neither
# V nor Q and python3-dbf opens no 0x32 table: this table is checked by its
# bytes only.
write('vfp32_varchar', 'name C(10) null; vtext C(20) null; vbin C(12) binary; cnt I', 'vfp',
      [('n%d' % i, 'placeholder', b'placeholder', i) for i in range(N)])
data = load('vfp32_varchar')
data[0] = 0x32
header_length, record_length, count, fields = layout(data)
vtext, vbin, nulls, name = (field(fields, n) for n in ('VTEXT', 'VBIN', '_NullFlags', 'NAME'))
data[vtext['pos'] + 11] = ord('V')
data[vtext['pos'] + 18] = 0x02  # nullable
data[vbin['pos'] + 11] = ord('Q')
data[vbin['pos'] + 18] = 0x04  # binary
data[nulls['pos']:nulls['pos'] + 11] = b'_NullFlags\0'  # as Visual FoxPro spells it
assert nulls['width'] == 1
# Bits: NAME null 0; VTEXT varlength 1, null 2; VBIN varlength 3.
for i in range(N):
    flags = 0
    if i % 6 == 5:
        put(data, i, name, b' ' * 10)
        flags |= 1
    text = [b'', b'short', b' ' * 15 + b'end', b'exactly twenty chars', None][i % 5]
    if text is None:
        put(data, i, vtext, b' ' * 20)
        flags |= 4
    elif len(text) < 20:
        put(data, i, vtext, text + b' ' * (19 - len(text)) + bytes([len(text)]))
        flags |= 2
    else:
        put(data, i, vtext, text)
    blob = [b'\x00\x01\x1a\xff', b'', b'twelve bytes', b'\x0d' * 11][i % 4]
    if len(blob) < 12:
        put(data, i, vbin, blob + b'\x00' * (11 - len(blob)) + bytes([len(blob)]))
        flags |= 8
    else:
        put(data, i, vbin, blob)
    put(data, i, nulls, bytes([flags]))
save('vfp32_varchar', data)

# 4. A table without columns, built from a one-column table with the
# column taken out: 33-byte header, 1-byte records (the deletion mark).
write('no_columns', 'only C(1)', 'db3', [('a',) for i in range(N)], deleted=(0, 9))
data = load('no_columns')
header_length, record_length, count, _ = layout(data)
marks = [data[header_length + i * record_length] for i in range(count)]
data = data[:32] + b'\x0d' + bytes(marks) + b'\x1a'
data[8:12] = struct.pack('<HH', 33, 1)
save('no_columns', data)

# 5. FoxPro 2.x with pictures in a G column (memo block type 0) and texts.
BLOBS = [b'\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR' + bytes(range(256)), b'GIF89a\x01\x00\x01\x00\x00\x1a\x1a',
         b'\x00' * 70, None]
write('fox_general', 'name C(30); pic G; notes M; qty N(6,0)', 'fp',
      [(spaces_text(i, 30), BLOBS[i % 4], 'text %d ' % i * (i % 5) if i % 3 else '', i) for i in range(N)])
data, memo = load('fox_general'), load('fox_general', '.fpt')
header_length, record_length, count, fields = layout(data)
block_size = struct.unpack('>H', memo[6:8])[0]
pic = field(fields, 'PIC')
for i in range(N):
    at = header_length + i * record_length + pic['offset']
    ref = bytes(data[at:at + pic['width']]).strip()
    if ref and int(ref):
        memo[int(ref) * block_size:int(ref) * block_size + 4] = b'\x00\x00\x00\x00'
save('fox_general', memo, '.fpt')

# 6. dBASE IV with its own memo file: python3-dbf writes no dBASE IV table,
# so a dBASE III one gets the 0x8B mark and a .dbt in the dBASE IV layout
# (block size at offset 20, each value behind FF FF 08 00 and its length).
TEXTS = ['dBASE IV memo %d ' % i * (i % 9) + '\r\nline two' if i % 4 else '' for i in range(N)]
TEXTS[5] = 'y' * 1300  # three blocks
write('db4_memo512', 'name C(25); notes M; amount N(10,2)', 'db3',
      [(spaces_text(i, 25), TEXTS[i], i * 3.5) for i in range(N)])
data = load('db4_memo512')
data[0] = 0x8B
header_length, record_length, count, fields = layout(data)
notes = field(fields, 'NOTES')
memo = bytearray(512)
for i, text in enumerate(TEXTS):
    if not text:
        put(data, i, notes, b' ' * 10)
        continue
    block = len(memo) // 512
    value = b'\xff\xff\x08\x00' + struct.pack('<I', len(text) + 8) + text.encode('cp1252')
    memo += value + b'\x00' * (-len(value) % 512)
    put(data, i, notes, str(block).rjust(10).encode())
memo[0:4] = struct.pack('<I', len(memo) // 512)
memo[8:16] = b'DB4_MEMO'
memo[16:22] = b'\x00\x00\x02\x01\x00\x02'
save('db4_memo512', data)
save('db4_memo512', memo, '.dbt')


# 7. Visual FoxPro 0x30 types, and 0x31 with an autoincrement column.
def vfp_time(moment, msec):
    day = moment.date().toordinal() + 1721425
    return struct.pack('<II', day, (moment.hour * 3600 + moment.minute * 60 + moment.second) * 1000 + msec)


write('vfp30_types', 'name C(30) null; price Y; stamp T; big N(19,0); day D null; cnt I; ok L null; note C(50); memo M null',
      'vfp',
      [(None if i % 7 == 6 else spaces_text(i, 30), decimal.Decimal(i * 1001) / 10000 - 1, None, i, None if i % 3 else datetime.date(2020, 2, 29),
        -i, None if i % 5 == 0 else i % 2 == 1, spaces_text(i + 1, 50), None if i % 4 == 0 else 'vfp memo %d' % i)
       for i in range(N)])
data = load('vfp30_types')
header_length, record_length, count, fields = layout(data)
data[field(fields, 'PRICE')['pos'] + 17] = 4  # Visual FoxPro keeps 4 decimals for currency
for i in range(N):
    moment = datetime.datetime(2005, 3, 7, 17, 13, 4) + datetime.timedelta(days=i, seconds=i * 37)
    # 17:13:04.999 and the like; every fourth stamp blank (8 zero bytes).
    put(data, i, field(fields, 'STAMP'), b'\x00' * 8 if i % 4 == 3 else vfp_time(moment, 999 - i))
    big = [b'1234567890123456789', b'-123456789012345678', b' ' * 19, b'0'.rjust(19)][i % 4]
    put(data, i, field(fields, 'BIG'), big)
save('vfp30_types', data)
assert data[29] == 0x03

write('vfp31_autoinc', 'id I; name C(20); qty N(6,0); stamp T', 'vfp',
      [(i + 1, spaces_text(i, 20), i * 10, datetime.datetime(2010, 1, 1, 0, 0, i)) for i in range(N)])
data = load('vfp31_autoinc')
data[0] = 0x31
header_length, record_length, count, fields = layout(data)
ident = field(fields, 'ID')
data[ident['pos'] + 18] = 0x0C  # autoincrement
data[ident['pos'] + 19:ident['pos'] + 24] = struct.pack('<IB', N + 1, 1)  # next value, step
save('vfp31_autoinc', data)

# 8. Two columns of the same name.
write('repeated_names', 'name C(20); qty N(6,0); other C(20)', 'db3',
      [(spaces_text(i, 20), i, spaces_text(i + 2, 20)) for i in range(N)])
data = load('repeated_names')
header_length, record_length, count, fields = layout(data)
data[field(fields, 'OTHER')['pos']:field(fields, 'OTHER')['pos'] + 11] = data[32:43]
save('repeated_names', data)

# 9. UTF-8 text under code-page mark 0 (no code page): bytes a reader must
# keep as they are.
WORDS = ['Zoë Ærøskøbing', 'Москва', '東京都', 'naïve café', '', 'ĀĒĪŌŪ ' * 2]
write('utf8_cp0', 'name C(40); city C(30); qty N(5,0)', 'db3',
      [('placeholder', 'placeholder', i) for i in range(N)])
data = load('utf8_cp0')
data[29] = 0
header_length, record_length, count, fields = layout(data)
for i in range(N):
    put(data, i, field(fields, 'NAME'), WORDS[i % 6].encode('utf-8').ljust(40))
    put(data, i, field(fields, 'CITY'), (' ' * 8 + WORDS[(i + 1) % 6]).encode('utf-8').ljust(30))
save('utf8_cp0', data)

print('\n'.join(WRITTEN))
