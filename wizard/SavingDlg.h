#pragma once
// The small "Saving" window shown while repaired files are copied into the
// user's folder: one label naming the file, OK and Cancel. Modeless, centred
// on its owner, visible as soon as it is made; it takes no input while the
// copy runs.

#include <QDialog>

class QLabel;
class QPushButton;

class CSavingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSavingDlg(QWidget* pParent = nullptr);

    void SetFileText(const QString& strText);
    QString GetFileText() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QLabel* m_pLabel;
    QPushButton* m_pButtonOk;
    QPushButton* m_pButtonCancel;
};
