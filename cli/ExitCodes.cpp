#include "cli/ExitCodes.h"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string>

const ExitCodeMeaning kExitCodeMeanings[5] = {
    {"0", "success; repair: every table Done, nothing lost"},
    {"1", "failure: a table (or its memo file) is missing, unreadable, no DBF table or damaged beyond what the "
          "command reads; locked by another program (repair); an output folder that cannot take the files; a "
          "failed repair; output that could not be written (standard output, the report file). A repair of one "
          "table then saved nothing, unless only its standard output failed; a batch gives 1 when any table or "
          "folder failed, and keeps the tables it saved"},
    {"2", "bad usage: unknown option, missing value, unknown encoding, no table or more than one; repair: also a "
          "name without .dbf or a bad prefix"},
    {"3", "repair: every table Done, but in one at least records, values or memos were lost, dropped or mended; "
          "the tables are saved (with --dry-run: would be) and the report says what is missing"},
    {"129, 130, 143", "repair: stopped by SIGHUP, SIGINT, SIGTERM; the table being repaired is not saved and its "
                      "temporary files are removed (a batch keeps the tables it finished)"},
};

void PrintExitCodes(std::ostream& out)
{
    constexpr size_t kIndent = 5;
    constexpr size_t kWidth = 78;
    for (const ExitCodeMeaning& m : kExitCodeMeanings) {
        std::string strLine = "  " + std::string(m.lpszCodes);
        // A code list longer than the indent is followed by two spaces.
        strLine.resize(std::max(kIndent, strLine.size() + 2), ' ');
        bool bFresh = true; // nothing but the code or the indent yet
        std::istringstream words(m.lpszMeaning);
        for (std::string strWord; words >> strWord;) {
            if (!bFresh && strLine.size() + 1 + strWord.size() > kWidth) {
                out << strLine << "\n";
                strLine.assign(kIndent, ' ');
                bFresh = true;
            }
            strLine += (bFresh ? "" : " ") + strWord;
            bFresh = false;
        }
        out << strLine << "\n";
    }
}
