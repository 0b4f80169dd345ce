// Unmarked FoxPro 2.x tables written by python3-dbf in a DOS or a Windows
// code page: info, dump and preview read each in the code page its texts
// point to (bytes Windows-1252 leaves undefined mean DOS 850), and
// --encoding overrides that choice.

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Writes the tables, clears their code page mark, and prints one JSON object
// a table: its path, the code page it was written in, its texts as written
// and as Windows-1251 reads their bytes.
const char* const kWriteTables = R"(
import dbf, json, sys
cases = [
    ('dos_one', 'cp850', ['g\u00fcell']),
    ('dos_mixed', 'cp850', ['Pla\u00e7a', 'g\u00fcell', '\u00d1and\u00fa']),
    ('dos_in_memo', 'cp850', ['plain', '\u00c9cole \u00d8st']),
    ('ansi', 'cp1252', ['caf\u00e9', 'na\u00efve']),
]
for name, codepage, texts in cases:
    path = '%s/%s.dbf' % (sys.argv[1], name)
    table = dbf.Table(path, 'name C(12); notes M', dbf_type='fp', codepage=codepage)
    table.open(dbf.READ_WRITE)
    for i, text in enumerate(texts):
        in_memo = name == 'dos_in_memo'
        table.append((('row%d' % i) if in_memo else text, text if in_memo else 'note'))
    table.close()
    with open(path, 'r+b') as f:
        f.seek(29)
        f.write(b'\0')
    print(json.dumps({'path': path, 'code_page': {'cp850': 'IBM850', 'cp1252': 'windows-1252'}[codepage],
                      'in_memo': name == 'dos_in_memo', 'texts': texts,
                      'as_1251': [t.encode(codepage).decode('cp1251') for t in texts]}))
)";

std::string Tool(const std::string& strArgs)
{
    const auto r = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strArgs);
    EXPECT_EQ(r.nExitCode, 0) << strArgs;
    return r.strOut;
}

QJsonObject Parse(const std::string& strJson)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(strJson)).object();
}

// The texts of the dump's column nField, record by record.
std::vector<std::string> DumpTexts(const std::string& strJson, int nField)
{
    std::vector<std::string> texts;
    for (const auto record : Parse(strJson)["records"].toArray())
        texts.push_back(record.toObject()["values"].toArray()[nField].toString().toStdString());
    return texts;
}

std::vector<std::string> Strings(const QJsonValue& value)
{
    std::vector<std::string> strings;
    for (const auto item : value.toArray())
        strings.push_back(item.toString().toStdString());
    return strings;
}

} // namespace

TEST(DosText, UnmarkedTablesAreReadInTheCodePageTheirTextsPointTo)
{
    orvtest::TempDir dir;
    const auto written = orvtest::RunPython(kWriteTables, {dir.Path()});
    ASSERT_EQ(written.nExitCode, 0);
    std::istringstream lines(written.strOut);
    int nTables = 0;
    for (std::string strLine; std::getline(lines, strLine); ++nTables) {
        const QJsonObject table = Parse(strLine);
        const std::string strPath = orvtest::ShellQuote(table["path"].toString().toStdString());
        const std::string strCodePage = table["code_page"].toString().toStdString();
        const int nField = table["in_memo"].toBool() ? 1 : 0;
        SCOPED_TRACE(strPath);

        const QJsonObject info = Parse(Tool("info " + strPath + " --json"));
        EXPECT_EQ(info["code_page"].toString().toStdString().rfind("unmarked; read as " + strCodePage, 0), 0u)
            << info["code_page"].toString().toStdString();
        EXPECT_EQ(DumpTexts(Tool("dump " + strPath + " --json"), nField), Strings(table["texts"]));
        EXPECT_EQ(DumpTexts(Tool("dump " + strPath + " --json --encoding windows-1251"), nField),
                  Strings(table["as_1251"]));
        if (nField == 0) {
            const std::string strGrid = Tool("preview " + strPath);
            for (const std::string& strText : Strings(table["texts"]))
                EXPECT_NE(strGrid.find(strText), std::string::npos) << strText << " not in\n" << strGrid;
        }
    }
    EXPECT_EQ(nTables, 4);
}
