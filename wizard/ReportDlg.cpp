#include "wizard/ReportDlg.h"

#include "wizard/Resources.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr int kMargin = 16;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;

} // namespace

CReportDlg::CReportDlg(const QString& strSource, const QString& strSummary, QWidget* pParent)
    : QDialog(pParent)
{
    OrvInitResources();
    setWindowTitle(QStringLiteral("Repair Details"));
    setModal(true);
    setObjectName(QStringLiteral("IDD_REPORT_%1").arg(IDD));
    // Wide enough for a summary line and a path without wrapping most of
    // them, tall enough for a report with several kinds of loss.
    const int nLine = fontMetrics().height();
    const QSize size(std::max(520, fontMetrics().averageCharWidth() * 72), nLine * 16 + 3 * kMargin + kButtonHeight);
    setFixedSize(size);

    m_pSource = new QLabel(this);
    m_pSource->setObjectName(QStringLiteral("IDC_%1").arg(IDC_REPORT_SOURCE));
    m_pSource->setTextFormat(Qt::PlainText);
    m_pSource->setAttribute(Qt::WA_TranslucentBackground);
    m_pSource->setGeometry(kMargin, kMargin, size.width() - 2 * kMargin, nLine + 4);
    // A long path is shortened in the middle, where it says least.
    m_pSource->setText(fontMetrics().elidedText(strSource, Qt::ElideMiddle, m_pSource->width()));
    m_pSource->setToolTip(strSource);

    m_pText = new QPlainTextEdit(this);
    m_pText->setObjectName(QStringLiteral("IDC_%1").arg(IDC_REPORT_TEXT));
    m_pText->setReadOnly(true);
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pText->setPlainText(strSummary);
    const int nTextTop = m_pSource->geometry().bottom() + 8;
    m_pText->setGeometry(kMargin, nTextTop, size.width() - 2 * kMargin,
                         size.height() - nTextTop - 2 * kMargin - kButtonHeight + 8);

    m_pButtonClose = new QPushButton(QStringLiteral("Close"), this);
    m_pButtonClose->setGeometry(size.width() - kMargin - kButtonWidth, size.height() - kMargin - kButtonHeight,
                                kButtonWidth, kButtonHeight);
    m_pButtonClose->setDefault(true);
    m_pButtonClose->setAutoDefault(true);
    connect(m_pButtonClose, &QPushButton::clicked, this, &QDialog::accept);
    m_pButtonClose->setFocus();
}

QString CReportDlg::GetText() const
{
    return m_pText->toPlainText();
}

void CReportDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), OrvPixmap(OrvPicture::SettingsSkin, size(), devicePixelRatioF()));
}
