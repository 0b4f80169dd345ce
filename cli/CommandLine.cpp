#include "cli/CommandLine.h"

#include "cli/Command.h"
#include "platform/BrokenPipe.h"
#include "platform/OsError.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <utility>

CCommandLine::CCommandLine(std::string strCommand) : m_strCommand(std::move(strCommand)) {}

void CCommandLine::AddFlag(std::initializer_list<const char*> names, bool* pbTarget)
{
    m_options.push_back({std::vector<std::string>(names.begin(), names.end()), pbTarget, nullptr, nullptr});
}

void CCommandLine::AddValue(std::initializer_list<const char*> names, std::string* pstrTarget, bool* pbGiven)
{
    m_options.push_back({std::vector<std::string>(names.begin(), names.end()), nullptr, pstrTarget, pbGiven});
}

const CCommandLine::Option* CCommandLine::Find(const std::string& strName) const
{
    for (const Option& option : m_options)
        for (const std::string& strKnown : option.names)
            if (strKnown == strName)
                return &option;
    return nullptr;
}

bool CCommandLine::Parse(const std::vector<std::string>& args, std::ostream& err)
{
    bool bOptionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "-" alone is a name, as is everything after "--".
        if (bOptionsEnded || a.size() < 2 || a[0] != '-') {
            m_operands.push_back(a);
            continue;
        }
        if (a == "--") {
            bOptionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            m_bHelp = true;
            continue;
        }
        // "--name=value" only for long names: a short name takes its value
        // as the next argument.
        const size_t nEquals = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        const std::string strName = a.substr(0, nEquals);
        const Option* pOption = Find(strName);
        if (pOption == nullptr) {
            err << Prefix() << "unknown option " << strName << " (see dbfrepair " << m_strCommand << " --help)\n";
            return false;
        }
        if (pOption->pbFlag != nullptr) {
            if (nEquals != std::string::npos) {
                err << Prefix() << strName << " takes no value\n";
                return false;
            }
            *pOption->pbFlag = true;
            continue;
        }
        if (nEquals != std::string::npos) {
            *pOption->pstrValue = a.substr(nEquals + 1);
        } else if (i + 1 < args.size()) {
            *pOption->pstrValue = args[++i];
        } else {
            err << Prefix() << strName << " needs a value\n";
            return false;
        }
        if (pOption->pbGiven != nullptr)
            *pOption->pbGiven = true;
    }
    return true;
}

bool CCommandLine::SingleOperand(std::string& strPath, std::ostream& err) const
{
    if (m_operands.empty()) {
        err << Prefix() << "no table named (see dbfrepair " << m_strCommand << " --help)\n";
        return false;
    }
    if (m_operands.size() > 1) {
        err << Prefix() << "only one table can be named\n";
        return false;
    }
    strPath = m_operands.front();
    return true;
}

bool CCommandLine::ParseForTable(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                 void (*pfnHelp)(std::ostream&), std::string& strPath, int* pnExit)
{
    *pnExit = kExitUsage;
    if (!Parse(args, err))
        return false;
    if (IsHelp()) {
        pfnHelp(out);
        *pnExit = kExitSuccess;
        return false;
    }
    return SingleOperand(strPath, err);
}

int CCommandLine::CheckedExit(int nExit, std::ostream& out, std::ostream& err, const std::string& strWho)
{
    errno = 0;
    out.flush();
    if (out)
        return nExit;
    // A write that failed earlier left its errno behind long ago: the
    // stream tries once more to learn the reason.
    out.clear();
    errno = 0;
    out.flush();
    const int nErrno = errno;
    // The reader went away: end as a write to it always ended, quietly.
    if (CBrokenPipe::IsBrokenPipe(nErrno))
        CBrokenPipe::EndAsKilled();
    err << strWho << ": standard output: " << (nErrno != 0 ? COsError::Text(nErrno) : "write error") << "\n";
    return nExit == kExitSuccess || nExit == kExitWithLosses ? static_cast<int>(kExitTableError) : nExit;
}
