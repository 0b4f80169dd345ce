#include "repair/RepairReport.h"

#include "platform/JsonWriter.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* DropReasonName(RepairReport::DropReason reason)
{
    switch (reason) {
    case RepairReport::DropReason::Garbage: return "garbage";
    case RepairReport::DropReason::CutOff: return "cut_off";
    case RepairReport::DropReason::AfterEndMark: return "after_end_mark";
    }
    return "garbage";
}

const char* RecordLossKindName(RepairReport::RecordLossKind kind)
{
    switch (kind) {
    case RepairReport::RecordLossKind::Dropped: return "dropped";
    case RepairReport::RecordLossKind::CutShort: return "cut_short";
    case RepairReport::RecordLossKind::Mended: return "mended";
    }
    return "dropped";
}

// "1 record" / "2 records".
std::string Counted(int64_t n, const char* pszOne, const char* pszMany)
{
    return GroupedNumber(n) + " " + (n == 1 ? pszOne : pszMany);
}

// "151, 152 and 160" (and "..." past ten): the source records of one kind
// of loss, as the report lists them.
std::string RecordNumbers(const RepairReport& report, RepairReport::RecordLossKind kind)
{
    std::vector<int64_t> numbers;
    bool bMore = false;
    for (const auto& loss : report.recordLosses) {
        if (loss.kind != kind)
            continue;
        if (numbers.size() == 10) {
            bMore = true;
            break;
        }
        numbers.push_back(loss.nRecord);
    }
    std::string strOut;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            strOut += (i + 1 == numbers.size() && !bMore) ? " and " : ", ";
        strOut += GroupedNumber(numbers[i]);
    }
    return bMore ? strOut + ", ..." : strOut;
}

std::string Outcome(const RepairReport& report)
{
    return RepairOutcomeText(report.outcome.value_or(report.bDone ? RepairOutcome::Done : RepairOutcome::Failed));
}

int64_t MemosLost(const RepairReport& report)
{
    return report.nMemosMissing + report.nMemosSharedNotCopied;
}

int64_t DroppedFor(const RepairReport& report, RepairReport::DropReason reason)
{
    int64_t n = 0;
    for (const auto& range : report.dropped) {
        if (range.reason == reason)
            n += range.nRecords;
    }
    return n;
}

// "2 of garbage bytes, 1 cut off at the end": how the listed ranges split
// the dropped records; empty when no range is listed.
std::string DroppedBreakdown(const RepairReport& report)
{
    static const struct {
        RepairReport::DropReason reason;
        const char* pszText;
    } kReasons[] = {
        {RepairReport::DropReason::Garbage, "where the records did not line up"},
        {RepairReport::DropReason::CutOff, "cut off at the end of the file"},
        {RepairReport::DropReason::AfterEndMark, "after the end-of-file mark"},
    };
    std::string strOut;
    for (const auto& item : kReasons) {
        const int64_t n = DroppedFor(report, item.reason);
        if (n == 0)
            continue;
        strOut += (strOut.empty() ? "" : ", ") + GroupedNumber(n) + " " + item.pszText;
    }
    if (!strOut.empty() && report.nDroppedRangesNotListed > 0)
        strOut += ", more in " + Counted(report.nDroppedRangesNotListed, "range", "ranges") + " not listed";
    return strOut;
}

std::string RecordList(const std::vector<int64_t>& records)
{
    std::string strOut;
    for (size_t i = 0; i < records.size(); ++i)
        strOut += (i ? ", " : "") + GroupedNumber(records[i]);
    return strOut;
}

