#include "cli/PreviewCommand.h"

#include "cli/CommandLine.h"
#include "dbf/ChooseTextDecoder.h"
#include "dbf/TableProbe.h"
#include "cli/TextGridSink.h"
#include "platform/CodePageDecoder.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "repair/PreviewFiller.h"
#include "repair/RepairContext.h"

#include <charconv>
#include <exception>
#include <ostream>

namespace {

constexpr int64_t kDefaultRows = 20;

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair preview TABLE.dbf [--rows N] [--encoding NAME]\n"
           "\n"
           "Shows the table as the repair wizard's preview grid shows it: the Index\n"
           "column and one column per field, with the display texts of the first N\n"
           "rows (default 20; 0 shows every row). The table is read raw, so a\n"
           "damaged table can be previewed too. Texts are converted from the\n"
           "table's code page to UTF-8; an unmarked table (or one with an unknown\n"
           "mark) is read as UTF-8 when every text of the grid is valid UTF-8 and\n"
           "one at least has a multi-byte character, as DOS code page 850 when\n"
           "one holds a byte Windows-1252 leaves undefined (0x81, 0x8D, 0x8F,\n"
           "0x90, 0x9D), else as Windows-1252.\n"
           "\n"
           "  -n, --rows N     show the first N rows (default 20; 0: every row)\n"
           "  --encoding NAME  read the texts in the code page NAME (as the text\n"
           "                   codec names it: cp1251, IBM866, UTF-8, ...) whatever\n"
           "                   the table's mark says\n"
           "\n"
           "Memo fields show as \"Memo\", as in the wizard's grid; their texts are\n"
           "not read. The columns are as wide as the headings and the first 200\n"
           "rows need; the rows are written as they are read, so a table of any\n"
           "size is shown in little memory.\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read (missing, not\n"
           "readable, not a table) or the output could not be written, 2 bad\n"
           "usage.\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandLine cl("preview");
    std::string strRows;
    bool bRowsGiven = false;
    cl.AddValue({"--rows", "-n"}, &strRows, &bRowsGiven);
    std::string strEncoding;
    cl.AddValue({"--encoding"}, &strEncoding);
    std::string strPath;
    if (int nExit = 0; !cl.ParseForTable(args, out, err, &Help, strPath, &nExit))
        return nExit;
    if (!strEncoding.empty() && !CCodePageDecoder::IsKnownEncoding(strEncoding)) {
        err << cl.Prefix() << "unknown encoding " << strEncoding << "\n";
        return kExitUsage;
    }
    int64_t nRows = kDefaultRows;
    if (bRowsGiven) {
        const auto result = std::from_chars(strRows.data(), strRows.data() + strRows.size(), nRows);
        if (strRows.empty() || result.ec != std::errc() || result.ptr != strRows.data() + strRows.size() || nRows < 0) {
            err << cl.Prefix() << "--rows needs a whole number of 0 or more, not " << strRows << "\n";
            return kExitUsage;
        }
    }
    // The grid is filled from raw bytes and would show anything: a file that
    // is no table is refused here.
    CTableProbe probe;
    if (!probe.Probe(strPath)) {
        err << cl.Prefix() << strPath << ": " << probe.GetError() << "\n";
        return kExitTableError;
    }

    // The engine decodes the cells' texts from the table's code page; the
    // headings are the field names as stored, decoded here the same way.
    const uint8_t nMark = probe.GetHeader().GetCodePageMark();
    CTextGridSink grid(out, [nMark](std::vector<std::string>& headings) {
        // The headings are the sample, as one record of texts.
        const std::unique_ptr<CCodePageDecoder> pDecoder =
            ChooseTextDecoder(nMark, std::string(), 1, [&headings](int64_t, CCodePageDecoder::CTextVote& vote) {
                for (const std::string& strHeading : headings)
                    vote.Add(strHeading);
                return true;
            });
        for (std::string& strHeading : headings)
            strHeading = pDecoder->ToUtf8(strHeading);
    });
    CRepairContext context(ProcessRunState());
    try {
        CPreviewFiller(context, nRows, strEncoding).FillAsFound(strPath, &grid);
    } catch (const std::exception& e) {
        err << cl.Prefix() << strPath << ": " << e.what() << "\n";
        return kExitTableError;
    }
    grid.Finish();
    return kExitSuccess;
}

} // namespace

CliCommand PreviewCommand()
{
    return {"preview", "show a table as the repair wizard's preview grid", &Run, &Help};
}
