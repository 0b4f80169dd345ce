// Memo texts read raw out of memo files written by python3-dbf, by real
// programs and by the storage engine: through the record's reference, with
// the block size inferred when the header lost it, and by the scan.

#include "dbf/DBFRecordset.h"
#include "dbf/DBFTableDef.h"
#include "platform/File.h"
#include "repair/DamagedTableScanner.h"
#include "repair/PeerTables.h"
#include "repair/RepairTestTables.h"
#include "repair/RawMemoReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using orvtest::TempDir;

std::vector<unsigned char> Bytes(const std::string& str)
{
    return {str.begin(), str.end()};
}

// The memo references of every record's memo field named strField.
std::vector<MemoReference> ReferencesOf(const std::string& strTable, const std::string& strField)
{
    CFile file;
    EXPECT_TRUE(file.Open(strTable, CFile::modeRead));
    CDamagedTableScanner scanner(file);
    DamagedTableLayout layout;
    uint64_t nStart = 0;
    EXPECT_TRUE(scanner.ReadDescriptors(layout));
    EXPECT_TRUE(scanner.FindDataStart(layout, nStart));
    const DamagedField* pField = nullptr;
    for (const auto& f : layout.fields) {
        if (f.strName == strField)
            pField = &f;
    }
    EXPECT_NE(pField, nullptr) << strField;
    std::vector<MemoReference> refs;
    if (pField == nullptr)
        return refs;
    std::vector<unsigned char> record(layout.nRecordLength);
    for (uint64_t nOffset = nStart; nOffset + layout.nRecordLength <= file.GetLength(); nOffset += layout.nRecordLength) {
        file.Seek(static_cast<int64_t>(nOffset), CFile::begin);
        file.Read(record.data(), record.size());
        if (record[0] == 0x1A)
            break;
        refs.push_back(MemoReference::Parse(std::span<const unsigned char>(record.data() + pField->nOffset, pField->nLength)));
    }
    return refs;
}

std::string Repeat(const std::string& str, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += str;
    return out;
}

TEST(MemoReference, ParsesTheThreeForms)
{
    const auto ascii = MemoReference::Parse(Bytes("        12"));
    EXPECT_EQ(ascii.nKind, MemoReference::kBlock);
    EXPECT_EQ(ascii.nBlock, 12u);
    EXPECT_EQ(ascii.nLength, -1);
    EXPECT_EQ(MemoReference::Parse(Bytes("0000000012")).nBlock, 12u);
    EXPECT_EQ(MemoReference::Parse(Bytes("          ")).nKind, MemoReference::kNone);
    EXPECT_EQ(MemoReference::Parse(std::vector<unsigned char>(10, 0)).nKind, MemoReference::kNone);
    EXPECT_EQ(MemoReference::Parse(Bytes("         0")).nKind, MemoReference::kNone);
    EXPECT_EQ(MemoReference::Parse(Bytes("   1x2    ")).nKind, MemoReference::kUnreadable);
    EXPECT_EQ(MemoReference::Parse(Bytes("99999999999")).nKind, MemoReference::kUnreadable);

    const auto binary = MemoReference::Parse(std::vector<unsigned char>{7, 0, 0x2C, 0x01, 0, 0, 5, 0, 0, 0});
    EXPECT_EQ(binary.nKind, MemoReference::kBlock);
    EXPECT_EQ(binary.nBlock, 5u);
    EXPECT_EQ(binary.nLength, 300);

    const auto four = MemoReference::Parse(std::vector<unsigned char>{9, 0, 0, 0});
    EXPECT_EQ(four.nKind, MemoReference::kBlock);
    EXPECT_EQ(four.nBlock, 9u);
    EXPECT_EQ(MemoReference::Parse(std::vector<unsigned char>{0, 0, 0, 0}).nKind, MemoReference::kNone);
}

