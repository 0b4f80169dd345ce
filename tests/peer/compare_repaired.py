"""Compares a table with its repaired copy: a table that needed no repair
must come back exactly.

Usage: compare_repaired.py [--same-header-except OFFSET[:MASK],...] SOURCE REPAIRED [SOURCE REPAIRED ...]

For each pair prints one JSON line: {"source", "repaired", "ok",
"differences": [...], "notes": [...]}. Exits 0 when every pair is ok.

Checked:
  - schema: version byte, code-page mark, every descriptor (name, type,
    width, decimals, flags), header length, record length, record count;
  - header bytes: equal except the last-update date (bytes 1-3) and the
    bits given with --same-header-except (a whole byte without a mask);
  - records: every byte equal, the deletion mark included, except memo
    references, whose block numbers may change: there the referenced memo
    values (block type and bytes) must be equal, an empty reference must
    stay the same bytes, and a non-empty one keep its form (a reference
    to an empty value included);
  - after the records: an end-of-file mark (or nothing, when the source
    has none);
  - the memo file: present when the source has one, same block size; a
    dBASE IV one keeps the table's name in its header, and python3-dbfread's
    own reader gives every value back without a byte more (512-byte blocks,
    the only size it reads; values holding 0x1F, where it cuts, aside);
  - values as python3-dbfread reads them, live and deleted records apart
    (where python3-dbfread cannot read the source at all, e.g. a column
    type it does not know, the bytes alone are compared; that is a note);
  - python3-dbf opens the repaired table (where it cannot open the source
    either, e.g. 0x32, that is a note).
"""
import codecs
import json
import os
import struct
import sys

import dbf
import dbfread
import dbfread.memo

VFP = (0x30, 0x31, 0x32)
MEMO_TYPES = 'MGPW'
CODEPAGES = {
    0x01: 'cp437', 0x02: 'cp850', 0x03: 'cp1252', 0x57: 'cp1252', 0x58: 'cp1252', 0x59: 'cp1252',
    0x64: 'cp852', 0x65: 'cp866', 0x26: 'cp866', 0xC8: 'cp1250', 0xC9: 'cp1251', 0xCA: 'cp1254',
    0xCB: 'cp1253', 0x7D: 'cp1255', 0x7E: 'cp1256',
}
MAX_LINES = 12

codecs.register_error('samecodepoint', lambda e: (chr(e.object[e.start]), e.start + 1))


# python3-dbfread reads dBASE IV memo files with 512-byte blocks whatever
# the header says and takes the stored length (which counts the 8-byte
# block header) for the data length.
def _read_db4(self, index):
    if index <= 0:
        return None
    self._seek(20)
    block_size = struct.unpack('<H', self._read(2))[0] or 512
    self._seek(index * block_size)
    header = dbfread.memo.DB4MemoHeader.read(self.file)
    return self._read(header.length - 8)


_stock_read_db4 = dbfread.memo.DB4MemoFile.__getitem__
dbfread.memo.DB4MemoFile.__getitem__ = _read_db4


