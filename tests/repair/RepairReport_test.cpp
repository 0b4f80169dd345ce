// The repair report's three forms: JSON read back by Python's json module,
// the summary for people and the one-line form of the status line.

#include "repair/RepairReport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <functional>

namespace {

using Reason = RepairReport::DropReason;

// Every member set, none to its default.
RepairReport FullReport()
{
    RepairReport r;
    r.strSource = "/data/sales.dbf";
    r.strSourceMemo = "/data/sales.fpt";
    r.bDone = true;
    r.nRecordsWritten = 2000;
    r.nDeletedRecords = 12;
    r.nRecordsDropped = 4;
    r.dropped = {{1024, 300, Reason::Garbage, 3}, {900000, 70, Reason::CutOff, 1}, {900070, 5, Reason::AfterEndMark, 1}};
    r.nDroppedRangesNotListed = 2;
    r.realignments = {{1024, 1324}};
    r.nRecordsCutShort = 1;
    r.nRecordsMended = 2;
    r.recordLosses = {{7, RepairReport::RecordLossKind::Dropped, 1024, 45},
                      {9, RepairReport::RecordLossKind::Mended, 1114, 45},
                      {2001, RepairReport::RecordLossKind::CutShort, 900000, 30}};
    r.nRecordLossesNotListed = 3;
    r.nValuesMended = 9;
    r.columns = {{"QTY", 2, {5, 9}}, {"BORN", 7, {1, 2, 3, 4, 5}}};
    r.nMemosRecovered = 1500;
    r.nMemosMissing = 3;
    r.nMemosSharedNotCopied = 1;
    r.bMemoFileMissing = false;
    r.structureFixes = {"The header's record count was 0; 2,000 records were found.", "Field 3 had no name."};
    r.nRecordAreaStart = 322;
    r.nRecordLength = 45;
    r.nMemoBlockSize = 64;
    r.bTransferUndone = true;
    r.indexFiles = {"SALES.CDX", "SALES.NTX"};
    r.nBytesDropped = 375;
    r.missingMemos = {{12, "NOTES"}, {40, "PIC"}};
    r.nMissingMemosNotListed = 1;
    r.strSavedTable = "/out/Rep_1_sales.dbf";
    r.strSavedMemo = "/out/Rep_1_sales.fpt";
    r.outcome = RepairOutcome::Done;
    r.nExitCode = 3;
    return r;
}

// Python's reading of the JSON, one line per member, lists as Python shows
// them.
std::string ReadBackWithPython(const std::string& strJson)
{
    orvtest::TempDir dir;
    const std::string strFile = dir.File("report.json");
    std::ofstream(strFile, std::ios::binary) << strJson;
    const std::string strScript = R"PY(
import json, os, sys
with open(sys.argv[1], 'rb') as f:
    r = json.loads(f.read().decode('utf-8'))
b = lambda s: None if s is None else os.fsencode(s)
print(sorted(r))
print(b(r['source']), b(r['source_memo']), r['done'], r['losses'])
print(r['records_written'], r['deleted_records'], r['records_dropped'], r['dropped_ranges_not_listed'])
print([(d['offset'], d['length'], d['reason'], d['records']) for d in r['dropped']])
print([(x['from'], x['to']) for x in r['realignments']])
print(r['records_cut_short'], r['records_mended'], r['record_losses_not_listed'],
      [(x['record'], x['kind'], x['offset'], x['length']) for x in r['record_losses']])
print(r['values_mended'], [(b(c['column']), c['values'], c['first_records']) for c in r['columns']])
print(r['memos_recovered'], r['memos_missing'], r['memos_shared_not_copied'], r['memo_file_missing'])
print([b(s) for s in r['structure_fixes']], r['record_area_start'], r['record_length'], r['memo_block_size'])
print(r['transfer_undone'], [b(s) for s in r['index_files']])
print(r['schema_version'], b(r['table']), b(r['memo']), r['outcome'], r['exit_code'], r['bytes_dropped'],
      [(m['record'], b(m['column'])) for m in r['missing_memos']], r['missing_memos_not_listed'])
)PY";
    const orvtest::CommandResult result = orvtest::RunPython(strScript, {strFile});
    EXPECT_EQ(result.nExitCode, 0) << strJson;
    return result.strOut;
}

const char kAllKeys[] =
    "['bytes_dropped', 'columns', 'deleted_records', 'done', 'dropped', 'dropped_ranges_not_listed', 'exit_code', "
    "'index_files', 'losses', 'memo', 'memo_block_size', 'memo_file_missing', 'memos_missing', 'memos_recovered', "
    "'memos_shared_not_copied', 'missing_memos', 'missing_memos_not_listed', 'outcome', 'realignments', "
    "'record_area_start', 'record_length', 'record_losses', 'record_losses_not_listed', 'records_cut_short', "
    "'records_dropped', 'records_mended', 'records_written', 'schema_version', 'source', 'source_memo', "
    "'structure_fixes', 'table', 'transfer_undone', 'values_mended']\n";

