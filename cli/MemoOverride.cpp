#include "cli/MemoOverride.h"

#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/OsError.h"
#include "platform/PathName.h"
#include "platform/TempFolder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

CMemoOverride::CMemoOverride() = default;
CMemoOverride::~CMemoOverride() = default;

bool CMemoOverride::Prepare(const std::string& strTable, const std::string& strMemo, uint8_t nVersion,
                            uint8_t nTableFlags, std::string& strError)
{
    if (const int nError = CFileSystem::CheckReadable(strMemo)) {
        strError = strMemo + ": " + COsError::Text(nError);
        return false;
    }
    dbfformat::MemoKind kind = dbfformat::MemoKindForVersion(nVersion, nTableFlags);
    // Visual FoxPro tables with memo fields but no memo flag still have one
    // (the engine reads them so).
    if (kind == dbfformat::MemoKind::None && CDBFTableDef::IsVisualFoxProVersion(nVersion))
        kind = dbfformat::MemoKind::VisualFoxPro;
    if (kind == dbfformat::MemoKind::None) {
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
    const std::string strName = CPathName::FromPath(CPathName::ToPath(strTable).filename());
    m_strTablePath = m_pFolder->GetPath() + "/" + strName;
    m_strLinkedMemo = CDBFTableDef::BuildMemoPath(m_strTablePath, dbfformat::MemoKindExtension(kind));
    int nError = CFileSystem::MakeSymbolicLink(CFileSystem::Absolute(strTable), m_strTablePath);
    if (nError == 0)
        nError = CFileSystem::MakeSymbolicLink(CFileSystem::Absolute(strMemo), m_strLinkedMemo);
    if (nError != 0) {
        strError = m_pFolder->GetPath() + ": " + COsError::Text(nError);
        return false;
    }
    return true;
}
