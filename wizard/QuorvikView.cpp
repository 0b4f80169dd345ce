#include "wizard/QuorvikView.h"

#include "repair/RepairJob.h"
#include "repair/RepairPaths.h"
#include "wizard/FECFileDialog.h"
#include "wizard/FileListCtrl.h"
#include "wizard/PictureButton.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/RepairRunner.h"
#include "wizard/ReportDlg.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"
#include "wizard/SettingsDlg.h"
#include "wizard/ViewSinkBridge.h"
#include "wizard/WizardHost.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

const char* const CQuorvikView::kHelpText1 =
    "\t1. Add files into list from the Add Files button from toolbar\n"
    "\t2. Click Next or Repair Files button from toolbar.";
const char* const CQuorvikView::kHelpText2 =
    "\t1. Tamsin is repairing files ...\n"
    "\t2. You can stop the repairing process by pressing stop button";
const char* const CQuorvikView::kHelpText3 =
    "\t1. Click the Next Button to save the repaired file at the desired location.\n"
    "\t2. You can also click the Save Files Icon from the toolbar.";
const char* const CQuorvikView::kSelectPrompt = "Please select file to repair , Using Browse button";

namespace {

// Heights of the painted bands.
constexpr int kTopBandHeight = 229;
constexpr int kMiddleBandTop = 225;
constexpr int kBottomBandHeight = 100;

const QColor kStatusBackground(255, 222, 85);
const QColor kStatusText(255, 0, 0);
const QColor kHelpBackground(255, 252, 179);

// Sink calls are queued to the GUI thread; a control touched anywhere else
// is a bug that would only show up as a rare crash.
void AssertGuiThread(const QObject* pObject)
{
    if (QThread::currentThread() != pObject->thread())
        qFatal("wizard control used outside the GUI thread");
}

QString FromUtf8(const std::string& str)
{
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

// How a refused source is told: the name as typed is asked about, a file
// that cannot be repaired is an error.
struct SourceMessageStyle {
    MsgIcon icon;
    bool bOwnedByView;
};

SourceMessageStyle StyleOf(SourceProblem eProblem)
{
    switch (eProblem) {
    case SourceProblem::NoFile: return {MsgIcon::Warning, false};
    case SourceProblem::InvalidName: return {MsgIcon::Question, true};
    case SourceProblem::InUse: return {MsgIcon::Error, true};
    default: return {MsgIcon::Error, false};
    }
}

} // namespace

CQuorvikView::CQuorvikView(IWizardHost* pHost, QWidget* pParent) : QWidget(pParent), m_pHost(pHost)
{
    OrvInitResources();
    m_strHelpText[0] = QString::fromUtf8(kHelpText1);
    m_strHelpText[1] = QString::fromUtf8(kHelpText2);
    m_strHelpText[2] = QString::fromUtf8(kHelpText3);
    setAcceptDrops(true);
    setMinimumSize(1, 1);

    m_pSaver = std::make_unique<CRepairResultSaver>(*this);
    m_pRunner = std::make_unique<CRepairRunner>(*this);
    connect(m_pSaver.get(), &CRepairResultSaver::resultChanged, this, &CQuorvikView::UpdateSaveState);
    connect(m_pRunner.get(), &CRepairRunner::runDone, this, &CQuorvikView::OnRunDone);
    connect(m_pRunner.get(), &CRepairRunner::runLost, this, &CQuorvikView::UpdateSaveState);
    connect(m_pRunner.get(), &CRepairRunner::runStopped, this, &CQuorvikView::OnRunStopped);
    connect(m_pRunner.get(), &CRepairRunner::threadsEnded, this, &CQuorvikView::repairThreadsEnded);

    CreateControls();
    ShowSelectionPage();
    HideResultPage();
    m_pStatus->setText(QString::fromUtf8(kSelectPrompt));
    UpdateSaveState();
}

CQuorvikView::~CQuorvikView()
{
    // A repair thread still finishing reports to the controls: the runner
    // waits for it while they are all still there.
    m_pRunner.reset();
}

void CQuorvikView::RegisterControl(QWidget* pWidget, int nId)
{
    m_controls[nId] = pWidget;
    pWidget->setProperty("controlId", nId);
    pWidget->setObjectName(QStringLiteral("ctrl%1").arg(nId));
}

QWidget* CQuorvikView::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QString CQuorvikView::GetPrefix() const
{
    return m_pHost ? m_pHost->SavedPrefixSetting() : QString::fromUtf8(kDefaultSavedPrefix);
}

bool CQuorvikView::GetUndelete() const
{
    return m_pHost && m_pHost->UndeleteSetting();
}

ViewSinkTargets CQuorvikView::GetSinkTargets()
{
    ViewSinkTargets targets;
    targets.pContext = this;
    targets.pProgress = this;
    targets.pLog = this;
    targets.pGrid = m_pGrid;
    return targets;
}

void CQuorvikView::CreateControls()
{
    auto makeButton = [this](OrvPicture normal, OrvPicture hover, const char* pszTip, QSize size,
                             int nId) {
        auto* pButton = new CPictureButton(normal, hover, QString::fromUtf8(pszTip), size, this);
        pButton->SetCommandId(nId);
        RegisterControl(pButton, nId);
        return pButton;
    };

    m_pButtonAdd = makeButton(OrvPicture::AddFiles, OrvPicture::AddFilesHover,
                              "Add File(s) to repair", QSize(58, 50), res::IDC_ADD_FILES);
    m_pButtonAdd->move(14, 0);
    m_pButtonRepair = makeButton(OrvPicture::Repair, OrvPicture::RepairHover,
                                 "Repair File(s) selected in the list", QSize(58, 50), res::IDC_REPAIR);
    m_pButtonRepair->move(103, 0);
    m_pButtonSave = makeButton(OrvPicture::Save, OrvPicture::SaveHover,
                               "Select location for save repaired file", QSize(58, 50), res::IDC_SAVE);
    m_pButtonSave->move(199, 0);
    m_pButtonSettings = makeButton(OrvPicture::Settings, OrvPicture::SettingsHover,
                                   "Settings for repaired file name.", QSize(58, 50), res::IDC_SETTINGS);
    m_pButtonSettings->move(288, 0);

    m_pButtonHomePage = new CHomePageButton(QStringLiteral("Go to the software Homepage"), this);
    m_pButtonHomePage->SetCommandId(res::IDC_HOMEPAGE);
    RegisterControl(m_pButtonHomePage, res::IDC_HOMEPAGE);

    m_pStatus = new QLabel(this);
    m_pStatus->setTextFormat(Qt::PlainText);
    m_pStatus->setAutoFillBackground(true);
    {
        QPalette pal = m_pStatus->palette();
        pal.setColor(QPalette::Window, kStatusBackground);
        pal.setColor(QPalette::WindowText, kStatusText);
        m_pStatus->setPalette(pal);
    }
    RegisterControl(m_pStatus, res::IDC_STATUS);

    m_pPath = new QLineEdit(this);
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setStyleHint(QFont::SansSerif);
        font.setWeight(QFont::Normal);
        m_pPath->setFont(font);
    }
    m_pPath->installEventFilter(this);
    RegisterControl(m_pPath, res::IDC_PATH);

