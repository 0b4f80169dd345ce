#pragma once
// The file list of the wizard: a report-style list with check boxes and the
// columns below, each heading with its own 16 x 16 icon. The wizard keeps it
// hidden and empty.

#include <QList>
#include <QIcon>
#include <QTreeWidget>

class CFileListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 7;

    explicit CFileListCtrl(QWidget* pParent = nullptr);

    // The seven 16 x 16 icons, one per column, in column order.
    const QList<QIcon>& GetImageList() const { return m_imageList; }

    static QString ColumnHeading(int nColumn);
    static int ColumnWidth(int nColumn);

private:
    QList<QIcon> m_imageList;
};
