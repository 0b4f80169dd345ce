// Memo files written by real database programs, read back and compared with
// what python3-dbfread reads from the same tables.

#include "dbf/DBFException.h"
#include "dbf/MemoFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using dbfformat::MemoKind;

// Prints one line per memo value of the table: the block number taken from
// the record and the value's bytes in hex.
constexpr const char* kListMemos = R"PY(
import sys
from dbfread import DBF
path = sys.argv[1]
raw = DBF(path, raw=True)
val = DBF(path, encoding='latin-1')
fields = [f for f in raw.fields if f.type in 'MGPB']
for r, v in zip(raw, val):
    for f in fields:
        b = r[f.name]
        n = int.from_bytes(b, 'little') if f.length == 4 else int(b.strip() or b'0')
        if n == 0 or v[f.name] is None:
            continue
        t = v[f.name]
        data = bytes(t) if isinstance(t, bytes) else t.encode('latin-1')
        print(n, data.hex())
)PY";

struct PeerValue {
    uint32_t nBlock;
    std::string strData;
};

std::vector<PeerValue> PeerValues(const std::string& strTable)
{
    const auto result = orvtest::RunPython(kListMemos, {strTable});
    EXPECT_EQ(result.nExitCode, 0) << strTable;
    std::vector<PeerValue> values;
    std::istringstream in(result.strOut);
    std::string strLine;
    while (std::getline(in, strLine)) {
        std::istringstream line(strLine);
        PeerValue value {};
        std::string strHex;
        line >> value.nBlock >> strHex;
        for (size_t i = 0; i + 1 < strHex.size(); i += 2)
            value.strData.push_back(static_cast<char>(std::stoi(strHex.substr(i, 2), nullptr, 16)));
        values.push_back(value);
    }
    return values;
}

struct RealMemo {
    const char* szTable;
    const char* szMemo;
    MemoKind kind;
    uint32_t nBlockSize;
};

class RealMemoTest : public ::testing::TestWithParam<RealMemo> {};

} // namespace

TEST_P(RealMemoTest, ValuesMatchThePeerReader)
{
    const RealMemo& real = GetParam();
    const std::string dir = orvtest::RealFixturesDir();
    const auto peer = PeerValues(dir + "/" + real.szTable);
    ASSERT_FALSE(peer.empty());

    auto memo = MakeMemoFile(real.kind);
    ASSERT_TRUE(memo->OpenMemoFile(dir + "/" + real.szMemo, CFile::modeRead | CFile::shareDenyNone));
    EXPECT_EQ(memo->GetBlockSize(), real.nBlockSize);
    for (const PeerValue& value : peer) {
        std::string strText;
        uint32_t nLength = 0;
        ASSERT_TRUE(memo->ReadMemoText(value.nBlock, nLength, strText)) << value.nBlock;
        if (real.kind == MemoKind::DBase4) {
            // The peer reads as many bytes as the stored total length (which
            // counts the 8-byte block header too) and cuts at the first
            // 0x1F: it sees our data followed by at most 8 stale bytes.
            EXPECT_EQ(value.strData.substr(0, strText.size()), strText) << value.nBlock;
            EXPECT_LE(value.strData.size(), strText.size() + 8) << value.nBlock;
            EXPECT_GT(strText.size(), 8u);
            EXPECT_EQ(nLength, strText.size());
            if (value.nBlock == 1) {
                EXPECT_EQ(strText, "First memo\r\n");  // total length 20 in the file
            }
        } else if (real.kind == MemoKind::DBase3) {
            EXPECT_EQ(strText, value.strData) << value.nBlock;
            EXPECT_EQ(nLength, strText.size() + 1);  // every value has its 0x1A
        } else {
            EXPECT_EQ(strText, value.strData) << value.nBlock;
            EXPECT_EQ(nLength, strText.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, RealMemoTest,
                         ::testing::Values(RealMemo {"dbase_83.dbf", "dbase_83.dbt", MemoKind::DBase3, 512},
                                           RealMemo {"dbase_8b.dbf", "dbase_8b.dbt", MemoKind::DBase4, 512},
                                           RealMemo {"dbase_30.dbf", "dbase_30.fpt", MemoKind::VisualFoxPro, 64},
                                           RealMemo {"dbase_f5.dbf", "dbase_f5.fpt", MemoKind::FoxPro, 64},
                                           RealMemo {"memotest.dbf", "memotest.FPT", MemoKind::VisualFoxPro, 512}));

// Writing into a copy of a real FoxPro memo file with 512-byte blocks keeps
// its block size and its values.
TEST(RealMemoWriteTest, AppendToAForeignFoxProFile)
{
    orvtest::TempDir dir;
    const std::string path = dir.File("memotest.FPT");
    orvtest::WriteBytes(path, orvtest::ReadBytes(orvtest::RealFixturesDir() + "/memotest.FPT"));
    const auto peer = PeerValues(orvtest::RealFixturesDir() + "/memotest.dbf");
    ASSERT_FALSE(peer.empty());

    auto memo = MakeMemoFile(MemoKind::VisualFoxPro);
    ASSERT_TRUE(memo->OpenMemoFile(path, CFile::modeReadWrite));
    uint32_t nBlock = 0;
    uint32_t nLength = 0;
    memo->WriteMemoText(nBlock, nLength, std::string(600, 'w'));
    EXPECT_EQ(nBlock, 5u);  // the header's next free block
    memo->Close();

    ASSERT_TRUE(memo->OpenMemoFile(path, CFile::modeRead));
    EXPECT_EQ(memo->GetBlockSize(), 512u);
    std::string strText;
    memo->ReadMemoText(5, nLength, strText);
    EXPECT_EQ(strText, std::string(600, 'w'));
    for (const PeerValue& value : peer) {
        memo->ReadMemoText(value.nBlock, nLength, strText);
        EXPECT_EQ(strText, value.strData);
    }
}
