// `dbfrepair dump --json` against python3-dbfread, value for value: tables
// written by python3-dbf (dBASE III, FoxPro 2.x, Visual FoxPro, code page
// 1251) and every table of the real-world fixtures.

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

std::string PeerScript(const std::string& strName)
{
    return orvtest::SourceDir() + "/tests/peer/" + strName;
}

// Dumps the table to a JSON file beside the scratch folder's other files.
std::string DumpJson(const orvtest::TempDir& dir, const std::string& strTable)
{
    const std::string strOut = dir.File(std::filesystem::path(strTable).filename().string() + ".json");
    const auto r = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " dump "
                                + orvtest::ShellQuote(strTable) + " --json > " + orvtest::ShellQuote(strOut));
    EXPECT_EQ(r.nExitCode, 0) << strTable;
    return strOut;
}

// Runs the comparison; returns its report ("OK <n>" when all agree).
orvtest::CommandResult Compare(const std::string& strTable, const std::string& strJson)
{
    return orvtest::Run("/usr/bin/python3 " + orvtest::ShellQuote(PeerScript("compare_dump_with_dbfread.py")) + " "
                        + orvtest::ShellQuote(strTable) + " " + orvtest::ShellQuote(strJson) + " 2>&1");
}

QJsonObject LoadJson(const std::string& strPath)
{
    const auto bytes = orvtest::ReadBytes(strPath);
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << strPath << ": " << error.errorString().toStdString();
    return doc.object();
}

QJsonValue Value(const QJsonObject& dump, int nRecord, int nField)
{
    return dump["records"].toArray()[nRecord].toObject()["values"].toArray()[nField];
}

class PeerTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = new orvtest::TempDir;
        const auto r = orvtest::Run("/usr/bin/python3 " + orvtest::ShellQuote(PeerScript("write_peer_tables.py")) + " "
                                    + orvtest::ShellQuote(s_pDir->Path()) + " 2>&1");
        ASSERT_EQ(r.nExitCode, 0) << r.strOut;
    }
    static void TearDownTestSuite()
    {
        delete s_pDir;
        s_pDir = nullptr;
    }

    // Dumps the table, checks that dbfread agrees, returns the dump.
    QJsonObject DumpAndCompare(const std::string& strName, int nRecords)
    {
        const std::string strTable = s_pDir->File(strName);
        const std::string strJson = DumpJson(*s_pDir, strTable);
        const auto r = Compare(strTable, strJson);
        EXPECT_EQ(r.nExitCode, 0) << r.strOut;
        EXPECT_EQ(r.strOut, "OK " + std::to_string(nRecords) + "\n");
        return LoadJson(strJson);
    }

    static orvtest::TempDir* s_pDir;
};

orvtest::TempDir* PeerTables::s_pDir = nullptr;

const QString kLongMemo = [] {
    QString s;
    for (int i = 0; i < 700; ++i)
        s += QChar('a' + i % 26);
    return s + "\r\nsecond line";
}();

} // namespace

TEST_F(PeerTables, DBaseIIIWithDbt)
{
    const QJsonObject dump = DumpAndCompare("db3.dbf", 4);
    EXPECT_EQ(Value(dump, 0, 0).toString(), QString::fromUtf8("Zoë Å"));
    EXPECT_EQ(Value(dump, 0, 1).toString(), kLongMemo);
    EXPECT_TRUE(Value(dump, 1, 1).isString() && Value(dump, 1, 1).toString().isEmpty());
    EXPECT_TRUE(dump["records"].toArray()[2].toObject()["deleted"].toBool());
    EXPECT_EQ(Value(dump, 2, 1).toString(), "short memo");
    EXPECT_EQ(Value(dump, 3, 1).toString().size(), 256);
    EXPECT_EQ(Value(dump, 3, 4).toString(), "1900-02-28");
}

TEST_F(PeerTables, FoxProWithFpt)
{
    const QJsonObject dump = DumpAndCompare("fp.dbf", 5);
    EXPECT_EQ(Value(dump, 0, 1).toString(), kLongMemo);
    // A memo value is its stored length, NULs and all, in CSV too.
    EXPECT_EQ(Value(dump, 4, 1).toString().size(), 16);
    const auto csv = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " dump "
                                  + orvtest::ShellQuote(s_pDir->File("fp.dbf")));
    EXPECT_NE(csv.strOut.find(std::string("JFIF\0\x01tail", 10)), std::string::npos);
    EXPECT_DOUBLE_EQ(Value(dump, 1, 3).toDouble(), -2.5);
    EXPECT_EQ(Value(dump, 1, 5).toString(), "2000-02-29");
    EXPECT_TRUE(dump["records"].toArray()[2].toObject()["deleted"].toBool());
}

