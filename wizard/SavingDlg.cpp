#include "wizard/SavingDlg.h"

#include "wizard/Resources.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

CSavingDlg::CSavingDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
{
    OrvInitResources();
    setWindowTitle(QStringLiteral("Saving"));
    setModal(false);
    const QSize size = OrvPictureSize(OrvPicture::SavingSkin);
    setFixedSize(size);

    m_pLabel = new QLabel(this);
    m_pLabel->setGeometry(20, 36, size.width() - 40, 40);
    m_pLabel->setWordWrap(true);
    m_pLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pLabel->setTextFormat(Qt::PlainText);

    m_pButtonOk = new QPushButton(QStringLiteral("OK"), this);
    m_pButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    const int nButtonY = size.height() - 40;
    m_pButtonOk->setGeometry(size.width() / 2 - 110, nButtonY, 90, 26);
    m_pButtonCancel->setGeometry(size.width() / 2 + 20, nButtonY, 90, 26);
    // The copy runs synchronously; the buttons are there as in the template
    // but cannot interrupt it.
    m_pButtonOk->setEnabled(false);
    m_pButtonCancel->setEnabled(false);

    // Centred on the owner (or the screen), visible on creation.
    const QRect rcOwner = pParent ? pParent->window()->frameGeometry()
                                  : (screen() ? screen()->availableGeometry() : QRect());
    if (rcOwner.isValid())
        move(rcOwner.center() - rect().center());
    show();
    // Let the window appear before the copy keeps the GUI thread busy.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CSavingDlg::SetFileText(const QString& strText)
{
    m_pLabel->setText(strText);
    m_pLabel->repaint();
}

QString CSavingDlg::GetFileText() const
{
    return m_pLabel->text();
}

void CSavingDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, OrvPixmap(OrvPicture::SavingSkin));
}
