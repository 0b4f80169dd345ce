// Behaviour every memo class shares, run against all four classes, plus the
// class factory and the errors of create and open.

#include "dbf/DBFException.h"
#include "dbf/DBTMemoFile.h"
#include "dbf/FPTMemoFile.h"
#include "dbf/MemoFile.h"
#include "dbf/SMTMemoFile.h"
#include "platform/ErrorReporter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

using dbfformat::MemoKind;
using orvtest::TempDir;

// Records the largest single allocation, so tests can tell that an
// implausible stored length was refused before any buffer was sized by it.
// Every non-aligned form of new and delete is replaced, so that memory from
// any of them (also from libraries) is released by the matching form.
namespace {
std::atomic<size_t> g_nLargestAllocation {0};

void* ProbeAllocate(std::size_t nSize) noexcept
{
    size_t nSeen = g_nLargestAllocation.load(std::memory_order_relaxed);
    while (nSize > nSeen && !g_nLargestAllocation.compare_exchange_weak(nSeen, nSize)) {
    }
    return std::malloc(nSize != 0 ? nSize : 1);
}

// Out of line, so that the compiler never sees free() meet a pointer from
// operator new and takes the pair for a mismatch.
[[gnu::noinline]] void ProbeFree(void* p) noexcept
{
    std::free(p);
}
} // namespace

void* operator new(std::size_t nSize)
{
    if (void* p = ProbeAllocate(nSize))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t nSize)
{
    if (void* p = ProbeAllocate(nSize))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept { return ProbeAllocate(nSize); }
void* operator new[](std::size_t nSize, const std::nothrow_t&) noexcept { return ProbeAllocate(nSize); }
void operator delete(void* p) noexcept { ProbeFree(p); }
void operator delete[](void* p) noexcept { ProbeFree(p); }
void operator delete(void* p, std::size_t) noexcept { ProbeFree(p); }
void operator delete[](void* p, std::size_t) noexcept { ProbeFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ProbeFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ProbeFree(p); }

namespace {

// The code of the CDBFException that f raises, 0 when it raises none.
template <class F>
int32_t DBFErrorOf(F&& f)
{
    try {
        f();
    } catch (const CDBFException& e) {
        return e.m_nErrorCode;
    }
    return 0;
}

struct DBase3Kind {
    using Class = CMemoFile;
    static constexpr MemoKind kKind = MemoKind::DBase3;
    static constexpr uint32_t kBlockSize = 512;
    static constexpr size_t kHeaderBytes = 22;
    static constexpr uint32_t kFirstBlock = 1;
    static constexpr const char* kExtension = "DBT";
};
struct DBase4Kind {
    using Class = CDBTMemoFile;
    static constexpr MemoKind kKind = MemoKind::DBase4;
    static constexpr uint32_t kBlockSize = 256;
    static constexpr size_t kHeaderBytes = 22;
    static constexpr uint32_t kFirstBlock = 2;
    static constexpr const char* kExtension = "DBT";
};
struct FoxProKind {
    using Class = CFPTMemoFile;
    static constexpr MemoKind kKind = MemoKind::FoxPro;
    static constexpr uint32_t kBlockSize = 64;
    static constexpr size_t kHeaderBytes = 8;
    static constexpr uint32_t kFirstBlock = 8;
    static constexpr const char* kExtension = "FPT";
};
struct SIxKind {
    using Class = CSMTMemoFile;
    static constexpr MemoKind kKind = MemoKind::SIx;
    static constexpr uint32_t kBlockSize = 128;
    static constexpr size_t kHeaderBytes = 510;
    static constexpr uint32_t kFirstBlock = 4;
    static constexpr const char* kExtension = "SMT";
};

template <class Kind>
class MemoFileTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir.File(std::string("memo.") + Kind::kExtension); }

    std::unique_ptr<CMemoFile> Create()
    {
        auto memo = MakeMemoFile(Kind::kKind);
        EXPECT_TRUE(memo->CreateMemoFile(Path()));
        return memo;
    }

    std::unique_ptr<CMemoFile> Reopen()
    {
        auto memo = MakeMemoFile(Kind::kKind);
        EXPECT_TRUE(memo->OpenMemoFile(Path(), CFile::modeReadWrite));
        return memo;
    }

    // Writes a new value; returns its block, keeps its length for kind 16.
    uint32_t Add(CMemoFile& memo, const std::string& strText)
    {
        uint32_t nBlock = 0;
        uint32_t nLength = static_cast<uint32_t>(strText.size());
        memo.WriteMemoText(nBlock, nLength, strText);
        return nBlock;
    }

    std::string Text(CMemoFile& memo, uint32_t nBlock, uint32_t nStoredLength)
    {
        std::string strText;
        uint32_t nLength = nStoredLength;
        memo.ReadMemoText(nBlock, nLength, strText);
        return strText;
    }

    TempDir m_dir;
};

