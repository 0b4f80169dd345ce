// Tables made through Create/CreateField/Append, one per memo kind Append can
// produce, filled through the recordset and read back: by the engine for
// every kind, and by python3-dbfread for the kinds it reads (dBASE III .DBT,
// FoxPro and Visual FoxPro .FPT).

#include "DbfTestFields.h"
#include "dbf/DBFRecordset.h"
#include "dbf/MemoFile.h"
#include "platform/VariantConversion.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using dbfformat::MemoKind;

using dbftest::Field;

struct MemoKindCase {
    const char* lpszName;
    uint8_t nVersion;
    uint8_t nFlags;
    bool bVisualFoxPro; // adds I, Y, T, B fields
    uint16_t nMemoWidth;
    MemoKind kind;
    uint8_t nFinalVersion;
    bool bDbfreadReads;
};

const MemoKindCase kCases[] = {
    {"dBASE_III", 0x03, 0, false, 10, MemoKind::DBase3, 0x83, true},
    {"dBASE_IV", 0x43, 0, false, 10, MemoKind::DBase4, 0x8B, false}, // dbfread assumes 512-byte blocks
    {"FoxPro", 0xF5, 0, false, 10, MemoKind::FoxPro, 0xF5, true},
    {"VisualFoxPro", 0x03, 0, true, 4, MemoKind::VisualFoxPro, 0x30, true},
    {"VisualFoxPro_DBC", 0x30, 0x04, true, 4, MemoKind::VisualFoxProDbc, 0x30, false}, // .DCT unknown to it
    {"SIx", 0xE5, 0, false, 10, MemoKind::SIx, 0xE5, false},                         // .SMT unknown to it
};

void PrintTo(const MemoKindCase& c, std::ostream* os)
{
    *os << c.lpszName;
}

struct Row {
    std::string strName;
    std::string strNotes; // "" = no memo
    double dAmount;
    bool bFlag;
    int nYear, nMonth, nDay;
    bool bDeleted;
};

std::vector<Row> Rows()
{
    std::string strLong;
    for (int i = 0; i < 900; ++i)
        strLong += static_cast<char>('a' + i % 26);
    return {
        {"long memo", strLong + "\r\nend", 1234.5, true, 2006, 7, 4, false},
        {"empty memo", "", -0.25, false, 1999, 12, 31, false},
        {"deleted", "kept though deleted", 3, true, 2000, 2, 29, true},
        {"exact", std::string(56, 'x'), 0, false, 1900, 1, 1, false},
        {"Zo\xEB", "caf\xE9 \xA3 5", 99999.99, true, 1, 1, 1, false},
    };
}

double OleDate(int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    OleDateParts p;
    p.nYear = y;
    p.nMonth = m;
    p.nDay = d;
    p.nHour = h;
    p.nMinute = mi;
    p.nSecond = s;
    double v = 0;
    EXPECT_TRUE(OleDateFromParts(p, v));
    return v;
}

