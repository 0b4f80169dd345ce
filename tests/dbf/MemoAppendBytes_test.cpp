// AppendMemoBytes and SetNewBlockSize on every memo format: binary values of
// many sizes come back byte for byte at the block size asked for, after the
// file is reopened; no value overwrites another; FoxPro keeps the block type;
// dBASE III cuts at 0x1A; a dBASE IV file of 512-byte blocks reads back in
// python3-dbfread through its table.

#include "DbfTestFields.h"
#include "dbf/ByteCodec.h"
#include "dbf/DBFTableDef.h"
#include "dbf/FieldCodec.h"
#include "dbf/MemoFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using dbfformat::MemoKind;

struct Layout {
    MemoKind kind;
    uint32_t nAskedBlockSize; // 0: the format's default
    uint32_t nExpectedBlockSize;
};

std::string Name(const testing::TestParamInfo<Layout>& info)
{
    return std::string(dbfformat::MemoKindExtension(info.param.kind)) + "_"
        + std::to_string(static_cast<int>(info.param.kind)) + "_"
        + std::to_string(info.param.nAskedBlockSize);
}

// Bytes of every value 0..255 in turn (0x1A left out for dBASE III, whose
// values end there), starting at nSeed.
std::vector<unsigned char> Pattern(size_t nSize, unsigned nSeed, bool bNoTerminator)
{
    std::vector<unsigned char> bytes(nSize);
    for (size_t i = 0; i < nSize; ++i) {
        auto c = static_cast<unsigned char>(nSeed + i * 7);
        bytes[i] = bNoTerminator && c == 0x1A ? 0x1B : c;
    }
    return bytes;
}

class MemoAppendBytes : public ::testing::TestWithParam<Layout> {};

} // namespace

