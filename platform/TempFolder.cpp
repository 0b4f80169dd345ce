#include "platform/TempFolder.h"

#include "platform/FileException.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

constexpr const char* kProcessFolderPrefix = "orvane-tamsin-";

} // namespace

CTempFolder::CTempFolder(const std::string& strPrefix)
{
    const std::string strTemplate = GetSystemTempPath() + "/" + strPrefix + "XXXXXX";
    std::vector<char> buffer(strTemplate.begin(), strTemplate.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        ThrowOsFileError(errno, strTemplate);
    m_strPath = buffer.data();
}

CTempFolder::~CTempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

std::string CTempFolder::GetSystemTempPath()
{
    const char* pszDir = std::getenv("TMPDIR");
    std::string strDir = (pszDir != nullptr && *pszDir != '\0') ? pszDir : "/tmp";
    while (strDir.size() > 1 && strDir.back() == '/')
        strDir.pop_back();
    return strDir;
}

const std::string& CTempFolder::ProcessFolder()
{
    // A function-local static: made once, destroyed (and so removed) by the
    // normal end of the process.
    static const CTempFolder folder(kProcessFolderPrefix);
    return folder.GetPath();
}

bool CTempFolder::IsInProcessFolder(const std::string& strPath)
{
    const std::string strStart = GetSystemTempPath() + "/" + kProcessFolderPrefix;
    return strPath.compare(0, strStart.size(), strStart) == 0;
}
