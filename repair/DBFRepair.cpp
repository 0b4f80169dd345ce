#include "repair/DBFRepair.h"

#include "platform/File.h"
#include "repair/RepairState.h"

#include <cstdio>

CDBFRepair::CDBFRepair(IRepairProgressSink* pProgress, IPreviewGridSink* pGrid)
    : m_pProgress(pProgress), m_pGrid(pGrid)
{
}

CDBFRepair::~CDBFRepair() = default;

bool CDBFRepair::Repair(const std::string& strSource, const std::string& strOutput, int nMode)
{
    if (nMode == 0)
        return SalvageTable(strSource, strOutput) != 0;
    if (nMode == 1)
        RepairFromCopy(strSource, strOutput);
    return false;
}

int CDBFRepair::SalvageTable(const std::string&, const std::string&)
{
    // Being written: the salvage needs the storage engine's table classes.
    return 0;
}

void CDBFRepair::RepairFromCopy(const std::string&, const std::string&) {}

void CDBFRepair::CopyBytes(CFile&, CFile&, uint64_t) {}

void CDBFRepair::FillPreview(const std::string&, IPreviewGridSink*) {}

std::string CDBFRepair::FormatDateTimeField(const unsigned char*)
{
    return std::string();
}

void CDBFRepair::BeginSinks()
{
    m_strLastStatus.clear();
    m_bStatusSent = false;
    m_nLastProgress = -1;
}

void CDBFRepair::SetStatus(const std::string& strText)
{
    if (m_bStatusSent && strText == m_strLastStatus)
        return;
    m_bStatusSent = true;
    m_strLastStatus = strText;
    if (m_pProgress)
        m_pProgress->SetStatusText(strText);
}

void CDBFRepair::SetProgressValue(int nValue)
{
    if (nValue == m_nLastProgress)
        return;
    m_nLastProgress = nValue;
    if (m_pProgress)
        m_pProgress->SetProgress(nValue);
}
