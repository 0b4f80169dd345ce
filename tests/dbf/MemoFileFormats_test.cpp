// The on-disk layouts and space management of each memo format: new files,
// first blocks, in-place rewrites versus moves, the dBASE IV free-run chain
// and the SIx free-run table, and damaged space bookkeeping.

#include "dbf/ByteCodec.h"
#include "dbf/DBFException.h"
#include "dbf/DBTMemoFile.h"
#include "dbf/FPTMemoFile.h"
#include "dbf/MemoFile.h"
#include "dbf/SMTMemoFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

using orvtest::TempDir;

namespace {

using dbfformat::MemoKind;

// One memo file of a kind, with the record-side bookkeeping of a table: the
// block and (for SIx) the length of each value.
class MemoFixture : public ::testing::Test {
protected:
    void Make(MemoKind kind, const std::string& strName = "memo.x")
    {
        m_strPath = m_dir.File(strName);
        m_memo = MakeMemoFile(kind);
        ASSERT_TRUE(m_memo->CreateMemoFile(m_strPath));
    }

    // Stores strText as a new value; returns its block.
    uint32_t Add(const std::string& strText)
    {
        uint32_t nBlock = 0;
        uint32_t nLength = static_cast<uint32_t>(strText.size());
        m_memo->WriteMemoText(nBlock, nLength, strText);
        m_lengths[nBlock] = nLength;
        return nBlock;
    }

    // Replaces the value at nBlock; returns the new block.
    uint32_t Replace(uint32_t nBlock, const std::string& strText)
    {
        uint32_t nLength = m_lengths.count(nBlock) ? m_lengths[nBlock] : static_cast<uint32_t>(strText.size());
        m_memo->WriteMemoText(nBlock, nLength, strText);
        if (nBlock != 0)
            m_lengths[nBlock] = nLength;
        return nBlock;
    }

    void Remove(uint32_t nBlock) { EXPECT_EQ(Replace(nBlock, ""), 0u); }

    std::string Text(uint32_t nBlock)
    {
        std::string strText;
        uint32_t nLength = m_lengths[nBlock];
        m_memo->ReadMemoText(nBlock, nLength, strText);
        return strText;
    }

    // The file as it is now on disk.
    std::vector<unsigned char> Bytes()
    {
        m_memo->Flush();
        return orvtest::ReadBytes(m_strPath);
    }

    // Overwrites bytes of the file behind the object's back, then reopens it.
    void Patch(uint64_t nOffset, const std::vector<unsigned char>& bytes)
    {
        const MemoKind kind = m_memo->GetMemoKind();
        m_memo->Close();
        auto all = orvtest::ReadBytes(m_strPath);
        if (all.size() < nOffset + bytes.size())
            all.resize(nOffset + bytes.size());
        std::copy(bytes.begin(), bytes.end(), all.begin() + static_cast<long>(nOffset));
        orvtest::WriteBytes(m_strPath, all);
        m_memo = MakeMemoFile(kind);
        ASSERT_TRUE(m_memo->OpenMemoFile(m_strPath, CFile::modeReadWrite));
    }