    m_pBrowse = new QPushButton(QStringLiteral("&Browse"), this);
    RegisterControl(m_pBrowse, res::IDC_BROWSE);

    m_pButtonNext = makeButton(OrvPicture::Next, OrvPicture::NextHover, "Next", QSize(50, 38), res::IDC_NEXT);
    m_pButtonBack = makeButton(OrvPicture::Back, OrvPicture::BackHover, "Back", QSize(50, 38), res::IDC_BACK);
    m_pButtonStop = makeButton(OrvPicture::Stop, OrvPicture::StopHover, "Stop", QSize(50, 38), res::IDC_STOP);

    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pProgressTimer = new QTimer(this);
    m_pProgressTimer->setSingleShot(true);
    m_pProgressTimer->setInterval(30);
    connect(m_pProgressTimer, &QTimer::timeout, this, [this] {
        if (m_nPendingProgress > 0)
            m_pProgress->setValue(m_nPendingProgress);
        m_nPendingProgress = -1;
    });
    RegisterControl(m_pProgress, res::IDC_PROGRESS);

    m_pGrid = new CPreviewListCtrl(this);
    m_pGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pGrid->setShowGrid(true);
    RegisterControl(m_pGrid, res::IDC_PREVIEW_GRID);

    m_pHelp = new QLabel(this);
    m_pHelp->setTextFormat(Qt::PlainText);
    m_pHelp->setAutoFillBackground(true);
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setStyleHint(QFont::SansSerif);
        font.setPixelSize(16);
        font.setWeight(QFont::Medium);
        m_pHelp->setFont(font);
        QPalette pal = m_pHelp->palette();
        pal.setColor(QPalette::Window, kHelpBackground);
        m_pHelp->setPalette(pal);
    }
    RegisterControl(m_pHelp, res::IDC_HELP_TEXT);

    // The repair log and the file list are made and sized but never shown.
    m_pLog = new QPlainTextEdit(this);
    m_pLog->setReadOnly(true);
    m_pLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pLog->hide();
    RegisterControl(m_pLog, res::IDC_REPAIR_LOG);
    m_pFileList = new CFileListCtrl(this);
    m_pFileList->hide();
    m_pSelectAll = new QCheckBox(QStringLiteral("Select All"), this);
    m_pSelectAll->hide();
    m_pRemove = new QPushButton(QStringLiteral("Remove"), this);
    m_pRemove->hide();
    m_pDetails = new QPushButton(QStringLiteral("&Details..."), this);
    m_pDetails->setObjectName(QStringLiteral("details"));
    m_pDetails->setToolTip(QStringLiteral("What the repair wrote, dropped, mended and lost"));
    m_pDetails->hide();

    connect(m_pButtonAdd, &QAbstractButton::clicked, this, &CQuorvikView::OnAddFiles);
    connect(m_pButtonRepair, &QAbstractButton::clicked, this, &CQuorvikView::OnRepairToolbar);
    connect(m_pButtonSave, &QAbstractButton::clicked, this, &CQuorvikView::OnSaveFile);
    connect(m_pButtonSettings, &QAbstractButton::clicked, this, &CQuorvikView::OnSetting);
    connect(m_pButtonHomePage, &QAbstractButton::clicked, this, &CQuorvikView::OnSoftwareHomePage);
    connect(m_pBrowse, &QAbstractButton::clicked, this, &CQuorvikView::OnBrowse);
    connect(m_pButtonNext, &QAbstractButton::clicked, this, &CQuorvikView::OnRepairFile);
    connect(m_pButtonBack, &QAbstractButton::clicked, this, &CQuorvikView::OnBackPage);
    connect(m_pButtonStop, &QAbstractButton::clicked, this, &CQuorvikView::OnStopRepairing);
    connect(m_pDetails, &QAbstractButton::clicked, this, &CQuorvikView::OnDetails);
    // Enter in the path box means Next.
    connect(m_pPath, &QLineEdit::returnPressed, this, &CQuorvikView::OnRepairFile);

    m_strWorkingDir = QDir::currentPath();
}

