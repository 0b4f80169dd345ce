#include "cli/InfoCommand.h"

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
    out << "Usage: dbfrepair info TABLE.dbf\n"
           "\n"
           "Shows what the storage engine reads from the table: version byte and\n"
           "table kind, last update, record count, header and record length, code\n"
           "page mark, table flags, memo kind and memo file (and whether it was\n"
           "found), then one line per field: name, type, width, decimals, offset\n"
           "and flags.\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read, 2 bad usage.\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string strPath;
    for (const auto& a : args) {
        if (IsHelpOption(a)) {
            Help(out);
            return kExitSuccess;
        }
        if (a.size() > 1 && a[0] == '-') {
            err << "dbfrepair info: unknown option " << a << "\n";
            return kExitUsage;
        }
        if (!strPath.empty()) {
            err << "dbfrepair info: only one table can be named\n";
            return kExitUsage;
        }
        strPath = a;
    }
    if (strPath.empty()) {
        err << "dbfrepair info: no table named (see dbfrepair info --help)\n";
        return kExitUsage;
    }

    CDBFTableDef table;
    // A missing memo file is shown, not an error: the header is still worth
    // seeing.
    table.SetMemoFileOptional(true);
    try {
        table.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
    } catch (const std::exception& e) {
        err << "dbfrepair info: " << strPath << ": " << e.what() << "\n";
        return kExitTableError;
    }
    if (!table.IsOpen()) {
        err << "dbfrepair info: " << strPath << ": the table could not be read\n";
        return kExitTableError;
    }

    const DBFHeader& h = table.GetHeader();
    bool bKnownMark = false;
    const char* lpszCodePage = CodePageNameForMark(h.GetCodePageMark(), &bKnownMark);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.GetUpdateYear(), h.GetUpdateMonth(), h.GetUpdateDay());

    out << "Table:          " << strPath << "\n";
    out << "Version:        " << Hex2(h.GetVersion()) << " (" << CDBFTableDef::TableKindName(h.GetVersion()) << ")\n";
    out << "Last update:    " << date << "\n";
    out << "Records:        " << h.GetRecordCount() << "\n";
    out << "Header length:  " << h.GetHeaderLength() << "\n";
    out << "Record length:  " << h.GetRecordLength() << "\n";
    out << "Code page mark: " << Hex2(h.GetCodePageMark()) << " ("
        << (bKnownMark ? std::string(lpszCodePage)
                       : std::string(h.GetCodePageMark() == 0 ? "unmarked" : "unknown")
                             + ", read as UTF-8 when its texts are, else " + lpszCodePage)
        << ")\n";
    out << "Table flags:    " << Hex2(h.GetTableFlags());
    if (h.GetTableFlags() & DBFHeader::kFlagIndex)
        out << " structural-index";
    if (h.GetTableFlags() & DBFHeader::kFlagMemo)
        out << " memo";
    if (h.GetTableFlags() & DBFHeader::kFlagDatabaseContainer)
        out << " database-container";
    out << "\n";
    out << "Memo kind:      " << table.GetMemoKind() << " (" << MemoKindName(table.GetMemoKind()) << ")\n";
    if (table.GetMemoKind() != 0) {
        out << "Memo file:      " << table.GetMemoPath();
        if (table.IsMemoFileMissing())
            out << " (not found)\n";
        else if (table.GetMemoFile() && table.GetMemoFile()->IsMemoOpen())
            out << " (found, block size " << table.GetMemoFile()->GetBlockSize() << ")\n";
        else
            out << " (could not be opened)\n";
    } else {
        out << "Memo file:      none\n";
    }
    out << "Fields:         " << table.GetFieldCount() << "\n";
    char line[160];
    std::snprintf(line, sizeof line, "  %3s  %-11s %4s %6s %4s %7s  %s\n", "#", "Name", "Type", "Width", "Dec",
                  "Offset", "Flags");
    out << line;
    for (int i = 0; i < table.GetFieldCount(); ++i) {
        const DBFFieldDescriptor& fd = table.GetFieldInfo(i);
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
        std::snprintf(line, sizeof line, "  %3d  %-11s %4s %6u %4u %7u  %s\n", i + 1, fd.GetName().c_str(), type,
                      fd.GetWidth(), nDecimals, fd.GetOffset(), strFlags.c_str());
        out << line;
    }
    return kExitSuccess;
}

} // namespace

CliCommand InfoCommand()
{
    return {"info", "show the header, memo file and fields of a table", &Run, &Help};
}