    TempDir m_dir;
    std::string m_strPath;
    std::unique_ptr<CMemoFile> m_memo;
    std::map<uint32_t, uint32_t> m_lengths;
};

std::vector<unsigned char> LE32(uint32_t v)
{
    std::vector<unsigned char> b(4);
    dbfbytes::EncodeFixed32LE(b.data(), v);
    return b;
}

std::vector<unsigned char> Concat(std::vector<unsigned char> a, const std::vector<unsigned char>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// ---------------------------------------------------------------------------
// dBASE III

using DBase3MemoTest = MemoFixture;

TEST_F(DBase3MemoTest, NewFileIsOneBlockWithNextFreeOne)
{
    Make(MemoKind::DBase3);
    std::vector<unsigned char> expected(512, 0);
    expected[0] = 1;
    EXPECT_EQ(Bytes(), expected);

    EXPECT_EQ(Add("abc"), 1u);
    const auto bytes = Bytes();
    ASSERT_EQ(bytes.size(), 512u + 4);
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(&bytes[0]), 2u);
    EXPECT_EQ(std::string(bytes.begin() + 512, bytes.end()), "abc\x1A");
    // 511 bytes and the terminator fill block 2 exactly.
    EXPECT_EQ(Add(std::string(511, 'b')), 2u);
    EXPECT_EQ(Add("c"), 3u);
}

TEST_F(DBase3MemoTest, ValueWithoutTerminatorEndsAtEndOfFile)
{
    Make(MemoKind::DBase3);
    const uint32_t nBlock = Add(std::string(700, 'q'));
    m_memo->Close();
    auto bytes = orvtest::ReadBytes(m_strPath);
    bytes.pop_back();  // drop the 0x1A
    orvtest::WriteBytes(m_strPath, bytes);
    ASSERT_TRUE(m_memo->OpenMemoFile(m_strPath, CFile::modeRead));

    std::string strText;
    uint32_t nLength = 0;
    ASSERT_TRUE(m_memo->ReadMemoText(nBlock, nLength, strText));
    EXPECT_EQ(strText, std::string(700, 'q'));
    EXPECT_EQ(nLength, 700u);  // no terminator, nothing counted for it
    std::vector<unsigned char> raw;
    ASSERT_TRUE(m_memo->ReadMemoBytes(nBlock, nLength, raw));
    EXPECT_EQ(raw, std::vector<unsigned char>(700, 'q'));
    EXPECT_EQ(nLength, 700u);
}

TEST_F(DBase3MemoTest, RewriteStaysInPlaceWhileItFitsItsBlocks)
{
    Make(MemoKind::DBase3);
    const uint32_t a = Add(std::string(100, 'a'));
    const uint32_t b = Add("next");
    ASSERT_EQ(b, 2u);
    // 511 bytes and the terminator still fit the one block.
    EXPECT_EQ(Replace(a, std::string(511, 'A')), a);
    EXPECT_EQ(Text(a), std::string(511, 'A'));
    // One byte more moves the value to the next free block.
    const uint32_t moved = Replace(a, std::string(512, 'M'));
    EXPECT_EQ(moved, 3u);
    EXPECT_EQ(Text(moved), std::string(512, 'M'));
    EXPECT_EQ(Text(b), "next");
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(Bytes().data()), 5u);
}

// A value that fills its block to the last byte has no room left: counting
// its terminator twice would let a longer text spill into the next value.
TEST_F(DBase3MemoTest, FullBlockValueMovesInsteadOfOverwritingTheNext)
{
    Make(MemoKind::DBase3);
    const uint32_t a = Add(std::string(511, 'a'));
    const uint32_t b = Add("neighbour");
    const uint32_t moved = Replace(a, std::string(600, 'x'));
    EXPECT_NE(moved, a);
    EXPECT_EQ(Text(b), "neighbour");
    EXPECT_EQ(Text(moved), std::string(600, 'x'));
}

TEST_F(DBase3MemoTest, StaleNextFreeBlockNeverOverwritesValues)
{
    Make(MemoKind::DBase3);
    const uint32_t a = Add(std::string(300, 'a'));
    for (uint32_t nStale : {0u, 1u}) {
        Patch(0, LE32(nStale));
        const uint32_t b = Add("appended");
        EXPECT_GT(b, a);
        EXPECT_EQ(Text(a), std::string(300, 'a'));
        EXPECT_EQ(Text(b), "appended");
    }
}

// ---------------------------------------------------------------------------
// FoxPro

using FoxProMemoTest = MemoFixture;

