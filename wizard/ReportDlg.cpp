#include "wizard/ReportDlg.h"

#include "wizard/RecordGridRows.h"
#include "wizard/Resources.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

constexpr int kMargin = 16;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
// Item data of an entry that leads to a grid row.
constexpr int kRowRole = Qt::UserRole;
constexpr int kOwnRowRole = Qt::UserRole + 1;

QString Grouped(int64_t n)
{
    return QString::fromStdString(GroupedNumber(n));
}

QString KindText(RepairReport::RecordLossKind kind)
{
    switch (kind) {
    case RepairReport::RecordLossKind::Dropped: return QStringLiteral("Dropped");
    case RepairReport::RecordLossKind::CutShort: return QStringLiteral("Cut short");
    case RepairReport::RecordLossKind::Mended: return QStringLiteral("Mended");
    }
    return QString();
}

// "380,800 (4,224 bytes)": where the record's bytes lay in the source.
QString BytesText(const RepairReport::RecordLoss& loss)
{
    if (loss.nLength == 0)
        return QStringLiteral("none in the file");
    return QStringLiteral("%1 (%2 %3)")
        .arg(Grouped(static_cast<int64_t>(loss.nOffset)), Grouped(static_cast<int64_t>(loss.nLength)),
             loss.nLength == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
}

} // namespace

CReportDlg::CReportDlg(const QString& strSource, const RepairReport& report, QWidget* pParent)
    : QDialog(pParent)
{
    OrvInitResources();
    setWindowTitle(QStringLiteral("Repair Details"));
    setModal(true);
    setObjectName(QStringLiteral("IDD_REPORT_%1").arg(IDD));
    // Wide enough for a summary line and a path without wrapping most of
    // them; the summary above, the records below.
    const int nLine = fontMetrics().height();
    const QSize size(std::max(560, fontMetrics().averageCharWidth() * 78), nLine * 26 + 4 * kMargin + kButtonHeight);
    setFixedSize(size);
    const int nInner = size.width() - 2 * kMargin;

    m_pSource = new QLabel(this);
    m_pSource->setObjectName(QStringLiteral("IDC_%1").arg(IDC_REPORT_SOURCE));
    m_pSource->setTextFormat(Qt::PlainText);
    m_pSource->setAttribute(Qt::WA_TranslucentBackground);
    m_pSource->setGeometry(kMargin, kMargin, nInner, nLine + 4);
    // A long path is shortened in the middle, where it says least.
    m_pSource->setText(fontMetrics().elidedText(strSource, Qt::ElideMiddle, m_pSource->width()));
    m_pSource->setToolTip(strSource);

    m_pText = new QPlainTextEdit(this);
    m_pText->setObjectName(QStringLiteral("IDC_%1").arg(IDC_REPORT_TEXT));
    m_pText->setReadOnly(true);
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pText->setPlainText(QString::fromStdString(RepairReportSummary(report)));
    const int nTextTop = m_pSource->geometry().bottom() + 8;
    m_pText->setGeometry(kMargin, nTextTop, nInner, nLine * 10);

    m_pEntries = new QTreeWidget(this);
    m_pEntries->setObjectName(QStringLiteral("IDC_%1").arg(IDC_REPORT_ENTRIES));
    m_pEntries->setRootIsDecorated(false);
    m_pEntries->setUniformRowHeights(true);
    m_pEntries->setHeaderLabels({QStringLiteral("Record"), QStringLiteral("What"), QStringLiteral("Bytes at")});
    m_pEntries->setToolTip(QStringLiteral("Click a record to show its row in the grid"));
    const int nEntriesTop = m_pText->geometry().bottom() + 8;
    m_pEntries->setGeometry(kMargin, nEntriesTop, nInner,
                            size.height() - nEntriesTop - 2 * kMargin - kButtonHeight + 8);
    m_pEntries->header()->resizeSection(kColumnRecord, nInner / 5);
    m_pEntries->header()->resizeSection(kColumnWhat, nInner / 3);
    AddRecordEntries(report);
    AddMemoEntries(report);
    connect(m_pEntries, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* pItem) { OnEntryChosen(pItem); });
    connect(m_pEntries, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* pItem) { OnEntryChosen(pItem); });

    m_pButtonClose = new QPushButton(QStringLiteral("Close"), this);
    m_pButtonClose->setGeometry(size.width() - kMargin - kButtonWidth, size.height() - kMargin - kButtonHeight,
                                kButtonWidth, kButtonHeight);
    m_pButtonClose->setDefault(true);
    m_pButtonClose->setAutoDefault(true);
    connect(m_pButtonClose, &QPushButton::clicked, this, &QDialog::accept);
    m_pButtonClose->setFocus();
}

void CReportDlg::AddRecordEntries(const RepairReport& report)
{
    const CRecordGridRows rows(report);
    for (const RepairReport::RecordLoss& loss : report.recordLosses) {
        auto* pItem = new QTreeWidgetItem(m_pEntries, {Grouped(loss.nRecord), KindText(loss.kind), BytesText(loss)});
        pItem->setData(kColumnRecord, kRowRole, QVariant::fromValue<qint64>(rows.RowOf(loss.nRecord)));
        pItem->setData(kColumnRecord, kOwnRowRole, loss.kind != RepairReport::RecordLossKind::Dropped);
    }
    if (report.nRecordLossesNotListed > 0)
        AddNote(QStringLiteral("%1 more, not listed").arg(Grouped(report.nRecordLossesNotListed)));
}

void CReportDlg::AddMemoEntries(const RepairReport& report)
{
    // The memos not found, one entry per record and column, leading to the
    // record's row, where the memo field is empty; what the list leaves out
    // is counted.
    const CRecordGridRows rows(report);
    for (const RepairReport::MissingMemo& memo : report.missingMemos) {
        auto* pItem = new QTreeWidgetItem(
            m_pEntries, {Grouped(memo.nRecord), QStringLiteral("Memo not found"), QString::fromStdString(memo.strColumn)});
        pItem->setData(kColumnRecord, kRowRole, QVariant::fromValue<qint64>(rows.RowOf(memo.nRecord)));
        pItem->setData(kColumnRecord, kOwnRowRole, true);
    }
    const int64_t nUnlisted = report.nMemosMissing - static_cast<int64_t>(report.missingMemos.size());
    if (nUnlisted > 0)
        AddNote(QStringLiteral("%1 %2 not found%3")
                    .arg(Grouped(nUnlisted), nUnlisted == 1 ? QStringLiteral("memo") : QStringLiteral("memos"),
                         report.missingMemos.empty() ? QString() : QStringLiteral(", not listed")));
}

void CReportDlg::AddNote(const QString& strWhat)
{
    auto* pItem = new QTreeWidgetItem(m_pEntries, {QString(), strWhat});
    pItem->setFlags(Qt::ItemIsEnabled);
}

void CReportDlg::OnEntryChosen(QTreeWidgetItem* pItem)
{
    if (pItem == nullptr || !pItem->data(kColumnRecord, kRowRole).isValid())
        return;
    emit recordChosen(pItem->data(kColumnRecord, kRowRole).toLongLong(),
                      pItem->data(kColumnRecord, kOwnRowRole).toBool());
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
