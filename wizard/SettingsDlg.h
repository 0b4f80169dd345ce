#pragma once
// The Settings dialog: edits the file-name prefix that saving puts in front
// of every saved table's name and whether a repair brings records marked
// deleted back to life. Accepted values are stored straight into the
// caller's settings (the main frame's); Cancel leaves them as they were.

#include "repair/RepairPaths.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 189, IDC_PREFIX_LABEL = 1018, IDC_PREFIX = 1016, IDC_UNDELETE = 1020 };
    static constexpr int kMaxPrefixLength = static_cast<int>(kMaxSavedPrefixLength);
    // The characters a prefix must not contain.
    static constexpr const char* kForbiddenChars = kForbiddenPrefixChars;

    enum class PrefixCheck { Valid, Empty, IllegalCharacter };
    // The rules for a prefix (ClassifySavedPrefix): not empty, none of the
    // forbidden characters. The length is limited by the prefix box itself.
    static PrefixCheck CheckPrefix(const QString& strPrefix);

    // strTargetPrefix is read when the dialog opens and written on an
    // accepted OK; it must outlive the dialog.
    explicit CSettingsDlg(QString& strTargetPrefix, QWidget* pParent = nullptr);
    // The same with the "Restore deleted records" choice, read and written
    // like the prefix; without it the check box is not shown.
    CSettingsDlg(QString& strTargetPrefix, bool& bTargetUndelete, QWidget* pParent = nullptr);

    // OK: validates the prefix box; shows the message and keeps the dialog
    // open for a rejected prefix, else stores the prefix and closes with OK.
    void OnOK();

    QLineEdit* GetPrefixEdit() const { return m_pEditPrefix; }
    QCheckBox* GetUndeleteCheck() const { return m_pCheckUndelete; }
    QPushButton* GetOkButton() const { return m_pButtonOk; }
    QPushButton* GetCancelButton() const { return m_pButtonCancel; }

    // The prefix text exchanged with the prefix box.
    QString m_strPrefix;
    // The check box's state.
    bool m_bUndelete = false;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString& m_strTargetPrefix;
    bool* m_pTargetUndelete = nullptr;
    QGroupBox* m_pFrame = nullptr;
    QLabel* m_pLabel = nullptr;
    QLineEdit* m_pEditPrefix = nullptr;
    QCheckBox* m_pCheckUndelete = nullptr;
    QPushButton* m_pButtonOk = nullptr;
    QPushButton* m_pButtonCancel = nullptr;
};
