#include "cli/InfoCommand.h"

#include "cli/CommandLine.h"
#include "cli/MemoOverride.h"
#include "cli/TableTextEvidence.h"
#include "dbf/DBFRecordset.h"
#include "dbf/TableProbe.h"
#include "platform/ErrorReporter.h"
#include "platform/JsonWriter.h"

#include "platform/CodePageDecoder.h"
#include "dbf/DBFException.h"
#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "platform/File.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char* MemoKindName(dbfformat::MemoKind kind)
{
    switch (kind) {
    case dbfformat::MemoKind::DBase3: return "dBASE III";
    case dbfformat::MemoKind::DBase4: return "dBASE IV";
    case dbfformat::MemoKind::FoxPro: return "FoxPro";
    case dbfformat::MemoKind::VisualFoxPro: return "Visual FoxPro";
    case dbfformat::MemoKind::VisualFoxProDbc: return "Visual FoxPro database container";
    case dbfformat::MemoKind::SIx: return "SIx";
    case dbfformat::MemoKind::None: break;
    }
    return "none";
}

// The kind's number and name, as info shows it, with a note after the name.
std::string MemoKindLine(dbfformat::MemoKind kind, const std::string& strNote = "")
{
    return std::to_string(static_cast<int>(kind)) + " (" + MemoKindName(kind) + strNote + ")";
}

std::string Hex2(unsigned n)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", n & 0xFFu);
    return buf;
}

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair info TABLE.dbf [--memo FILE] [--json]\n"
           "\n"
           "Shows what the storage engine reads from the table: version byte and\n"
           "table kind, last update, record count, header and record length, code\n"
           "page mark, table flags, memo kind and memo file (and whether it was\n"
           "found), then one line per field: name, type, width, decimals, offset\n"
           "and flags.\n"
           "\n"
           "A damaged table the engine refuses is shown as its raw header says,\n"
           "with its fields from the raw descriptors, and each problem named:\n"
           "a record count the file size disagrees with, a header length the\n"
           "descriptors do not fit, a record length other than the fields'\n"
           "widths. The exit code is then 1.\n"
           "\n"
           "  --memo FILE   read the memo file FILE instead of the one beside the\n"
           "                table\n"
           "  --json        print one JSON object instead: the header's values,\n"
           "                \"memo_file\", \"fields\", \"problems\" and \"readable\"\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read (missing, not\n"
           "readable, not a table, damaged), 2 bad usage.\n";
}

struct FieldLine {
    std::string strName;
    std::string strType;
    unsigned nWidth;
    unsigned nDecimals;
    unsigned nOffset;
    unsigned nFlags;
    std::string strFlags;
};

FieldLine LineOf(const DBFFieldDescriptor& fd)
{
    const unsigned char chType = static_cast<unsigned char>(fd.GetType());
    char type[8];
    if (chType >= 0x20 && chType < 0x7F)
        std::snprintf(type, sizeof type, "%c", chType);
    else
        std::snprintf(type, sizeof type, "\\x%02X", chType);
    std::string strFlags = Hex2(fd.GetFlags());
    if (fd.GetFlags() & DBFFieldDescriptor::kFlagSystem)
        strFlags += " system";
    if (fd.GetFlags() & DBFFieldDescriptor::kFlagNullable)
        strFlags += " nullable";
    if (fd.GetFlags() & DBFFieldDescriptor::kFlagBinary)
        strFlags += " binary";
    const unsigned nDecimals = DBFFieldDescriptor::UsesLengthByte(fd.GetType()) ? fd.GetDecimals() : 0;
    return {fd.GetName(), type, fd.GetWidth(), nDecimals, fd.GetOffset(), fd.GetFlags(), strFlags};
}

// The code page the table is read in and why; for an undecided mark the
// texts tell, as dump reads them (nothing when they could not be read).
std::string CodePageText(uint8_t nMark, std::optional<TextEvidence> evidence)
{
    if (evidence || !CCodePageDecoder::IsUndecidedMark(nMark))
        return CCodePageDecoder::DescribeChoice(nMark, evidence.value_or(TextEvidence::None));
    return std::string(nMark == 0 ? "unmarked" : "unknown mark") + "; its texts could not be read to choose one";
}

std::optional<TextEvidence> ReadTextEvidence(const std::string& strOpenPath)
{
    try {
        CRecordingReporter recorded;
        CScopedErrorReporter scope(&recorded);
        CDBFRecordset rs;
        rs.Open(strOpenPath, CFile::modeRead | CFile::shareDenyNone);
        if (rs.IsOpen())
            return TableTextEvidence(rs);
    } catch (const std::exception&) {
        // The texts cannot tell: CodePageText says so.
    }
    return std::nullopt;
}

// What the command line asks for.
struct InfoOptions {
    std::string strPath;
    std::string strMemo; // empty: the memo file beside the table
    bool bJson = false;
    std::string strPrefix; // "dbfrepair info: ", the start of every message
};