TEST_P(MemoAppendBytes, ValuesComeBackWholeAfterReopening)
{
    const Layout layout = GetParam();
    const bool bDBase3 = layout.kind == MemoKind::DBase3;
    orvtest::TempDir dir;
    const std::string strPath = dir.File("m.memo");
    auto memo = MakeMemoFile(layout.kind);
    if (layout.nAskedBlockSize != 0)
        memo->SetNewBlockSize(layout.nAskedBlockSize);
    ASSERT_TRUE(memo->CreateMemoFile(strPath));
    EXPECT_EQ(memo->GetBlockSize(), layout.nExpectedBlockSize);

    // Sizes around the block size, where the block arithmetic can slip.
    const size_t nBlock = layout.nExpectedBlockSize;
    struct Stored {
        std::vector<unsigned char> bytes;
        uint32_t nBlock, nLength;
    };
    std::vector<Stored> stored;
    unsigned nSeed = 0;
    for (size_t nSize : {size_t{1}, size_t{9}, nBlock > 8 ? nBlock - 8 : 2, nBlock, nBlock + 1, 3 * nBlock + 5,
                         size_t{700}}) {
        Stored s{Pattern(nSize, nSeed++, bDBase3), 99, 99};
        ASSERT_TRUE(memo->AppendMemoBytes(s.nBlock, s.nLength, s.bytes, 0));
        EXPECT_EQ(s.nLength, nSize);
        EXPECT_GT(s.nBlock, 0u);
        stored.push_back(s);
    }
    uint32_t nEmptyBlock = 99, nEmptyLength = 99;
    ASSERT_TRUE(memo->AppendMemoBytes(nEmptyBlock, nEmptyLength, {}, 0));
    // An empty value keeps a block (a record that had one keeps it), but
    // SIx keeps lengths in the record and needs none.
    EXPECT_EQ(nEmptyBlock == 0, layout.kind == MemoKind::SIx);
    EXPECT_EQ(nEmptyLength, 0u);
    if (nEmptyBlock != 0)
        stored.push_back({{}, nEmptyBlock, 0});
    memo->Close();

    auto reopened = MakeMemoFile(layout.kind);
    ASSERT_TRUE(reopened->OpenMemoFile(strPath, CFile::modeRead));
    EXPECT_EQ(reopened->GetBlockSize(), layout.nExpectedBlockSize);
    for (const Stored& s : stored) {
        SCOPED_TRACE(testing::Message() << "value of " << s.bytes.size() << " bytes at block " << s.nBlock);
        uint32_t nLength = s.nLength; // SIx takes it from the record
        std::vector<unsigned char> back;
        ASSERT_TRUE(reopened->ReadMemoBytes(s.nBlock, nLength, back));
        if (bDBase3) {
            // The terminator's place comes back as a NUL.
            ASSERT_EQ(back.size(), s.bytes.size() + 1);
            back.pop_back();
        }
        EXPECT_EQ(back, s.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, MemoAppendBytes,
    testing::Values(Layout{MemoKind::DBase3, 0, 512}, Layout{MemoKind::DBase3, 64, 512},
                    Layout{MemoKind::DBase4, 0, 256}, Layout{MemoKind::DBase4, 1, 1},
                    Layout{MemoKind::DBase4, 512, 512}, Layout{MemoKind::FoxPro, 0, 64},
                    Layout{MemoKind::FoxPro, 1, 1}, Layout{MemoKind::FoxPro, 33, 33},
                    Layout{MemoKind::FoxPro, 65535, 65535}, Layout{MemoKind::SIx, 0, 128},
                    Layout{MemoKind::SIx, 3, 3}, Layout{MemoKind::SIx, 1024, 1024}),
    Name);

TEST(MemoAppendBytesFoxPro, BlockTypeIsWrittenInTheBlockHeader)
{
    orvtest::TempDir dir;
    const std::string strPath = dir.File("m.fpt");
    auto memo = MakeMemoFile(MemoKind::FoxPro);
    ASSERT_TRUE(memo->CreateMemoFile(strPath));
    std::vector<std::pair<uint32_t, uint32_t>> blocks; // block, type
    for (uint32_t nType : {0u, 1u, 2u, 0x12345678u}) {
        uint32_t nBlock = 0, nLength = 0;
        const std::vector<unsigned char> value(100, static_cast<unsigned char>(nType));
        ASSERT_TRUE(memo->AppendMemoBytes(nBlock, nLength, value, nType));
        blocks.emplace_back(nBlock, nType);
    }
    memo->Close();
    const auto bytes = orvtest::ReadBytes(strPath);
    for (const auto& [nBlock, nType] : blocks) {
        const size_t nPos = static_cast<size_t>(nBlock) * 64;
        ASSERT_LE(nPos + 8, bytes.size());
        EXPECT_EQ(dbfbytes::DecodeFixed32BE(&bytes[nPos]), nType);
        EXPECT_EQ(dbfbytes::DecodeFixed32BE(&bytes[nPos + 4]), 100u);
    }
}

TEST(MemoAppendBytesDBase3, ValueWithTheTerminatorIsWrittenWholeButReadsBackCut)
{
    orvtest::TempDir dir;
    const std::string strPath = dir.File("m.dbt");
    auto memo = MakeMemoFile(MemoKind::DBase3);
    ASSERT_TRUE(memo->CreateMemoFile(strPath));
    const std::vector<unsigned char> value = {'a', 'b', 0x1A, 'c', 'd'};
    uint32_t nBlock = 0, nLength = 0;
    ASSERT_TRUE(memo->AppendMemoBytes(nBlock, nLength, value, 1));
    EXPECT_EQ(nLength, 5u);
    std::vector<unsigned char> back;
    ASSERT_TRUE(memo->ReadMemoBytes(nBlock, nLength, back));
    EXPECT_EQ(back, (std::vector<unsigned char>{'a', 'b', 0}));
    memo->Close();
    const auto bytes = orvtest::ReadBytes(strPath);
    ASSERT_GE(bytes.size(), nBlock * 512u + 6);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), bytes.begin() + nBlock * 512));
    EXPECT_EQ(bytes[nBlock * 512 + 5], 0x1A);
}

TEST(MemoAppendBytesLimits, BlockSizesOutsideTheHeaderAndClosedFilesAreRefused)
{
    for (MemoKind kind : {MemoKind::DBase3, MemoKind::DBase4, MemoKind::FoxPro, MemoKind::SIx}) {
        SCOPED_TRACE(static_cast<int>(kind));
        auto memo = MakeMemoFile(kind);
        EXPECT_THROW(memo->SetNewBlockSize(0), std::invalid_argument);
        const bool b16Bit = kind == MemoKind::DBase4 || kind == MemoKind::FoxPro;
        if (b16Bit)
            EXPECT_THROW(memo->SetNewBlockSize(65536), std::invalid_argument);
        else
            EXPECT_NO_THROW(memo->SetNewBlockSize(65536));
        uint32_t nBlock = 7, nLength = 7;
        const unsigned char one = 'x';
        EXPECT_FALSE(memo->AppendMemoBytes(nBlock, nLength, {&one, 1}, 1));
        EXPECT_EQ(nBlock, 7u);
        EXPECT_EQ(nLength, 7u);
    }
}

