#include "app/RecentFileList.h"

#include "wizard/ResourceIds.h"

#include <QSettings>

CRecentFileList::CRecentFileList(int nSize) : m_nSize(nSize) {}

void CRecentFileList::ReadList()
{
    QSettings settings(QString::fromUtf8(res::kRegistryRoot), QString::fromUtf8(res::kAppTitle));
    settings.beginGroup(QString::fromUtf8(kSection));
    m_list.clear();
    for (int i = 1; i <= m_nSize; ++i) {
        const QString strPath = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!strPath.isEmpty())
            m_list << strPath;
    }
}

void CRecentFileList::WriteList() const
{
    QSettings settings(QString::fromUtf8(res::kRegistryRoot), QString::fromUtf8(res::kAppTitle));
    settings.beginGroup(QString::fromUtf8(kSection));
    settings.remove(QString());
    for (int i = 0; i < m_list.size() && i < m_nSize; ++i)
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_list[i]);
}

void CRecentFileList::Add(const QString& strPath)
{
    if (strPath.isEmpty())
        return;
    m_list.removeAll(strPath);
    m_list.prepend(strPath);
    while (m_list.size() > m_nSize)
        m_list.removeLast();
}
