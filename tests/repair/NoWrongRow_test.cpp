// A property of every repair, over many tables and kinds of damage at seeded
// positions. Saved row i stands for the i-th source record the report does
// not list as dropped, and must be that record exactly (as python3-dbfread
// reads both) unless the report lists it as mended or cut short. Every source
// record that does not come back exactly is listed, the report gives no
// all-clear while one is missing, and it counts the rows the table holds.

#include "platform/ErrorReporter.h"
#include "repair/DBFRepair.h"
#include "repair/PeerTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A table written by python3-dbf (field list, kind, rows, code run after the
// rows) as source.dbf, or a real fixture; and the memo file beside it.
struct TableCase {
    std::string strName;
    std::string strSpec, strKind, strRows, strAfter;
    std::string strFixture, strMemo;
    uint32_t nRightAlign = 0; // width of a first C column whose digits are moved right
    int nPerKind = 12;        // damages of each kind in the record area
};

void PrintTo(const TableCase& table, std::ostream* pOut)
{
    *pOut << table.strName;
}

enum class Kind { None, Zeroed, Noise, Lost, Inserted, TrailingJunk, HeaderLength };
const char* const kKindNames[] = {"undamaged", "zeroed", "noise", "lost", "inserted", "trailing junk", "header length"};

struct Damage {
    Kind kind = Kind::None;
    uint64_t nAt = 0;
    int64_t nLength = 0; // bytes; for the header length, the change made to it
};

// The source's record area: record n (from 1) at nHeader + (n - 1) * nRecord.
struct Layout {
    uint64_t nHeader = 0, nRecord = 0, nRecords = 0;
    uint64_t End() const { return nHeader + nRecord * nRecords; }
    int64_t RecordAt(uint64_t nAt) const { return static_cast<int64_t>((nAt - nHeader) / nRecord) + 1; }
};

std::vector<Damage> Damages(const TableCase& table, const Layout& lay, uint64_t nFileSize, std::mt19937& rng)
{
    std::vector<Damage> damages{{}};
    for (Kind kind : {Kind::Zeroed, Kind::Noise, Kind::Lost, Kind::Inserted}) {
        const uint64_t nMost = kind == Kind::Zeroed || kind == Kind::Noise ? 8192 : 600;
        for (int i = 0; i < table.nPerKind; ++i) {
            // Lengths spread over the powers of two: short damage as common as long.
            // One draw a statement: the order of draws within one expression
            // differs between compilers and builds.
            const uint64_t nScale = 2ULL << rng() % 13;
            const auto nLength = static_cast<int64_t>(std::min<uint64_t>(nMost, 1 + rng() % nScale));
            const uint64_t nAt = lay.nHeader + rng() % (lay.End() - lay.nHeader);
            damages.push_back({kind, nAt, nLength});
        }
    }
    for (int64_t nLength : {1, 300, 5000})
        damages.push_back({Kind::TrailingJunk, nFileSize, nLength});
    for (int64_t nChange : {-3, -1, 1, 4})
        damages.push_back({Kind::HeaderLength, 8, nChange});
    return damages;
}

// The damaged copy; collects the source records whose bytes the damage
// changed, removed or split (a changed header length touches none).
std::vector<unsigned char> Apply(Damage& d, const Layout& lay, std::vector<unsigned char> bytes, std::mt19937& rng,
                                 std::set<int64_t>& touched)
{
    const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(d.nAt);
    if (d.kind == Kind::Zeroed || d.kind == Kind::Noise || d.kind == Kind::Lost)
        d.nLength = std::min(d.nLength, static_cast<int64_t>(lay.End() - d.nAt));
    if (d.kind == Kind::Zeroed || d.kind == Kind::Noise) {
        for (int64_t i = 0; i < d.nLength; ++i) {
            // Noise is control bytes, which no text holds: printable and high
            // bytes over text can be real data (an accent, another code
            // page), and no reader can tell them from it.
            const auto c = static_cast<unsigned char>(d.kind == Kind::Zeroed ? 0 : rng() % 32);
            if (at[i] != c)
                touched.insert(lay.RecordAt(d.nAt + i));
            at[i] = c;
        }
    } else if (d.kind == Kind::Lost) {
        for (int64_t n = lay.RecordAt(d.nAt); n <= lay.RecordAt(d.nAt + d.nLength - 1); ++n)
            touched.insert(n);
        bytes.erase(at, at + d.nLength);
    } else if (d.kind == Kind::Inserted || d.kind == Kind::TrailingJunk) {
        if (d.kind == Kind::Inserted && (d.nAt - lay.nHeader) % lay.nRecord != 0)
            touched.insert(lay.RecordAt(d.nAt));
        std::vector<unsigned char> stray(static_cast<size_t>(d.nLength));
        std::generate(stray.begin(), stray.end(), [&] { return static_cast<unsigned char>(rng()); });
        bytes.insert(at, stray.begin(), stray.end());
    } else if (d.kind == Kind::HeaderLength) {
        const uint64_t nHeader = lay.nHeader + d.nLength;
        bytes[8] = nHeader & 0xFF;
        bytes[9] = (nHeader >> 8) & 0xFF;
    }
    return bytes;
}

