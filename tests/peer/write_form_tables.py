"""Writes tables for the dump's value-form tests, with python3-dbf where it
can and byte patches where it cannot write the form.

Usage: write_form_tables.py OUTDIR

  forms.dbf   dBASE III: N(19) holding 1234567890123456789 (python3-dbf
              rounds it through a float: patched), blank and asterisk-filled
              numbers, blank and all-zero dates, logicals "?" and blank
  stamps.dbf  Visual FoxPro: date-times with milliseconds, blank as spaces
              and as 8 zero bytes, currency
  dup.dbf     dBASE III with two fields named A
  utf8.dbf    dBASE III, code page mark 0, texts stored as UTF-8
  ansi.dbf    dBASE III, code page mark 0, texts stored as Windows-1252
  nofields.dbf, nofields_pad.dbf
              no fields at all (shapefile attribute tables): header of 33
              bytes, and 40 with padding after the terminator; records of
              the deletion flag alone

Every table has at least one deleted record.
"""
import datetime
import decimal
import os
import struct
import sys

import dbf

out = sys.argv[1]


def path(name):
    return os.path.join(out, name)


def field_offsets(name):
    """Offset of each field's bytes inside a record, header length and
    record length, read from the file python3-dbf wrote."""
    with open(path(name), 'rb') as f:
        raw = f.read()
    header_length, record_length = struct.unpack('<HH', raw[8:12])
    offsets, pos, at = [], 1, 32
    while raw[at] != 0x0D:
        offsets.append(pos)
        pos += raw[at + 16]
        at += 32
    return raw, header_length, record_length, offsets


def patch(name, record, field, data):
    raw, header_length, record_length, offsets = field_offsets(name)
    at = header_length + record * record_length + offsets[field]
    raw = raw[:at] + data + raw[at + len(data):]
    with open(path(name), 'wb') as f:
        f.write(raw)


def set_byte(name, offset, data):
    with open(path(name), 'r+b') as f:
        f.seek(offset)
        f.write(data)


t = dbf.Table(path('forms.dbf'), 'big N(19,0); amt N(8,2); ratio F(10,3); day D; ok L',
              dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append((1, None, None, None, None))
t.append((0, 0, 0, datetime.date(2020, 1, 2), True))
t.append((-5, 12.5, -0.125, datetime.date(1999, 12, 31), False))
t.append((7, 1, 2, datetime.date(2001, 2, 3), True))
dbf.delete(t[3])
t.close()
patch('forms.dbf', 0, 0, b'1234567890123456789')
patch('forms.dbf', 1, 4, b'?')
patch('forms.dbf', 2, 1, b'********')
patch('forms.dbf', 2, 3, b'00000000')
patch('forms.dbf', 3, 0, b'   -0000000000000.5')

t = dbf.Table(path('stamps.dbf'), 'stamp T; price Y', dbf_type='vfp', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append((datetime.datetime(2006, 7, 4, 14, 5, 9, 999000), decimal.Decimal('92233720368547.5807')))
t.append((None, decimal.Decimal('-0.0001')))
t.append((datetime.datetime(1900, 1, 1, 0, 0, 1, 5000), decimal.Decimal('1.5')))
t.append((datetime.datetime(2000, 2, 29, 23, 59, 59), decimal.Decimal('0')))
dbf.delete(t[2])
t.close()
patch('stamps.dbf', 3, 0, b'\0' * 8)

t = dbf.Table(path('dup.dbf'), 'a C(5); b N(4,0); c L', dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append(('one', 1, True))
t.append(('two', 2, False))
dbf.delete(t[1])
t.close()
set_byte('dup.dbf', 64, b'A\0')

for name, text in (('utf8.dbf', 'Zoë Ĳ — ✓'.encode('utf-8').decode('cp1252', errors='surrogateescape')),
                   ('ansi.dbf', 'Zoë Å')):
    t = dbf.Table(path(name), 'name C(20); n N(3,0)', dbf_type='db3', codepage='cp1252')
    t.open(dbf.READ_WRITE)
    t.append(('plain', 1))
    t.append((text, 2))
    t.append(('gone', 3))
    dbf.delete(t[2])
    t.close()
    set_byte(name, 29, b'\0')

for name, padding in (('nofields.dbf', 0), ('nofields_pad.dbf', 7)):
    today = datetime.date.today()
    flags = b' * ' + b' ' * 20 + b'*'
    header = struct.pack('<BBBBIHH20x', 0x03, today.year - 1900, today.month, today.day, len(flags),
                         33 + padding, 1)
    with open(path(name), 'wb') as f:
        f.write(header + b'\r' + b'\0' * padding + flags + b'\x1a')