// ---------------------------------------------------------------- layout

QRect CQuorvikView::LayoutRect(int nId, int cx, int cy)
{
    switch (nId) {
    case res::IDC_STATUS: return QRect(100, cy / 2 - 31, cx - 260, 18);
    case res::IDC_PATH: return QRect(100, cy / 2 - 11, cx - 260, 23);
    case res::IDC_PROGRESS: return QRect(100, cy / 2 - 11, cx - 260, 23);
    case res::IDC_BROWSE: return QRect(cx - 155, cy / 2 - 11, 60, 23);
    case res::IDC_HELP_TEXT: return QRect(180, 82, cx - 195, 33);
    case res::IDC_PREVIEW_GRID: return QRect(40, 225, cx - 80, cy - 325);
    case res::IDC_NEXT: return QRect(cx - 55, cy - 40, 50, 38);
    case res::IDC_STOP: return QRect(cx - 55, cy - 40, 50, 38);
    case res::IDC_BACK: return QRect(cx - 110, cy - 40, 50, 38);
    case res::IDC_HOMEPAGE: return QRect(cx - 133, 0, 133, 62);
    // The hidden log and file list share the grid's place.
    case res::IDC_REPAIR_LOG: return QRect(40, 225, cx - 80, cy - 325);
    default: return QRect();
    }
}

QRect CQuorvikView::ResultStatusRect(int cx, int cy)
{
    return QRect(40, cy - 94, cx - 180, 22);
}

