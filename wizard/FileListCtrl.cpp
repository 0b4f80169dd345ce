#include "wizard/FileListCtrl.h"

#include "wizard/Resources.h"

#include <QHeaderView>
#include <array>

namespace {

struct ColumnDef {
    const char* pszHeading;
    int nWidth;
    OrvPicture icon;
};

constexpr std::array<ColumnDef, CFileListCtrl::kColumnCount> kColumns = {{
    {"File Name", 130, OrvPicture::ListFileName},
    {"File Location", 240, OrvPicture::ListFileLocation},
    {"File Size", 100, OrvPicture::ListFileSize},
    {"Creation Time", 120, OrvPicture::ListCreationTime},
    {"Last Access Time", 120, OrvPicture::ListLastAccessTime},
    {"Last written Time", 130, OrvPicture::ListLastWrittenTime},
    {"File Type", 200, OrvPicture::ListFileType},
}};

} // namespace

CFileListCtrl::CFileListCtrl(QWidget* pParent) : QTreeWidget(pParent)
{
    for (const ColumnDef& column : kColumns) {
        QIcon icon;
        icon.addPixmap(OrvPixmap(column.icon, QSize(16, 16)));
        m_imageList.append(icon);
    }

    // Report view: a flat list with check boxes, grid-like rows, whole-row
    // selection, one item at a time.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                                 " border-bottom: 1px solid palette(midlight); }"));

    setColumnCount(kColumnCount);
    QTreeWidgetItem* pHeader = headerItem();
    for (int i = 0; i < kColumnCount; ++i) {
        pHeader->setText(i, ColumnHeading(i));
        pHeader->setIcon(i, m_imageList[i]);
        pHeader->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
        header()->resizeSection(i, ColumnWidth(i));
    }
    header()->setStretchLastSection(false);
}

QString CFileListCtrl::ColumnHeading(int nColumn)
{
    if (nColumn < 0 || nColumn >= kColumnCount)
        return QString();
    return QString::fromLatin1(kColumns[nColumn].pszHeading);
}

int CFileListCtrl::ColumnWidth(int nColumn)
{
    if (nColumn < 0 || nColumn >= kColumnCount)
        return 0;
    return kColumns[nColumn].nWidth;
}
