// The year byte of the header, read as the programs that wrote it meant it.

#include "dbf/DBFHeader.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

int YearOf(unsigned nByte)
{
    DBFHeader header;
    header.m_bytes[1] = static_cast<unsigned char>(nByte);
    return header.GetUpdateYear();
}

// Every byte value gives the year python3-dbfread gives for it.
TEST(DBFHeaderYear, EveryByteReadsAsDbfreadReadsIt)
{
    const orvtest::CommandResult peer = orvtest::RunPython(
        "from dbfread.dbf import expand_year\n"
        "print(' '.join(str(expand_year(y)) for y in range(256)))\n");
    ASSERT_EQ(peer.nExitCode, 0);
    std::istringstream years(peer.strOut);
    unsigned nByte = 0;
    for (int nPeerYear = 0; years >> nPeerYear; ++nByte)
        EXPECT_EQ(YearOf(nByte), nPeerYear) << "year byte " << nByte;
    EXPECT_EQ(nByte, 256u);
}

// Writing a year and reading it back gives it again across the range the
// byte can say.
TEST(DBFHeaderYear, WrittenYearsReadBack)
{
    for (int nYear = 1980; nYear <= 2079; ++nYear) {
        DBFHeader header;
        header.SetUpdateDate(nYear, 8, 2);
        EXPECT_EQ(header.GetUpdateYear(), nYear);
    }
}

} // namespace