// The columns with the most mended values, at most nMost of them.
std::string WorstColumns(const RepairReport& report, size_t nMost)
{
    std::vector<const RepairReport::ColumnIssue*> columns;
    for (const auto& column : report.columns)
        columns.push_back(&column);
    std::stable_sort(columns.begin(), columns.end(),
                     [](const auto* a, const auto* b) { return a->nValues > b->nValues; });
    std::string strOut;
    for (size_t i = 0; i < columns.size() && i < nMost; ++i) {
        const auto& column = *columns[i];
        strOut += "\n  " + column.strColumn + ": " + GroupedNumber(column.nValues);
        if (!column.firstRecords.empty()) {
            strOut += column.firstRecords.size() == 1 ? " (record " : " (records ";
            strOut += RecordList(column.firstRecords);
            strOut += column.nValues > static_cast<int64_t>(column.firstRecords.size()) ? ", ...)" : ")";
        }
    }
    if (columns.size() > nMost)
        strOut += "\n  and " + Counted(static_cast<int64_t>(columns.size() - nMost), "more column", "more columns");
    return strOut;
}

std::string NameList(const std::vector<std::string>& names)
{
    std::string strOut;
    for (size_t i = 0; i < names.size(); ++i)
        strOut += (i ? ", " : "") + names[i];
    return strOut;
}

// "record 4 NOTES, record 9 NOTES, ...": the first memos not found.
std::string MissingMemoList(const RepairReport& report)
{
    constexpr size_t kShown = 5;
    std::string strOut;
    size_t nShown = 0;
    for (; nShown < report.missingMemos.size() && nShown < kShown; ++nShown) {
        const auto& memo = report.missingMemos[nShown];
        strOut += (nShown ? ", " : "") + std::string("record ") + GroupedNumber(memo.nRecord) + " " + memo.strColumn;
    }
    if (report.nMemosMissing > static_cast<int64_t>(nShown))
        strOut += ", ...";
    return strOut;
}

} // namespace

std::string RepairReportLosses(const RepairReport& report)
{
    std::vector<std::string> items;
    if (report.nRecordsDropped > 0) {
        std::string strItem = Counted(report.nRecordsDropped, "record", "records") + " dropped";
        if (report.nBytesDropped > 0)
            strItem += " (" + Counted(static_cast<int64_t>(report.nBytesDropped), "byte", "bytes") + ")";
        items.push_back(strItem);
    }
    if (report.nRecordsCutShort > 0)
        items.push_back(Counted(report.nRecordsCutShort, "record", "records") + " cut short");
    if (report.nRecordsMended > 0)
        items.push_back(Counted(report.nRecordsMended, "record", "records") + " mended");
    if (report.nValuesMended > 0)
        items.push_back(Counted(report.nValuesMended, "value", "values") + " mended");
    if (report.nMemosMissing > 0)
        items.push_back(Counted(report.nMemosMissing, "memo", "memos") + " missing");
    if (report.nMemosSharedNotCopied > 0)
        items.push_back(Counted(report.nMemosSharedNotCopied, "shared memo", "shared memos") + " not copied again");
    if (report.bMemoFileMissing)
        items.push_back("the memo file missing");
    return NameList(items);
}

std::string RepairReportVerdict(const RepairReport& report)
{
    const std::string strLosses = RepairReportLosses(report);
    return strLosses.empty() ? "Nothing was lost." : "Finished with losses: " + strLosses + ".";
}

std::string GroupedNumber(int64_t n)
{
    const std::string strDigits = std::to_string(n < 0 ? -(n + 1) + 1ULL : static_cast<unsigned long long>(n));
    std::string strOut;
    for (size_t i = 0; i < strDigits.size(); ++i) {
        if (i > 0 && (strDigits.size() - i) % 3 == 0)
            strOut += ',';
        strOut += strDigits[i];
    }
    return n < 0 ? "-" + strOut : strOut;
}