TEST(RepairReport, JsonCarriesEveryMember)
{
    struct Case {
        const char* pszName;
        RepairReport report;
        std::string strExpected;
    };
    const Case cases[] = {
        {"full", FullReport(),
         std::string(kAllKeys)
             + "b'/data/sales.dbf' b'/data/sales.fpt' True True\n"
               "2000 12 4 2\n"
               "[(1024, 300, 'garbage', 3), (900000, 70, 'cut_off', 1), (900070, 5, 'after_end_mark', 1)]\n"
               "[(1024, 1324)]\n"
               "1 2 3 [(7, 'dropped', 1024, 45), (9, 'mended', 1114, 45), (2001, 'cut_short', 900000, 30)]\n"
               "9 [(b'QTY', 2, [5, 9]), (b'BORN', 7, [1, 2, 3, 4, 5])]\n"
               "1500 3 1 False\n"
               "[b\"The header's record count was 0; 2,000 records were found.\", b'Field 3 had no name.'] 322 45 64\n"
               "True [b'SALES.CDX', b'SALES.NTX']\n"
               "1 b'/out/Rep_1_sales.dbf' b'/out/Rep_1_sales.fpt' Done 3 375 [(12, b'NOTES'), (40, b'PIC')] 1\n"},
        {"empty", RepairReport(),
         std::string(kAllKeys)
             + "b'' None False False\n"
               "0 0 0 0\n[]\n[]\n0 0 0 []\n0 []\n0 0 0 False\n[] 0 0 0\nFalse []\n"
               "1 None None Failed None 0 [] 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(ReadBackWithPython(RepairReportToJson(c.report)), c.strExpected);
    }
}

// Paths and names come as bytes: quotes, control characters, UTF-8 and
// bytes of other encodings must all come back as they were.
TEST(RepairReport, JsonKeepsAnyBytesOfPathsAndNames)
{
    RepairReport r;
    r.strSource = "/d\"q\\b\n\t\x01/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC/\xE9t\xE9\x7F.dbf";
    r.strSourceMemo = "/x/\xC3.fpt"; // a UTF-8 sequence cut short
    r.columns = {{"N\xED\x80\x80", 1, {1}}}; // an encoded surrogate is no UTF-8
    r.indexFiles = {"\xF4\x90\x80\x80.cdx"};  // past U+10FFFF
    const std::string strOut = ReadBackWithPython(RepairReportToJson(r));
    EXPECT_NE(strOut.find("b'/d\"q\\\\b\\n\\t\\x01/\\xc3\\xa9t\\xc3\\xa9 \\xe2\\x82\\xac/\\xe9t\\xe9\\x7f.dbf' "
                          "b'/x/\\xc3.fpt'"),
              std::string::npos)
        << strOut;
    EXPECT_NE(strOut.find("(b'N\\xed\\x80\\x80', 1, [1])"), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("[b'\\xf4\\x90\\x80\\x80.cdx']"), std::string::npos) << strOut;
}

// Each kind of loss alone: it makes the report one with losses, the JSON
// says so, the one-line form and the verdict name it and the summary ends
// with that verdict.
TEST(RepairReport, EveryKindOfLossIsCountedAndNamed)
{
    struct Case {
        const char* pszName;
        std::function<void(RepairReport&)> fnDamage;
        bool bLosses;
        const char* pszOneLine;
        const char* pszVerdict;
    };
    const Case cases[] = {
        {"nothing", [](RepairReport&) {}, false, "2,000 records", "Nothing was lost."},
        {"one record", [](RepairReport& r) { r.nRecordsWritten = 1; }, false, "1 record", "Nothing was lost."},
        {"dropped", [](RepairReport& r) { r.nRecordsDropped = 3; }, true, "2,000 records; 3 dropped",
         "Finished with losses: 3 records dropped."},
        // Bytes that held no record lose nothing.
        {"bytes only", [](RepairReport& r) { r.nBytesDropped = 306; }, false, "2,000 records", "Nothing was lost."},
        {"dropped with bytes", [](RepairReport& r) { r.nRecordsDropped = 1; r.nBytesDropped = 306; }, true,
         "2,000 records; 1 dropped", "Finished with losses: 1 record dropped (306 bytes)."},
        {"cut short", [](RepairReport& r) { r.nRecordsCutShort = 1; }, true, "2,000 records",
         "Finished with losses: 1 record cut short."},
        {"mended", [](RepairReport& r) { r.nValuesMended = 1; }, true, "2,000 records; 1 value mended",
         "Finished with losses: 1 value mended."},
        {"missing memo", [](RepairReport& r) { r.nMemosMissing = 1; }, true, "2,000 records; 1 memo lost",
         "Finished with losses: 1 memo missing."},
        {"shared memos", [](RepairReport& r) { r.nMemosSharedNotCopied = 2; r.nMemosMissing = 1; }, true,
         "2,000 records; 3 memos lost", "Finished with losses: 1 memo missing, 2 shared memos not copied again."},
        {"memo file", [](RepairReport& r) { r.bMemoFileMissing = true; }, true, "2,000 records; memo file missing",
         "Finished with losses: the memo file missing."},
        // Fixes to the structure and stale indexes lose nothing.
        {"fixed", [](RepairReport& r) { r.structureFixes = {"x"}; r.indexFiles = {"A.CDX"}; r.bTransferUndone = true; },
         false, "2,000 records", "Nothing was lost."},
        {"all", [](RepairReport& r) { r.nRecordsDropped = 1234; r.nRecordsMended = 2; r.nValuesMended = 2; r.nMemosMissing = 5; },
         true, "2,000 records; 1,234 dropped; 2 damaged; 2 values mended; 5 memos lost",
         "Finished with losses: 1,234 records dropped, 2 records mended, 2 values mended, 5 memos missing."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        RepairReport r;
        r.bDone = true;
        r.nRecordsWritten = 2000;
        c.fnDamage(r);
        EXPECT_EQ(r.HasLosses(), c.bLosses);
        EXPECT_NE(RepairReportToJson(r).find(c.bLosses ? "\"losses\": true" : "\"losses\": false"), std::string::npos);
        EXPECT_EQ(RepairReportOneLine(r), c.pszOneLine);
        EXPECT_EQ(RepairReportVerdict(r), c.pszVerdict);
        const std::string strSummary = RepairReportSummary(r);
        EXPECT_EQ(strSummary.substr(strSummary.rfind('\n') + 1), c.pszVerdict) << strSummary;
    }
}

TEST(RepairReport, SummaryShowsTheWorstColumnsAndWhyRecordsWereDropped)
{
    RepairReport r = FullReport();
    r.nValuesMended = 1 + 7 + 40 + 3 + 12;
    r.columns = {{"A", 1, {9}}, {"B", 7, {1, 2}}, {"C", 40, {3, 4, 5, 6, 7}}, {"D", 3, {8, 9, 10}}, {"E", 12, {2}}};
    const std::string strSummary = RepairReportSummary(r);
    // Most mended first; records listed up to the first few, "..." when
    // there are more.
    const size_t nC = strSummary.find("C: 40 (records 3, 4, 5, 6, 7, ...)");
    const size_t nE = strSummary.find("E: 12 (record 2, ...)");
    const size_t nB = strSummary.find("B: 7 (records 1, 2, ...)");
    ASSERT_NE(nC, std::string::npos) << strSummary;
    ASSERT_NE(nE, std::string::npos) << strSummary;
    ASSERT_NE(nB, std::string::npos) << strSummary;
    EXPECT_LT(nC, nE);
    EXPECT_LT(nE, nB);
    EXPECT_EQ(strSummary.find("D: 3"), std::string::npos) << strSummary;
    EXPECT_NE(strSummary.find("and 2 more columns"), std::string::npos) << strSummary;
    EXPECT_NE(strSummary.find("63 values"), std::string::npos) << strSummary;
    // The dropped records by reason, as the listed ranges split them.
    EXPECT_NE(strSummary.find("4 records dropped (375 bytes of the source): 3 where the records did not line up, 1 cut off at the end of "
                              "the file, 1 after the end-of-file mark, more in 2 ranges not listed"),
              std::string::npos)
        << strSummary;
    EXPECT_NE(strSummary.find("2,000 records written (12 marked deleted)"), std::string::npos) << strSummary;
    EXPECT_NE(strSummary.find("1,500 memos recovered, 3 not found (record 12 NOTES, record 40 PIC, ...), 1 shared"), std::string::npos) << strSummary;
    EXPECT_NE(strSummary.find("SALES.CDX, SALES.NTX"), std::string::npos) << strSummary;
    EXPECT_NE(strSummary.find("Field 3 had no name."), std::string::npos) << strSummary;
}

TEST(RepairReport, NumbersAreGroupedByThousands)
{
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {-1000, "-1,000"}, {123456, "123,456"}, {1234567, "1,234,567"},
        {INT64_MAX, "9,223,372,036,854,775,807"}, {INT64_MIN, "-9,223,372,036,854,775,808"},
    };
    for (const auto& [n, pszExpected] : cases)
        EXPECT_EQ(GroupedNumber(n), pszExpected) << n;
}

} // namespace
