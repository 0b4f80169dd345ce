#include "cli/MemoOverride.h"

#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "platform/Exception.h"
#include "platform/TempFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

CMemoOverride::CMemoOverride() = default;
CMemoOverride::~CMemoOverride() = default;

bool CMemoOverride::Prepare(const std::string& strTable, const std::string& strMemo, uint8_t nVersion,
                            uint8_t nTableFlags, std::string& strError)
{
    const int fd = ::open(strMemo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        strError = strMemo + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    int nKind = CDBFTableDef::MemoKindForVersion(nVersion, nTableFlags);
    // Visual FoxPro tables with memo fields but no memo flag still have one
    // (the engine reads them so).
    if (nKind == 0 && CDBFTableDef::IsVisualFoxProVersion(nVersion))
        nKind = CMemoFile::kindVisualFoxPro;
    if (nKind == 0) {
        char szVersion[8];
        std::snprintf(szVersion, sizeof szVersion, "0x%02X", nVersion);
        strError = strTable + ": the table's version byte (" + std::string(szVersion) + ") calls for no memo file";
        return false;
    }
    try {
        m_pFolder = std::make_unique<CTempFolder>("dbfrepair-memo-");
    } catch (const CException& e) {
        strError = e.GetMessage();
        return false;
    }
    namespace fs = std::filesystem;
    const std::string strName = fs::path(strTable).filename().string();
    m_strTablePath = m_pFolder->GetPath() + "/" + strName;
    m_strLinkedMemo = CDBFTableDef::BuildMemoPath(m_strTablePath, MemoFileExtension(nKind));
    std::error_code ec;
    fs::create_symlink(fs::absolute(strTable, ec), m_strTablePath, ec);
    if (!ec)
        fs::create_symlink(fs::absolute(strMemo, ec), m_strLinkedMemo, ec);
    if (ec) {
        strError = m_pFolder->GetPath() + ": " + ec.message();
        return false;
    }
    return true;
}