void WriteRepairReportJson(CJsonWriter& json, const RepairReport& report)
{
    json.BeginObject();
    json.Key("schema_version").Number(RepairReport::kSchemaVersion);
    json.Key("source").String(report.strSource);
    json.Key("source_memo").StringOrNull(report.strSourceMemo);
    json.Key("table").StringOrNull(report.strSavedTable);
    json.Key("memo").StringOrNull(report.strSavedMemo);
    json.Key("outcome").String(Outcome(report));
    json.Key("exit_code");
    if (report.nExitCode < 0)
        json.Null();
    else
        json.Number(report.nExitCode);
    json.Key("done").Bool(report.bDone);
    json.Key("losses").Bool(report.HasLosses());

    json.Key("records_written").Number(report.nRecordsWritten);
    json.Key("deleted_records").Number(report.nDeletedRecords);
    json.Key("records_dropped").Number(report.nRecordsDropped);
    json.Key("dropped").BeginArray();
    for (const auto& range : report.dropped) {
        json.BeginObject().Key("offset").Number(range.nOffset).Key("length").Number(range.nLength);
        json.Key("reason").String(DropReasonName(range.reason)).Key("records").Number(range.nRecords);
        json.EndObject();
    }
    json.EndArray();
    json.Key("dropped_ranges_not_listed").Number(report.nDroppedRangesNotListed);
    json.Key("bytes_dropped").Number(report.nBytesDropped);
    json.Key("records_cut_short").Number(report.nRecordsCutShort);
    json.Key("records_mended").Number(report.nRecordsMended);
    json.Key("record_losses").BeginArray();
    for (const auto& loss : report.recordLosses) {
        json.BeginObject().Key("record").Number(loss.nRecord).Key("kind").String(RecordLossKindName(loss.kind));
        json.Key("offset").Number(loss.nOffset).Key("length").Number(loss.nLength).EndObject();
    }
    json.EndArray();
    json.Key("record_losses_not_listed").Number(report.nRecordLossesNotListed);
    json.Key("realignments").BeginArray();
    for (const auto& r : report.realignments)
        json.BeginObject().Key("from").Number(r.nFrom).Key("to").Number(r.nTo).EndObject();
    json.EndArray();

    json.Key("values_mended").Number(report.nValuesMended);
    json.Key("columns").BeginArray();
    for (const auto& column : report.columns) {
        json.BeginObject().Key("column").String(column.strColumn).Key("values").Number(column.nValues);
        json.Key("first_records").BeginArray();
        for (const int64_t nRecord : column.firstRecords)
            json.Number(nRecord);
        json.EndArray().EndObject();
    }
    json.EndArray();

    json.Key("memos_recovered").Number(report.nMemosRecovered);
    json.Key("memos_missing").Number(report.nMemosMissing);
    json.Key("missing_memos").BeginArray();
    for (const auto& memo : report.missingMemos)
        json.BeginObject().Key("record").Number(memo.nRecord).Key("column").String(memo.strColumn).EndObject();
    json.EndArray();
    json.Key("missing_memos_not_listed").Number(report.nMissingMemosNotListed);
    json.Key("memos_shared_not_copied").Number(report.nMemosSharedNotCopied);
    json.Key("memo_file_missing").Bool(report.bMemoFileMissing);

    json.Key("structure_fixes").Strings(report.structureFixes);
    json.Key("record_area_start").Number(report.nRecordAreaStart);
    json.Key("record_length").Number(report.nRecordLength);
    json.Key("memo_block_size").Number(report.nMemoBlockSize);
    json.Key("transfer_undone").Bool(report.bTransferUndone);
    json.Key("index_files").Strings(report.indexFiles);
    json.EndObject();
}

std::string RepairReportToJson(const RepairReport& report)
{
    CJsonWriter json;
    WriteRepairReportJson(json, report);
    return json.Take();
}