QRect CQuorvikView::DetailsButtonRect(int cx, int cy)
{
    return QRect(cx - 130, cy - 95, 90, 24);
}

void CQuorvikView::LayoutControls(int cx, int cy)
{
    for (const int nId : {res::IDC_STATUS, res::IDC_PATH, res::IDC_PROGRESS, res::IDC_BROWSE,
                          res::IDC_HELP_TEXT, res::IDC_PREVIEW_GRID, res::IDC_NEXT, res::IDC_STOP,
                          res::IDC_BACK, res::IDC_HOMEPAGE, res::IDC_REPAIR_LOG}) {
        const QRect rc = LayoutRect(nId, cx, cy);
        // Qt refuses negative sizes; a tiny window just collapses the control.
        GetDlgItem(nId)->setGeometry(rc.x(), rc.y(), std::max(0, rc.width()), std::max(0, rc.height()));
    }
    const QRect rcGrid = LayoutRect(res::IDC_PREVIEW_GRID, cx, cy);
    m_pFileList->setGeometry(rcGrid.x(), rcGrid.y(), std::max(0, rcGrid.width()),
                             std::max(0, rcGrid.height() - 30));
    m_pSelectAll->setGeometry(rcGrid.x(), rcGrid.bottom() - 24, 100, 23);
    m_pRemove->setGeometry(rcGrid.x() + 110, rcGrid.bottom() - 24, 80, 23);
    if (m_bResultLine) {
        const QRect rc = ResultStatusRect(cx, cy);
        m_pStatus->setGeometry(rc.x(), rc.y(), std::max(0, rc.width()), rc.height());
    }
    m_pDetails->setGeometry(DetailsButtonRect(cx, cy));
}

void CQuorvikView::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    LayoutControls(width(), height());
}

void CQuorvikView::paintEvent(QPaintEvent*)
{
    if (!m_bShown && m_pHost) {
        m_pHost->WizardViewShown(this);
        m_bShown = true;
    }

    QPainter painter(this);
    const int cx = width();
    const int cy = height();
    const qreal dpr = devicePixelRatioF();

    // Top band: left and right pieces unscaled, the middle stretched between
    // them (5 pixels under the right piece so no seam shows).
    const QSize szLeft = OrvPictureSize(OrvPicture::BannerLeft);
    const QSize szRight = OrvPictureSize(OrvPicture::BannerRight);
    const int nMiddleWidth = cx - szLeft.width() - szRight.width() + 5;
    if (nMiddleWidth > 0) {
        painter.drawPixmap(QRect(szLeft.width(), 0, nMiddleWidth, kTopBandHeight),
                           OrvPixmap(OrvPicture::BannerMiddle, QSize(nMiddleWidth, kTopBandHeight), dpr));
    }
    painter.drawPixmap(0, 0, OrvPixmap(OrvPicture::BannerLeft, QSize(), dpr));
    painter.drawPixmap(cx - szRight.width(), 0, OrvPixmap(OrvPicture::BannerRight, QSize(), dpr));

    // Middle band: the background stretched from y 225 to 100 pixels above
    // the bottom.
    const int nMiddleHeight = cy - kBottomBandHeight - kMiddleBandTop;
    if (nMiddleHeight > 0 && cx > 0) {
        painter.drawPixmap(QRect(0, kMiddleBandTop, cx, nMiddleHeight),
                           OrvPixmap(OrvPicture::Background, QSize(cx, nMiddleHeight), dpr));
    }

    // Bottom band: the right piece flush right, the left piece stretched
    // over the rest; both show their lowest 100 rows.
    const QSize szFootRight = OrvPictureSize(OrvPicture::FooterRight);
    const QSize szFootLeft = OrvPictureSize(OrvPicture::FooterLeft);
    const int nFootLeftWidth = cx - szFootRight.width();
    const int nBandTop = cy - kBottomBandHeight;
    if (nFootLeftWidth > 0) {
        const QPixmap pix = OrvPixmap(OrvPicture::FooterLeft, QSize(nFootLeftWidth, szFootLeft.height()), dpr);
        const qreal ratio = pix.devicePixelRatio();
        const int nRows = std::min(kBottomBandHeight, szFootLeft.height());
        painter.drawPixmap(QRect(0, cy - nRows, nFootLeftWidth, nRows), pix,
                           QRectF(0, (szFootLeft.height() - nRows) * ratio, nFootLeftWidth * ratio, nRows * ratio));
    }
    {
        const QPixmap pix = OrvPixmap(OrvPicture::FooterRight, QSize(), dpr);
        const qreal ratio = pix.devicePixelRatio();
        const int nRows = std::min(kBottomBandHeight, szFootRight.height());
        painter.drawPixmap(QRect(cx - szFootRight.width(), nBandTop + (kBottomBandHeight - nRows),
                                 szFootRight.width(), nRows),
                           pix,
                           QRectF(0, (szFootRight.height() - nRows) * ratio, szFootRight.width() * ratio,
                                  nRows * ratio));
    }
}

