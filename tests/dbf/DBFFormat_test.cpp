// The format rules against the documented dBASE, FoxPro and Visual FoxPro
// facts, for every version byte and every type letter.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/DBFFormat.h"
#include "dbf/DBFHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace dbfformat;

// What the manuals say of each table kind: the memo file's extension ("" for
// none; Visual FoxPro's when the memo flag is set), the version of the same
// kind with a memo file, and whether the engine reads it (FoxBASE: no).
struct VersionFact {
    unsigned nVersion;
    const char* lpszMemo;
    unsigned nWithMemo;
    bool bRead;
    bool bVisualFoxPro;
};

constexpr VersionFact kVersionFacts[] = {
    {0x02, "", 0x02, false, false}, {0x03, "", 0x83, true, false},    {0x30, "FPT", 0x30, true, true},
    {0x31, "FPT", 0x31, true, true}, {0x32, "FPT", 0x32, true, true},  {0x43, "", 0x8B, true, false},
    {0x63, "", 0xCB, true, false},  {0x7B, "DBT", 0x7B, true, false}, {0x83, "DBT", 0x83, true, false},
    {0x8B, "DBT", 0x8B, true, false}, {0xCB, "DBT", 0xCB, true, false}, {0xE5, "SMT", 0xE5, true, false},
    {0xF5, "FPT", 0xF5, true, false}, {0xFB, "", 0xFB, false, false},
};

TEST(DBFFormatVersions, EveryVersionByteMatchesTheManuals)
{
    for (unsigned v = 0; v < 256; ++v) {
        const uint8_t n = static_cast<uint8_t>(v);
        const VersionFact* pFact = nullptr;
        for (const VersionFact& f : kVersionFacts)
            if (f.nVersion == v)
                pFact = &f;
        SCOPED_TRACE(v);
        const MemoKind memo = MemoKindForVersion(n, DBFHeader::kFlagMemo);
        if (pFact == nullptr) {
            EXPECT_FALSE(IsKnownVersion(n));
            EXPECT_FALSE(IsNamedVersion(n));
            EXPECT_FALSE(IsVisualFoxProVersion(n));
            EXPECT_STREQ(TableKindName(n), "unknown");
            EXPECT_EQ(memo, MemoKind::None);
            EXPECT_EQ(MemoFormOfVersion(n), n);
            continue;
        }
        EXPECT_EQ(IsKnownVersion(n), pFact->bRead);
        EXPECT_TRUE(IsNamedVersion(n));
        EXPECT_STRNE(TableKindName(n), "unknown");
        EXPECT_EQ(IsVisualFoxProVersion(n), pFact->bVisualFoxPro);
        EXPECT_EQ(memo != MemoKind::None, *pFact->lpszMemo != '\0');
        if (memo != MemoKind::None) {
            EXPECT_STREQ(MemoKindExtension(memo), pFact->lpszMemo);
        }
        EXPECT_EQ(MemoFormOfVersion(n), pFact->nWithMemo);
        if (pFact->nWithMemo != v) {
            EXPECT_EQ(NoMemoFormOfVersion(static_cast<uint8_t>(pFact->nWithMemo)), v);
        }
        // Visual FoxPro: the memo flag decides, the container flag names .DCT.
        if (pFact->bVisualFoxPro) {
            EXPECT_EQ(MemoKindForVersion(n, 0), MemoKind::None);
            EXPECT_STREQ(MemoKindExtension(MemoKindForVersion(
                             n, DBFHeader::kFlagMemo | DBFHeader::kFlagDatabaseContainer)),
                         "DCT");
        } else {
            EXPECT_EQ(MemoKindForVersion(n, 0), memo);
        }
    }
    // A dBASE III table with a FoxPro memo file becomes FoxPro 2.x.
    EXPECT_EQ(MemoFormOfVersion(0x03, MemoKind::FoxPro), 0xF5);
}

