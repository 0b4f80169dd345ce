#include "app/AboutDlg.h"

#include "wizard/Resources.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    OrvInitResources();
    setWindowTitle(QStringLiteral("About Orvane Tamsin DBF"));
    const QSize size = OrvPictureSize(OrvPicture::AboutSkin);
    setFixedSize(size);

    // The picture keeps its upper part for the logo; the texts go below it.
    const int nLeft = 28;
    const int nWidth = size.width() - 2 * nLeft;
    m_pVersion = new QLabel(this);
    m_pVersion->setGeometry(nLeft, 128, nWidth, 22);
    QFont fontVersion = m_pVersion->font();
    fontVersion.setBold(true);
    m_pVersion->setFont(fontVersion);
    m_pNotice = new QLabel(this);
    m_pNotice->setGeometry(nLeft, 152, nWidth, 20);
    m_pContact = new QLabel(this);
    m_pContact->setGeometry(nLeft, 178, nWidth, 64);
    m_pContact->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* pLabel : {m_pVersion, m_pNotice, m_pContact})
        pLabel->setTextFormat(Qt::PlainText);

    m_pButtonOk = new QPushButton(QStringLiteral("OK"), this);
    m_pButtonOk->setDefault(true);
    m_pButtonOk->setGeometry(size.width() - 28 - 90, size.height() - 44, 90, 28);
    connect(m_pButtonOk, &QPushButton::clicked, this, &QDialog::accept);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog()
{
    m_pVersion->setText(QString::fromUtf8(kVersionText));
    m_pNotice->setText(QStringLiteral("Copyright \u00A9 Orvane Tamsin Software. All rights reserved."));
    m_pContact->setText(QStringLiteral("Support and sales:\n"
                                       "support@orvanetamsin.com\n"
                                       "https://www.orvanetamsin.com"));
}

QString CAboutDlg::GetVersionText() const
{
    return m_pVersion->text();
}

QString CAboutDlg::GetNoticeText() const
{
    return m_pNotice->text();
}

QString CAboutDlg::GetContactText() const
{
    return m_pContact->text();
}

void CAboutDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, OrvPixmap(OrvPicture::AboutSkin, QSize(), devicePixelRatioF()));
}
