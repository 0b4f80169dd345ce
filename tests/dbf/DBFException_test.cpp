#include "dbf/DBFException.h"
#include "platform/ErrorReporter.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(DBFExceptionTest, MessageNamesTheCodeInEightHexDigits)
{
    EXPECT_EQ(CDBFException(3006).GetMessage(), "Error number 0x00000BBE.");
    EXPECT_EQ(CDBFException(3020).GetMessage(), "Error number 0x00000BCC.");
    EXPECT_EQ(CDBFException(3001).GetMessage(), "Error number 0x00000BB9.");
}

TEST(DBFExceptionTest, SmallBufferGetsTheStartAndANul)
{
    CDBFException e(3006);
    char buf[10];
    std::memset(buf, 'x', sizeof buf);
    unsigned help = 99;
    EXPECT_TRUE(e.GetErrorMessage(buf, sizeof buf, &help));
    EXPECT_STREQ(buf, "Error num");
    EXPECT_EQ(help, 0u);
    // Asked again: the same text.
    char again[64];
    e.GetErrorMessage(again, sizeof again);
    EXPECT_STREQ(again, "Error number 0x00000BBE.");
}

TEST(DBFExceptionTest, ThrowCarriesCodeAndOptionalText)
{
    try {
        ThrowDBFException(3014);
    } catch (const CDBFException& e) {
        EXPECT_EQ(e.m_nErrorCode, 3014);
        EXPECT_STREQ(e.what(), "Error number 0x00000BC6.");
    }
    try {
        ThrowDBFException(3002, "cannot open sales.dbf");
    } catch (const CDBFException& e) {
        EXPECT_EQ(e.GetMessage(), "cannot open sales.dbf");
    }
}

TEST(DBFExceptionTest, ReportErrorGoesThroughTheReporter)
{
    CRecordingReporter rec;
    CScopedErrorReporter scope(&rec);
    CDBFException(3009).ReportError();
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0], "Error number 0x00000BC1.");
}
