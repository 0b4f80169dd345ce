#include "cli/RepairResult.h"

#include "cli/ExitCodes.h"
#include "platform/JsonWriter.h"
#include "platform/StopSignals.h"
#include "repair/RepairReport.h"

std::string RepairResultToJson(const RepairResult& result)
{
    // A refused table counts nothing: zeros, as a run that found nothing.
    static const RepairReport kNone;
    const RepairReport& report = result.pReport != nullptr ? *result.pReport : kNone;
    const bool bDone = result.outcome == RepairOutcome::Done;
    CJsonWriter json;
    json.BeginObject();
    json.Key("source").String(result.strSource);
    json.Key("status").String(RepairOutcomeText(result.outcome));
    json.Key("table").StringOrNull(result.saved.strTable);
    json.Key("memo").StringOrNull(result.saved.strMemo);
    json.Key("fields").Number(result.nFields);
    json.Key("records").Number(report.nRecordsWritten);
    json.Key("deleted_records").Number(report.nDeletedRecords);
    json.Key("records_dropped").Number(report.nRecordsDropped);
    json.Key("bytes_dropped").Number(report.nBytesDropped);
    json.Key("records_cut_short").Number(report.nRecordsCutShort);
    json.Key("records_mended").Number(report.nRecordsMended);
    json.Key("values_mended").Number(report.nValuesMended);
    json.Key("memos_recovered").Number(report.nMemosRecovered);
    json.Key("memos_missing").Number(report.nMemosMissing);
    json.Key("memo_file_missing").Bool(report.bMemoFileMissing);
    json.Key("losses").Bool(bDone && report.HasLosses());
    json.Key("index_files").Strings(report.indexFiles);
    json.Key("bytes").Number(result.nBytes);
    json.Key("seconds").Fixed(result.dSeconds, 3);
    json.Key("dry_run").Bool(result.bDryRun);
    json.Key("exit_code").Number(result.nExitCode);
    json.Key("error").StringOrNull(result.strError);
    json.Key("report");
    if (result.pReport != nullptr)
        WriteRepairReportJson(json, report);
    else
        json.Null();
    json.EndObject();
    return json.Take();
}

int RepairExitCode(RepairOutcome outcome, const RepairReport* pReport)
{
    if (outcome == RepairOutcome::Done)
        return pReport != nullptr && pReport->HasLosses() ? kExitWithLosses : kExitSuccess;
    if (outcome == RepairOutcome::Stopped && CStopSignals::ExitStatus() != 0)
        return CStopSignals::ExitStatus();
    return kExitTableError;
}
