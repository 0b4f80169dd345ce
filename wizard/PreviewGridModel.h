#pragma once
// The table behind the preview grid. Sized for millions of rows: cell texts
// stay packed as UTF-8 in chunks of rows (one text buffer and one 32-bit
// offset per cell); a QString is made only when a cell is asked for.

#include "repair/MendedCells.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CPreviewRowBatch;

class CPreviewGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CPreviewGridModel(QObject* pParent = nullptr);
    ~CPreviewGridModel() override;

    // The grid operations of the repair engine.
    void ClearGrid();
    void InsertColumn(int nIndex, const QString& strHeading, int nWidth);
    void InsertRow(int nIndex, std::string_view strLabel);
    void SetCellText(int nRow, int nColumn, std::string_view strText);
    // The row's record is marked deleted in the repaired table.
    void SetRowDeleted(int nRow);
    // Appends the batch's rows after the last row.
    void AppendRows(const CPreviewRowBatch& batch);
    // Deletes every row; the columns stay.
    void DeleteAllRows();
    // The cells the repair mended: tinted, with the source's bytes in their
    // tooltip. Rows and columns are the grid's (record n is row n - 1).
    void SetMendedCells(std::shared_ptr<const CMendedCells> spCells);
    const CMendedCells::Cell* GetMendedCell(int nRow, int nColumn) const;

    int GetColumnWidth(int nColumn) const;
    QString GetCellText(int nRow, int nColumn) const;
    bool IsRowDeleted(int nRow) const;
    // Bytes the model holds for its rows (texts, offsets, chunk bookkeeping).
    size_t GetMemoryBytes() const;

    // The cell colours: computed from the column and the text of the row's
    // column 1. An invalid colour means "what the list supplies".
    static QColor CellBackground(int nColumn, std::string_view strColumn1);
    static QColor CellForeground(std::string_view strColumn1);
    // A deleted record's row: greyed text in every cell, its label marked.
    static QColor DeletedRowForeground();
    static QString DeletedRowLabel(const QString& strLabel);
    // A mended cell: its tint, and the tooltip that says what the bytes were.
    static QColor MendedCellBackground();
    static QString MendedCellToolTip(const CMendedCells::Cell& cell);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation,
                        int nRole = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A column was inserted with its width in pixels.
    void columnWidthSet(int nColumn, int nWidth);

private:
    struct Chunk;
    // The chunk holding nRow and the row's place in it.
    std::pair<size_t, int> Locate(int nRow) const;

    struct ColumnInfo {
        QString strHeading;
        int nWidth = 0;
    };
    std::vector<ColumnInfo> m_aColumns;
    std::vector<std::unique_ptr<Chunk>> m_aChunks;
    std::vector<int> m_aChunkFirstRow;  // first row of each chunk
    int m_nRows = 0;
    std::shared_ptr<const CMendedCells> m_spMended;
};
