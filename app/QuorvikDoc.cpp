#include "app/QuorvikDoc.h"

#include "wizard/ResourceIds.h"

CQuorvikDoc::CQuorvikDoc(QObject* pParent) : QObject(pParent) {}

bool CQuorvikDoc::OnNewDocument()
{
    SetTitle(QString::fromUtf8(res::kDocTitle));
    return true;
}

void CQuorvikDoc::SetTitle(const QString& strTitle)
{
    if (m_strTitle == strTitle)
        return;
    m_strTitle = strTitle;
    emit titleChanged(strTitle);
}