// Prints each table as python3-dbfread reads it: a line of its columns,
// sorted by name, "#" before a binary one; then each record in file order,
// its deletion flag and its values' reprs, tab-separated ("?": a flag the
// reader skips); or "!" and why the table could not be read.
const char* const kDumpPy = R"PY(
import sys
class Lenient(dbfread.FieldParser):
    # A value that does not parse shows as its bytes and hides nothing else.
    def parse(self, field, data):
        try:
            return dbfread.FieldParser.parse(self, field, data)
        except Exception:
            return ('unparsed', data)
# Any bytes are a value of these: damage to them cannot be seen.
binary = lambda f: f.type in 'IYBTO@+' and f.length in (4, 8) or f.type in 'MGP' and f.length == 4
for path in sys.argv[1:]:
    try:
        t = dbfread.DBF(path, encoding='latin-1', parserclass=Lenient, ignore_missing_memofile=True)
        norm = peer_norm(t)
        cols = sorted((f.name, binary(f)) for f in t.fields if f.name.lower() != '_nullflags')
        lines = ['@\t' + '\t'.join('#' * b + n for n, b in cols)]
        # Live and deleted records come apart; the flags put them in order.
        records = {b' ': iter(t.records), b'*': iter(t.deleted)}
        data = open(t.filename, 'rb').read()
        for at in range(t.header.headerlen, len(data), t.header.recordlen):
            flag = data[at:at + 1]
            if flag == b'\x1a':
                break
            r = norm(next(records[flag])) if flag in records else None
            lines.append('?' if r is None else flag.decode() + '\t' + '\t'.join(repr(r[n]) for n, b in cols))
        print('\n'.join(lines))
    except Exception as e:
        print('!\t%r' % e)
)PY";

struct PeerTable {
    std::string strError;
    std::vector<std::string> columns, rows;
};

std::vector<std::string> Split(const std::string& str)
{
    std::vector<std::string> parts;
    std::istringstream in(str);
    for (std::string strPart; std::getline(in, strPart, '\t');)
        parts.push_back(strPart);
    return parts;
}

// Every table read by one python3-dbfread process.
std::vector<PeerTable> ReadTables(const std::vector<std::string>& paths)
{
    std::istringstream in(orvtest::RunPython(std::string(orvtest::kPeerReaderPy) + kDumpPy, paths).strOut);
    std::vector<PeerTable> tables;
    for (std::string strLine; std::getline(in, strLine);) {
        if (strLine.starts_with("@\t"))
            tables.push_back({"", Split(strLine.substr(2)), {}});
        else if (strLine.starts_with("!\t"))
            tables.push_back({"python3-dbfread: " + strLine.substr(2), {}, {}});
        else if (!tables.empty())
            tables.back().rows.push_back(strLine);
    }
    tables.resize(paths.size(), {"python3-dbfread printed nothing", {}, {}});
    return tables;
}

// The columns in which two rows of the table differ.
std::vector<std::string> DifferingColumns(const std::string& strA, const std::string& strB, const PeerTable& table)
{
    const std::vector<std::string> a = Split(strA), b = Split(strB);
    if (a.size() != b.size()) // a record python3-dbfread skips
        return {"every column"};
    std::vector<std::string> differ;
    for (size_t j = 0; j < a.size(); ++j) {
        if (a[j] != b[j])
            differ.push_back(j == 0 ? "deletion flag" : table.columns.at(j - 1));
    }
    return differ;
}

struct Outcome {
    Damage damage;
    std::set<int64_t> touched;
    RepairReport report;
    std::string strError; // the repair failed or threw
};

enum Count { kCases, kWrongRows, kUnreported, kTolerated, kFalseAllClear, kWrongCount, kUnreadable, kCounts };
const char* const kCountNames[] = {"cases", "wrong rows", "unreported losses", "tolerated binary-only differences",
                                   "false all-clears", "wrong row counts", "unreadable results"};