class FoxProMemo : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strTable = m_dir.File("fox.dbf");
        m_texts = {Repeat("x", 300), "edited " + Repeat("e", 120), "third", Repeat("0123456789", 40)};
        // The second memo is edited to a longer text: FoxPro (and
        // python3-dbf) abandons the old blocks and appends.
        orvtest::WritePeerTable(m_strTable, "name C(10); notes M", "fp",
                                "[('a', '" + m_texts[0] + "'), ('b', 'short'), ('c', 'third'), ('d', '" + m_texts[3] + "')]",
                                "with t[1] as r:\n    r.notes = '" + m_texts[1] + "'");
        m_strMemo = m_dir.File("fox.fpt");
        m_refs = ReferencesOf(m_strTable, "NOTES");
        ASSERT_EQ(m_refs.size(), 4u);
    }

    TempDir m_dir;
    std::string m_strTable;
    std::string m_strMemo;
    std::vector<std::string> m_texts;
    std::vector<MemoReference> m_refs;
};

TEST_F(FoxProMemo, ReferencesReadEveryTextWhole)
{
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(m_strMemo));
    EXPECT_EQ(reader.GetFormat(), dbfformat::MemoKind::FoxPro);
    reader.SettleLayout(m_refs, 0xF5);
    EXPECT_EQ(reader.GetBlockSize(), reader.GetHeaderBlockSize());
    for (size_t i = 0; i < m_refs.size(); ++i)
        EXPECT_EQ(reader.ReadReferenced(m_refs[i]).value_or("<none>"), m_texts[i]) << i;
    // A reference past the end of the file, or onto the header, names nothing.
    EXPECT_FALSE(reader.ReadReferenced(MemoReference{MemoReference::kBlock, 100000, -1}));
    EXPECT_FALSE(reader.ReadReferenced(MemoReference{MemoReference::kBlock, 1, -1}));
}

TEST_F(FoxProMemo, ZeroedHeaderBlockSizeIsInferredFromTheReferences)
{
    const uint32_t nRealSize = [&] {
        CRawMemoReader reader;
        EXPECT_TRUE(reader.Open(m_strMemo));
        return reader.GetHeaderBlockSize();
    }();
    orvtest::PatchBytes(m_strMemo, 0, std::vector<unsigned char>(8, 0));
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(m_strMemo));
    EXPECT_EQ(reader.GetHeaderBlockSize(), 0u);
    reader.SettleLayout(m_refs, 0xF5);
    EXPECT_EQ(reader.GetBlockSize(), nRealSize);
    for (size_t i = 0; i < m_refs.size(); ++i)
        EXPECT_EQ(reader.ReadReferenced(m_refs[i]).value_or("<none>"), m_texts[i]) << i;
    // A wrong, non-zero block size in the header is overruled as well.
    orvtest::PatchBytes(m_strMemo, 6, {0x00, 0x20});
    CRawMemoReader wrong;
    ASSERT_TRUE(wrong.Open(m_strMemo));
    wrong.SettleLayout(m_refs, 0xF5);
    EXPECT_EQ(wrong.GetBlockSize(), nRealSize);
}

TEST_F(FoxProMemo, ScanSkipsClaimedBlocksAndReadsFullLengths)
{
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(m_strMemo));
    reader.SettleLayout(m_refs, 0xF5);
    // Records 0, 2 and 3 keep their references; the scan must not hand
    // out their texts. What is left: the abandoned "short" and the edited
    // text of record 1, in file order.
    reader.SetClaimedBlocks({m_refs[0].nBlock, m_refs[2].nBlock, m_refs[3].nBlock});
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), "short");
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), m_texts[1]);
    EXPECT_FALSE(reader.ScanNextText());
}

TEST_F(FoxProMemo, ScanWithoutClaimsReadsTextsInFileOrderAndWhole)
{
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(m_strMemo));
    reader.SettleLayout({}, 0xF5);
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), m_texts[0]); // 300 bytes, not 44
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), "short");
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), "third");
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), m_texts[3]);
    EXPECT_EQ(reader.ScanNextText().value_or("<none>"), m_texts[1]);
    EXPECT_FALSE(reader.ScanNextText());
}