TEST_F(PeerTables, VisualFoxProWithNullableFields)
{
    const QJsonObject dump = DumpAndCompare("vfp.dbf", 4);
    const QJsonArray fields = dump["fields"].toArray();
    ASSERT_EQ(fields.size(), 10);
    EXPECT_EQ(fields[9].toObject()["type"].toString(), "0");
    EXPECT_EQ(Value(dump, 0, 2).toString(), "12.3456");
    EXPECT_EQ(Value(dump, 0, 3).toString(), "2006-07-04T14:05:09");
    EXPECT_EQ(Value(dump, 0, 7).toString(), kLongMemo);
    EXPECT_TRUE(dump["records"].toArray()[1].toObject()["deleted"].toBool());
    EXPECT_EQ(Value(dump, 1, 2).toString(), "-0.5000");
    EXPECT_EQ(Value(dump, 2, 1).toInteger(), 2147483646);
    EXPECT_EQ(Value(dump, 2, 2).toString(), "92233720368547.5807");
    EXPECT_EQ(Value(dump, 2, 7).toString(), ""); // empty memo stored with length 0
    EXPECT_EQ(Value(dump, 3, 6).toString(), "0001-01-01");
}

TEST_F(PeerTables, CyrillicCodePage)
{
    const QJsonObject dump = DumpAndCompare("cyr.dbf", 2);
    EXPECT_EQ(Value(dump, 1, 0).toString(), QString::fromUtf8("НИИ Ёё"));
}

TEST(RealTables, DumpAgreesWithDbfreadOnEveryOne)
{
    orvtest::TempDir dir;
    int nTables = 0;
    for (const auto& entry : std::filesystem::directory_iterator(orvtest::RealFixturesDir())) {
        if (entry.path().extension() != ".dbf")
            continue;
        ++nTables;
        const std::string strTable = entry.path().string();
        const auto r = Compare(strTable, DumpJson(dir, strTable));
        EXPECT_EQ(r.nExitCode, 0) << strTable << "\n" << r.strOut;
        EXPECT_EQ(r.strOut.rfind("OK ", 0), 0u) << strTable << "\n" << r.strOut;
    }
    EXPECT_EQ(nTables, 8);
}

TEST(RealTables, CyrillicAndMemoValues)
{
    orvtest::TempDir dir;
    const QJsonObject cyr = LoadJson(DumpJson(dir, orvtest::RealFixturesDir() + "/cp1251.dbf"));
    EXPECT_EQ(Value(cyr, 2, 1).toString(), QString::fromUtf8("НИИ"));
    const QJsonObject memo = LoadJson(DumpJson(dir, orvtest::RealFixturesDir() + "/memotest.dbf"));
    EXPECT_EQ(Value(memo, 0, 2).toString(), "Alice memo"); // 512-byte FoxPro blocks
}

// Bytes after the records the header counts (junk, a second end mark) are
// left unread, as dbfread leaves them: the dump holds the table's records,
// no more.
TEST(RealTables, BytesAfterTheRecordsAreLeftAsDbfreadLeavesThem)
{
    std::mt19937 random(263);
    std::vector<unsigned char> junk(263);
    for (unsigned char& ch : junk)
        ch = static_cast<unsigned char>(random());
    struct Case {
        const char* pszTable;
        std::vector<unsigned char> appended;
        const char* pszExpected;
    };
    const Case cases[] = {
        {"cp1251.dbf", junk, "OK 4\n"},
        {"dbase_03.dbf", {0x1A}, "OK 14\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszTable);
        orvtest::TempDir dir;
        auto bytes = orvtest::ReadBytes(orvtest::RealFixturesDir() + "/" + c.pszTable);
        bytes.insert(bytes.end(), c.appended.begin(), c.appended.end());
        const std::string strTable = dir.File(c.pszTable);
        orvtest::WriteBytes(strTable, bytes);
        EXPECT_EQ(Compare(strTable, DumpJson(dir, strTable)).strOut, c.pszExpected);
    }
}