using Tally = std::array<int64_t, kCounts>;

std::string Summary(const Tally& tally)
{
    std::string str;
    for (int c = 0; c < kCounts; ++c)
        str += (c ? ", " : "") + std::to_string(tally[c]) + " " + kCountNames[c];
    return str;
}

std::string Describe(const Outcome& oc)
{
    std::ostringstream out;
    out << kKindNames[static_cast<int>(oc.damage.kind)];
    if (oc.damage.kind == Kind::HeaderLength)
        out << " " << std::showpos << oc.damage.nLength << std::noshowpos;
    else if (oc.damage.kind != Kind::None)
        out << " " << oc.damage.nLength << " bytes at " << oc.damage.nAt;
    if (!oc.touched.empty())
        out << " (touched #" << *oc.touched.begin() << "..#" << *oc.touched.rbegin() << ")";
    return out.str();
}

// Counts what one case got wrong; returns what a developer needs to see of
// it, or nothing when it passed. index: the source record number of a row.
std::string Check(const PeerTable& original, const std::unordered_map<std::string, int64_t>& index,
                  const PeerTable& repaired, const Outcome& oc, Tally& tally)
{
    ++tally[kCases];
    const std::string strUnreadable = !oc.strError.empty() ? oc.strError
        : !repaired.strError.empty()                       ? repaired.strError
        : repaired.columns != original.columns             ? "the columns differ"
                                                           : "";
    if (!strUnreadable.empty()) {
        ++tally[kUnreadable];
        return Describe(oc) + ": " + strUnreadable;
    }
    std::map<int64_t, RepairReport::RecordLossKind> listed;
    for (const RepairReport::RecordLoss& loss : oc.report.recordLosses)
        listed.emplace(loss.nRecord, loss.kind);
    const auto nSource = static_cast<int64_t>(original.rows.size());
    std::vector<bool> back(static_cast<size_t>(nSource) + 1); // came back exactly, or tolerated
    const bool bOverwrite = oc.damage.kind == Kind::Zeroed || oc.damage.kind == Kind::Noise;
    std::ostringstream why;
    int64_t nWrong = 0, n = 0;
    for (size_t i = 0; i < repaired.rows.size(); ++i) {
        do
            ++n;
        while (listed.contains(n) && listed.at(n) == RepairReport::RecordLossKind::Dropped);
        const std::string& strRow = repaired.rows[i];
        if (n <= nSource && strRow == original.rows[n - 1]) {
            back[n] = true;
            continue;
        }
        if (n <= nSource && listed.contains(n)) // mended or cut short
            continue;
        const std::vector<std::string> differ =
            n <= nSource ? DifferingColumns(original.rows[n - 1], strRow, original) : std::vector<std::string>{};
        if (bOverwrite && oc.touched.contains(n)
            && std::all_of(differ.begin(), differ.end(), [](const std::string& s) { return s.starts_with('#'); })) {
            back[n] = true;
            ++tally[kTolerated];
        } else if (nWrong++ == 0) {
            const auto it = index.find(strRow);
            why << " first wrong: row " << i + 1 << " stands for #" << n
                << (it != index.end() ? " but is #" + std::to_string(it->second)
                        : n > nSource ? ", past the last source record"
                                      : " and is no source record, differing in:");
            for (const std::string& strColumn : it == index.end() ? differ : std::vector<std::string>{})
                why << " " << strColumn;
            why << ";";
        }
    }
    int64_t nUnreported = 0;
    for (int64_t r = 1; r <= nSource; ++r) {
        if (!back[r] && !listed.contains(r) && nUnreported++ == 0)
            why << " first unreported: #" << r << (oc.touched.contains(r) ? " (touched);" : " (untouched);");
    }
    const auto nRows = static_cast<int64_t>(repaired.rows.size());
    const bool bFalseAllClear =
        !oc.report.HasLosses() && (nRows != nSource || std::count(back.begin(), back.end(), true) != nSource);
    const bool bWrongCount = oc.report.nRecordsWritten != nRows;
    tally[kWrongRows] += nWrong;
    tally[kUnreported] += nUnreported;
    tally[kFalseAllClear] += bFalseAllClear;
    tally[kWrongCount] += bWrongCount;
    if (!nWrong && !nUnreported && !bFalseAllClear && !bWrongCount)
        return "";
    std::ostringstream line;
    line << Describe(oc) << ": " << nRows << " of " << nSource << " rows, " << listed.size() << " listed, " << nWrong
         << " wrong, " << nUnreported << " unreported" << (bFalseAllClear ? ", no losses reported" : "");
    if (bWrongCount)
        line << ", " << oc.report.nRecordsWritten << " written by the report";
    return line.str() + ";" + why.str();
}

