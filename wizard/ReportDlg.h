#pragma once
// The Details dialog of a finished repair: the summary of the run's report
// (what was written, dropped, mended and lost), and every record the damage
// touched by its number in the source, with the memos not found. Choosing a
// record shows its row in the preview grid (recordChosen). Read-only, with a
// Close button.

#include "repair/RepairReport.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CReportDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 190, IDC_REPORT_SOURCE = 1020, IDC_REPORT_TEXT = 1021, IDC_REPORT_ENTRIES = 1022 };
    // Columns of the entry list.
    enum { kColumnRecord, kColumnWhat, kColumnBytes };

    // strSource: the repaired table's path.
    CReportDlg(const QString& strSource, const RepairReport& report, QWidget* pParent = nullptr);

    QString GetText() const;
    QPlainTextEdit* GetTextBox() const { return m_pText; }
    QTreeWidget* GetEntryList() const { return m_pEntries; }
    QPushButton* GetCloseButton() const { return m_pButtonClose; }

signals:
    // A record was chosen: nRow is its row in the grid (from 0); without a
    // row of its own (dropped), the row that follows where it was.
    void recordChosen(qint64 nRow, bool bOwnRow);

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void AddRecordEntries(const RepairReport& report);
    void AddMemoEntries(const RepairReport& report);
    // An entry that leads nowhere in the grid.
    void AddNote(const QString& strWhat);
    void OnEntryChosen(QTreeWidgetItem* pItem);

    QLabel* m_pSource = nullptr;
    QPlainTextEdit* m_pText = nullptr;
    QTreeWidget* m_pEntries = nullptr;
    QPushButton* m_pButtonClose = nullptr;
};
