// Unmarked FoxPro 2.x tables written by python3-dbf in a DOS or a Windows
// code page: info, dump and preview read each in the code page its texts
// point to (bytes Windows-1252 leaves undefined mean DOS 850), and
// --encoding overrides that choice.

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

using Json = nlohmann::json;

Json Parse(const std::string& strJson)
{
    const Json json = Json::parse(strJson, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << strJson;
    return json.is_object() ? json : Json::object();
}

std::string Text(const Json& value)
{
    return value.is_string() ? value.get<std::string>() : std::string();
}

// The texts of the dump's column nField, record by record.
std::vector<std::string> DumpTexts(const std::string& strJson, int nField)
{
    std::vector<std::string> texts;
    for (const Json& record : Parse(strJson).value("records", Json::array()))
        texts.push_back(Text(record.at("values").at(nField)));
    return texts;
}

std::vector<std::string> Strings(const Json& value)
{
    std::vector<std::string> strings;
    for (const Json& item : value)
        strings.push_back(Text(item));
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
        const Json table = Parse(strLine);
        const std::string strPath = orvtest::ShellQuote(Text(table["path"]));
        const std::string strCodePage = Text(table["code_page"]);
        const int nField = table.value("in_memo", false) ? 1 : 0;
        SCOPED_TRACE(strPath);

        const Json info = Parse(Tool("info " + strPath + " --json"));
        EXPECT_EQ(Text(info["code_page"]).rfind("unmarked; read as " + strCodePage, 0), 0u)
            << Text(info["code_page"]);
        EXPECT_EQ(DumpTexts(Tool("dump " + strPath + " --json"), nField), Strings(table.at("texts")));
        EXPECT_EQ(DumpTexts(Tool("dump " + strPath + " --json --encoding windows-1251"), nField),
                  Strings(table.at("as_1251")));
        if (nField == 0) {
            const std::string strGrid = Tool("preview " + strPath);
            for (const std::string& strText : Strings(table.at("texts")))
                EXPECT_NE(strGrid.find(strText), std::string::npos) << strText << " not in\n" << strGrid;
        }
    }
    EXPECT_EQ(nTables, 4);
}