class NoWrongRow : public testing::TestWithParam<TableCase> {
protected:
    static void TearDownTestSuite() { std::cout << "All tables: " << Summary(s_total) << "\n"; }
    static inline Tally s_total{};
};

TEST_P(NoWrongRow, EverySavedRowIsItsSourceRecordAndEveryLossIsListed)
{
    const TableCase& table = GetParam();
    orvtest::TempDir dir;
    const std::string strFolder = table.strFixture.empty() ? dir.Path() + "/" : orvtest::RealFixturesDir() + "/";
    const std::string strSource = strFolder + (table.strFixture.empty() ? "source.dbf" : table.strFixture);
    if (table.strFixture.empty()) {
        ASSERT_NO_FATAL_FAILURE(
            orvtest::WritePeerTable(strSource, table.strSpec, table.strKind, table.strRows, table.strAfter));
    }
    std::vector<unsigned char> bytes = orvtest::ReadBytes(strSource);
    const Layout lay{orvtest::HeaderLengthOf(strSource), orvtest::RecordLengthOf(strSource),
                     bytes.at(4) | bytes.at(5) << 8 | uint64_t{bytes.at(6)} << 16 | uint64_t{bytes.at(7)} << 24};
    // Codes right-aligned, as many programs keep them (python3-dbf strips
    // leading blanks when it writes).
    for (uint64_t r = 0; table.nRightAlign && r < lay.nRecords; ++r) {
        const auto code = bytes.begin() + static_cast<std::ptrdiff_t>(lay.nHeader + r * lay.nRecord + 1);
        std::rotate(code, std::find(code, code + table.nRightAlign, ' '), code + table.nRightAlign);
    }
    if (table.nRightAlign)
        orvtest::WriteBytes(strSource, bytes);
    if (!table.strMemo.empty()) {
        std::filesystem::copy_file(strFolder + table.strMemo,
                                   dir.File("in" + std::filesystem::path(table.strMemo).extension().string()));
    }

    CRecordingReporter reporter;
    CScopedErrorReporter scope(&reporter);
    std::mt19937 rng(20261209);
    std::vector<Outcome> outcomes;
    std::vector<std::string> paths{strSource};
    std::vector<Damage> damages = Damages(table, lay, bytes.size(), rng);
#if defined(__SANITIZE_ADDRESS__)
    // Under the sanitizers a repair runs many times slower: every sixth
    // case of the same draw keeps the suite's time.
    std::vector<Damage> every;
    for (size_t k = 0; k < damages.size(); k += 6)
        every.push_back(damages[k]);
    damages.swap(every);
#endif
    for (Damage damage : damages) {
        // The damage's own bytes come from a draw of the case alone.
        std::mt19937 caseRng(static_cast<unsigned>(damage.nAt * 31 + static_cast<uint64_t>(damage.nLength)));
        Outcome& oc = outcomes.emplace_back();
        orvtest::WriteBytes(dir.File("in.dbf"), Apply(damage, lay, bytes, caseRng, oc.touched));
        oc.damage = damage;
        paths.push_back(dir.File("out" + std::to_string(outcomes.size()) + ".dbf"));
        try {
            CDBFRepair engine;
            if (!engine.Repair(dir.File("in.dbf"), paths.back()))
                oc.strError = "the repair failed";
            oc.report = engine.GetReport();
        } catch (const std::exception& e) {
            oc.strError = std::string("the repair threw: ") + e.what();
        }
    }

    const std::vector<PeerTable> tables = ReadTables(paths);
    ASSERT_EQ(tables[0].strError, "");
    ASSERT_EQ(tables[0].rows.size(), lay.nRecords) << "python3-dbfread reads other records than the header counts";
    std::unordered_map<std::string, int64_t> index;
    for (size_t i = 0; i < tables[0].rows.size(); ++i)
        index.emplace(tables[0].rows[i], static_cast<int64_t>(i) + 1);
    Tally tally{};
    std::vector<std::string> failures;
    for (size_t k = 0; k < outcomes.size(); ++k) {
        if (std::string strFailure = Check(tables[0], index, tables[k + 1], outcomes[k], tally); !strFailure.empty())
            failures.push_back(strFailure);
    }
    std::cout << table.strName << ": " << Summary(tally) << "\n";
    for (size_t k = 0; k < std::min<size_t>(failures.size(), 20); ++k)
        std::cout << "  " << failures[k] << "\n";
    for (int c = 0; c < kCounts; ++c)
        s_total[c] += tally[c];
    for (Count c : {kWrongCount, kUnreadable})
        EXPECT_EQ(tally[c], 0) << kCountNames[c];
    EXPECT_EQ(failures.size(), 0u) << "cases with a wrong row or an unreported loss";
}

