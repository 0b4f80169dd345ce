#include "wizard/PreviewListCtrl.h"

#include <QContextMenuEvent>
#include <QHeaderView>

#include <algorithm>
#include <utility>

CPreviewListCtrl::CPreviewListCtrl(QWidget* pParent)
    : QTableView(pParent), m_pModel(new CPreviewGridModel(this))
{
    setModel(m_pModel);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setFrameShape(QFrame::StyledPanel);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSortingEnabled(false);
    setTabKeyNavigation(false);
    // No context menu, and the request does not travel on to the parent.
    setContextMenuPolicy(Qt::PreventContextMenu);

    // Every row has the same height and the row header is hidden, so the
    // view never measures rows: millions of them scroll as fast as ten.
    QHeaderView* pRows = verticalHeader();
    pRows->hide();
    pRows->setSectionResizeMode(QHeaderView::Fixed);
    pRows->setDefaultSectionSize(fontMetrics().height() + 6);
    pRows->setMinimumSectionSize(1);

    QHeaderView* pColumns = horizontalHeader();
    pColumns->setSectionResizeMode(QHeaderView::Interactive);
    pColumns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pColumns->setHighlightSections(false);
    pColumns->setStretchLastSection(false);
    pColumns->setSectionsClickable(false);

    // The selection stays visible when the grid loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    connect(m_pModel, &CPreviewGridModel::columnWidthSet, this,
            [this](int nColumn, int nWidth) { horizontalHeader()->resizeSection(nColumn, nWidth); });
}

void CPreviewListCtrl::ClearGrid()
{
    m_pModel->ClearGrid();
}

void CPreviewListCtrl::InsertColumn(int nIndex, const QString& strHeading, int nWidth)
{
    m_pModel->InsertColumn(nIndex, strHeading, nWidth);
}

void CPreviewListCtrl::InsertRow(int nIndex, std::string_view strLabel)
{
    m_pModel->InsertRow(nIndex, strLabel);
}

void CPreviewListCtrl::SetCellText(int nRow, int nColumn, std::string_view strText)
{
    m_pModel->SetCellText(nRow, nColumn, strText);
}

void CPreviewListCtrl::SetRowDeleted(int nRow)
{
    m_pModel->SetRowDeleted(nRow);
}

void CPreviewListCtrl::AppendRows(const CPreviewRowBatch& batch)
{
    m_pModel->AppendRows(batch);
}

void CPreviewListCtrl::DeleteAllItems()
{
    m_pModel->DeleteAllRows();
}

void CPreviewListCtrl::SetMendedCells(std::shared_ptr<const CMendedCells> spCells)
{
    m_pModel->SetMendedCells(std::move(spCells));
}

void CPreviewListCtrl::ShowRow(qint64 nRow, bool bSelect)
{
    const int nRows = m_pModel->rowCount();
    if (nRows == 0)
        return;
    const QModelIndex index = m_pModel->index(static_cast<int>(std::clamp<qint64>(nRow, 0, nRows - 1)), 0);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    if (bSelect) {
        setCurrentIndex(index);
    } else {
        clearSelection();
    }
}

int CPreviewListCtrl::GetItemCount() const
{
    return m_pModel->rowCount();
}

int CPreviewListCtrl::GetColumnCount() const
{
    return m_pModel->columnCount();
}

QString CPreviewListCtrl::GetItemText(int nRow, int nColumn) const
{
    return m_pModel->GetCellText(nRow, nColumn);
}

bool CPreviewListCtrl::IsItemDeleted(int nRow) const
{
    return m_pModel->IsRowDeleted(nRow);
}

void CPreviewListCtrl::contextMenuEvent(QContextMenuEvent* pEvent)
{
    pEvent->accept();
}