TEST_F(FoxProMemoTest, NewFileAndTheOneBlockBoundary)
{
    Make(MemoKind::FoxPro);
    std::vector<unsigned char> expected(512, 0);
    expected[3] = 8;     // next free block 8, big-endian
    expected[7] = 0x40;  // block size 64, big-endian
    EXPECT_EQ(Bytes(), expected);

    // 56 bytes and the 8-byte block header fill one block exactly.
    EXPECT_EQ(Add(std::string(56, 'a')), 8u);
    auto bytes = Bytes();
    EXPECT_EQ(dbfbytes::DecodeFixed32BE(&bytes[0]), 9u);
    EXPECT_EQ(dbfbytes::DecodeFixed32BE(&bytes[512]), 1u);   // type: text
    EXPECT_EQ(dbfbytes::DecodeFixed32BE(&bytes[516]), 56u);  // length
    // 57 bytes take two blocks.
    EXPECT_EQ(Add(std::string(57, 'b')), 9u);
    EXPECT_EQ(dbfbytes::DecodeFixed32BE(Bytes().data()), 11u);
    EXPECT_EQ(Add("c"), 11u);
}

TEST_F(FoxProMemoTest, RewriteInPlaceUpToCapacityElseAppend)
{
    Make(MemoKind::FoxPro);
    const uint32_t a = Add(std::string(20, 'a'));
    const uint32_t b = Add("second");
    EXPECT_EQ(Replace(a, std::string(56, 'A')), a);
    EXPECT_EQ(Text(a), std::string(56, 'A'));
    const uint32_t moved = Replace(a, std::string(57, 'M'));
    EXPECT_EQ(moved, 10u);
    EXPECT_EQ(Text(moved), std::string(57, 'M'));
    EXPECT_EQ(Text(b), "second");
    // The abandoned value is left as it was.
    EXPECT_EQ(Text(a), std::string(56, 'A'));
    EXPECT_EQ(dbfbytes::DecodeFixed32BE(Bytes().data()), 12u);
}

// A damaged stored length must not make a rewrite spill over the values
// behind it.
TEST_F(FoxProMemoTest, ImplausibleStoredLengthMovesTheRewrite)
{
    Make(MemoKind::FoxPro);
    const uint32_t a = Add("first");
    const uint32_t b = Add("second");
    std::vector<unsigned char> huge(4);
    dbfbytes::EncodeFixed32BE(huge.data(), 0x7FFFFFF0);
    Patch(a * 64 + 4, huge);
    const uint32_t moved = Replace(a, std::string(200, 'x'));
    EXPECT_NE(moved, a);
    EXPECT_EQ(Text(b), "second");
    EXPECT_EQ(Text(moved), std::string(200, 'x'));
}

TEST_F(FoxProMemoTest, StaleNextFreeBlockNeverOverwritesValues)
{
    Make(MemoKind::FoxPro);
    const uint32_t a = Add(std::string(100, 'a'));
    Patch(0, {0, 0, 0, 0});
    const uint32_t b = Add("appended");
    EXPECT_GT(b, a);
    EXPECT_EQ(Text(a), std::string(100, 'a'));
    EXPECT_EQ(Bytes()[7], 0x40);  // the header was not overwritten
}

// ---------------------------------------------------------------------------
// dBASE IV

class DBase4MemoTest : public MemoFixture {
protected:
    static constexpr uint32_t s = 256;

    uint32_t HeaderLink() { return dbfbytes::DecodeFixed32LE(Bytes().data()); }
    // The (next link, count) pair at the start of a block.
    std::pair<uint32_t, uint32_t> Run(uint32_t nBlock)
    {
        const auto bytes = Bytes();
        return {dbfbytes::DecodeFixed32LE(&bytes[nBlock * s]), dbfbytes::DecodeFixed32LE(&bytes[nBlock * s + 4])};
    }
    uint32_t EndOfFile() { return static_cast<uint32_t>((Bytes().size() + s - 1) / s); }
    // Values that need one block each.
    std::vector<uint32_t> AddOneBlockValues(int n)
    {
        std::vector<uint32_t> blocks;
        for (int i = 0; i < n; ++i)
            blocks.push_back(Add(std::string(100, static_cast<char>('A' + i))));
        return blocks;
    }
    void ExpectValuesIntact(const std::vector<uint32_t>& blocks, const std::vector<int>& which)
    {
        for (int i : which)
            EXPECT_EQ(Text(blocks[i]), std::string(100, static_cast<char>('A' + i))) << "value " << i;
    }
};

