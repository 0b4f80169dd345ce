#include "cli/InfoCommand.h"

#include "cli/CommandLine.h"
#include "cli/MemoOverride.h"
#include "dbf/TableProbe.h"
#include "platform/ErrorReporter.h"
#include "repair/RepairReport.h"

#include "platform/CodePageDecoder.h"
#include "dbf/DBFException.h"
#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "platform/File.h"

#include <cstdio>
#include <exception>
#include <ostream>

namespace {

const char* MemoKindName(int nKind)
{
    switch (nKind) {
    case CMemoFile::kindDBase3: return "dBASE III";
    case CMemoFile::kindDBase4: return "dBASE IV";
    case CMemoFile::kindFoxPro: return "FoxPro";
    case CMemoFile::kindVisualFoxPro: return "Visual FoxPro";
    case CMemoFile::kindVisualFoxProDbc: return "Visual FoxPro database container";
    case CMemoFile::kindSIx: return "SIx";
    default: return "none";
    }
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

std::string CodePageText(uint8_t nMark)
{
    bool bKnownMark = false;
    const char* lpszCodePage = CodePageNameForMark(nMark, &bKnownMark);
    return bKnownMark ? std::string(lpszCodePage)
                      : std::string(nMark == 0 ? "unmarked" : "unknown") + ", read as UTF-8 when its texts are, else "
            + lpszCodePage;
}

std::string Json(const std::string& str)
{
    return JsonQuote(str);
}

void PrintJson(std::ostream& out, const std::string& strPath, const DBFHeader& h, const std::string& strMemoKind,
               const std::string& strMemoFile, const std::string& strMemoState, const std::vector<FieldLine>& fields,
               const std::vector<std::string>& problems, bool bReadable)
{
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.GetUpdateYear(), h.GetUpdateMonth(), h.GetUpdateDay());
    out << "{\"table\": " << Json(strPath) << ", \"readable\": " << (bReadable ? "true" : "false")
        << ", \"version\": " << unsigned(h.GetVersion()) << ", \"kind\": "
        << Json(CDBFTableDef::TableKindName(h.GetVersion())) << ", \"last_update\": " << Json(date)
        << ", \"records\": " << h.GetRecordCount() << ", \"header_length\": " << h.GetHeaderLength()
        << ", \"record_length\": " << h.GetRecordLength() << ", \"code_page_mark\": " << unsigned(h.GetCodePageMark())
        << ", \"code_page\": " << Json(CodePageText(h.GetCodePageMark()))
        << ", \"table_flags\": " << unsigned(h.GetTableFlags()) << ", \"memo_kind\": " << Json(strMemoKind)
        << ", \"memo_file\": " << (strMemoFile.empty() ? "null" : Json(strMemoFile))
        << ", \"memo_state\": " << (strMemoState.empty() ? "null" : Json(strMemoState)) << ", \"fields\": [";
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldLine& f = fields[i];
        out << (i ? ", " : "") << "{\"name\": " << Json(f.strName) << ", \"type\": " << Json(f.strType)
            << ", \"width\": " << f.nWidth << ", \"decimals\": " << f.nDecimals << ", \"offset\": " << f.nOffset
            << ", \"flags\": " << f.nFlags << "}";
    }
    out << "], \"problems\": [";
    for (size_t i = 0; i < problems.size(); ++i)
        out << (i ? ", " : "") << Json(problems[i]);
    out << "]}\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandLine cl("info");
    bool bJson = false;
    std::string strMemo;
    cl.AddFlag({"--json"}, &bJson);
    cl.AddValue({"--memo"}, &strMemo);
    std::string strPath;
    if (int nExit = 0; !cl.ParseForTable(args, out, err, &Help, strPath, &nExit))
        return nExit;

    CTableProbe probe;
    if (!probe.Probe(strPath)) {
        err << cl.Prefix() << strPath << ": " << probe.GetError() << "\n";
        return kExitTableError;
    }
    const DBFHeader& h = probe.GetHeader();
    CMemoOverride memo;
    std::string strOpenPath = strPath;
    if (!strMemo.empty()) {
        std::string strError;
        if (!memo.Prepare(strPath, strMemo, h.GetVersion(), h.GetTableFlags(), strError)) {
            err << cl.Prefix() << strError << "\n";
            return kExitTableError;
        }
        strOpenPath = memo.GetTablePath();
    }