// What was read of the table, for printing.
struct InfoResult {
    CTableProbe probe;
    std::vector<FieldLine> fields;
    std::string strMemoKind = "none";
    std::string strMemoFile;
    std::string strMemoState;
    bool bReadable = false;
    std::string strRefusal; // the engine's reason when it refuses the table
    std::optional<TextEvidence> textEvidence; // for an undecided code page mark
};

// Returns the exit code when the command ends here (after the help, or a
// usage error written on err).
std::optional<int> ParseInfoArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                      InfoOptions& opts)
{
    CCommandLine cl("info");
    cl.AddFlag({"--json"}, &opts.bJson);
    cl.AddValue({"--memo"}, &opts.strMemo);
    opts.strPrefix = cl.Prefix();
    if (int nExit = 0; !cl.ParseForTable(args, out, err, &Help, opts.strPath, &nExit))
        return nExit;
    return std::nullopt;
}

// Opens the table; the engine's reason when it refuses it, else empty.
std::string OpenTable(CDBFTableDef& table, const std::string& strOpenPath)
{
    std::string strRefusal;
    try {
        CRecordingReporter recorded;
        CScopedErrorReporter scope(&recorded);
        table.Open(strOpenPath, CFile::modeRead | CFile::shareDenyNone);
        for (const std::string& strMessage : recorded.Messages())
            strRefusal += (strRefusal.empty() ? "" : "; ") + strMessage;
    } catch (const std::exception& e) {
        strRefusal = e.what();
    }
    return strRefusal;
}

// The engine's view of a table it reads.
void DescribeOpenTable(const CDBFTableDef& table, const std::string& strMemo, InfoResult& result)
{
    for (int i = 0; i < table.GetFieldCount(); ++i)
        result.fields.push_back(LineOf(table.GetFieldInfo(i)));
    result.strMemoKind = MemoKindLine(table.GetMemoKind());
    if (table.GetMemoKind() == dbfformat::MemoKind::None)
        return;
    result.strMemoFile = strMemo.empty() ? table.GetMemoPath() : strMemo;
    if (table.IsMemoFileMissing())
        result.strMemoState = "not found";
    else if (table.GetMemoFile() && table.GetMemoFile()->IsMemoOpen())
        result.strMemoState = "found, block size " + std::to_string(table.GetMemoFile()->GetBlockSize());
    else
        result.strMemoState = "could not be opened";
}

// A table the engine refuses: its raw descriptors and the header's memo kind.
void DescribeRawTable(InfoResult& result)
{
    for (const DBFFieldDescriptor& fd : result.probe.GetFields())
        result.fields.push_back(LineOf(fd));
    const DBFHeader& h = result.probe.GetHeader();
    result.strMemoKind
        = MemoKindLine(dbfformat::MemoKindForVersion(h.GetVersion(), h.GetTableFlags()), ", as the header says");
}

// Reads the table, through the engine when it can. Nothing when the file
// cannot be read at all or the memo file named cannot be used (the message
// written on err).
std::optional<InfoResult> ReadInfo(const InfoOptions& opts, std::ostream& err)
{
    InfoResult result;
    if (!result.probe.Probe(opts.strPath)) {
        err << opts.strPrefix << opts.strPath << ": " << result.probe.GetError() << "\n";
        return std::nullopt;
    }
    const DBFHeader& h = result.probe.GetHeader();
    CMemoOverride memo;
    std::string strOpenPath = opts.strPath;
    if (!opts.strMemo.empty()) {
        std::string strError;
        if (!memo.Prepare(opts.strPath, opts.strMemo, h.GetVersion(), h.GetTableFlags(), strError)) {
            err << opts.strPrefix << strError << "\n";
            return std::nullopt;
        }
        strOpenPath = memo.GetTablePath();
    }

    CDBFTableDef table;
    // A missing memo file is shown, not an error: the header is still worth
    // seeing.
    table.SetMemoFileOptional(true);
    result.strRefusal = OpenTable(table, strOpenPath);
    result.bReadable = table.IsOpen();
    if (!result.bReadable && result.strRefusal.empty())
        result.strRefusal = "the table could not be read";
    if (result.bReadable)
        DescribeOpenTable(table, opts.strMemo, result);
    else
        DescribeRawTable(result);
    if (result.bReadable && CCodePageDecoder::IsUndecidedMark(h.GetCodePageMark())) {
        table.Close();
        result.textEvidence = ReadTextEvidence(strOpenPath);
    }
    return result;
}

std::string DateText(const DBFHeader& h)
{
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.GetUpdateYear(), h.GetUpdateMonth(), h.GetUpdateDay());
    return date;
}

