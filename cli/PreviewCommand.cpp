#include "cli/PreviewCommand.h"

#include "platform/CodePageDecoder.h"
#include "cli/TextGridSink.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "repair/DBFRepair.h"

#include <charconv>
#include <exception>
#include <ostream>

namespace {

constexpr int64_t kDefaultRows = 20;

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair preview TABLE.dbf [--rows N]\n"
           "\n"
           "Shows the table as the repair wizard's preview grid shows it: the Index\n"
           "column and one column per field, with the display texts of the first N\n"
           "rows (default 20; 0 shows every row). The table is read raw, so a\n"
           "damaged table can be previewed too. Texts are converted from the\n"
           "table's code page to UTF-8; an unmarked table (or one with an unknown\n"
           "mark) is read as UTF-8 when every text of the grid is valid UTF-8 and\n"
           "one at least has a multi-byte character, else as Windows-1252.\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read, 2 bad usage.\n";
}

// The code page mark of the table's header (byte 29), 0 when unreadable.
uint8_t ReadCodePageMark(const std::string& strPath)
{
    CFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone))
        return 0;
    unsigned char header[30] = {};
    return file.Read(header, sizeof header) == sizeof header ? header[29] : 0;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string strPath;
    int64_t nRows = kDefaultRows;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsHelpOption(a)) {
            Help(out);
            return kExitSuccess;
        }
        if (a == "--rows" || a == "-n") {
            if (i + 1 >= args.size()) {
                err << "dbfrepair preview: " << a << " needs a number\n";
                return kExitUsage;
            }
            const std::string& strValue = args[++i];
            const auto result = std::from_chars(strValue.data(), strValue.data() + strValue.size(), nRows);
            if (result.ec != std::errc() || result.ptr != strValue.data() + strValue.size() || nRows < 0) {
                err << "dbfrepair preview: --rows needs a whole number of 0 or more, not " << strValue << "\n";
                return kExitUsage;
            }
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            err << "dbfrepair preview: unknown option " << a << " (see dbfrepair preview --help)\n";
            return kExitUsage;
        }
        if (!strPath.empty()) {
            err << "dbfrepair preview: only one table can be named\n";
            return kExitUsage;
        }
        strPath = a;
    }
    if (strPath.empty()) {
        err << "dbfrepair preview: no table named (see dbfrepair preview --help)\n";
        return kExitUsage;
    }

    CTextGridSink grid;
    CDBFRepair engine(nullptr, &grid);
    RepairOptions options;
    options.nPreviewRowLimit = nRows;
    engine.SetOptions(options);
    try {
        engine.FillPreview(strPath, &grid);
    } catch (const std::exception& e) {
        err << "dbfrepair preview: " << strPath << ": " << e.what() << "\n";
        return kExitTableError;
    }
    // The grid holds the table's bytes as they are: its texts are the sample
    // for an unmarked table (numbers and dates are ASCII and do not sway it).
    const uint8_t nMark = ReadCodePageMark(strPath);
    CCodePageDecoder::CUtf8Vote vote;
    if (CCodePageDecoder::IsUndecidedMark(nMark)) {
        for (size_t nColumn = 0; nColumn < grid.GetColumnCount(); ++nColumn)
            vote.Add(grid.GetHeading(nColumn));
        for (size_t nRow = 0; nRow < grid.GetRowCount(); ++nRow)
            for (size_t nColumn = 0; nColumn < grid.GetColumnCount(); ++nColumn)
                vote.Add(grid.GetCell(nRow, nColumn));
    }
    CCodePageDecoder decoder(nMark, vote.IsUtf8());
    grid.Print(out, [&](const std::string& str) { return decoder.ToUtf8(str); });
    return kExitSuccess;
}

} // namespace

CliCommand PreviewCommand()
{
    return {"preview", "show a table as the repair wizard's preview grid", &Run, &Help};
}