TEST_F(DBase4MemoTest, NewFileAndFirstValue)
{
    Make(MemoKind::DBase4, "customers.dbt");
    std::vector<unsigned char> expected(512, 0);
    expected[0] = 2;  // the chain is empty: the end-of-file block
    std::copy_n("customer", 8, expected.begin() + 8);
    expected[21] = 1;  // block size 256
    EXPECT_EQ(Bytes(), expected);

    EXPECT_EQ(Add("ten bytes!"), 2u);
    const auto bytes = Bytes();
    ASSERT_EQ(bytes.size(), 768u);  // padded to a whole block
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 512, bytes.begin() + 520),
              (std::vector<unsigned char> {0xFF, 0xFF, 0x08, 0x00, 18, 0, 0, 0}));
    EXPECT_EQ(std::string(bytes.begin() + 520, bytes.begin() + 530), "ten bytes!");
    // The chain still ends at the end of the file.
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(bytes.data()), 3u);
}

TEST_F(DBase4MemoTest, ShortTitleIsZeroPadded)
{
    Make(MemoKind::DBase4, "ab.dbt");
    const auto bytes = Bytes();
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 8, bytes.begin() + 16),
              (std::vector<unsigned char> {'a', 'b', 0, 0, 0, 0, 0, 0}));
}

TEST_F(DBase4MemoTest, RewriteKeepsTheBlockWhenTheBlockCountIsTheSame)
{
    Make(MemoKind::DBase4);
    const uint32_t a = Add("short");
    // 247 bytes, the block header and the end mark: one block.
    EXPECT_EQ(Replace(a, std::string(247, 'x')), a);
    EXPECT_EQ(Text(a), std::string(247, 'x'));
    // Needing two blocks: the old one is freed (too small to reuse), the
    // value goes to the end, and the chain's last link follows the end.
    const uint32_t moved = Replace(a, std::string(248, 'y'));
    EXPECT_EQ(moved, 3u);
    EXPECT_EQ(Text(moved), std::string(248, 'y'));
    EXPECT_EQ(HeaderLink(), a);
    EXPECT_EQ(Run(a), std::make_pair(5u, 1u));
    EXPECT_EQ(EndOfFile(), 5u);
}

TEST_F(DBase4MemoTest, FreedRunBehindAFreeRunExtendsIt)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(4);  // blocks 2..5
    Remove(v[1]);
    EXPECT_EQ(HeaderLink(), 3u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 1u));
    Remove(v[2]);
    EXPECT_EQ(HeaderLink(), 3u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 2u));
    ExpectValuesIntact(v, {0, 3});

    // First fit: the tail of the larger run, then the whole run of one.
    EXPECT_EQ(Add("tail"), 4u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 1u));
    EXPECT_EQ(Add("whole"), 3u);
    EXPECT_EQ(HeaderLink(), 6u);
    EXPECT_EQ(Text(4), "tail");
    ExpectValuesIntact(v, {0, 3});
    EXPECT_EQ(EndOfFile(), 6u);
}

TEST_F(DBase4MemoTest, FreedRunInFrontOfAFreeRunJoinsIt)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(6);  // blocks 2..7
    Remove(v[1]);                         // chain: 3
    Remove(v[4]);                         // chain: 3 -> 6
    EXPECT_EQ(Run(3), std::make_pair(6u, 1u));
    EXPECT_EQ(Run(6), std::make_pair(8u, 1u));
    Remove(v[3]);  // block 5, right in front of 6
    EXPECT_EQ(Run(3), std::make_pair(5u, 1u));  // reached through the same link
    EXPECT_EQ(Run(5), std::make_pair(8u, 2u));
    ExpectValuesIntact(v, {0, 2, 5});

    // A two-block value takes the joined run whole.
    const uint32_t b = Add(std::string(300, 'j'));
    EXPECT_EQ(b, 5u);
    EXPECT_EQ(Run(3), std::make_pair(8u, 1u));
    ExpectValuesIntact(v, {0, 2, 5});
}