class Table:
    def __init__(self, path):
        self.path = path
        with open(path, 'rb') as f:
            self.raw = f.read()
        raw = self.raw
        self.version = raw[0]
        self.count, self.header_length, self.record_length = struct.unpack('<IHH', raw[4:12])
        self.descriptors = []
        pos = 32
        while pos + 32 <= min(self.header_length, len(raw)) and raw[pos] != 0x0D:
            self.descriptors.append(raw[pos:pos + 32])
            pos += 32
        self.fields = []
        offset = 1
        clipper = sum(self._width(d, True) for d in self.descriptors) == self.record_length - 1
        for d in self.descriptors:
            width = self._width(d, clipper)
            self.fields.append({'name': d[:11].split(b'\0')[0].decode('latin-1'), 'type': chr(d[11]),
                                'offset': offset, 'width': width, 'decimals': d[17], 'flags': d[18]})
            offset += width
        self.memo_path = self._find_memo()

    def _width(self, d, clipper):
        if chr(d[11]) == 'C' and clipper and self.version not in VFP:
            return d[16] | (d[17] << 8)
        return d[16]

    def _find_memo(self):
        folder, name = os.path.split(self.path)
        stem = os.path.splitext(name)[0].lower()
        for entry in sorted(os.listdir(folder or '.')):
            s, e = os.path.splitext(entry)
            if s.lower() == stem and e.lower() in ('.fpt', '.dbt', '.smt'):
                return os.path.join(folder, entry)
        return None

    def record(self, i):
        at = self.header_length + i * self.record_length
        return self.raw[at:at + self.record_length]

    def tail(self):
        return self.raw[self.header_length + self.count * self.record_length:]

    def is_memo(self, f):
        return f['type'] in MEMO_TYPES or (f['type'] == 'B' and self.version not in VFP)

    def memo_block_size(self):
        if not self.memo_path:
            return None
        with open(self.memo_path, 'rb') as m:
            head = m.read(22)
        if self.memo_path.lower().endswith('.fpt'):
            return struct.unpack('>H', head[6:8])[0]
        if self.version == 0x83 or len(head) < 22:
            return 512
        return struct.unpack('<H', head[20:22])[0]

    def memo_value(self, ref_bytes):
        """(block number, value) for a memo reference; value is None for no
        memo, else (block type or None, bytes)."""
        if self.version in VFP:
            block = struct.unpack('<I', ref_bytes)[0] if len(ref_bytes) == 4 else None
        else:
            text = ref_bytes.strip(b' \0')
            block = int(text) if text.isdigit() else (0 if not text else None)
        if block is None:
            return None, ('unreadable reference %r' % ref_bytes, b'')
        if block == 0:
            return 0, None
        if not self.memo_path:
            return block, ('no memo file', b'')
        size = self.memo_block_size() or 512
        with open(self.memo_path, 'rb') as m:
            m.seek(block * size)
            if self.memo_path.lower().endswith('.fpt'):
                head = m.read(8)
                if len(head) < 8:
                    return block, ('past the end', b'')
                kind, length = struct.unpack('>II', head)
                return block, (kind, m.read(length))
            head = m.read(8)
            if self.version != 0x83 and head[:4] == b'\xff\xff\x08\x00':
                length = struct.unpack('<I', head[4:8])[0]
                return block, ('dBASE IV', m.read(max(length - 8, 0)))
            m.seek(block * size)
            data = b''
            while True:
                chunk = m.read(size)
                if not chunk:
                    break
                data += chunk
                if b'\x1a' in data:
                    break
            return block, (None, data.split(b'\x1a', 1)[0])


def hexbyte(b):
    return '0x%02X' % b


def show(raw):
    text = raw if isinstance(raw, str) else repr(bytes(raw))
    return text if len(text) <= 60 else text[:57] + '...(%d in all)' % len(raw)


def compare_schema(src, rep, diffs):
    if src.version != rep.version:
        diffs.append('version byte: source %s, repaired %s' % (hexbyte(src.version), hexbyte(rep.version)))
    if src.raw[29] != rep.raw[29]:
        diffs.append('code-page mark: source %s, repaired %s' % (hexbyte(src.raw[29]), hexbyte(rep.raw[29])))
    for key in ('count', 'header_length', 'record_length'):
        if getattr(src, key) != getattr(rep, key):
            diffs.append('%s: source %d, repaired %d' % (key.replace('_', ' '), getattr(src, key), getattr(rep, key)))
    if len(src.fields) != len(rep.fields):
        diffs.append('fields: source %d, repaired %d' % (len(src.fields), len(rep.fields)))
    for a, b in zip(src.fields, rep.fields):
        keys = [k for k in ('name', 'type', 'width', 'decimals', 'flags') if a[k] != b[k]]
        if keys:
            diffs.append('field %s: %s' % (a['name'], ', '.join('%s source %r, repaired %r' % (k, a[k], b[k]) for k in keys)))


def compare_header(src, rep, may_differ, diffs):
    n = max(src.header_length, rep.header_length)
    def byte(t, i):
        return t.raw[i] if i < t.header_length else None
    offsets = []
    for i in range(n):
        a, b = byte(src, i), byte(rep, i)
        if a != b and (a is None or b is None or (a ^ b) & ~may_differ.get(i, 0)):
            offsets.append(i)
    if offsets:
        def at(t, i):
            return hexbyte(t.raw[i]) if i < t.header_length else '-'
        listed = ', '.join('%d (%s/%s)' % (i, at(src, i), at(rep, i)) for i in offsets[:10])
        diffs.append('header bytes differ at %d offsets (source/repaired): %s%s'
                     % (len(offsets), listed, ' ...' if len(offsets) > 10 else ''))