using MemoKinds = ::testing::Types<DBase3Kind, DBase4Kind, FoxProKind, SIxKind>;
TYPED_TEST_SUITE(MemoFileTest, MemoKinds);

// Text of n bytes with every byte value but the dBASE III terminator.
std::string Varied(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>((i * 131 + seed * 17 + (i >> 3)) & 0xFF);
        if (c == 0x1A)
            c = 0x1B;
        s[i] = static_cast<char>(c);
    }
    return s;
}

} // namespace

TYPED_TEST(MemoFileTest, FactoryMakesTheClassWithItsKind)
{
    auto memo = MakeMemoFile(TypeParam::kKind);
    EXPECT_NE(dynamic_cast<typename TypeParam::Class*>(memo.get()), nullptr);
    EXPECT_EQ(memo->GetMemoKind(), TypeParam::kKind);
    EXPECT_FALSE(memo->IsMemoOpen());
    EXPECT_STREQ(dbfformat::MemoKindExtension(TypeParam::kKind), TypeParam::kExtension);
}

TYPED_TEST(MemoFileTest, TextsRoundTripThroughCloseAndReopen)
{
    const uint32_t s = TypeParam::kBlockSize;
    const std::vector<std::string> texts = {
        "x",
        "Hello, memo",
        Varied(s - 9, 1),      // a block minus an 8-byte block header and one
        Varied(s - 8, 2),      // exactly one block with an 8-byte block header
        Varied(s - 1, 3),      // one block with a terminator
        Varied(s, 4),
        Varied(s + 1, 5),
        Varied(5000, 6),
        std::string("nul\0inside", 10),
    };
    std::vector<uint32_t> blocks;
    {
        auto memo = this->Create();
        EXPECT_EQ(memo->GetBlockSize(), s);
        for (const auto& t : texts)
            blocks.push_back(this->Add(*memo, t));
        memo->Close();
        EXPECT_FALSE(memo->IsMemoOpen());
    }
    // Values never share blocks.
    for (size_t i = 1; i < blocks.size(); ++i)
        EXPECT_GT(blocks[i], blocks[i - 1]);

    auto memo = this->Reopen();
    EXPECT_EQ(memo->GetBlockSize(), s);
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string strText = "stale";
        uint32_t nLength = static_cast<uint32_t>(texts[i].size());
        ASSERT_TRUE(memo->ReadMemoText(blocks[i], nLength, strText));
        EXPECT_EQ(strText, texts[i]) << "value " << i;
        // The dBASE III length counts the terminator's position.
        EXPECT_EQ(nLength, texts[i].size() + (TypeParam::kKind == MemoKind::DBase3 ? 1 : 0));

        std::vector<unsigned char> bytes {1, 2, 3};
        ASSERT_TRUE(memo->ReadMemoBytes(blocks[i], nLength, bytes));
        std::vector<unsigned char> expected(texts[i].begin(), texts[i].end());
        if (TypeParam::kKind == MemoKind::DBase3)
            expected.push_back(0);
        EXPECT_EQ(bytes, expected) << "value " << i;
        EXPECT_EQ(nLength, expected.size());
    }
}

TYPED_TEST(MemoFileTest, EmptyTextLeavesNoValue)
{
    auto memo = this->Create();
    const uint64_t nNewSize = memo->GetLength();
    uint32_t nBlock = 0;
    uint32_t nLength = 0;
    ASSERT_TRUE(memo->WriteMemoText(nBlock, nLength, ""));
    EXPECT_EQ(nBlock, 0u);
    EXPECT_EQ(memo->GetLength(), nNewSize);

    nBlock = this->Add(*memo, "some text");
    ASSERT_NE(nBlock, 0u);
    nLength = 9;
    ASSERT_TRUE(memo->WriteMemoText(nBlock, nLength, ""));
    EXPECT_EQ(nBlock, 0u);
    if (TypeParam::kKind == MemoKind::SIx) {
        EXPECT_EQ(nLength, 0u);
    }
}

