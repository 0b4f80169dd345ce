"""Writes tables with python3-dbf for the peer-agreement tests.

Usage: write_peer_tables.py OUTDIR

  db3.dbf + db3.dbt   dBASE III with memo (C, N, L, D, M)
  fp.dbf  + fp.fpt    FoxPro 2.x with memo (C, N, F, L, D, M)
  vfp.dbf + vfp.fpt   Visual FoxPro (C, I, Y, T, B, L, D, M, N; nullable fields)
  cyr.dbf             dBASE III, code page 1251, Cyrillic text

Every table has a record marked deleted; the memo tables have a memo text
longer than 255 bytes, an empty one and a missing one.
"""
import datetime
import decimal
import os
import sys

import dbf

out = sys.argv[1]
LONG = ''.join(chr(ord('a') + i % 26) for i in range(700)) + '\r\nsecond line'


def path(name):
    return os.path.join(out, name)


t = dbf.Table(path('db3.dbf'), 'name C(20); notes M; amount N(10,2); flag L; day D',
              dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append(('Zoë Å', LONG, 1234.5, True, datetime.date(2020, 1, 2)))
t.append(('blank', '', 0, False, None))
t.append(('deleted one', 'short memo', -3.25, True, datetime.date(1999, 12, 31)))
t.append(('last', 'x' * 256, 99999.99, False, datetime.date(1900, 2, 28)))
dbf.delete(t[2])
t.close()

t = dbf.Table(path('fp.dbf'), 'name C(20); notes M; amount N(8,2); ratio F(12,4); flag L; day D',
              dbf_type='fp', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append(('first', LONG, 12.5, 0.125, True, datetime.date(2006, 7, 4)))
t.append(('empty memo', '', -1, -2.5, False, datetime.date(2000, 2, 29)))
t.append(('deleted', 'gone but kept', 3, 3.0, True, None))
t.append(('no memo', None, 0, 0, False, datetime.date(1970, 1, 1)))
# Programs keep pictures in plain M fields: the start of a JPEG, NULs inside.
t.append(('picture', '\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01tail', 1, 1.0, True, None))
dbf.delete(t[2])
t.close()

t = dbf.Table(path('vfp.dbf'),
              'name C(20) null; cnt I; price Y; stamp T; dbl B; flag L null; day D; notes M null; num N(8,2)',
              dbf_type='vfp', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append(('Alice', 5, decimal.Decimal('12.3456'), datetime.datetime(2006, 7, 4, 14, 5, 9), 3.25, True,
          datetime.date(2001, 2, 3), LONG, 12.5))
t.append((None, -7, decimal.Decimal('-0.5'), None, -1.5, None, None, None, None))
t.append(('Bob', 2147483646, decimal.Decimal('92233720368547.5807'), datetime.datetime(1999, 12, 31, 23, 59, 59),
          -0.0, False, datetime.date(1999, 12, 31), '', 0))
t.append(('Carol', -2147483647, decimal.Decimal('-0.0001'), datetime.datetime(1900, 1, 1, 0, 0, 1), 1e300, True,
          datetime.date(1, 1, 1), 'y' * 300, -99.99))
dbf.delete(t[1])
t.close()

t = dbf.Table(path('cyr.dbf'), 'name C(30); num N(4,0)', dbf_type='db3', codepage='cp1251')
t.open(dbf.READ_WRITE)
t.append(('амбулаторно', 1))
t.append(('НИИ Ёё', 2))
t.close()