// ---------------------------------------------------------------- pages

void CQuorvikView::SetPage(int nPage)
{
    if (m_nPage == nPage)
        return;
    m_nPage = nPage;
    emit pageChanged(nPage);
    UpdateSaveState();
}

void CQuorvikView::ShowSelectionPage()
{
    AssertGuiThread(this);
    ShowResultLine(false);
    m_pStatus->setText(QString::fromUtf8(kSelectPrompt));
    m_pPath->show();
    m_pBrowse->show();
    m_pButtonNext->show();
    m_pButtonStop->hide();
    SetHelpText(1);
}

void CQuorvikView::HideResultPage()
{
    AssertGuiThread(this);
    m_pGrid->hide();
    m_pLog->hide();
    m_pProgress->hide();
    m_pButtonBack->hide();
    m_pButtonStop->hide();
    m_pDetails->hide();
}

void CQuorvikView::EnterRepairingState()
{
    AssertGuiThread(this);
    ShowResultLine(false);
    m_pPath->hide();
    m_pBrowse->hide();
    m_pProgress->show();
    m_pButtonStop->show();
    m_pButtonBack->hide();
    m_pButtonNext->hide();
    SetHelpText(2);
}

void CQuorvikView::ShowResultState()
{
    AssertGuiThread(this);
    m_pButtonStop->hide();
    m_pButtonBack->show();
    m_pButtonNext->show();
    SetHelpText(3);
}

void CQuorvikView::ShowResultLine(bool bShow)
{
    // A run that failed before the preview leaves the status line where it
    // was, above the progress bar; only the grid covers its place.
    m_bResultLine = bShow && !m_pGrid->isHidden();
    m_pDetails->setVisible(bShow && g_repairOutcome == RepairOutcome::Done);
    LayoutControls(width(), height());
}

void CQuorvikView::HideStop()
{
    AssertGuiThread(this);
    m_pButtonStop->hide();
}

void CQuorvikView::SetHelpText(int nText)
{
    AssertGuiThread(this);
    if (nText >= 1 && nText <= 3)
        m_pHelp->setText(m_strHelpText[nText - 1]);
}

QString CQuorvikView::GetSelectedPathText() const
{
    return m_pPath->text();
}

void CQuorvikView::SetSelectedPathText(const QString& strPath)
{
    m_pPath->setText(strPath);
}

// ---------------------------------------------------------------- sinks

void CQuorvikView::ClearLog()
{
    AssertGuiThread(this);
    m_pLog->clear();
}

void CQuorvikView::AppendLog(const std::string& strText)
{
    AssertGuiThread(this);
    QString str = FromUtf8(strText);
    str.remove(QLatin1Char('\r'));
    m_pLog->moveCursor(QTextCursor::End);
    m_pLog->insertPlainText(str);
}

void CQuorvikView::ScrollLog(int nLines)
{
    AssertGuiThread(this);
    QScrollBar* pBar = m_pLog->verticalScrollBar();
    pBar->setValue(pBar->value() + nLines);
}

void CQuorvikView::SetStatusText(const std::string& strText)
{
    AssertGuiThread(this);
    m_pStatus->setText(FromUtf8(strText));
}

void CQuorvikView::SetProgress(int nValue)
{
    AssertGuiThread(this);
    if (nValue == 0)
        return;
    // A progress bar repaints itself at once on every new value; a burst of
    // values is shown as its last one, a few dozen times a second at most.
    m_nPendingProgress = nValue;
    if (!m_pProgressTimer->isActive())
        m_pProgressTimer->start();
}