TEST(DBFFormatTypes, EveryLetterMatchesTheManuals)
{
    // C N F D L M: dBASE III; G P: FoxPro; B: dBASE IV binary memo, Visual
    // FoxPro double (8 wide); I Y T V Q W 0: Visual FoxPro; @ + O: dBASE 7.
    const std::string kAll = "CNFDLMGPBIYT0VQW@+O";
    const std::string kCarried = "VQW@+O";
    const std::string kMemo = "MGPW";            // and B when not 8 wide
    const std::string kVisualFoxPro = "IYTVQW0"; // and B when 8 wide
    const std::string kLengthByte = "NFIYB";
    const std::string kWidths = "D8L1I4Y8T8W4@8+4O8";
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        SCOPED_TRACE(c);
        const bool bFamily = c != 0 && kAll.find(ch) != std::string::npos;
        const auto in = [&](const std::string& s) { return bFamily && s.find(ch) != std::string::npos; };
        EXPECT_EQ(IsKnownType(ch), bFamily);
        EXPECT_EQ(IsDecodedType(ch), bFamily && !in(kCarried));
        EXPECT_EQ(UsesLengthByte(ch), in(kLengthByte));
        EXPECT_EQ(DBFFieldDescriptor::UsesLengthByte(ch), in(kLengthByte));
        EXPECT_EQ(IsMemoType(ch, 10), in(kMemo) || ch == 'B');
        EXPECT_EQ(IsMemoType(ch, 8), in(kMemo));
        EXPECT_EQ(IsVisualFoxProType(ch, 8), in(kVisualFoxPro) || ch == 'B');
        EXPECT_EQ(IsVisualFoxProType(ch, 10), in(kVisualFoxPro));
        EXPECT_EQ(IsEngineMemoType(ch, 10), IsMemoType(ch, 10) && !in(kCarried));
        const FieldTypeTraits* pType = FindFieldType(ch);
        ASSERT_EQ(pType != nullptr, bFamily);
        if (pType != nullptr) {
            const size_t nAt = kWidths.find(ch);
            const unsigned nWidth = nAt == std::string::npos || nAt % 2 ? 0u : unsigned(kWidths[nAt + 1] - '0');
            EXPECT_EQ(pType->nFixedWidth, nWidth);
            EXPECT_EQ(pType->bDBase7, std::string("@+O").find(ch) != std::string::npos);
        }
    }
}

TEST(DBFFormatMemoKinds, ExtensionsNameTheirKinds)
{
    EXPECT_EQ(MemoKindForExtension("dbt"), MemoKind::DBase3);
    EXPECT_EQ(MemoKindForExtension("FPT"), MemoKind::FoxPro);
    EXPECT_EQ(MemoKindForExtension("Smt"), MemoKind::SIx);
    EXPECT_EQ(MemoKindForExtension("dct"), MemoKind::None);
    EXPECT_EQ(MemoKindForExtension("dbf"), MemoKind::None);
    EXPECT_EQ(VersionForMemoKind(MemoKind::DBase4), 0x8B);
    EXPECT_EQ(VersionForMemoKind(MemoKind::SIx), 0xE5);
}

// The walk stops at the terminator, at the limit or where the reader does.
TEST(DBFFormatWalk, StopsAtTerminatorLimitOrEnd)
{
    struct Case {
        std::string strBlocks; // one letter a block: F field, T terminator
        size_t nLimit;
        size_t nFields;
        bool bTerminator;
    };
    const Case cases[] = {{"FFT", 10, 2, true}, {"FFT", 1, 1, false}, {"FF", 10, 2, false}, {"T", 10, 0, true}};
    for (const Case& c : cases) {
        size_t nFields = 0;
        const DescriptorWalk walk = WalkDescriptors(
            c.nLimit,
            [&](uint64_t nOffset, DBFFieldDescriptor& fd) -> long {
                const size_t i = (nOffset - kHeaderSize) / kDescriptorSize;
                if (i >= c.strBlocks.size())
                    return 0;
                fd.m_bytes[0] = c.strBlocks[i] == 'T' ? kHeaderTerminator : 'A';
                return 32;
            },
            [&](const DBFFieldDescriptor&, long) {
                ++nFields;
                return true;
            });
        EXPECT_EQ(nFields, c.nFields) << c.strBlocks << " " << c.nLimit;
        EXPECT_EQ(walk.bTerminator, c.bTerminator) << c.strBlocks << " " << c.nLimit;
        if (c.bTerminator) {
            EXPECT_EQ(walk.nTerminatorOffset, kHeaderSize + c.nFields * kDescriptorSize);
        }
    }
}

} // namespace
