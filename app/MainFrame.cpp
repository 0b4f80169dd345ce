#include "app/MainFrame.h"

#include "app/AboutDlg.h"
#include "app/QuorvikDoc.h"
#include "repair/RepairPaths.h"
#include "wizard/MessageBoxService.h"
#include "wizard/QuorvikView.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

namespace {

// The lock-key LEDs as the kernel shows them; empty when there is none.
QString FindLedFile(const QString& strSuffix)
{
    const QDir dir(QStringLiteral("/sys/class/leds"));
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& strEntry : entries) {
        if (strEntry.endsWith(strSuffix))
            return dir.filePath(strEntry + QStringLiteral("/brightness"));
    }
    return QString();
}

bool ReadLed(const QString& strPath)
{
    QFile file(strPath);
    if (strPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().trimmed() != "0";
}

} // namespace

CMainFrame::CMainFrame(CQuorvikDoc* pDoc, QWidget* pParent)
    : QMainWindow(pParent), m_strPrefix(QString::fromUtf8(kDefaultSavedPrefix)), m_pDoc(pDoc)
{
    OrvInitResources();
    m_fnQuit = [] { QCoreApplication::quit(); };
    setMinimumSize(kMinWidth, kMinHeight);

    m_pView = new CQuorvikView(this, this);
    setCentralWidget(m_pView);

    CreateStatusBar();
    CreateMenus();
    SetFrameTitle(QString::fromUtf8(res::kFrameTitle));
    setWindowIcon(OrvIcon(OrvPicture::MainIcon));

    if (m_pDoc)
        connect(m_pDoc, &CQuorvikDoc::titleChanged, this, &CMainFrame::UpdateFrameTitle);
    connect(m_pView, &CQuorvikView::pageChanged, this, &CMainFrame::UpdateCommandStates);
    connect(m_pView, &CQuorvikView::saveStateChanged, this, &CMainFrame::UpdateCommandStates);
    UpdateCommandStates();
    UpdateFrameTitle();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::AddCommand(QMenu* pMenu, int nId, const QString& strText, const QString& strPrompt,
                                const QKeySequence& shortcut)
{
    auto* pAction = new QAction(strText, this);
    pAction->setData(nId);
    pAction->setObjectName(QStringLiteral("cmd%1").arg(nId));
    if (!shortcut.isEmpty()) {
        pAction->setShortcut(shortcut);
        pAction->setShortcutContext(Qt::WindowShortcut);
    }
    pAction->setStatusTip(strPrompt);
    if (pMenu)
        pMenu->addAction(pAction);
    else
        addAction(pAction);
    m_commands[nId] = pAction;
    return pAction;
}

void CMainFrame::CreateMenus()
{
    QMenu* pFile = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* pAdd = AddCommand(pFile, res::ID_FILE_ADD, QStringLiteral("Add Files..."),
                               QStringLiteral("Add files"), QKeySequence(Qt::CTRL | Qt::Key_A));
    QAction* pSave = AddCommand(pFile, res::ID_FILE_SAVE, QStringLiteral("Save Files"),
                                QStringLiteral("Save File"), QKeySequence(Qt::CTRL | Qt::Key_S));
    pFile->addSeparator();
    QAction* pExit = AddCommand(pFile, res::ID_APP_EXIT, QStringLiteral("E&xit"),
                                QStringLiteral("Quit the application; prompts to save documents"), {});

    QMenu* pTools = menuBar()->addMenu(QStringLiteral("Tools"));
    QAction* pSetting = AddCommand(pTools, res::ID_TOOLS_SETTING, QStringLiteral("Setting"),
                                   QStringLiteral("Setting s"), QKeySequence(Qt::CTRL | Qt::Key_T));

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* pHelpHelp = AddCommand(pHelp, res::ID_HELP_HELP, QStringLiteral("Help"), QStringLiteral("Help"),
                                    QKeySequence(Qt::Key_F1));
    QAction* pAbout = AddCommand(pHelp, res::ID_APP_ABOUT, QStringLiteral("&About Orvane Tamsin DBF..."),
                                 QStringLiteral("Display program information, version number and copyright"), {});
    QAction* pHome = AddCommand(pHelp, res::ID_HELP_HOMEPAGE, QStringLiteral("Software Home Page..."),
                                QStringLiteral("Software Home Page..."), {});

    // The pane keys of a split window; this window has a single pane.
    AddCommand(nullptr, res::ID_NEXT_PANE, QStringLiteral("Next Pane"), QString(), QKeySequence(Qt::Key_F6));
    AddCommand(nullptr, res::ID_PREV_PANE, QStringLiteral("Previous Pane"), QString(),
               QKeySequence(Qt::SHIFT | Qt::Key_F6));

    pAdd->setIcon(OrvIcon(OrvPicture::MenuAddFiles));
    pSave->setIcon(OrvIcon(OrvPicture::MenuSaveFiles));
    pExit->setIcon(OrvIcon(OrvPicture::MenuExit));
    pSetting->setIcon(OrvIcon(OrvPicture::MenuSetting));
    pHelpHelp->setIcon(OrvIcon(OrvPicture::MenuHelp));
    pAbout->setIcon(OrvIcon(OrvPicture::MenuAbout));
    pHome->setIcon(OrvIcon(OrvPicture::MenuHomePage));

    // The view gets the commands it handles; the rest belong to the frame.
    connect(pAdd, &QAction::triggered, m_pView, &CQuorvikView::OnAddFiles);
    connect(pSave, &QAction::triggered, m_pView, &CQuorvikView::OnSaveFile);
    connect(pSetting, &QAction::triggered, m_pView, &CQuorvikView::OnSetting);
    connect(pHelpHelp, &QAction::triggered, m_pView, &CQuorvikView::OnHelp);
    connect(pHome, &QAction::triggered, m_pView, &CQuorvikView::OnSoftwareHomePage);
    connect(pAbout, &QAction::triggered, this, &CMainFrame::OnAppAbout);
    connect(pExit, &QAction::triggered, this, &QWidget::close);
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* pBar = statusBar();
    m_pMessagePane = new QLabel(QStringLiteral("Ready"), pBar);
    pBar->addWidget(m_pMessagePane, 1);
    const char* const apszIndicators[3] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        m_pIndicators[i] = new QLabel(QString::fromLatin1(apszIndicators[i]), pBar);
        m_pIndicators[i]->setAlignment(Qt::AlignCenter);
        m_pIndicators[i]->setMinimumWidth(m_pIndicators[i]->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12);
        m_pIndicators[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pBar->addPermanentWidget(m_pIndicators[i]);
    }
    m_pIndicatorTimer = new QTimer(this);
    m_pIndicatorTimer->setInterval(300);
    connect(m_pIndicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    m_pIndicatorTimer->start();
    UpdateIndicators();
}

void CMainFrame::UpdateIndicators()
{
    // An indicator is drawn normally while its lock is on and greyed while
    // it is off (or where the kernel shows no keyboard LEDs).
    static const QString astrLeds[3] = {FindLedFile(QStringLiteral("::capslock")),
                                        FindLedFile(QStringLiteral("::numlock")),
                                        FindLedFile(QStringLiteral("::scrolllock"))};
    for (int i = 0; i < 3; ++i)
        m_pIndicators[i]->setEnabled(ReadLed(astrLeds[i]));
}

QAction* CMainFrame::GetCommand(int nId) const
{
    const auto it = m_commands.find(nId);
    return it == m_commands.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandStates()
{
    const bool bSelecting = m_pView->GetPage() == 0;
    m_commands[res::ID_FILE_ADD]->setEnabled(bSelecting);
    // Save only while a repaired result waits and no run is going.
    m_commands[res::ID_FILE_SAVE]->setEnabled(m_pView->CanSave());
}

void CMainFrame::SetFrameTitle(const QString& strTitle)
{
    m_strFrameTitle = strTitle;
    UpdateFrameTitle();
}

void CMainFrame::UpdateFrameTitle()
{
    const QString strDoc = m_pDoc ? m_pDoc->GetTitle() : QString();
    setWindowTitle(strDoc.isEmpty() ? m_strFrameTitle : strDoc + QStringLiteral(" - ") + m_strFrameTitle);
}

void CMainFrame::SetQuitAction(std::function<void()> fnQuit)
{
    m_fnQuit = std::move(fnQuit);
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

void CMainFrame::changeEvent(QEvent* pEvent)
{
    QMainWindow::changeEvent(pEvent);
    if (pEvent->type() == QEvent::ActivationChange && isActiveWindow())
        UpdateIndicators();
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    if (m_bClosing) {
        pEvent->accept();
        return;
    }
    // A minimised window comes back before anything is asked.
    if (windowState() & Qt::WindowMinimized)
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);

    if (IsRepairRunning()) {
        AppMessageBox(this, QStringLiteral("First stop the reparing of file by clicking the stop button"),
                      MsgButtons::Ok, MsgIcon::None);
        pEvent->ignore();
        return;
    }
    if (!m_pView->ConfirmLeaveResults()) {
        pEvent->ignore();
        return;
    }
    if (AppMessageBox(this, QStringLiteral("Do you really want to exit ?"), MsgButtons::YesNo, MsgIcon::Question)
        != MsgResult::Yes) {
        pEvent->ignore();
        return;
    }

    m_pView->DiscardRepairedFiles();
    m_bClosing = true;
    // A stopped repair thread may still be finishing: the program ends
    // normally once it has, so the temporary folder is cleaned up.
    if (m_pView->IsRepairThreadAlive()) {
        pEvent->ignore();
        hide();
        m_pView->WhenRepairThreadsEnded([this] {
            close();
            if (m_fnQuit)
                m_fnQuit();
        });
        return;
    }
    pEvent->accept();
    if (m_fnQuit)
        m_fnQuit();
}
