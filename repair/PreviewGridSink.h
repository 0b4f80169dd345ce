#pragma once
// The preview grid a repair run fills: a report-style list with a header row.
// Texts are UTF-8. Called on the repair thread.

#include <string>

class IPreviewGridSink {
public:
    virtual ~IPreviewGridSink() = default;
    // Deletes every row and every column.
    virtual void ClearGrid() = 0;
    // Inserts a left-aligned column with the heading (a grid on screen
    // picks its width).
    virtual void InsertColumn(int nIndex, const std::string& strHeading) = 0;
    // Inserts a row at nIndex whose first cell holds strLabel.
    virtual void InsertRow(int nIndex, const std::string& strLabel) = 0;
    // Sets the text of one cell.
    virtual void SetCellText(int nRow, int nColumn, const std::string& strText) = 0;
    // The record shown in row nRow is marked deleted in the repaired table
    // (called once, after the row's cells). Grids that do not show it may
    // ignore it.
    virtual void SetRowDeleted(int /*nRow*/) {}
};
