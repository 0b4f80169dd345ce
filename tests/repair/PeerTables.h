#pragma once
// Helpers of the repair suites: tables written by python3-dbf, damage done
// to their bytes, and the result read back by python3-dbfread.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvtest {

// Writes a table with python3-dbf: strSpec is its field list ("name C(20);
// qty N(8,2); notes M"), strKind "db3", "clp", "fp" or "vfp", strRows a
// Python list of tuples, strAfter Python run with the table `t` still open
// (to delete records or edit memos: dbf.delete(t[0]), `with t[1] as r:
// r.notes = "..."`), strCodePage python3-dbf's name of the table's code page.
inline void WritePeerTable(const std::string& strPath, const std::string& strSpec, const std::string& strKind,
                           const std::string& strRows, const std::string& strAfter = "",
                           const std::string& strCodePage = "cp1252")
{
    const std::string strScript = "import dbf, datetime, decimal, sys\n"
                                  "t = dbf.Table(sys.argv[1], sys.argv[2], dbf_type=sys.argv[3], codepage=sys.argv[4])\n"
                                  "t.open(dbf.READ_WRITE)\n"
                                  "for row in "
        + strRows
        + ":\n"
          "    t.append(row)\n"
        + strAfter
        + "\n"
          "t.close()\n"
          "print('written')\n";
    const CommandResult result = RunPython(strScript, {strPath, strSpec, strKind, strCodePage});
    ASSERT_EQ(result.strOut, "written\n") << "python3-dbf could not write " << strPath;
}

// Python shared by the peer checks: python3-dbfread set up to read our
// tables, and peer_norm(t), which makes a record of table t comparable with
// the same record of another table.
inline const char* const kPeerReaderPy = R"PY(
import datetime, struct, dbfread, dbfread.memo
# python3-dbfread reads dBASE IV memo files with 512-byte blocks whatever
# the header says, and takes a value's stored length for its data length;
# the block size is at offset 20 of the header, and the length counts the
# value's 8-byte block header as well.
def read_db4(self, index):
    if index <= 0:
        return None
    self._seek(20)
    block_size = struct.unpack('<H', self._read(2))[0] or 512
    self._seek(index * block_size)
    header = dbfread.memo.DB4MemoHeader.read(self.file)
    return self._read(header.length - 8)
dbfread.memo.DB4MemoFile.__getitem__ = read_db4
def peer_norm(t):
    # An empty memo is stored as no block at all or as a block holding no
    # text; both read back as an empty text here.
    memos = [f.name for f in t.fields if f.type == 'M']
    def norm(r):
        # The null-flags column is no column of a repaired table.
        r = {k: v for k, v in r.items() if k.lower() != '_nullflags'}
        # Date-times are kept to the second, as Visual FoxPro keeps them; the
        # milliseconds it stores are often a rounding (17:13:04.999).
        for k, v in r.items():
            if isinstance(v, datetime.datetime) and v.microsecond:
                r[k] = v.replace(microsecond=0) + datetime.timedelta(seconds=v.microsecond >= 500000)
        for m in memos:
            if r.get(m) is None:
                r[m] = ''
        return r
    return norm
)PY";

// Reads both tables with python3-dbfread and compares their records, live
// and deleted, value by value. Returns "OK" or what differs. Options (a
// Python dict literal): 'live': only the first N live records of the
// original are expected; 'undelete': the repaired table holds every record
// of the original live; 'encoding'.
inline std::string CompareWithPeer(const std::string& strOriginal, const std::string& strRepaired,
                                   const std::string& strOptions = "{}")
{
    const std::string strScript = std::string(kPeerReaderPy) + R"PY(
import sys
opts = )PY" + strOptions + R"PY(
enc = opts.get('encoding', 'cp1252')
def load(path):
    t = dbfread.DBF(path, encoding=enc, load=True, char_decode_errors='strict')
    norm = peer_norm(t)
    return [norm(r) for r in t.records], [norm(r) for r in t.deleted]
orig_live, orig_deleted = load(sys.argv[1])
rep_live, rep_deleted = load(sys.argv[2])
if 'live' in opts:
    orig_live = orig_live[:opts['live']]
if opts.get('undelete'):
    key = lambda r: repr(sorted(r.items()))
    orig_live = sorted(orig_live + orig_deleted, key=key)
    rep_live = sorted(rep_live, key=key)
    orig_deleted = []
problems = []
if len(orig_live) != len(rep_live):
    problems.append('live records: %d expected, %d found' % (len(orig_live), len(rep_live)))
if len(orig_deleted) != len(rep_deleted):
    problems.append('deleted records: %d expected, %d found' % (len(orig_deleted), len(rep_deleted)))
for kind, a, b in (('live', orig_live, rep_live), ('deleted', orig_deleted, rep_deleted)):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            diff = {k: (x.get(k), y.get(k)) for k in set(x) | set(y) if x.get(k) != y.get(k)}
            problems.append('%s record %d differs: %r' % (kind, i, diff))
            if len(problems) > 5:
                break
print('OK' if not problems else '\n'.join(problems))
)PY";
    const CommandResult result = RunPython(strScript, {strOriginal, strRepaired});
    std::string strOut = result.strOut;
    while (!strOut.empty() && strOut.back() == '\n')
        strOut.pop_back();
    return strOut.empty() ? "python3-dbfread failed (see the log)" : strOut;
}

// The table's records as python3-dbfread reads them, one repr per line
// (deleted records marked "*"), for checks on single values.
inline std::string PeerRecords(const std::string& strPath, const std::string& strEncoding = "cp1252")
{
    const std::string strScript = R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding=sys.argv[2], load=True)
for r in t.records:
    print(' ', sorted(dict(r).items()))
for r in t.deleted:
    print('*', sorted(dict(r).items()))
)PY";
    return RunPython(strScript, {strPath, strEncoding}).strOut;
}

inline void PatchBytes(const std::string& strPath, uint64_t nOffset, const std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> data = ReadBytes(strPath);
    ASSERT_LE(nOffset + bytes.size(), data.size()) << strPath;
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(nOffset));
    WriteBytes(strPath, data);
}

inline void TruncateTo(const std::string& strPath, uint64_t nLength)
{
    std::vector<unsigned char> data = ReadBytes(strPath);
    ASSERT_LE(nLength, data.size());
    data.resize(nLength);
    WriteBytes(strPath, data);
}

inline uint16_t HeaderLengthOf(const std::string& strPath)
{
    const std::vector<unsigned char> data = ReadBytes(strPath);
    return static_cast<uint16_t>(data.at(8) | (data.at(9) << 8));
}

inline uint16_t RecordLengthOf(const std::string& strPath)
{
    const std::vector<unsigned char> data = ReadBytes(strPath);
    return static_cast<uint16_t>(data.at(10) | (data.at(11) << 8));
}

// Zeroes the record count, header length and record length of the header.
inline void ZeroHeaderCounts(const std::string& strPath)
{
    PatchBytes(strPath, 4, std::vector<unsigned char>(8, 0));
}

} // namespace orvtest