TYPED_TEST(MemoFileTest, NothingHappensOnAClosedObject)
{
    auto check = [](CMemoFile& memo) {
        std::string strText = "stale";
        uint32_t nLength = 77;
        EXPECT_FALSE(memo.ReadMemoText(1, nLength, strText));
        EXPECT_EQ(strText, "");
        EXPECT_EQ(nLength, 77u);
        std::vector<unsigned char> bytes {9};
        EXPECT_FALSE(memo.ReadMemoBytes(1, nLength, bytes));
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(nLength, 77u);
        uint32_t nBlock = 5;
        EXPECT_FALSE(memo.WriteMemoText(nBlock, nLength, "text"));
        EXPECT_EQ(nBlock, 5u);
        EXPECT_EQ(nLength, 77u);
        EXPECT_FALSE(memo.IsMemoOpen());
    };
    auto fresh = MakeMemoFile(TypeParam::kKind);
    check(*fresh);

    auto memo = this->Create();
    this->Add(*memo, "first");
    memo->Close();
    const auto before = orvtest::ReadBytes(this->Path());
    check(*memo);
    memo->Close();  // closing twice is harmless
    EXPECT_EQ(orvtest::ReadBytes(this->Path()), before);
}

TYPED_TEST(MemoFileTest, CreateAndOpenOnAnOpenObjectDoNothing)
{
    auto memo = this->Create();
    const uint32_t nBlock = this->Add(*memo, "kept");
    EXPECT_TRUE(memo->CreateMemoFile(this->m_dir.File("other.memo")));
    EXPECT_FALSE(orvtest::FileExists(this->m_dir.File("other.memo")));
    EXPECT_TRUE(memo->OpenMemoFile(this->m_dir.File("missing.memo"), CFile::modeRead));
    EXPECT_EQ(this->Text(*memo, nBlock, 4), "kept");
}

TYPED_TEST(MemoFileTest, ShortHeaderRaises3012AndStaysClosed)
{
    for (size_t nSize : {size_t {0}, TypeParam::kHeaderBytes - 1}) {
        orvtest::WriteBytes(this->Path(), std::vector<unsigned char>(nSize, 0x40));
        auto memo = MakeMemoFile(TypeParam::kKind);
        EXPECT_EQ(DBFErrorOf([&] { memo->OpenMemoFile(this->Path(), CFile::modeRead); }), 3012) << nSize;
        EXPECT_FALSE(memo->IsMemoOpen());
        EXPECT_FALSE(memo->IsOpen());
    }
}

TYPED_TEST(MemoFileTest, MissingFileRaises3011AndUncreatableFile3010)
{
    auto memo = MakeMemoFile(TypeParam::kKind);
    EXPECT_EQ(DBFErrorOf([&] { memo->OpenMemoFile(this->m_dir.File("none.memo"), CFile::modeRead); }), 3011);
    EXPECT_FALSE(memo->IsMemoOpen());
    EXPECT_EQ(DBFErrorOf([&] { memo->CreateMemoFile(this->m_dir.File("no/such/folder/x.memo")); }), 3010);
    EXPECT_FALSE(memo->IsMemoOpen());
}

