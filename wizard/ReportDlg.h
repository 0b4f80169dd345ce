#pragma once
// The Details dialog of a finished repair: the whole summary of the run's
// report (what was written, dropped, mended and lost), read-only, and a
// Close button.

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class CReportDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 190, IDC_REPORT_SOURCE = 1020, IDC_REPORT_TEXT = 1021 };

    // strSource: the repaired table's path; strSummary: the report's summary.
    CReportDlg(const QString& strSource, const QString& strSummary, QWidget* pParent = nullptr);

    QString GetText() const;
    QPlainTextEdit* GetTextBox() const { return m_pText; }
    QPushButton* GetCloseButton() const { return m_pButtonClose; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QLabel* m_pSource = nullptr;
    QPlainTextEdit* m_pText = nullptr;
    QPushButton* m_pButtonClose = nullptr;
};
