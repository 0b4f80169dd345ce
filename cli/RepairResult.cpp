#include "cli/RepairResult.h"

#include "cli/ExitCodes.h"
#include "cli/RepairArguments.h"
#include "platform/StopSignals.h"
#include "repair/RepairReport.h"

namespace {

const char* Bool(bool b)
{
    return b ? "true" : "false";
}

} // namespace

std::string RepairResultToJson(const RepairResult& result)
{
    // A refused table counts nothing: zeros, as a run that found nothing.
    static const RepairReport kNone;
    const RepairReport& report = result.pReport != nullptr ? *result.pReport : kNone;
    const bool bDone = result.strStatus == "Done";
    std::string strOut = "{\"source\": " + JsonQuote(result.strSource);
    strOut += ", \"status\": " + JsonQuote(result.strStatus);
    strOut += ", \"table\": " + JsonPathOrNull(result.saved.strTable);
    strOut += ", \"memo\": " + JsonPathOrNull(result.saved.strMemo);
    strOut += ", \"fields\": " + std::to_string(result.nFields);
    strOut += ", \"records\": " + std::to_string(report.nRecordsWritten);
    strOut += ", \"deleted_records\": " + std::to_string(report.nDeletedRecords);
    strOut += ", \"records_dropped\": " + std::to_string(report.nRecordsDropped);
    strOut += ", \"bytes_dropped\": " + std::to_string(report.nBytesDropped);
    strOut += ", \"records_cut_short\": " + std::to_string(report.nRecordsCutShort);
    strOut += ", \"records_mended\": " + std::to_string(report.nRecordsMended);
    strOut += ", \"values_mended\": " + std::to_string(report.nValuesMended);
    strOut += ", \"memos_recovered\": " + std::to_string(report.nMemosRecovered);
    strOut += ", \"memos_missing\": " + std::to_string(report.nMemosMissing);
    strOut += ", \"memo_file_missing\": " + std::string(Bool(report.bMemoFileMissing));
    strOut += ", \"losses\": " + std::string(Bool(bDone && report.HasLosses()));
    strOut += ", \"index_files\": " + JsonQuoteList(report.indexFiles);
    strOut += ", \"bytes\": " + std::to_string(result.nBytes);
    strOut += ", \"seconds\": " + JsonSeconds(result.dSeconds);
    strOut += ", \"dry_run\": " + std::string(Bool(result.bDryRun));
    strOut += ", \"exit_code\": " + std::to_string(result.nExitCode);
    strOut += ", \"error\": " + (result.strError.empty() ? std::string("null") : JsonQuote(result.strError));
    strOut += ", \"report\": " + (result.pReport != nullptr ? RepairReportToJson(report) : std::string("null"));
    return strOut + "}";
}

int RepairExitCode(const std::string& strStatus, const RepairReport* pReport)
{
    if (strStatus == "Done")
        return pReport != nullptr && pReport->HasLosses() ? kExitWithLosses : kExitSuccess;
    if (strStatus == "Stopped" && CStopSignals::ExitStatus() != 0)
        return CStopSignals::ExitStatus();
    return kExitTableError;
}