def compare_records(src, rep, diffs):
    if [(f['offset'], f['width']) for f in src.fields] != [(f['offset'], f['width']) for f in rep.fields]:
        diffs.append('records: field layouts differ, bytes not compared')
        return
    found = []
    for i in range(min(src.count, rep.count)):
        a, b = src.record(i), rep.record(i)
        if a == b:
            continue
        if a[:1] != b[:1]:
            found.append('record %d deletion mark: source %r, repaired %r' % (i, a[:1], b[:1]))
        for f in src.fields:
            x = a[f['offset']:f['offset'] + f['width']]
            y = b[f['offset']:f['offset'] + f['width']]
            if src.is_memo(f):
                message = compare_memo(src, rep, x, y)
                if message:
                    found.append('record %d memo %s: %s' % (i, f['name'], message))
            elif x != y:
                found.append('record %d field %s: source %s, repaired %s' % (i, f['name'], show(x), show(y)))
        if len(b) != len(a):
            found.append('record %d: source %d bytes, repaired %d' % (i, len(a), len(b)))
    diffs.extend(found[:MAX_LINES])
    if len(found) > MAX_LINES:
        diffs.append('... %d record differences in all' % len(found))


def compare_memo(src, rep, x, y):
    block_x, value_x = src.memo_value(x)
    block_y, value_y = rep.memo_value(y)
    if not block_x:
        return None if x == y else 'empty reference %s became %s' % (show(x), show(y))
    if block_y is None:
        return 'reference %s became unreadable %s' % (show(x), show(y))
    if not block_y:
        return 'reference %s became empty %s (source value %s)' % (show(x), show(y), show(value_x[1]))
    if value_x != value_y:
        return 'value differs: source %r %s, repaired %r %s' % (value_x[0], show(value_x[1]), value_y[0], show(value_y[1]))
    if src.version not in VFP:
        fill = b'0' if x[:1] == b'0' else (b'\0' if x[:1] == b'\0' else b' ')
        expected = str(block_y).encode().rjust(len(x), fill)
        if y != expected:
            return 'reference form: source %s, repaired %s' % (show(x), show(y))
    return None


def compare_tail(src, rep, diffs):
    tail_src, tail_rep = src.tail(), rep.tail()
    if tail_rep != b'\x1a' and not (tail_src == b'' and tail_rep == b''):
        diffs.append('after the records: source %s, repaired %s' % (show(tail_src), show(tail_rep)))


def compare_memo_file(src, rep, diffs):
    if not any(src.is_memo(f) for f in src.fields) or not src.memo_path:
        return
    if not rep.memo_path:
        diffs.append('memo file: none beside the repaired table')
        return
    if src.memo_block_size() != rep.memo_block_size():
        diffs.append('memo block size: source %s, repaired %s' % (src.memo_block_size(), rep.memo_block_size()))
    if rep.version != 0x83 and rep.memo_path.lower().endswith('.dbt'):
        compare_db4_memo(src, rep, diffs)


def compare_db4_memo(src, rep, diffs):
    with open(rep.memo_path, 'rb') as m:
        title = m.read(16)[8:16]
    # The temporary table the tool writes first has the source's name in
    # lower case.
    name = os.path.splitext(os.path.basename(src.path))[0].lower().encode('latin-1')[:8]
    if title.lower() != name.ljust(8, b'\0'):
        diffs.append('dBASE IV memo header: table name %r, expected %r' % (title, name))
    if rep.memo_block_size() != 512:
        return
    found = []
    with dbfread.memo.DB4MemoFile(rep.memo_path) as memo:
        for i in range(rep.count):
            for f in rep.fields:
                if not rep.is_memo(f):
                    continue
                block, value = rep.memo_value(rep.record(i)[f['offset']:f['offset'] + f['width']])
                if not block or value is None or b'\x1f' in value[1]:
                    continue
                peer = _stock_read_db4(memo, block)
                if peer != value[1]:
                    found.append('record %d memo %s: python3-dbfread reads %s, stored %s'
                                 % (i, f['name'], show(peer), show(value[1])))
    diffs.extend(found[:MAX_LINES])


def peer_values(path, encoding):
    table = dbfread.DBF(path, load=True, encoding=encoding, char_decode_errors='samecodepoint',
                        recfactory=lambda items: list(items))
    return [f.name for f in table.fields], table.records, table.deleted


