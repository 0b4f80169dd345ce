#pragma once
// The About box: the version line, the maker's notice and how to reach the
// maker, over the About picture.

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 100 };
    static constexpr const char* kVersionText = "Orvane Tamsin for  DBF  Version 5.01";

    explicit CAboutDlg(QWidget* pParent = nullptr);

    QString GetVersionText() const;
    QString GetNoticeText() const;
    QString GetContactText() const;
    QPushButton* GetOkButton() const { return m_pButtonOk; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    // Fills the three text lines (done when the box opens).
    void OnInitDialog();

    QLabel* m_pVersion;
    QLabel* m_pNotice;
    QLabel* m_pContact;
    QPushButton* m_pButtonOk;
};