void CQuorvikView::ResetProgress()
{
    m_pProgressTimer->stop();
    m_nPendingProgress = -1;
    m_pProgress->setValue(0);
}

int CQuorvikView::GetProgress() const
{
    return m_nPendingProgress >= 0 ? m_nPendingProgress : m_pProgress->value();
}

void CQuorvikView::ShowPreview()
{
    AssertGuiThread(this);
    m_pProgress->hide();
    m_pGrid->show();
}

MsgResult CQuorvikView::ShowMessage(const QString& strText, MsgButtons buttons, MsgIcon icon,
                                    bool bOwnedByView)
{
    return AppMessageBox(bOwnedByView ? this : nullptr, strText, buttons, icon);
}

// ---------------------------------------------------------------- runner

void CQuorvikView::OnRepairToolbar()
{
    // The toolbar's Repair button starts a run on the selection page only.
    if (m_nPage == 0)
        OnRepairFile();
}

void CQuorvikView::OnRepairFile()
{
    if (m_nPage == 1) {
        OnSaveFile();
        return;
    }
    if (m_nPage != 0)
        return;

    // The path is used as typed: Linux file names are case-sensitive. Only
    // the checks and the derived temporary and saved names use lower case.
    const std::string strSource = QFile::encodeName(GetSelectedPathText()).toStdString();
    const SourceCheck check = CRepairJob::CheckSource(strSource);
    // An empty box leaves the last run's status alone.
    if (check.eProblem != SourceProblem::NoFile)
        m_pRunner->SelectFile(strSource);
    if (!check.IsOk()) {
        const SourceMessageStyle style = StyleOf(check.eProblem);
        ShowMessage(QFile::decodeName(QByteArray::fromStdString(check.strMessage)), MsgButtons::Ok, style.icon,
                    style.bOwnedByView);
        return;
    }

    m_pSaver->BeginRun();
    EnterRepairingState();
    SetPage(1);
    ClearLog();
    m_pRunner->StartRepairThread();
    UpdateSaveState();
}

void CQuorvikView::OnRunDone(const std::shared_ptr<CRepairJob>& spJob)
{
    // A failed run saved nothing: its report would describe no table.
    const bool bDone = spJob->IsDone();
    m_report = bDone ? spJob->GetReport() : RepairReport();
    m_pSaver->TakeResult(spJob);
    m_pGrid->SetMendedCells(bDone ? spJob->GetMendedCells() : nullptr);
    QString strLine = FromUtf8(spJob->GetStatus());
    if (bDone)
        strLine += QStringLiteral(" \u2014 ") + FromUtf8(RepairReportOneLine(m_report));
    m_pStatus->setText(strLine);
    ShowResultLine(true);
    ShowResultState();
    UpdateSaveState();
    if (!spJob->GetError().empty()) {
        // A file error ended the run; say why instead of leaving a silent "Failed".
        ShowMessage(QStringLiteral("The file could not be repaired:\n%1").arg(FromUtf8(spJob->GetError())),
                    MsgButtons::Ok, MsgIcon::Error, true);
    }
    emit repairFinished();
}

void CQuorvikView::OnRunStopped()
{
    HideStop();
    SetHelpText(1);
    OnBackPage();
}

void CQuorvikView::OnStopRepairing()
{
    m_pRunner->OnStopRepairing();
}

bool CQuorvikView::IsRepairThreadAlive() const
{
    return m_pRunner->IsRepairThreadAlive();
}

bool CQuorvikView::IsRepairStartWaiting() const
{
    return m_pRunner->IsRepairStartWaiting();
}

void CQuorvikView::WhenRepairThreadsEnded(std::function<void()> fn)
{
    m_pRunner->WhenRepairThreadsEnded(std::move(fn));
}

// ---------------------------------------------------------------- commands

void CQuorvikView::OnBackPage()
{
    ResetProgress();
    if (m_nPage != 1)
        return;
    if (IsRepairRunning()) {
        ShowMessage(QStringLiteral("Firstly stop the repairing of the file to go back"), MsgButtons::Ok,
                    MsgIcon::Warning, false);
        return;
    }
    if (!ConfirmLeaveResults())
        return;
    HideResultPage();
    ShowSelectionPage();
    m_pGrid->DeleteAllItems();
    DiscardRepairedFiles();
    SetPage(0);
}