def compare_values(src, rep, diffs, notes):
    encoding = CODEPAGES.get(src.raw[29], 'latin-1')
    try:
        source = peer_values(src.path, encoding)
    except Exception as error:  # the source is beyond the peer: bytes only
        notes.append('python3-dbfread cannot read the source (%s: %s); bytes compared only' % (type(error).__name__, error))
        return
    try:
        repaired = peer_values(rep.path, encoding)
    except Exception as error:
        diffs.append('python3-dbfread cannot read the repaired table (%s: %s)' % (type(error).__name__, error))
        return
    if source[0] != repaired[0]:
        diffs.append('python3-dbfread fields: source %r, repaired %r' % (source[0], repaired[0]))
        return
    found = []
    for kind, a, b in (('live', source[1], repaired[1]), ('deleted', source[2], repaired[2])):
        if len(a) != len(b):
            found.append('python3-dbfread %s records: source %d, repaired %d' % (kind, len(a), len(b)))
        for i, (x, y) in enumerate(zip(a, b)):
            if x != y:
                changed = [(kx, vx, vy) for (kx, vx), (_, vy) in zip(x, y) if vx != vy]
                found.append('python3-dbfread %s record %d: %s' % (kind, i, '; '.join(
                    '%s source %s, repaired %s' % (k, show(repr(vx)), show(repr(vy))) for k, vx, vy in changed)))
    diffs.extend(found[:MAX_LINES])


def opens_with_dbf(path):
    try:
        table = dbf.Table(path)
        table.open(dbf.READ_ONLY)
        n = len(table)
        table.close()
        return n, None
    except Exception as error:
        return None, '%s: %s' % (type(error).__name__, error)


def compare_opening(src, rep, diffs, notes):
    n_rep, error_rep = opens_with_dbf(rep.path)
    if error_rep is None:
        if n_rep != src.count:
            diffs.append('python3-dbf reads %d records, source header has %d' % (n_rep, src.count))
        return
    n_src, error_src = opens_with_dbf(src.path)
    memo_name = os.path.basename(rep.memo_path or '')
    if 'memo fields exist without memo file' in error_rep and memo_name and memo_name != memo_name.lower():
        # python3-dbf looks for the memo file by the lower-case extension
        # only; the name's case is the tool's own choice.
        notes.append('python3-dbf cannot open the repaired table: it finds no memo file beside it (%s)' % memo_name)
    elif error_src is None:
        diffs.append('python3-dbf opens the source but not the repaired table (%s)' % error_rep)
    else:
        notes.append('python3-dbf opens neither table (%s)' % error_rep)


def compare(source, repaired, may_differ):
    diffs, notes = [], []
    if not os.path.exists(repaired):
        return {'source': source, 'repaired': repaired, 'ok': False, 'differences': ['no repaired table'], 'notes': []}
    src, rep = Table(source), Table(repaired)
    compare_schema(src, rep, diffs)
    compare_header(src, rep, may_differ, diffs)
    compare_records(src, rep, diffs)
    compare_tail(src, rep, diffs)
    compare_memo_file(src, rep, diffs)
    compare_values(src, rep, diffs, notes)
    compare_opening(src, rep, diffs, notes)
    return {'source': source, 'repaired': repaired, 'ok': not diffs, 'differences': diffs, 'notes': notes}


def main():
    args = sys.argv[1:]
    may_differ = {1: 0xFF, 2: 0xFF, 3: 0xFF}  # the last-update date
    if args and args[0] == '--same-header-except' and len(args) > 1:
        for item in filter(None, args[1].split(',')):
            offset, _, mask = item.partition(':')
            may_differ[int(offset, 0)] = int(mask or '0xFF', 0)
        args = args[2:]
    if not args or len(args) % 2:
        sys.exit(__doc__)
    ok = True
    for source, repaired in zip(args[0::2], args[1::2]):
        try:
            verdict = compare(source, repaired, may_differ)
        except Exception as error:
            verdict = {'source': source, 'repaired': repaired, 'ok': False,
                       'differences': ['comparer failed: %s: %s' % (type(error).__name__, error)], 'notes': []}
        ok = ok and verdict['ok']
        print(json.dumps(verdict, ensure_ascii=True))
    sys.exit(0 if ok else 1)


if __name__ == '__main__':
    main()
