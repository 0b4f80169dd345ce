// A table that needs no repair comes back exactly from `dbfrepair repair`:
// same schema, header, record bytes and memo values. Run over every real
// table in the fixtures and over tables of unusual layouts written by
// python3-dbf (tests/peer/make_layout_tables.py), undamaged and with the
// damages the tool meets that leave the field descriptors readable;
// tests/peer/compare_repaired.py judges each result against the undamaged
// table.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using orvtest::ShellQuote;
using orvtest::TempDir;

// Where the saved table may differ from its source, as comparer options.
const char* const kExceptions[] = {
    // The structural index flag: the tool saves no index, and Visual FoxPro
    // reports a missing structural .cdx for a table that keeps the flag. The
    // memo flag: a Visual FoxPro table with memo fields gets it (python3-dbf
    // writes such tables without it).
    "--same-header-except 28:0x03",
};

struct SourceTable {
    std::string strName;   // for messages: "real/dbase_30", "layout/vfp32_varchar"
    std::string strFolder; // holds the table and its memo file, nothing else
    std::string strFile;   // the table's file name
};

std::vector<unsigned char> Bytes(const fs::path& path)
{
    return orvtest::ReadBytes(path.string());
}

fs::path MemoOf(const fs::path& table)
{
    for (const auto& entry : fs::directory_iterator(table.parent_path())) {
        std::string strExt = entry.path().extension().string();
        for (char& c : strExt)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (entry.path().stem() == table.stem() && (strExt == ".fpt" || strExt == ".dbt" || strExt == ".smt"))
            return entry.path();
    }
    return {};
}

uint32_t CountOf(const std::vector<unsigned char>& data)
{
    return data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<uint32_t>(data[7]) << 24);
}

void SetCount(std::vector<unsigned char>& data, uint32_t nCount)
{
    for (int i = 0; i < 4; ++i)
        data[4 + i] = static_cast<unsigned char>(nCount >> (8 * i));
}

// A damage done to the copy of a table; false where it cannot apply.
struct Damage {
    const char* pszName;
    bool (*pfnApply)(const fs::path& table, const fs::path& memo);
    // The tool may report bytes it dropped (exit code 3); the saved table
    // must still be the undamaged one.
    bool bMayReportDroppedBytes = false;
};

const Damage kDamages[] = {
    {"undamaged", [](const fs::path&, const fs::path&) { return true; }},
    {"counts_and_lengths_zeroed",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         std::fill(data.begin() + 4, data.begin() + 12, 0);
         orvtest::WriteBytes(table.string(), data);
         return true;
     }},
    {"counts_and_lengths_zeroed_and_no_end_of_file_mark",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         std::fill(data.begin() + 4, data.begin() + 12, 0);
         if (data.back() == 0x1A)
             data.pop_back();
         orvtest::WriteBytes(table.string(), data);
         return true;
     }},
    {"record_count_too_high",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         SetCount(data, CountOf(data) + 5);
         orvtest::WriteBytes(table.string(), data);
         return true;
     },
     true},
    {"record_count_too_low",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         SetCount(data, CountOf(data) / 2);
         orvtest::WriteBytes(table.string(), data);
         return true;
     }},
    {"no_end_of_file_mark",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         if (data.back() != 0x1A)
             return false;
         data.pop_back();
         orvtest::WriteBytes(table.string(), data);
         return true;
     }},
    {"junk_after_the_end_of_file_mark",
     [](const fs::path& table, const fs::path&) {
         auto data = Bytes(table);
         if (data.back() != 0x1A)
             data.push_back(0x1A);
         const size_t nRecordLength = data[10] | (data[11] << 8);
         data.insert(data.end(), 3 * nRecordLength, 'Q');
         orvtest::WriteBytes(table.string(), data);
         return true;
     },
     true},
    {"memo_header_zeroed",
     [](const fs::path&, const fs::path& memo) {
         if (memo.empty())
             return false;
         auto data = Bytes(memo);
         std::fill(data.begin(), data.begin() + 8, 0);
         orvtest::WriteBytes(memo.string(), data);
         return true;
     }},
};

void PrintTo(const Damage& damage, std::ostream* pOut)
{
    *pOut << damage.pszName;
}