std::string RepairReportSummary(const RepairReport& report)
{
    std::vector<std::string> lines;

    std::string strLine = Counted(report.nRecordsWritten, "record", "records") + " written";
    if (report.nDeletedRecords > 0)
        strLine += " (" + GroupedNumber(report.nDeletedRecords) + " marked deleted)";
    lines.push_back(strLine + ".");

    if (report.nRecordsDropped > 0) {
        strLine = Counted(report.nRecordsDropped, "record", "records") + " dropped";
        if (report.nBytesDropped > 0)
            strLine += " (" + Counted(static_cast<int64_t>(report.nBytesDropped), "byte", "bytes") + " of the source)";
        if (const std::string strWhy = DroppedBreakdown(report); !strWhy.empty())
            strLine += ": " + strWhy;
        lines.push_back(strLine + ".");
    } else if (report.nBytesDropped > 0) {
        lines.push_back(Counted(static_cast<int64_t>(report.nBytesDropped), "byte", "bytes")
                        + " of the source held no record and were dropped.");
    }
    if (const std::string strNumbers = RecordNumbers(report, RepairReport::RecordLossKind::Dropped);
        !strNumbers.empty())
        lines.push_back("Records of the source dropped: " + strNumbers + ".");
    if (report.nRecordsMended > 0) {
        lines.push_back(Counted(report.nRecordsMended, "record", "records") + " damaged in place "
                        + (report.nRecordsMended == 1 ? "was" : "were") + " kept with the damage mended: "
                        + RecordNumbers(report, RepairReport::RecordLossKind::Mended) + ".");
    }
    if (report.nRecordsCutShort > 0) {
        lines.push_back(Counted(report.nRecordsCutShort, "record", "records")
                        + " cut off by the end of the file kept its whole fields: "
                        + RecordNumbers(report, RepairReport::RecordLossKind::CutShort) + ".");
    }
    if (!report.realignments.empty()) {
        lines.push_back("Records re-aligned "
                        + Counted(static_cast<int64_t>(report.realignments.size()), "time", "times")
                        + " (bytes had been lost or inserted).");
    }
    if (report.nValuesMended > 0) {
        lines.push_back(Counted(report.nValuesMended, "value", "values") + " did not fit the column type and "
                        + (report.nValuesMended == 1 ? "was" : "were") + " mended:" + WorstColumns(report, 3));
    }

    if (report.bMemoFileMissing) {
        lines.push_back("The memo file could not be read: the memo fields are empty.");
    } else if (report.nMemosRecovered > 0 || MemosLost(report) > 0) {
        strLine = Counted(report.nMemosRecovered, "memo", "memos") + " recovered";
        if (report.nMemosMissing > 0)
            strLine += ", " + GroupedNumber(report.nMemosMissing) + " not found";
        if (!report.missingMemos.empty())
            strLine += " (" + MissingMemoList(report) + ")";
        if (report.nMemosSharedNotCopied > 0)
            strLine += ", " + GroupedNumber(report.nMemosSharedNotCopied) + " shared ones not copied again";
        lines.push_back(strLine + ".");
    }

    if (report.bTransferUndone)
        lines.push_back("A text-mode transfer had changed line ends; they were turned back.");
    for (const std::string& strFix : report.structureFixes)
        lines.push_back("Structure: " + strFix);
    if (!report.indexFiles.empty())
        lines.push_back("Rebuild the index files: " + NameList(report.indexFiles) + ".");
    lines.push_back(RepairReportVerdict(report));

    std::string strOut;
    for (size_t i = 0; i < lines.size(); ++i)
        strOut += (i ? "\n" : "") + lines[i];
    return strOut;
}

std::string RepairReportOneLine(const RepairReport& report)
{
    std::string strOut = Counted(report.nRecordsWritten, "record", "records");
    if (report.nRecordsDropped > 0)
        strOut += "; " + GroupedNumber(report.nRecordsDropped) + " dropped";
    if (report.nRecordsMended > 0)
        strOut += "; " + GroupedNumber(report.nRecordsMended) + " damaged";
    if (report.nValuesMended > 0)
        strOut += "; " + Counted(report.nValuesMended, "value", "values") + " mended";
    if (report.bMemoFileMissing)
        strOut += "; memo file missing";
    else if (MemosLost(report) > 0)
        strOut += "; " + Counted(MemosLost(report), "memo", "memos") + " lost";
    return strOut;
}