void PrintJson(std::ostream& out, const std::string& strPath, const InfoResult& result)
{
    const DBFHeader& h = result.probe.GetHeader();
    CJsonWriter json;
    json.BeginObject().Key("table").String(strPath).Key("readable").Bool(result.bReadable);
    json.Key("version").Number(unsigned(h.GetVersion()));
    json.Key("kind").String(CDBFTableDef::TableKindName(h.GetVersion())).Key("last_update").String(DateText(h));
    json.Key("records").Number(h.GetRecordCount()).Key("header_length").Number(h.GetHeaderLength());
    json.Key("record_length").Number(h.GetRecordLength());
    json.Key("code_page_mark").Number(unsigned(h.GetCodePageMark()));
    json.Key("code_page").String(CodePageText(h.GetCodePageMark(), result.textEvidence));
    json.Key("table_flags").Number(unsigned(h.GetTableFlags())).Key("memo_kind").String(result.strMemoKind);
    json.Key("memo_file").StringOrNull(result.strMemoFile).Key("memo_state").StringOrNull(result.strMemoState);
    json.Key("fields").BeginArray();
    for (const FieldLine& f : result.fields) {
        json.BeginObject().Key("name").String(f.strName).Key("type").String(f.strType);
        json.Key("width").Number(f.nWidth).Key("decimals").Number(f.nDecimals).Key("offset").Number(f.nOffset);
        json.Key("flags").Number(f.nFlags).EndObject();
    }
    json.EndArray();
    json.Key("problems").Strings(result.probe.GetProblems());
    json.Key("notes").Strings(result.probe.GetNotes());
    out << json.EndObject().Take() << "\n";
}

// The header's lines and the memo file's, as text.
void PrintTextHeader(std::ostream& out, const std::string& strPath, const InfoResult& result)
{
    const DBFHeader& h = result.probe.GetHeader();
    out << "Table:          " << strPath << "\n";
    out << "Version:        " << Hex2(h.GetVersion()) << " (" << CDBFTableDef::TableKindName(h.GetVersion()) << ")\n";
    out << "Last update:    " << DateText(h) << "\n";
    out << "Records:        " << h.GetRecordCount() << "\n";
    out << "Header length:  " << h.GetHeaderLength() << "\n";
    out << "Record length:  " << h.GetRecordLength() << "\n";
    out << "Code page mark: " << Hex2(h.GetCodePageMark()) << " ("
        << CodePageText(h.GetCodePageMark(), result.textEvidence) << ")\n";
    out << "Table flags:    " << Hex2(h.GetTableFlags());
    if (h.GetTableFlags() & DBFHeader::kFlagIndex)
        out << " structural-index";
    if (h.GetTableFlags() & DBFHeader::kFlagMemo)
        out << " memo";
    if (h.GetTableFlags() & DBFHeader::kFlagDatabaseContainer)
        out << " database-container";
    out << "\n";
    out << "Memo kind:      " << result.strMemoKind << "\n";
    if (!result.strMemoFile.empty())
        out << "Memo file:      " << result.strMemoFile << " (" << result.strMemoState << ")\n";
    else if (result.bReadable)
        out << "Memo file:      none\n";
}

// The field table and the problems found, as text.
void PrintTextFields(std::ostream& out, const InfoResult& result)
{
    out << "Fields:         " << result.fields.size() << (result.bReadable ? "" : " (from the raw descriptors)")
        << "\n";
    char line[160];
    std::snprintf(line, sizeof line, "  %3s  %-11s %4s %6s %4s %7s  %s\n", "#", "Name", "Type", "Width", "Dec",
                  "Offset", "Flags");
    out << line;
    for (size_t i = 0; i < result.fields.size(); ++i) {
        const FieldLine& f = result.fields[i];
        std::snprintf(line, sizeof line, "  %3zu  %-11s %4s %6u %4u %7u  %s\n", i + 1, f.strName.c_str(),
                      f.strType.c_str(), f.nWidth, f.nDecimals, f.nOffset, f.strFlags.c_str());
        out << line;
    }
    const auto PrintList = [&out](const char* lpszHeading, const std::vector<std::string>& lines) {
        if (!lines.empty())
            out << lpszHeading << "\n";
        for (const std::string& strLine : lines)
            out << "  " << strLine << "\n";
    };
    PrintList("Problems:", result.probe.GetProblems());
    PrintList("Notes:", result.probe.GetNotes());
}

void PrintInfo(const InfoOptions& opts, const InfoResult& result, std::ostream& out)
{
    if (opts.bJson) {
        PrintJson(out, opts.strPath, result);
        return;
    }
    PrintTextHeader(out, opts.strPath, result);
    PrintTextFields(out, result);
}

// The exit code; for a table the engine refuses, why, on err.
int InfoExit(const InfoOptions& opts, const InfoResult& result, std::ostream& err)
{
    if (result.bReadable)
        return kExitSuccess;
    std::string strWhy;
    for (const std::string& strProblem : result.probe.GetProblems())
        strWhy += (strWhy.empty() ? "" : "; ") + strProblem;
    err << opts.strPrefix << opts.strPath << ": the storage engine refuses the table ("
        << (strWhy.empty() ? result.strRefusal : strWhy) << ")\n";
    return kExitTableError;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    InfoOptions opts;
    if (const std::optional<int> nExit = ParseInfoArguments(args, out, err, opts))
        return *nExit;
    const std::optional<InfoResult> result = ReadInfo(opts, err);
    if (!result)
        return kExitTableError;
    PrintInfo(opts, *result, out);
    return InfoExit(opts, *result, err);
}

} // namespace

CliCommand InfoCommand()
{
    return {"info", "show the header, memo file and fields of a table", &Run, &Help};
}