TEST_F(DBase4MemoTest, JoinAtTheHeadMovesTheHeaderLink)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(4);
    Remove(v[2]);  // block 4
    Remove(v[1]);  // block 3, in front of 4
    EXPECT_EQ(HeaderLink(), 3u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 2u));
}

TEST_F(DBase4MemoTest, AppendKeepsTheChainEndingAtTheEndOfFile)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(3);  // 2..4, end of file 5
    Remove(v[1]);
    EXPECT_EQ(Run(3), std::make_pair(5u, 1u));
    const uint32_t big = Add(std::string(600, 'z'));  // three blocks, no fit
    EXPECT_EQ(big, 5u);
    EXPECT_EQ(EndOfFile(), 8u);
    // The last run's link no longer names the appended value.
    EXPECT_EQ(Run(3), std::make_pair(8u, 1u));
    // So freeing another value walks the chain without mistaking it.
    Remove(v[0]);
    EXPECT_EQ(Run(2), std::make_pair(8u, 2u));
    EXPECT_EQ(HeaderLink(), 2u);
    EXPECT_EQ(Text(big), std::string(600, 'z'));
}

TEST_F(DBase4MemoTest, CyclicChainDoesNotHangAndHandsOutNoValue)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(5);  // 2..6, end of file 7
    // Blocks 3 and 4 become runs that point at each other; 5 points at
    // itself.
    Patch(0, LE32(3));
    Patch(3 * s, Concat(LE32(4), LE32(1)));
    Patch(4 * s, Concat(LE32(3), LE32(1)));
    const uint32_t big = Add(std::string(400, 'c'));
    EXPECT_EQ(big, 7u);
    EXPECT_EQ(Add("fits"), 3u);
    ExpectValuesIntact(v, {0, 3, 4});
    EXPECT_EQ(Text(big), std::string(400, 'c'));

    Patch(0, LE32(5));
    Patch(5 * s, Concat(LE32(5), LE32(1)));
    EXPECT_EQ(Add(std::string(400, 'd')), 9u);
    ExpectValuesIntact(v, {0, 4});
}

TEST_F(DBase4MemoTest, LinkToAValueInUseIsNotAFreeRun)
{
    Make(MemoKind::DBase4);
    // A one-byte value: read as a free run it would claim 9 blocks, all
    // inside the file.
    const uint32_t x = Add("x");
    const auto v = AddOneBlockValues(10);  // 3..12, end of file 13
    // The header names a value in use (as after a grown file whose link was
    // not moved).
    Patch(0, LE32(x));
    EXPECT_EQ(Add("new"), 13u);
    EXPECT_EQ(Text(x), "x");
    ExpectValuesIntact(v, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    // Freeing replaces the bad link; the value stays.
    Remove(v[1]);
    EXPECT_EQ(HeaderLink(), 4u);
    EXPECT_EQ(Run(4), std::make_pair(14u, 1u));
    EXPECT_EQ(Text(x), "x");

    // A link past the end of the file, and one equal to the in-use marker.
    for (uint32_t nLink : {1000u, 0x0008FFFFu}) {
        Patch(0, LE32(nLink));
        const uint32_t b = Add(std::string(100, 'n'));
        EXPECT_GE(b, 14u);
        ExpectValuesIntact(v, {0, 2, 3, 4, 5, 6, 7, 8, 9});
    }
}

TEST_F(DBase4MemoTest, RunReachingPastTheEndOfFileIsNotUsed)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(3);
    Patch(0, LE32(3));
    Patch(3 * s, Concat(LE32(5), LE32(50)));  // 50 blocks from block 3
    EXPECT_EQ(Add("x"), 5u);
    ExpectValuesIntact(v, {0, 2});
}

