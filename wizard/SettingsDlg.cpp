#include "wizard/SettingsDlg.h"

#include "wizard/MessageBoxService.h"
#include "wizard/Resources.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace {

const QString kSettingsCaption = QStringLiteral("Orvane Tamsin Vaviver eraza");

// Dialog units to pixels with the dialog font's average character width and
// height, the way dialog templates are laid out: the layout grows with the
// font instead of clipping the label.
struct DialogUnits {
    double dX;
    double dY;
    explicit DialogUnits(const QFontMetrics& fm)
    {
        const QString strAlphabet =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        dX = fm.horizontalAdvance(strAlphabet) / 52.0 / 4.0;
        dY = fm.height() / 8.0;
    }
    QRect Rect(int x, int y, int cx, int cy) const
    {
        return QRect(qRound(x * dX), qRound(y * dY), qRound(cx * dX), qRound(cy * dY));
    }
};

} // namespace

CSettingsDlg::PrefixCheck CSettingsDlg::CheckPrefix(const QString& strPrefix)
{
    switch (ClassifySavedPrefix(strPrefix.toStdString())) {
    case SavedPrefixCheck::Empty:
        return PrefixCheck::Empty;
    case SavedPrefixCheck::IllegalCharacter:
        return PrefixCheck::IllegalCharacter;
    case SavedPrefixCheck::TooLong:
        // The box counts characters, the rule UTF-8 bytes: 50 characters
        // that need more bytes are still a prefix the box let through.
    case SavedPrefixCheck::Valid:
        break;
    }
    return PrefixCheck::Valid;
}

CSettingsDlg::CSettingsDlg(QString& strTargetPrefix, bool& bTargetUndelete, QWidget* pParent)
    : CSettingsDlg(strTargetPrefix, pParent)
{
    m_pTargetUndelete = &bTargetUndelete;
    m_bUndelete = bTargetUndelete;
    m_pCheckUndelete->setChecked(m_bUndelete);
    m_pCheckUndelete->show();
}

CSettingsDlg::CSettingsDlg(QString& strTargetPrefix, QWidget* pParent)
    : QDialog(pParent), m_strTargetPrefix(strTargetPrefix)
{
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    setObjectName(QStringLiteral("IDD_SETTINGS_%1").arg(IDD));

    const DialogUnits du(fontMetrics());
    setFixedSize(du.Rect(0, 0, 246, 110).size());

    m_pFrame = new QGroupBox(this);
    m_pFrame->setGeometry(du.Rect(22, 13, 206, 65));

    m_pLabel = new QLabel(QStringLiteral("File Name Prefix"), this);
    m_pLabel->setObjectName(QStringLiteral("IDC_%1").arg(IDC_PREFIX_LABEL));
    m_pLabel->setAttribute(Qt::WA_TranslucentBackground);
    m_pLabel->setAutoFillBackground(false);
    // The template's label box is sized for a narrower font; let the text
    // run on rather than clip when the desktop font is wider.
    QRect rectLabel = du.Rect(35, 36, 52, 8);
    rectLabel.setWidth(std::max(rectLabel.width(), m_pLabel->sizeHint().width()));
    rectLabel.setHeight(std::max(rectLabel.height(), m_pLabel->sizeHint().height()));
    m_pLabel->setGeometry(rectLabel);

    m_pEditPrefix = new QLineEdit(this);
    m_pEditPrefix->setObjectName(QStringLiteral("IDC_%1").arg(IDC_PREFIX));
    m_pEditPrefix->setMaxLength(kMaxPrefixLength);
    QRect rectEdit = du.Rect(104, 34, 71, 14);
    rectEdit.setHeight(std::max(rectEdit.height(), m_pEditPrefix->sizeHint().height()));
    m_pEditPrefix->setGeometry(rectEdit);
    m_pLabel->setBuddy(m_pEditPrefix);

    m_pCheckUndelete = new QCheckBox(QStringLiteral("Restore deleted records"), this);
    m_pCheckUndelete->setObjectName(QStringLiteral("IDC_%1").arg(IDC_UNDELETE));
    m_pCheckUndelete->setToolTip(
        QStringLiteral("Records marked deleted in the damaged table come back as ordinary records"));
    m_pCheckUndelete->setAttribute(Qt::WA_TranslucentBackground);
    QRect rectCheck = du.Rect(35, 57, 170, 10);
    rectCheck.setWidth(std::max(rectCheck.width(), m_pCheckUndelete->sizeHint().width()));
    rectCheck.setHeight(std::max(rectCheck.height(), m_pCheckUndelete->sizeHint().height()));
    m_pCheckUndelete->setGeometry(rectCheck);
    // Shown only for a caller that keeps the choice.
    m_pCheckUndelete->hide();

    m_pButtonOk = new QPushButton(QStringLiteral("OK"), this);
    m_pButtonOk->setGeometry(du.Rect(59, 89, 50, 14));
    m_pButtonOk->setDefault(true);
    m_pButtonOk->setAutoDefault(true);
    m_pButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pButtonCancel->setGeometry(du.Rect(140, 89, 50, 14));
    m_pButtonCancel->setAutoDefault(false);

    connect(m_pButtonOk, &QPushButton::clicked, this, &CSettingsDlg::OnOK);
    connect(m_pButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Opening: the current prefix, limited to the box's 50 characters.
    m_strPrefix = m_strTargetPrefix;
    m_pEditPrefix->setText(m_strPrefix);
    m_pEditPrefix->selectAll();
    m_pEditPrefix->setFocus();
}

void CSettingsDlg::OnOK()
{
    m_strPrefix = m_pEditPrefix->text();
    switch (CheckPrefix(m_strPrefix)) {
    case PrefixCheck::Empty:
        CMessageBoxService::Instance().Show(this, kSettingsCaption, QStringLiteral("Please fill prefix"),
                                            MsgButtons::Ok, MsgIcon::Information);
        return;
    case PrefixCheck::IllegalCharacter:
        CMessageBoxService::Instance().Show(this, kSettingsCaption,
                                            QStringLiteral("Illegal character found in file pre fix "),
                                            MsgButtons::Ok, MsgIcon::Information);
        return;
    case PrefixCheck::Valid:
        break;
    }
    m_strTargetPrefix = m_strPrefix;
    if (m_pTargetUndelete) {
        m_bUndelete = m_pCheckUndelete->isChecked();
        *m_pTargetUndelete = m_bUndelete;
    }
    accept();
}

void CSettingsDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), OrvPixmap(OrvPicture::SettingsSkin, size(), devicePixelRatioF()));
}
