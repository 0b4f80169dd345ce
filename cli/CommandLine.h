#pragma once
// The options of one dbfrepair command: "--name VALUE" and "--name=VALUE",
// short names ("-o DIR"), "--" to end the options, -h/--help anywhere before
// it. Everything else is an operand (a table path). Parse writes the usage
// error, prefixed with "dbfrepair COMMAND: ", and the caller exits with
// kExitUsage.

#include <initializer_list>
#include <iosfwd>
#include <string>
#include <vector>

class CCommandLine {
public:
    explicit CCommandLine(std::string strCommand);

    // An option without a value: *pbTarget becomes true when it is given.
    void AddFlag(std::initializer_list<const char*> names, bool* pbTarget);
    // An option with a value: *pstrTarget takes it (the last one given wins)
    // and *pbGiven, when given, becomes true (the value may be empty).
    void AddValue(std::initializer_list<const char*> names, std::string* pstrTarget, bool* pbGiven = nullptr);

    // False after a usage error, written on err.
    bool Parse(const std::vector<std::string>& args, std::ostream& err);

    bool IsHelp() const { return m_bHelp; }
    const std::vector<std::string>& GetOperands() const { return m_operands; }
    // "dbfrepair COMMAND: ", the start of every message of the command.
    std::string Prefix() const { return "dbfrepair " + m_strCommand + ": "; }

    // The one table the command works on: false (with the message on err)
    // when none or more than one is named.
    bool SingleOperand(std::string& strPath, std::ostream& err) const;

    // The usual start of a command on one table: parses the arguments,
    // prints the help (pfnHelp) when asked, and takes the one table. False
    // when the command ends there, with *pnExit its exit code (success after
    // the help, bad usage otherwise).
    bool ParseForTable(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       void (*pfnHelp)(std::ostream&), std::string& strPath, int* pnExit);

    // The exit code once the command's output is flushed: a failed write
    // (a full disk, a closed pipe) is reported on err and turns success into
    // kExitTableError, since the output is incomplete.
    static int CheckedExit(int nExit, std::ostream& out, std::ostream& err, const std::string& strWho);

private:
    struct Option {
        std::vector<std::string> names;
        bool* pbFlag = nullptr;
        std::string* pstrValue = nullptr;
        bool* pbGiven = nullptr;
    };
    const Option* Find(const std::string& strName) const;

    std::string m_strCommand;
    std::vector<Option> m_options;
    std::vector<std::string> m_operands;
    bool m_bHelp = false;
};