class MemoKindRoundTrip : public ::testing::TestWithParam<MemoKindCase> {
protected:
    void Build()
    {
        const MemoKindCase& c = GetParam();
        m_strPath = m_dir.File("t.dbf");
        CDBFTableDef table;
        ASSERT_TRUE(table.Create(m_strPath));
        table.SetNewTableKind(c.nVersion, c.nFlags);
        table.CreateField(Field("NAME", 'C', 12));
        table.CreateField(Field("NOTES", 'M', c.nMemoWidth));
        table.CreateField(Field("AMOUNT", 'N', 10, 2));
        table.CreateField(Field("FLAG", 'L', 1));
        table.CreateField(Field("DAY", 'D', 8));
        if (c.bVisualFoxPro) {
            table.CreateField(Field("COUNT", 'I', 4));
            table.CreateField(Field("PRICE", 'Y', 8, 4));
            table.CreateField(Field("STAMP", 'T', 8));
            table.CreateField(Field("RATIO", 'B', 8));
        }
        table.Append();
        ASSERT_EQ(table.GetMemoKind(), c.kind);
        ASSERT_EQ(table.GetHeader().GetVersion(), c.nFinalVersion);
        table.Close();

        CDBFRecordset rs;
        rs.Open(m_strPath, CFile::modeReadWrite | CFile::shareDenyNone);
        ASSERT_TRUE(rs.IsOpen());
        int i = 0;
        for (const Row& r : Rows()) {
            rs.AddNew();
            rs.SetFieldValue("NAME", FieldValue::MakeText(r.strName));
            if (!r.strNotes.empty())
                rs.SetFieldValue("NOTES", FieldValue::MakeText(r.strNotes));
            rs.SetFieldValue("AMOUNT", FieldValue::MakeDouble(r.dAmount));
            rs.SetFieldValue("FLAG", FieldValue::MakeLogical(r.bFlag));
            rs.SetFieldValue("DAY", FieldValue::MakeDate(OleDate(r.nYear, r.nMonth, r.nDay)));
            if (c.bVisualFoxPro) {
                rs.SetFieldValue("COUNT", FieldValue::MakeInteger(i * 1000 - 7));
                rs.SetFieldValue("PRICE", FieldValue::MakeCurrency(123456 * (i - 2)));
                rs.SetFieldValue("STAMP", FieldValue::MakeDate(OleDate(2005, 3, 7, 14, 5, 9 + i)));
                rs.SetFieldValue("RATIO", FieldValue::MakeDouble(0.1 * i));
            }
            rs.Update();
            if (r.bDeleted)
                rs.Delete();
            ++i;
        }
        // Rewrite memos through Edit: a longer text, a shorter one, and an
        // emptied one, so that reuse and relocation both happen.
        rs.Move(0);
        rs.Edit();
        rs.SetFieldValue("NOTES", FieldValue::MakeText(Rows()[0].strNotes + " and more text appended"));
        rs.Update();
        rs.Move(3);
        rs.Edit();
        rs.SetFieldValue("NOTES", FieldValue::MakeText("short"));
        rs.Update();
        rs.Move(2);
        rs.Edit();
        rs.SetFieldValue("NOTES", FieldValue::MakeText(""));
        rs.Update();
        rs.Edit();
        rs.SetFieldValue("NOTES", FieldValue::MakeText("kept though deleted"));
        rs.Update();
    }

    std::vector<std::string> ExpectedNotes() const
    {
        std::vector<std::string> notes;
        for (const Row& r : Rows())
            notes.push_back(r.strNotes);
        notes[0] += " and more text appended";
        notes[3] = "short";
        return notes;
    }

    orvtest::TempDir m_dir;
    std::string m_strPath;
};

} // namespace

TEST_P(MemoKindRoundTrip, EngineReadsBackWhatItWrote)
{
    Build();
    const MemoKindCase& c = GetParam();
    const auto rows = Rows();
    const auto notes = ExpectedNotes();
    CDBFRecordset rs;
    rs.Open(m_strPath, CFile::modeRead | CFile::shareDenyNone);
    ASSERT_TRUE(rs.IsOpen());
    ASSERT_EQ(rs.GetRecordCount(), static_cast<int32_t>(rows.size()));
    ASSERT_EQ(rs.GetTableDef()->GetMemoKind(), c.kind);
    int i = 0;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext(), ++i) {
        const Row& r = rows[static_cast<size_t>(i)];
        SCOPED_TRACE(r.strName);
        EXPECT_EQ(rs.IsDeleted(), r.bDeleted);
        EXPECT_EQ(rs.GetFieldValue("NAME").GetText(), r.strName);
        const FieldValue memo = rs.GetFieldValue("NOTES");
        if (notes[static_cast<size_t>(i)].empty())
            EXPECT_TRUE(memo.IsEmpty());
        else
            EXPECT_EQ(memo.GetText(), notes[static_cast<size_t>(i)]);
        EXPECT_DOUBLE_EQ(rs.GetFieldValue("AMOUNT").GetDouble(), r.dAmount);
        EXPECT_EQ(rs.GetFieldValue("FLAG").GetLogical(), r.bFlag);
        EXPECT_EQ(rs.GetFieldValue("DAY").GetDate(), OleDate(r.nYear, r.nMonth, r.nDay));
        if (c.bVisualFoxPro) {
            EXPECT_EQ(rs.GetFieldValue("COUNT").GetInteger(), i * 1000 - 7);
            EXPECT_EQ(rs.GetFieldValue("PRICE").GetCurrency(), 123456 * (i - 2));
            EXPECT_EQ(rs.GetFieldValue("STAMP").GetDate(), OleDate(2005, 3, 7, 14, 5, 9 + i));
            EXPECT_EQ(rs.GetFieldValue("RATIO").GetDouble(), 0.1 * i);
        }
    }
    EXPECT_EQ(i, static_cast<int>(rows.size()));
}

