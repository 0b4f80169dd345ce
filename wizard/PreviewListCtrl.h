#pragma once
// The preview grid of the wizard: a report-style table of the salvaged rows
// (column 0 the row label, column i + 1 field i) whose cells are coloured by
// the text of the row's column 1.

#include <QTableView>

#include <cstdint>
#include <memory>
#include <string_view>

#include "wizard/PreviewGridModel.h"
#include "wizard/PreviewRowBatch.h"

class CPreviewListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CPreviewListCtrl(QWidget* pParent = nullptr);

    // The operations of the engine's preview-grid sink; GUI thread only.
    void ClearGrid();
    void InsertColumn(int nIndex, const QString& strHeading, int nWidth);
    void InsertRow(int nIndex, std::string_view strLabel);
    void SetCellText(int nRow, int nColumn, std::string_view strText);
    // The row's record is marked deleted in the repaired table: its text is
    // greyed and its label marked.
    void SetRowDeleted(int nRow);
    // Appends whole rows collected on another thread.
    void AppendRows(const CPreviewRowBatch& batch);
    // Deletes every row; the columns stay.
    void DeleteAllItems();
    // Tints the cells the repair mended; their tooltips tell what the bytes were.
    void SetMendedCells(std::shared_ptr<const CMendedCells> spCells);
    // Scrolls row nRow (the last row when there are fewer) to the middle of
    // the grid; selects it when bSelect, else leaves no row selected.
    void ShowRow(qint64 nRow, bool bSelect);

    int GetItemCount() const;
    int GetColumnCount() const;
    QString GetItemText(int nRow, int nColumn) const;
    bool IsItemDeleted(int nRow) const;

    CPreviewGridModel* GetGridModel() const { return m_pModel; }

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    CPreviewGridModel* m_pModel;
};