// A stale record that names a free run must not rewrite it as a value nor
// free it a second time.
TEST_F(DBase4MemoTest, BlockWithoutInUseMarkerIsLeftAlone)
{
    Make(MemoKind::DBase4);
    const auto v = AddOneBlockValues(4);  // 2..5
    Remove(v[1]);
    Remove(v[2]);  // run 3 of 2 blocks
    uint32_t nBlock = v[1];
    uint32_t nLength = 0;
    m_memo->WriteMemoText(nBlock, nLength, "");
    EXPECT_EQ(nBlock, 0u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 2u));
    // A new text for the stale reference takes space from the chain the
    // regular way instead of overwriting the run's header.
    nBlock = v[1];
    m_memo->WriteMemoText(nBlock, nLength, "abc");
    EXPECT_EQ(nBlock, 4u);
    EXPECT_EQ(Run(3), std::make_pair(6u, 1u));
    EXPECT_EQ(Text(4), "abc");
    ExpectValuesIntact(v, {0, 3});
}

// ---------------------------------------------------------------------------
// SIx

class SIxMemoTest : public MemoFixture {
protected:
    static constexpr uint32_t s = 128;

    // The free-run table: (first block, blocks) of each entry in use.
    std::vector<std::pair<uint32_t, uint32_t>> Entries()
    {
        const auto bytes = Bytes();
        const unsigned n = dbfbytes::DecodeFixed16LE(&bytes[18]);
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        for (unsigned i = 0; i < n; ++i)
            entries.emplace_back(dbfbytes::DecodeFixed32LE(&bytes[20 + 6 * i + 2]),
                                 dbfbytes::DecodeFixed16LE(&bytes[20 + 6 * i]));
        return entries;
    }
    using Runs = std::vector<std::pair<uint32_t, uint32_t>>;
};

TEST_F(SIxMemoTest, NewFileAndFirstValue)
{
    Make(MemoKind::SIx);
    std::vector<unsigned char> expected(510, 0);
    expected[0] = 4;
    expected[4] = 128;
    std::copy_n("SIxMemo", 8, expected.begin() + 8);
    EXPECT_EQ(Bytes(), expected);

    EXPECT_EQ(Add("abc"), 4u);
    const auto bytes = Bytes();
    ASSERT_EQ(bytes.size(), 515u);
    EXPECT_EQ(bytes[510], 0);
    EXPECT_EQ(bytes[511], 0);
    EXPECT_EQ(std::string(bytes.begin() + 512, bytes.end()), "abc");
    EXPECT_EQ(dbfbytes::DecodeFixed32LE(bytes.data()), 5u);
    // The length the record keeps is an input of the read and stays.
    std::string strText;
    uint32_t nLength = 2;
    ASSERT_TRUE(m_memo->ReadMemoText(4, nLength, strText));
    EXPECT_EQ(strText, "ab");
    EXPECT_EQ(nLength, 2u);
}

TEST_F(SIxMemoTest, RewriteInPlaceOrFreeAndMove)
{
    Make(MemoKind::SIx);
    const uint32_t a = Add(std::string(100, 'a'));
    EXPECT_EQ(Replace(a, std::string(128, 'b')), a);
    EXPECT_EQ(m_lengths[a], 128u);
    EXPECT_EQ(Text(a), std::string(128, 'b'));
    const uint32_t moved = Replace(a, std::string(129, 'c'));
    EXPECT_EQ(moved, 5u);
    EXPECT_EQ(Text(moved), std::string(129, 'c'));
    EXPECT_EQ(Entries(), (Runs {{4, 1}}));
}