class FixedPoint : public ::testing::TestWithParam<Damage> {
protected:
    // The tables are written once and shared by every damage.
    static void SetUpTestSuite()
    {
        s_pDir = std::make_unique<TempDir>();
        s_tables.clear();
        const std::string strLayouts = s_pDir->File("layout");
        fs::create_directories(strLayouts);
        const orvtest::CommandResult written = orvtest::Run(
            "/usr/bin/python3 " + ShellQuote(orvtest::SourceDir() + "/tests/peer/make_layout_tables.py") + " " + ShellQuote(strLayouts));
        ASSERT_EQ(written.nExitCode, 0) << written.strOut;
        std::istringstream names(written.strOut);
        for (std::string strName; std::getline(names, strName);) {
            // One folder per table, so that each memo file sits with its table only.
            const fs::path folder = fs::path(strLayouts) / strName;
            fs::create_directories(folder);
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(strLayouts))
                if (entry.is_regular_file() && entry.path().stem() == strName)
                    files.push_back(entry.path());
            for (const fs::path& file : files)
                fs::rename(file, folder / file.filename());
            s_tables.push_back({"layout/" + strName, folder.string(), strName + ".dbf"});
        }
        for (const auto& entry : fs::directory_iterator(orvtest::RealFixturesDir())) {
            if (entry.path().extension() != ".dbf")
                continue;
            const fs::path folder = fs::path(s_pDir->File("real")) / entry.path().stem();
            fs::create_directories(folder);
            fs::copy_file(entry.path(), folder / entry.path().filename());
            const fs::path memo = MemoOf(entry.path());
            if (!memo.empty())
                fs::copy_file(memo, folder / memo.filename());
            s_tables.push_back({"real/" + entry.path().stem().string(), folder.string(), entry.path().filename().string()});
        }
    }

    static void TearDownTestSuite() { s_pDir.reset(); }

    static std::unique_ptr<TempDir> s_pDir;
    static std::vector<SourceTable> s_tables;
};

std::unique_ptr<TempDir> FixedPoint::s_pDir;
std::vector<SourceTable> FixedPoint::s_tables;

std::string JsonString(const std::string& strJson, const std::string& strKey)
{
    const std::string strNeedle = "\"" + strKey + "\": \"";
    const size_t nAt = strJson.find(strNeedle);
    if (nAt == std::string::npos)
        return {};
    const size_t nStart = nAt + strNeedle.size();
    return strJson.substr(nStart, strJson.find('"', nStart) - nStart);
}

// The verdict's differences, one a line, for the failure message.
std::string Differences(const std::string& strVerdict)
{
    const size_t nStart = strVerdict.find("\"differences\": [");
    const size_t nEnd = strVerdict.find("], \"notes\"");
    if (nStart == std::string::npos || nEnd == std::string::npos)
        return strVerdict;
    std::string strOut = strVerdict.substr(nStart + 16, nEnd - nStart - 16);
    for (size_t nAt = 0; (nAt = strOut.find("\", \"", nAt)) != std::string::npos;)
        strOut.replace(nAt, 4, "\"\n  \"");
    return "  " + strOut;
}

TEST_P(FixedPoint, RepairGivesTheTableBackExactly)
{
    ASSERT_GE(s_tables.size(), 20u);
    const Damage& damage = GetParam();
    const fs::path work = fs::path(s_pDir->File("work")) / damage.pszName;
    std::vector<const SourceTable*> compared;
    std::string strPairs;
    for (const SourceTable& table : s_tables) {
        SCOPED_TRACE(table.strName);
        const fs::path folder = work / table.strName;
        fs::create_directories(folder / "out");
        const fs::path copy = folder / table.strFile;
        fs::copy_file(fs::path(table.strFolder) / table.strFile, copy);
        const fs::path memo = MemoOf(fs::path(table.strFolder) / table.strFile);
        if (!memo.empty())
            fs::copy_file(memo, folder / memo.filename());
        if (!damage.pfnApply(copy, memo.empty() ? memo : folder / memo.filename()))
            continue;
        const orvtest::CommandResult run =
            orvtest::Run("TMPDIR=" + ShellQuote(folder.string()) + " " + orvtest::ToolCommand()
                         + " repair " + ShellQuote(copy.string()) + " -o " + ShellQuote((folder / "out").string()) + " --quiet --json");
        const std::string strRepaired = JsonString(run.strOut, "table");
        const bool bSaved = run.nExitCode == 0 || (run.nExitCode == 3 && damage.bMayReportDroppedBytes);
        EXPECT_TRUE(bSaved) << table.strName << " (" << damage.pszName << "): dbfrepair exited with " << run.nExitCode
                            << " and said " << run.strOut;
        if (!bSaved || strRepaired.empty())
            continue;
        compared.push_back(&table);
        strPairs += " " + ShellQuote(table.strFolder + "/" + table.strFile) + " " + ShellQuote(strRepaired);
    }
    ASSERT_FALSE(compared.empty());

    std::string strCommand = "/usr/bin/python3 " + ShellQuote(orvtest::SourceDir() + "/tests/peer/compare_repaired.py");
    for (const char* pszOption : kExceptions)
        strCommand += std::string(" ") + pszOption;
    const orvtest::CommandResult verdicts = orvtest::Run(strCommand + strPairs);
    std::istringstream lines(verdicts.strOut);
    size_t nVerdicts = 0;
    for (std::string strVerdict; std::getline(lines, strVerdict); ++nVerdicts) {
        ASSERT_LT(nVerdicts, compared.size()) << strVerdict;
        const std::string& strName = compared[nVerdicts]->strName;
        EXPECT_NE(strVerdict.find("\"ok\": true"), std::string::npos)
            << strName << " (" << damage.pszName << ") does not come back exactly:\n" << Differences(strVerdict);
    }
    EXPECT_EQ(nVerdicts, compared.size()) << "the comparer stopped early:\n" << verdicts.strOut;
}

INSTANTIATE_TEST_SUITE_P(FixedPoint, FixedPoint, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.pszName); });

} // namespace
