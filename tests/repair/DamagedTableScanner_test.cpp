// Structure and record area of damaged tables written by python3-dbf: the
// descriptors, where the records begin and where they end.

#include "platform/File.h"
#include "repair/DamagedTableScanner.h"
#include "repair/PeerTables.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using orvtest::TempDir;

const char kRows[] = "[('alpha', 1.5, True), ('beta', -2, False), ('gamma', 3, True), ('delta', 4, False)]";

struct Scan {
    DamagedTableLayout layout;
    uint64_t nStart = 0;
};

Scan ScanTable(const std::string& strPath)
{
    CFile file;
    EXPECT_TRUE(file.Open(strPath, CFile::modeRead));
    CDamagedTableScanner scanner(file);
    Scan scan;
    EXPECT_TRUE(scanner.ReadDescriptors(scan.layout));
    EXPECT_TRUE(scanner.FindDataStart(scan.layout, scan.nStart));
    return scan;
}

TEST(DamagedTableScanner, DescriptorsGiveNamesTypesLengthsAndOffsets)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", kRows);
    orvtest::ZeroHeaderCounts(strPath);
    const Scan scan = ScanTable(strPath);
    ASSERT_TRUE(scan.layout.bTerminator);
    EXPECT_EQ(scan.layout.nTerminatorOffset, 32u + 3 * 32);
    ASSERT_EQ(scan.layout.fields.size(), 3u);
    EXPECT_EQ(scan.layout.fields[0].strName, "NAME");
    EXPECT_EQ(scan.layout.fields[1].chType, 'N');
    EXPECT_EQ(scan.layout.fields[1].nLength, 8);
    EXPECT_EQ(scan.layout.fields[1].nDecimals, 2);
    EXPECT_EQ(scan.layout.fields[1].nOffset, 13u);
    EXPECT_EQ(scan.layout.fields[2].nOffset, 21u);
    EXPECT_EQ(scan.layout.nRecordLength, 22u);
    // The header's zeroed lengths play no part.
    EXPECT_EQ(scan.nStart, 32u + 3 * 32 + 1);
}

TEST(DamagedTableScanner, NullFlagsAndMemoFields)
{
    DamagedField field;
    for (const char* pszName : {"_NullFlags", "_NULLFLAGS"}) {
        field.strName = pszName;
        EXPECT_TRUE(field.IsNullFlags()) << pszName;
    }
    field.strName = "_NullFlag";
    EXPECT_FALSE(field.IsNullFlags());
    field.chRawType = '0';
    EXPECT_TRUE(field.IsNullFlags());
    // B is a double at width 8 and a dBASE binary memo otherwise.
    for (auto [chType, nLength, bMemo] : {std::tuple{'M', 10u, true}, {'G', 4u, true}, {'W', 4u, true},
                                          {'B', 8u, false}, {'B', 10u, true}, {'C', 10u, false}}) {
        field.chType = chType;
        field.nLength = nLength;
        EXPECT_EQ(field.IsMemo(), bMemo) << chType << nLength;
    }
}

TEST(DamagedTableScanner, UnknownTypeLettersAndElevenCharacterNames)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", kRows);
    // Damage: the second descriptor's type becomes "V", the first name fills
    // all 11 bytes.
    orvtest::PatchBytes(strPath, 32 + 32 + 11, {'V'});
    orvtest::PatchBytes(strPath, 32, {'L', 'O', 'N', 'G', 'E', 'R', 'N', 'A', 'M', 'E', 'S'});
    const Scan scan = ScanTable(strPath);
    ASSERT_EQ(scan.layout.fields.size(), 3u);
    EXPECT_EQ(scan.layout.fields[0].strName, "LONGERNAMES");
    // A type letter the engine does not decode is carried as it is.
    EXPECT_EQ(scan.layout.fields[1].chRawType, 'V');
    EXPECT_EQ(scan.layout.fields[1].chType, 'V');
    EXPECT_EQ(scan.layout.fields[2].nOffset, 21u); // its length still counts
}

TEST(DamagedTableScanner, NoTerminatorStopsAfter1024Blocks)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WriteBytes(strPath, std::vector<unsigned char>(32 + 1500 * 32, 'A'));
    CFile file;
    ASSERT_TRUE(file.Open(strPath, CFile::modeRead));
    CDamagedTableScanner scanner(file);
    DamagedTableLayout layout;
    ASSERT_TRUE(scanner.ReadDescriptors(layout));
    EXPECT_FALSE(layout.bTerminator);
    EXPECT_EQ(layout.nBlocksRead, 1024);
    EXPECT_EQ(layout.fields.size(), 1024u);
    uint64_t nStart = 0;
    ASSERT_TRUE(scanner.FindDataStart(layout, nStart));
    EXPECT_EQ(nStart, file.GetLength());
}