TEST(DBase3Memo, TextsRunToTheirTerminator)
{
    TempDir dir;
    const std::string strTable = dir.File("d3.dbf");
    const std::string strLong = Repeat("y", 600);
    orvtest::WritePeerTable(strTable, "name C(10); notes M", "db3", "[('a', 'hello dbase'), ('b', '" + strLong + "'), ('c', '')]");
    const auto refs = ReferencesOf(strTable, "NOTES");
    ASSERT_EQ(refs.size(), 3u);
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(dir.File("d3.dbt")));
    reader.SettleLayout(refs, 0x83);
    EXPECT_EQ(reader.GetFormat(), dbfformat::MemoKind::DBase3);
    EXPECT_EQ(reader.GetBlockSize(), 512u);
    EXPECT_EQ(reader.ReadReferenced(refs[0]).value_or("<none>"), "hello dbase");
    EXPECT_EQ(reader.ReadReferenced(refs[1]).value_or("<none>"), strLong);
    // python3-dbf stores an empty memo as a block holding only terminators.
    EXPECT_EQ(reader.ReadReferenced(refs[2]).value_or("<none>"), "");
    // dBASE III keeps no block headers: there is nothing to scan for.
    EXPECT_FALSE(reader.ScanNextText());
}

TEST(DBase4Memo, RealFileIsRecognisedAndReadThroughItsBlockHeaders)
{
    const std::string strTable = orvtest::RealFixturesDir() + "/dbase_8b.dbf";
    const auto refs = ReferencesOf(strTable, "MEMO");
    ASSERT_FALSE(refs.empty());
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(orvtest::RealFixturesDir() + "/dbase_8b.dbt"));
    reader.SettleLayout(refs, 0x8B);
    EXPECT_EQ(reader.GetFormat(), dbfformat::MemoKind::DBase4);
    EXPECT_EQ(reader.GetBlockSize(), 512u);
    // Compare with what python3-dbfread reads, byte for byte. python3-dbfread
    // reads a dBASE IV value's stored length as its data length; the length
    // counts the 8-byte block header too (the edited values of this very
    // file show old bytes behind the shorter new text), so the oracle is
    // told to leave the header out.
    const std::string strScript = R"PY(
import sys, dbfread, dbfread.memo
def read_db4(self, index):
    if index <= 0:
        return None
    self._seek(index * 512)
    header = dbfread.memo.DB4MemoHeader.read(self.file)
    return self._read(header.length - 8)
dbfread.memo.DB4MemoFile.__getitem__ = read_db4
for r in dbfread.DBF(sys.argv[1], encoding='latin-1'):
    m = r['MEMO']
    print('-' if m is None else m.encode('latin-1').hex())
)PY";
    const std::string strExpected = orvtest::RunPython(strScript, {strTable}).strOut;
    std::string strActual;
    for (const auto& ref : refs) {
        if (ref.nKind == MemoReference::kNone) {
            strActual += "-\n";
            continue;
        }
        const auto text = reader.ReadReferenced(ref);
        ASSERT_TRUE(text);
        static const char kHex[] = "0123456789abcdef";
        for (unsigned char c : *text) {
            strActual += kHex[c >> 4];
            strActual += kHex[c & 15];
        }
        strActual += "\n";
    }
    EXPECT_EQ(strActual, strExpected);
}

TEST(SIxMemo, LengthComesFromTheBinaryReference)
{
    TempDir dir;
    const std::string strTable = dir.File("six.dbf");
    repairtest::WriteSIxTable(strTable, {"first six memo", "", "third, with more words in it"});
    const auto refs = ReferencesOf(strTable, "NOTES");
    ASSERT_EQ(refs.size(), 3u);
    EXPECT_EQ(refs[0].nLength, 14);
    EXPECT_EQ(refs[1].nKind, MemoReference::kNone);
    CRawMemoReader reader;
    ASSERT_TRUE(reader.Open(dir.File("six.SMT")));
    reader.SettleLayout(refs, 0xE5);
    EXPECT_EQ(reader.GetFormat(), dbfformat::MemoKind::SIx);
    EXPECT_EQ(reader.ReadReferenced(refs[0]).value_or("<none>"), "first six memo");
    EXPECT_EQ(reader.ReadReferenced(refs[2]).value_or("<none>"), "third, with more words in it");
}

TEST(RawMemoReader, OtherExtensionsAndMissingFilesAreNotOpened)
{
    TempDir dir;
    orvtest::WriteBytes(dir.File("x.txt"), std::vector<unsigned char>(600, 0));
    CRawMemoReader reader;
    EXPECT_FALSE(reader.Open(dir.File("x.txt")));
    EXPECT_FALSE(reader.Open(dir.File("missing.fpt")));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.ReadReferenced(MemoReference{MemoReference::kBlock, 8, -1}));
    EXPECT_FALSE(reader.ScanNextText());
}

} // namespace
