// The dbfrepair man page (res/dbfrepair.1) keeps step with the tool: every
// command of `dbfrepair --help` and every option of each command's help has
// its place in it, and it has the usual sections and exit codes.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

// The man page with troff's escaped hyphens ("\-") turned back into "-".
std::string ManPageText()
{
    const auto bytes = orvtest::ReadBytes(orvtest::SourceDir() + "/res/dbfrepair.1");
    std::string strText(bytes.begin(), bytes.end());
    std::string strPlain;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '\\' && i + 1 < strText.size() && strText[i + 1] == '-') {
            strPlain += '-';
            ++i;
        } else {
            strPlain += strText[i];
        }
    }
    return strPlain;
}

std::string Help(const std::string& strArgs)
{
    const auto r = orvtest::Run(orvtest::ShellQuote(orvtest::BinDir() + "/dbfrepair") + " " + strArgs
                                + " 2>/dev/null");
    EXPECT_EQ(r.nExitCode, 0) << strArgs;
    return r.strOut;
}

// The command names listed under "Commands:" in the global help.
std::vector<std::string> Commands()
{
    std::vector<std::string> commands;
    std::istringstream in(Help("--help"));
    std::string strLine;
    bool bInList = false;
    while (std::getline(in, strLine)) {
        if (strLine == "Commands:") {
            bInList = true;
            continue;
        }
        if (!bInList)
            continue;
        std::smatch m;
        if (!std::regex_match(strLine, m, std::regex(R"(  ([a-z]+)\s+.*)")))
            break;
        commands.push_back(m[1]);
    }
    return commands;
}

// The options a help text names: "-o", "--dry-run", ... after a space,
// a bracket or a line start.
std::set<std::string> Options(const std::string& strHelp)
{
    std::set<std::string> options;
    const std::regex option(R"((^|[\s\[])(--?[a-z][a-z-]*))");
    for (std::sregex_iterator it(strHelp.begin(), strHelp.end(), option), end; it != end; ++it)
        options.insert((*it)[2]);
    return options;
}

// Code -> meaning, white space collapsed, from lines where a new entry
// starts with its code as entryStart matches it (code in group 1, the
// meaning's first words in group 2) and other lines continue it, until a
// line that matches end.
std::map<std::string, std::string> ExitCodes(const std::string& strText, const std::string& strAfter,
                                              const std::regex& entryStart, const std::regex& end)
{
    std::map<std::string, std::string> codes;
    const size_t nStart = strText.find(strAfter);
    EXPECT_NE(nStart, std::string::npos) << strAfter;
    std::istringstream in(strText.substr(nStart == std::string::npos ? strText.size() : nStart + strAfter.size()));
    std::string strCode;
    for (std::string strLine; std::getline(in, strLine) && !std::regex_search(strLine, end);) {
        std::smatch m;
        std::string strWords = strLine;
        if (std::regex_search(strLine, m, entryStart)) {
            strCode = m[1];
            strWords = m[2];
        }
        if (strCode.empty())
            continue;
        std::istringstream words(strWords);
        for (std::string strWord; words >> strWord;)
            codes[strCode] += (codes[strCode].empty() ? "" : " ") + strWord;
    }
    return codes;
}

} // namespace

// The help, the README and the man page give one table of exit codes, word
// for word.
TEST(ManPage, ExitCodesReadTheSameInHelpReadmeAndManPage)
{
    const auto help = ExitCodes(Help("--help"), "every command:\n", std::regex(R"(^  (\d[\d, ]*?)  (.*))"),
                                std::regex("^$"));
    ASSERT_EQ(help.size(), 5u);
    EXPECT_EQ(help.at("129, 130, 143").substr(0, 7), "repair:");
    EXPECT_EQ(ExitCodes(Help("repair --help"), "every command:\n", std::regex(R"(^  (\d[\d, ]*?)  (.*))"),
                        std::regex("^$")),
              help);
    const auto readme = orvtest::ReadBytes(orvtest::SourceDir() + "/README.md");
    EXPECT_EQ(ExitCodes(std::string(readme.begin(), readme.end()), "| code | meaning |\n|---|---|\n",
                        std::regex(R"(^\| ([\d, ]+) \| (.*) \|$)"), std::regex("^$")),
              help);
    std::string strPage = ManPageText();
    strPage = std::regex_replace(strPage, std::regex(R"(\\\\)"), "\\");
    EXPECT_EQ(ExitCodes(std::regex_replace(strPage, std::regex(R"(\.TP\n\.B ([^\n]+)\n)"), "@@$1@@ "),
                        "system's words", std::regex("^@@([^@]+)@@ (.*)"), std::regex(R"(^\.SH)")),
              help);
}