TYPED_TEST(MemoFileTest, ReadsDoNotChangeTheFile)
{
    {
        auto memo = this->Create();
        EXPECT_EQ(this->Add(*memo, Varied(700, 8)), TypeParam::kFirstBlock);
    }
    const auto before = orvtest::ReadBytes(this->Path());
    auto memo = MakeMemoFile(TypeParam::kKind);
    ASSERT_TRUE(memo->OpenMemoFile(this->Path(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(this->Text(*memo, TypeParam::kFirstBlock, 700), Varied(700, 8));
    memo->Close();
    EXPECT_EQ(orvtest::ReadBytes(this->Path()), before);
}

// A value can only be written where the file was opened for writing: the
// platform error is shown to the user, then the write fails with 3015, and
// the caller's block stays as it was.
TYPED_TEST(MemoFileTest, WriteFailureIsReportedThenRaises3015)
{
    {
        auto memo = this->Create();
        this->Add(*memo, "old");
    }
    const auto before = orvtest::ReadBytes(this->Path());
    CRecordingReporter reporter;
    CScopedErrorReporter scope(&reporter);
    auto memo = MakeMemoFile(TypeParam::kKind);
    ASSERT_TRUE(memo->OpenMemoFile(this->Path(), CFile::modeRead));
    uint32_t nBlock = 0;
    uint32_t nLength = 3;
    EXPECT_EQ(DBFErrorOf([&] { memo->WriteMemoText(nBlock, nLength, "new value"); }), 3015);
    EXPECT_EQ(nBlock, 0u);
    EXPECT_EQ(reporter.Messages().size(), 1u);
    memo->Close();
    EXPECT_EQ(orvtest::ReadBytes(this->Path()), before);
}

TEST(MemoFileFactoryTest, UnknownKindsGetDBase3AndDbt)
{
    for (int nKind : {0, 2, 5, 99, -1}) {
        const auto kind = static_cast<MemoKind>(nKind);
        auto memo = MakeMemoFile(kind);
        EXPECT_EQ(memo->GetMemoKind(), MemoKind::DBase3) << nKind;
        EXPECT_STREQ(dbfformat::MemoKindExtension(kind), "DBT") << nKind;
    }
    // All FoxPro kinds share one class; the database container has its own
    // extension.
    for (MemoKind kind : {MemoKind::FoxPro, MemoKind::VisualFoxPro, MemoKind::VisualFoxProDbc}) {
        auto memo = MakeMemoFile(kind);
        EXPECT_NE(dynamic_cast<CFPTMemoFile*>(memo.get()), nullptr);
        EXPECT_EQ(memo->GetMemoKind(), MemoKind::FoxPro);
    }
    EXPECT_STREQ(dbfformat::MemoKindExtension(MemoKind::VisualFoxPro), "FPT");
    EXPECT_STREQ(dbfformat::MemoKindExtension(MemoKind::VisualFoxProDbc), "DCT");
}

// ---------------------------------------------------------------------------
// Header errors and stored lengths that must not be trusted

namespace {

std::vector<unsigned char> NewFileBytes(MemoKind kind, const std::string& strPath)
{
    auto memo = MakeMemoFile(kind);
    memo->CreateMemoFile(strPath);
    memo->Close();
    return orvtest::ReadBytes(strPath);
}

} // namespace

TEST(MemoHeaderTest, ZeroBlockSizeRaises3013ExceptForDBase3)
{
    TempDir dir;
    const std::string path = dir.File("m");
    // dBASE IV: word at 20; FoxPro: big-endian word at 6; SIx: 32 bits at 4.
    struct Case {
        MemoKind kind;
        size_t nOffset;
        std::vector<unsigned char> value;
    };
    const Case cases[] = {
        {MemoKind::DBase4, 20, {0, 0}},
        {MemoKind::FoxPro, 6, {0, 0}},
        {MemoKind::SIx, 4, {0, 0, 0, 0}},
        {MemoKind::SIx, 4, {0, 0, 0, 0x80}},  // negative as a signed number
    };
    for (const Case& c : cases) {
        auto bytes = NewFileBytes(c.kind, path);
        std::copy(c.value.begin(), c.value.end(), bytes.begin() + static_cast<long>(c.nOffset));
        orvtest::WriteBytes(path, bytes);
        auto memo = MakeMemoFile(c.kind);
        EXPECT_EQ(DBFErrorOf([&] { memo->OpenMemoFile(path, CFile::modeRead); }), 3013) << static_cast<int>(c.kind);
        EXPECT_FALSE(memo->IsMemoOpen());
        EXPECT_FALSE(memo->IsOpen());
    }

    // dBASE III: 0 means 512; any other word is the block size.
    auto bytes = NewFileBytes(MemoKind::DBase3, path);
    auto memo = MakeMemoFile(MemoKind::DBase3);
    ASSERT_TRUE(memo->OpenMemoFile(path, CFile::modeRead));
    EXPECT_EQ(memo->GetBlockSize(), 512u);
    memo->Close();
    bytes[20] = 0x00;
    bytes[21] = 0x04;
    orvtest::WriteBytes(path, bytes);
    ASSERT_TRUE(memo->OpenMemoFile(path, CFile::modeRead));
    EXPECT_EQ(memo->GetBlockSize(), 1024u);
}

// A value whose stated length runs past the end of the file is refused
// before a buffer of that size is made.
TEST(MemoHeaderTest, ImplausibleLengthsRaise3014WithoutAllocating)
{
    TempDir dir;
    struct Case {
        MemoKind kind;
        size_t nOffset;       // where the length sits in the value's block
        bool bBigEndian;
        uint32_t nStored;     // the length written there
        uint32_t nRecordLength;  // kind 16: the length from the record
    };
    const Case cases[] = {
        {MemoKind::DBase4, 4, false, 0x7FFFFFF8, 0},   // dBASE IV total length: 2 GB of data
        {MemoKind::DBase4, 4, false, 0, 0},            // negative data length
        {MemoKind::DBase4, 4, false, 100, 0},          // 92 bytes where the file holds 8
        {MemoKind::FoxPro, 4, true, 0x7FFFFFFF, 0},
        {MemoKind::FoxPro, 4, true, 0x80000000, 0},    // top bit set
        {MemoKind::FoxPro, 4, true, 60, 0},            // one byte more than the file holds
        {MemoKind::SIx, 0, false, 0, 0x7FFFFFFF},
        {MemoKind::SIx, 0, false, 0, 0x80000000},
        {MemoKind::SIx, 0, false, 0, 0},
        {MemoKind::SIx, 0, false, 0, 60},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File("m" + std::to_string(static_cast<int>(c.kind)));
        uint32_t nBlock = 0;
        {
            auto memo = MakeMemoFile(c.kind);
            ASSERT_TRUE(memo->CreateMemoFile(path));
            uint32_t nLength = 59;
            memo->WriteMemoText(nBlock, nLength, std::string(59, 'a'));
        }
        auto bytes = orvtest::ReadBytes(path);
        if (c.kind != MemoKind::SIx) {
            const uint32_t s = c.kind == MemoKind::DBase4 ? 256 : 64;
            unsigned char* p = bytes.data() + nBlock * s + c.nOffset;
            const uint32_t v = c.nStored;
            if (c.bBigEndian) {
                p[0] = v >> 24; p[1] = (v >> 16) & 0xFF; p[2] = (v >> 8) & 0xFF; p[3] = v & 0xFF;
            } else {
                p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = (v >> 16) & 0xFF; p[3] = v >> 24;
            }
            bytes.resize(nBlock * s + 8 + 59);  // the file ends with the value
            orvtest::WriteBytes(path, bytes);
        }
        auto memo = MakeMemoFile(c.kind);
        ASSERT_TRUE(memo->OpenMemoFile(path, CFile::modeRead));
        g_nLargestAllocation = 0;
        std::string strText;
        uint32_t nLength = c.nRecordLength;
        EXPECT_EQ(DBFErrorOf([&] { memo->ReadMemoText(nBlock, nLength, strText); }), 3014)
            << static_cast<int>(c.kind) << " " << c.nStored << " " << c.nRecordLength;
        std::vector<unsigned char> buffer;
        nLength = c.nRecordLength;
        EXPECT_EQ(DBFErrorOf([&] { memo->ReadMemoBytes(nBlock, nLength, buffer); }), 3014);
        EXPECT_LT(g_nLargestAllocation.load(), size_t {1} << 20) << static_cast<int>(c.kind) << " " << c.nStored;
        EXPECT_TRUE(buffer.empty());
    }
}

TEST(MemoHeaderTest, BlockPastTheEndOfTheFile)
{
    TempDir dir;
    for (MemoKind kind : {MemoKind::DBase3, MemoKind::DBase4, MemoKind::FoxPro, MemoKind::SIx}) {
        const std::string path = dir.File("m" + std::to_string(static_cast<int>(kind)));
        auto memo = MakeMemoFile(kind);
        ASSERT_TRUE(memo->CreateMemoFile(path));
        std::string strText = "stale";
        uint32_t nLength = 10;
        const int32_t nError = DBFErrorOf([&] { memo->ReadMemoText(1000, nLength, strText); });
        if (kind == MemoKind::DBase3) {
            // dBASE III values have no stored length: nothing there is an
            // empty text.
            EXPECT_EQ(nError, 0);
            EXPECT_EQ(strText, "");
            EXPECT_EQ(nLength, 0u);
        } else {
            EXPECT_EQ(nError, 3014) << static_cast<int>(kind);
        }
        // Block 0 is the header, never a value.
        nLength = 10;
        strText = "stale";
        EXPECT_TRUE(memo->ReadMemoText(0, nLength, strText));
        EXPECT_EQ(strText, "");
    }
}