void CQuorvikView::OnAddFiles()
{
    if (m_nPage == 0)
        OnBrowse();
}

bool CQuorvikView::OnBrowse()
{
    QString strPath = GetSelectedPathText();
    if (!CFECFileDialog::Browse(this, strPath))
        return false;
    SetSelectedPathText(strPath);
    return true;
}

void CQuorvikView::OnSetting()
{
    if (!m_pHost)
        return;
    CSettingsDlg dlg(m_pHost->SavedPrefixSetting(), m_pHost->UndeleteSetting(), this);
    dlg.exec();
}

void CQuorvikView::OnHelp()
{
    QString strPath = m_strWorkingDir;
    if (!strPath.endsWith(QLatin1Char('/')))
        strPath += QLatin1Char('/');
    strPath += QString::fromUtf8(res::kHelpFileName);
    if (!QFileInfo::exists(strPath)) {
        ShowMessage(QStringLiteral(" Help file for Orvane Tamsin DBF not found."), MsgButtons::Ok,
                    MsgIcon::Information, false);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(strPath));
}

void CQuorvikView::OnDetails()
{
    if (m_pDetails->isHidden() || g_repairOutcome != RepairOutcome::Done)
        return;
    const std::string& strSource = m_report.strSource.empty() ? g_strSelectedFile : m_report.strSource;
    CReportDlg dlg(QFile::decodeName(QByteArray::fromStdString(strSource)), m_report, this);
    connect(&dlg, &CReportDlg::recordChosen, m_pGrid, &CPreviewListCtrl::ShowRow);
    dlg.exec();
}

void CQuorvikView::OnSoftwareHomePage()
{
    // Failures are not reported: the desktop's browser shows its own.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(res::kHomePageUrl)));
}

// ---------------------------------------------------------------- saving

bool CQuorvikView::CanSave() const
{
    return m_pSaver->CanSave();
}

void CQuorvikView::UpdateSaveState()
{
    m_pButtonSave->setEnabled(CanSave());
    emit saveStateChanged();
}

void CQuorvikView::OnSaveFile()
{
    m_pSaver->OnSaveFile();
}

bool CQuorvikView::ConfirmLeaveResults()
{
    return m_pSaver->ConfirmLeaveResults();
}

void CQuorvikView::DiscardRepairedFiles()
{
    m_pSaver->DiscardRepairedFiles();
}

// ---------------------------------------------------------------- drops

void CQuorvikView::dragEnterEvent(QDragEnterEvent* pEvent)
{
    if (m_nPage == 0 && !CFECFileDialog::PathBoxTextForDrop(pEvent->mimeData()).isEmpty())
        pEvent->acceptProposedAction();
}

void CQuorvikView::dropEvent(QDropEvent* pEvent)
{
    const QString strPath = CFECFileDialog::PathBoxTextForDrop(pEvent->mimeData());
    if (m_nPage != 0 || strPath.isEmpty())
        return;
    SetSelectedPathText(strPath);
    pEvent->acceptProposedAction();
}

bool CQuorvikView::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // Ctrl+A is Add Files from everywhere in the window; the path box would
    // keep it for select-all, so it is passed over there.
    if (pWatched == m_pPath && pEvent->type() == QEvent::ShortcutOverride
        && static_cast<QKeyEvent*>(pEvent)->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_A)) {
        pEvent->ignore();
        return true;
    }
    // A file dropped on the path box fills it with the path, not the URL.
    if (pWatched == m_pPath) {
        if (pEvent->type() == QEvent::DragEnter || pEvent->type() == QEvent::DragMove) {
            auto* pDrag = static_cast<QDragMoveEvent*>(pEvent);
            if (pDrag->mimeData()->hasUrls()) {
                if (m_nPage == 0 && !CFECFileDialog::PathBoxTextForDrop(pDrag->mimeData()).isEmpty())
                    pDrag->acceptProposedAction();
                else
                    pDrag->ignore();
                return true;
            }
        } else if (pEvent->type() == QEvent::Drop) {
            auto* pDrop = static_cast<QDropEvent*>(pEvent);
            if (pDrop->mimeData()->hasUrls()) {
                dropEvent(pDrop);
                return true;
            }
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}