TEST(ManPage, HasTheUsualSectionsAndExitCodes)
{
    const std::string strPage = ManPageText();
    EXPECT_NE(strPage.find(".TH DBFREPAIR 1 "), std::string::npos);
    for (const char* lpszSection :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS", "EXIT STATUS", "EXAMPLES"})
        EXPECT_NE(strPage.find(std::string("\n.SH ") + lpszSection + "\n"), std::string::npos) << lpszSection;
    for (const char* lpszCode : {"0", "1", "2", "3"})
        EXPECT_NE(strPage.find(std::string("\n.B ") + lpszCode + "\n"), std::string::npos) << "exit " << lpszCode;
}

TEST(ManPage, NamesEveryCommandAndOptionOfTheHelp)
{
    const std::string strPage = ManPageText();
    const auto commands = Commands();
    ASSERT_GE(commands.size(), 4u);
    for (const auto& strCommand : commands) {
        EXPECT_NE(strPage.find("\n.BI " + strCommand + " "), std::string::npos)
            << "COMMANDS has no entry for " << strCommand;
        auto options = Options(Help(strCommand + " --help"));
        options.erase("--help");
        options.erase("-h");
        if (!options.empty()) {
            EXPECT_NE(strPage.find("\n.SS " + strCommand + "\n"), std::string::npos)
                << "OPTIONS has no part for " << strCommand;
        }
        for (const auto& strOption : options)
            EXPECT_NE(strPage.find(strOption), std::string::npos)
                << "the man page does not name " << strCommand << " " << strOption;
    }
}

// Every line of the page is text or a request troff knows: a text line that
// begins with "." or "'" is read as an unknown request and its words are
// lost from the rendered page.
TEST(ManPage, RendersWithoutWarnings)
{
    const auto r = orvtest::Run("groff -man -Tutf8 -ww -z " + orvtest::ShellQuote(orvtest::SourceDir() + "/res/dbfrepair.1")
                                + " 2>&1");
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_EQ(r.strOut, "");
}

// The SYNOPSIS lines of each command name exactly the options of the
// command's own usage lines.
TEST(ManPage, SynopsisMatchesEachCommandsUsage)
{
    const std::string strPage = ManPageText();
    const size_t nStart = strPage.find("\n.SH SYNOPSIS\n");
    const size_t nEnd = strPage.find("\n.SH ", nStart + 1);
    ASSERT_NE(nStart, std::string::npos);
    const std::string strSynopsis = strPage.substr(nStart, nEnd - nStart);
    for (const auto& strCommand : Commands()) {
        std::set<std::string> synopsis;
        const std::string strEntry = "\n.B dbfrepair\n.B " + strCommand + "\n";
        for (size_t nAt = strSynopsis.find(strEntry); nAt != std::string::npos;
             nAt = strSynopsis.find(strEntry, nAt + 1)) {
            const size_t nBreak = strSynopsis.find("\n.br\n", nAt);
            synopsis.merge(Options(strSynopsis.substr(nAt, nBreak - nAt)));
        }
        const std::string strHelp = Help(strCommand + " --help");
        EXPECT_EQ(synopsis, Options(strHelp.substr(0, strHelp.find("\n\n")))) << strCommand;
    }
}