// The kinds python3-dbfread reads: dBASE III .DBT with 512-byte blocks and
// the .FPT files. It assumes 512-byte dBASE IV blocks (ours are 256) and
// looks for neither .DCT nor .SMT files.
class MemoKindReadByDbfread : public MemoKindRoundTrip {};

TEST_P(MemoKindReadByDbfread, DbfreadReadsTheSameValues)
{
    const MemoKindCase& c = GetParam();
    Build();
    const std::string script = R"(
import json, sys, datetime, decimal
import dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp1252', ignore_missing_memofile=False)
def conv(v):
    if isinstance(v, (datetime.date, datetime.datetime)): return v.isoformat()
    if isinstance(v, decimal.Decimal): return str(v)
    if isinstance(v, bytes): return v.decode('cp1252')
    return v
out = {'version': t.header.dbversion,
       'live': [{k: conv(v) for k, v in r.items()} for r in t],
       'deleted': [{k: conv(v) for k, v in r.items()} for r in t.deleted]}
print(json.dumps(out))
)";
    const auto result = orvtest::RunPython(script, {m_strPath});
    ASSERT_EQ(result.nExitCode, 0) << result.strOut;
    using Json = nlohmann::json;
    const Json doc = Json::parse(result.strOut);
    EXPECT_EQ(doc.at("version").get<int>(), c.nFinalVersion);
    const Json& live = doc.at("live");
    const Json& deleted = doc.at("deleted");
    ASSERT_EQ(live.size(), 4u);
    ASSERT_EQ(deleted.size(), 1u);

    // The table's bytes are Latin-1 here; the peer gives UTF-8.
    auto toUtf8 = [](const std::string& s) {
        std::string strUtf8;
        for (const char c : s) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                strUtf8 += c;
            } else {
                strUtf8 += static_cast<char>(0xC0 | b >> 6);
                strUtf8 += static_cast<char>(0x80 | (b & 0x3F));
            }
        }
        return strUtf8;
    };
    auto text = [](const Json& value) { return value.is_string() ? value.get<std::string>() : std::string(); };
    const auto rows = Rows();
    const auto notes = ExpectedNotes();
    int nLive = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.strName);
        const Json& rec = r.bDeleted ? deleted.at(0) : live.at(nLive++);
        EXPECT_EQ(text(rec.at("NAME")), toUtf8(r.strName));
        if (notes[i].empty())
            EXPECT_TRUE(text(rec.at("NOTES")).empty());
        else
            EXPECT_EQ(text(rec.at("NOTES")), toUtf8(notes[i]));
        EXPECT_DOUBLE_EQ(rec.at("AMOUNT").get<double>(), r.dAmount);
        EXPECT_EQ(rec.at("FLAG").get<bool>(), r.bFlag);
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.nYear, r.nMonth, r.nDay);
        EXPECT_EQ(text(rec.at("DAY")), date);
        if (c.bVisualFoxPro) {
            const int n = static_cast<int>(i);
            EXPECT_EQ(rec.at("COUNT").get<int>(), n * 1000 - 7);
            EXPECT_EQ(std::stod(text(rec.at("PRICE"))), 12.3456 * (n - 2));
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "2005-03-07T14:05:%02d", 9 + n);
            EXPECT_EQ(text(rec.at("STAMP")), stamp);
            EXPECT_EQ(rec.at("RATIO").get<double>(), 0.1 * n);
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<MemoKindCase>& info)
{
    return info.param.lpszName;
}

std::vector<MemoKindCase> DbfreadCases()
{
    std::vector<MemoKindCase> cases;
    for (const auto& c : kCases)
        if (c.bDbfreadReads)
            cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AppendKinds, MemoKindRoundTrip, ::testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(AppendKinds, MemoKindReadByDbfread, ::testing::ValuesIn(DbfreadCases()), CaseName);