TEST_F(SIxMemoTest, FreeRunsAreSortedJoinedAndTakenFirstFit)
{
    Make(MemoKind::SIx);
    std::vector<uint32_t> v;
    for (int i = 0; i < 10; ++i)
        v.push_back(Add(std::string(100, static_cast<char>('0' + i))));  // blocks 4..13
    ASSERT_EQ(v[9], 13u);
    Remove(v[6]);  // 10
    Remove(v[2]);  // 6: inserted before
    EXPECT_EQ(Entries(), (Runs {{6, 1}, {10, 1}}));
    Remove(v[5]);  // 9 ends where 10 begins: joined
    EXPECT_EQ(Entries(), (Runs {{6, 1}, {9, 2}}));
    Remove(v[3]);  // 7 begins where 6 ends: not joined
    EXPECT_EQ(Entries(), (Runs {{6, 1}, {7, 1}, {9, 2}}));

    // A two-block value takes the exact run; the last entry is cleared.
    EXPECT_EQ(Add(std::string(200, 't')), 9u);
    EXPECT_EQ(Entries(), (Runs {{6, 1}, {7, 1}}));
    const auto bytes = Bytes();
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 32, bytes.begin() + 38), std::vector<unsigned char>(6, 0));
    EXPECT_EQ(Add("one"), 6u);
    EXPECT_EQ(Entries(), (Runs {{7, 1}}));

    Remove(v[8]);  // 12
    Remove(v[7]);  // 11, joined: (11, 2)
    EXPECT_EQ(Entries(), (Runs {{7, 1}, {11, 2}}));
    EXPECT_EQ(Add("exact"), 7u);
    EXPECT_EQ(Add("tail"), 12u);
    EXPECT_EQ(Entries(), (Runs {{11, 1}}));
    for (int i : {0, 1, 4, 9})
        EXPECT_EQ(Text(v[i]), std::string(100, static_cast<char>('0' + i)));
    EXPECT_EQ(Text(9), std::string(200, 't'));
}

TEST_F(SIxMemoTest, FullTableDropsARunThatJoinsNothing)
{
    Make(MemoKind::SIx);
    std::vector<uint32_t> v;
    for (int i = 0; i < 163; ++i)
        v.push_back(Add(std::string(100, 'v')));  // blocks 4..166
    for (int i = 0; i <= 160; i += 2)
        Remove(v[i]);
    auto entries = Entries();
    ASSERT_EQ(entries.size(), 81u);
    EXPECT_EQ(entries.front(), std::make_pair(4u, 1u));
    EXPECT_EQ(entries.back(), std::make_pair(164u, 1u));

    const auto before = Bytes();
    Remove(v[162]);  // block 166: no room, dropped
    const auto after = Bytes();
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 510, after.begin()));
    Remove(v[159]);  // block 163 ends where 164 begins: joined even when full
    entries = Entries();
    ASSERT_EQ(entries.size(), 81u);
    EXPECT_EQ(entries.back(), std::make_pair(163u, 2u));
}

TEST_F(SIxMemoTest, DamagedBlocksNeverReachTheHeader)
{
    Make(MemoKind::SIx);
    const uint32_t a = Add(std::string(100, 'a'));
    // A record naming block 2 (inside the header) is not rewritten in place
    // nor freed.
    uint32_t nBlock = 2;
    uint32_t nLength = 5;
    m_memo->WriteMemoText(nBlock, nLength, "hello");
    EXPECT_NE(nBlock, 2u);
    EXPECT_TRUE(Entries().empty());
    // A table entry that points into the header is never handed out.
    std::vector<unsigned char> entry {1, 0, 0, 0, 0, 0};
    dbfbytes::EncodeFixed32LE(&entry[2], 1);
    Patch(18, {1, 0});
    Patch(20, entry);
    EXPECT_GT(Add("x"), 4u);
    const auto bytes = Bytes();
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 15), "SIxMemo");
    EXPECT_EQ(Text(a), std::string(100, 'a'));
}