// A dBASE IV table whose memo file has 512-byte blocks (the size dbfread
// assumes for every .DBT), filled through AppendMemoBytes.
TEST(MemoAppendBytesDBase4, TableWith512ByteBlocksReadsBackInDbfread)
{
    orvtest::TempDir dir;
    const std::string strPath = dir.File("d4.dbf");
    // Around the block size too: 504 data bytes and the 8-byte block header
    // fill a block exactly.
    std::vector<std::string> texts;
    for (size_t nLength : {0, 1, 10, 503, 504, 505, 1016, 1100})
        texts.push_back(std::string(nLength, static_cast<char>('a' + texts.size())));
    {
        CDBFTableDef table;
        ASSERT_TRUE(table.Create(strPath));
        table.SetNewTableKind(0x8B, 0);
        table.SetNewMemoBlockSize(512);
        table.CreateField(dbftest::Field("NAME", 'C', 8));
        table.CreateField(dbftest::Field("NOTES", 'M', 10));
        table.Append();
        ASSERT_NE(table.GetMemoFile(), nullptr);
        ASSERT_EQ(table.GetMemoFile()->GetBlockSize(), 512u);
        std::vector<unsigned char> record(table.GetHeader().GetRecordLength(), ' ');
        for (size_t i = 0; i < texts.size(); ++i) {
            uint32_t nBlock = 0, nLength = 0;
            const std::vector<unsigned char> bytes(texts[i].begin(), texts[i].end());
            ASSERT_TRUE(table.GetMemoFile()->AppendMemoBytes(nBlock, nLength, bytes, 1));
            EncodeField(record, table.GetFieldInfo(0), FieldValue::MakeText("r" + std::to_string(i)));
            EncodeField(record, table.GetFieldInfo(1), FieldValue::MakeUnsigned(nBlock));
            table.WriteRecord(static_cast<int32_t>(i), record);
        }
        table.SetRecordCount(static_cast<int32_t>(texts.size()));
        table.WriteHeader();
    }
    // dbfread takes the stored total (data + 8) for the data length and cuts
    // at 0x1F: each value comes back exactly, with nothing after it.
    const auto peer = orvtest::RunPython(R"(
import sys, dbfread
for r in dbfread.DBF(sys.argv[1], ignore_missing_memofile=False):
    print(r['NAME'], repr(r['NOTES']))
)", {strPath});
    EXPECT_EQ(peer.nExitCode, 0);
    std::string strExpected;
    for (size_t i = 0; i < texts.size(); ++i)
        strExpected += "r" + std::to_string(i) + " '" + texts[i] + "'\n";
    EXPECT_EQ(peer.strOut, strExpected);
}

// With blocks smaller than a free run's 8-byte header, a run is not split
// where the part left free could not hold that header (it would overwrite
// the value placed behind it).
TEST(MemoAppendBytesDBase4, SmallBlocksNeverSplitARunTooShortForItsHeader)
{
    orvtest::TempDir dir;
    auto memo = MakeMemoFile(MemoKind::DBase4);
    memo->SetNewBlockSize(4);
    ASSERT_TRUE(memo->CreateMemoFile(dir.File("m.dbt")));
    // 19 bytes, the block header and the end mark take 7 blocks; freed,
    // they form one run of 7.
    uint32_t nBlock = 0, nLength = 0;
    ASSERT_TRUE(memo->WriteMemoText(nBlock, nLength, std::string(19, 'a')));
    const uint32_t nFreed = nBlock;
    ASSERT_TRUE(memo->WriteMemoText(nBlock, nLength, ""));
    // 15 bytes take 6 blocks: taking them from the run would leave 4 bytes.
    const std::vector<unsigned char> value(15, 'b');
    uint32_t nNew = 0, nNewLength = 0;
    ASSERT_TRUE(memo->AppendMemoBytes(nNew, nNewLength, value, 1));
    EXPECT_NE(nNew, nFreed + 1);
    std::vector<unsigned char> back;
    ASSERT_TRUE(memo->ReadMemoBytes(nNew, nNewLength, back));
    EXPECT_EQ(back, value);
    // 11 bytes take 5 blocks: the 2 left hold the run's header.
    const std::vector<unsigned char> small(11, 'c');
    ASSERT_TRUE(memo->AppendMemoBytes(nNew, nNewLength, small, 1));
    EXPECT_EQ(nNew, nFreed + 2);
    ASSERT_TRUE(memo->ReadMemoBytes(nNew, nNewLength, back));
    EXPECT_EQ(back, small);
}