    CDBFTableDef table;
    // A missing memo file is shown, not an error: the header is still worth
    // seeing.
    table.SetMemoFileOptional(true);
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
    const bool bReadable = table.IsOpen();
    if (!bReadable && strRefusal.empty())
        strRefusal = "the table could not be read";

    // The engine's view when it reads the table, else the raw descriptors.
    std::vector<FieldLine> fields;
    std::string strMemoKind = "none";
    std::string strMemoFile;
    std::string strMemoState;
    if (bReadable) {
        for (int i = 0; i < table.GetFieldCount(); ++i)
            fields.push_back(LineOf(table.GetFieldInfo(i)));
        strMemoKind = std::to_string(table.GetMemoKind()) + " (" + MemoKindName(table.GetMemoKind()) + ")";
        if (table.GetMemoKind() != 0) {
            strMemoFile = strMemo.empty() ? table.GetMemoPath() : strMemo;
            if (table.IsMemoFileMissing())
                strMemoState = "not found";
            else if (table.GetMemoFile() && table.GetMemoFile()->IsMemoOpen())
                strMemoState = "found, block size " + std::to_string(table.GetMemoFile()->GetBlockSize());
            else
                strMemoState = "could not be opened";
        }
    } else {
        for (const DBFFieldDescriptor& fd : probe.GetFields())
            fields.push_back(LineOf(fd));
        const int nKind = CDBFTableDef::MemoKindForVersion(h.GetVersion(), h.GetTableFlags());
        strMemoKind = std::to_string(nKind) + " (" + MemoKindName(nKind) + ", as the header says)";
    }

    if (bJson) {
        PrintJson(out, strPath, h, strMemoKind, strMemoFile, strMemoState, fields, probe.GetProblems(), bReadable);
    } else {
        char date[32];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.GetUpdateYear(), h.GetUpdateMonth(), h.GetUpdateDay());
        out << "Table:          " << strPath << "\n";
        out << "Version:        " << Hex2(h.GetVersion()) << " (" << CDBFTableDef::TableKindName(h.GetVersion()) << ")\n";
        out << "Last update:    " << date << "\n";
        out << "Records:        " << h.GetRecordCount() << "\n";
        out << "Header length:  " << h.GetHeaderLength() << "\n";
        out << "Record length:  " << h.GetRecordLength() << "\n";
        out << "Code page mark: " << Hex2(h.GetCodePageMark()) << " (" << CodePageText(h.GetCodePageMark()) << ")\n";
        out << "Table flags:    " << Hex2(h.GetTableFlags());
        if (h.GetTableFlags() & DBFHeader::kFlagIndex)
            out << " structural-index";
        if (h.GetTableFlags() & DBFHeader::kFlagMemo)
            out << " memo";
        if (h.GetTableFlags() & DBFHeader::kFlagDatabaseContainer)
            out << " database-container";
        out << "\n";
        out << "Memo kind:      " << strMemoKind << "\n";
        if (!strMemoFile.empty())
            out << "Memo file:      " << strMemoFile << " (" << strMemoState << ")\n";
        else if (bReadable)
            out << "Memo file:      none\n";
        out << "Fields:         " << fields.size() << (bReadable ? "" : " (from the raw descriptors)") << "\n";
        char line[160];
        std::snprintf(line, sizeof line, "  %3s  %-11s %4s %6s %4s %7s  %s\n", "#", "Name", "Type", "Width", "Dec",
                      "Offset", "Flags");
        out << line;
        for (size_t i = 0; i < fields.size(); ++i) {
            const FieldLine& f = fields[i];
            std::snprintf(line, sizeof line, "  %3zu  %-11s %4s %6u %4u %7u  %s\n", i + 1, f.strName.c_str(),
                          f.strType.c_str(), f.nWidth, f.nDecimals, f.nOffset, f.strFlags.c_str());
            out << line;
        }
        if (!probe.GetProblems().empty()) {
            out << "Problems:\n";
            for (const std::string& strProblem : probe.GetProblems())
                out << "  " << strProblem << "\n";
        }
    }
    if (!bReadable) {
        std::string strWhy;
        for (const std::string& strProblem : probe.GetProblems())
            strWhy += (strWhy.empty() ? "" : "; ") + strProblem;
        err << cl.Prefix() << strPath << ": the storage engine refuses the table ("
            << (strWhy.empty() ? strRefusal : strWhy) << ")\n";
        return kExitTableError;
    }
    return kExitSuccess;
}

} // namespace

CliCommand InfoCommand()
{
    return {"info", "show the header, memo file and fields of a table", &Run, &Help};
}