TEST(DamagedTableScanner, FirstRecordDeletedDoesNotShiftTheStart)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", kRows, "dbf.delete(t[0])");
    orvtest::ZeroHeaderCounts(strPath);
    const Scan scan = ScanTable(strPath);
    EXPECT_EQ(scan.nStart, scan.layout.nTerminatorOffset + 1);
    EXPECT_EQ(orvtest::ReadBytes(strPath)[scan.nStart], '*');
}

TEST(DamagedTableScanner, VisualFoxProAreaIsSkippedEvenWithASpaceInIt)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "vfp", kRows);
    const uint16_t nHeaderLength = orvtest::HeaderLengthOf(strPath);
    const Scan clean = ScanTable(strPath);
    EXPECT_EQ(clean.nStart, nHeaderLength);
    EXPECT_EQ(clean.nStart, clean.layout.nTerminatorOffset + 264);
    // A blank in the area (a database path, say) and a zeroed header.
    orvtest::PatchBytes(strPath, clean.layout.nTerminatorOffset + 5, {' ', 'd', 'b', ' '});
    orvtest::ZeroHeaderCounts(strPath);
    EXPECT_EQ(ScanTable(strPath).nStart, nHeaderLength);
}

TEST(DamagedTableScanner, HeaderLengthIsUsedWhenBytesFollowTheTerminator)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", kRows);
    // Rebuild the file with two padding bytes after the terminator, as some
    // writers leave them, and a header length that says so.
    std::vector<unsigned char> data = orvtest::ReadBytes(strPath);
    const uint16_t nHeaderLength = orvtest::HeaderLengthOf(strPath);
    data.insert(data.begin() + nHeaderLength, {0x00, 0x2A});
    data[8] = static_cast<unsigned char>(nHeaderLength + 2);
    orvtest::WriteBytes(strPath, data);
    EXPECT_EQ(ScanTable(strPath).nStart, nHeaderLength + 2u);
}

TEST(DamagedTableScanner, AFirstFlagAloneDamagedStillGivesTheStart)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    std::string strRows = "[";
    for (int i = 0; i < 20; ++i)
        strRows += "('r" + std::to_string(i) + "', " + std::to_string(i) + ", True),";
    strRows += "]";
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", strRows);
    const uint16_t nHeaderLength = orvtest::HeaderLengthOf(strPath);
    orvtest::PatchBytes(strPath, nHeaderLength, {'#'});
    orvtest::ZeroHeaderCounts(strPath);
    EXPECT_EQ(ScanTable(strPath).nStart, nHeaderLength);
}

TEST(DamagedTableScanner, EndOfFileMarkEndsTheRecordsUnlessRecordsFollow)
{
    TempDir dir;
    const std::string strPath = dir.File("t.dbf");
    orvtest::WritePeerTable(strPath, "name C(12); qty N(8,2); ok L", "db3", kRows);
    const uint16_t nHeaderLength = orvtest::HeaderLengthOf(strPath);
    const uint16_t nRecordLength = orvtest::RecordLengthOf(strPath);
    std::vector<unsigned char> data = orvtest::ReadBytes(strPath);
    // Junk after the end-of-file mark (a half-written append).
    data.resize(nHeaderLength + 4u * nRecordLength);
    data.push_back(0x1A);
    data.insert(data.end(), 50, 'Z');
    orvtest::WriteBytes(strPath, data);

    CFile file;
    ASSERT_TRUE(file.Open(strPath, CFile::modeRead));
    CDamagedTableScanner scanner(file);
    EXPECT_TRUE(scanner.IsEndOfRecords(nHeaderLength + 4u * nRecordLength, nRecordLength));
    // A 0x1A where the second record's flag belongs, records lining up after
    // it: a damaged flag, not the end.
    EXPECT_FALSE(scanner.IsEndOfRecords(nHeaderLength + 1u * nRecordLength, nRecordLength));
    // The last record's flag: nothing complete follows.
    EXPECT_TRUE(scanner.IsEndOfRecords(nHeaderLength + 3u * nRecordLength, nRecordLength));
}

} // namespace