std::vector<TableCase> Tables()
{
    // A wide, text-heavy FoxPro table: 40 text columns of many widths, some
    // blank, with number and date columns between them, and deleted records.
    std::string strSpec, strRow;
    for (int j = 0; j < 50; ++j) {
        const std::string strJ = std::to_string(j), strColumn = "c" + strJ;
        if (j % 8 == 5) {
            strSpec += strColumn + (j % 16 == 5 ? " N(9,2); " : " N(6,0); ");
            strRow += "i * " + strJ + " % 9973" + (j % 16 == 5 ? " / 4, " : ", ");
        } else if (j % 12 == 10) {
            strSpec += strColumn + " D; ";
            strRow += "datetime.date(1970 + (i + " + strJ + ") % 50, 1 + i % 12, 1 + i * " + strJ + " % 28), ";
        } else {
            const std::string strWidth = std::to_string(4 + j * 7 % 37);
            strSpec += strColumn + " C(" + strWidth + "); ";
            strRow += "('%d %s' % (i * 31 + " + strJ + ", 'quick brown fox jumps over the lazy dog'["
                + std::to_string(j % 9) + ":]))[:" + strWidth + "] if (i + " + strJ + ") % 6 else '', ";
        }
    }
    // python3-dbf writes a FoxPro table only with a memo column.
    strSpec += "notes M";
    strRow += "'memo %d\\r\\n' % i * (i % 4)";
    std::vector<TableCase> tables{
        {"fp_wide", strSpec, "fp", "[(" + strRow + ") for i in range(300)]",
         "for k in range(0, 300, 37):\n    dbf.delete(t[k])", "", "source.fpt"},
        // Short records, many of them: fewer damages keep the run short.
        {"db3_words", "word C(12); freq N(7,0)", "db3",
         "[(''.join('kalominerusativozepadogu'[2 * (i // 12 ** k % 12):][:2] for k in range(1 + i % 5)), "
         "i * 37 % 1000000) for i in range(50000)]", "", "", "", 0, 2},
        {"vfp_binary", "id I; price Y; ratio B; stamp T; ok L; name C(10)", "vfp",
         "[(i * 7919 - 300000, decimal.Decimal(i * 37) / 4, i / 7.0, datetime.datetime(2000 + i % 20, 1 + i % 12, "
         "1 + i % 28, i % 24, i % 60, i * 7 % 60), i % 3 == 0, 'item %d' % i) for i in range(80)]",
         "dbf.delete(t[5])", "", ""},
        {"digits", "code C(6); qty N(8,0); num N(6,0)", "db3",
         "[('%d' % (i % 1000), i * 7 % 100000, i % 500) for i in range(1000)]", "", "", "", 6},
    };
    for (int n : {1, 2, 3, 5, 10}) {
        tables.push_back({"tiny_" + std::to_string(n), "name C(10); qty N(5,0)", "db3",
                          "[('rec %d' % i, i * 11) for i in range(" + std::to_string(n) + ")]", "", "", "", 0, 6});
    }
    const std::pair<std::string, std::string> real[] = {
        {"cp1251", ""}, {"dbase_03", ""}, {"dbase_30", "dbase_30.fpt"}, {"dbase_31", ""},
        {"dbase_83", "dbase_83.dbt"}, {"dbase_8b", "dbase_8b.dbt"}, {"dbase_f5", "dbase_f5.fpt"},
        {"memotest", "memotest.FPT"}};
    for (const auto& [strTable, strMemo] : real) {
        // dbase_f5 holds a megabyte of records: fewer damages.
        tables.push_back({"real_" + strTable, "", "", "", "", strTable + ".dbf", strMemo, 0,
                          strTable == "dbase_f5" ? 4 : 12});
    }
    return tables;
}

INSTANTIATE_TEST_SUITE_P(Tables, NoWrongRow, testing::ValuesIn(Tables()),
                         [](const testing::TestParamInfo<TableCase>& info) { return info.param.strName; });

} // namespace
