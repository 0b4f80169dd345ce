#include "app/QuorvikApp.h"

#include "app/MainFrame.h"
#include "app/QuorvikDoc.h"
#include "app/SplashDlg.h"
#include "platform/ErrorReporter.h"
#include "wizard/FECFileDialog.h"
#include "wizard/MessageBoxReporter.h"
#include "wizard/QuorvikView.h"
#include "wizard/Resources.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

CQuorvikApp::CQuorvikApp(const QStringList& args, QObject* pParent)
    : QObject(pParent), m_nSplashMilliseconds(CSplashDlg::kShowMilliseconds)
{
    m_cmdInfo.ParseCommandLine(args);
}

CQuorvikApp::~CQuorvikApp()
{
    m_pMainFrame.reset();
    m_pScopedReporter.reset();
}

bool CQuorvikApp::InitInstance()
{
    OrvInitResources();
    // Started as a server the program shows nothing at all, not even the splash.
    if (m_cmdInfo.IsServerStart())
        return false;

    if (!m_cmdInfo.m_bStartMinimized) {
        m_pSplash = std::make_unique<CSplashDlg>();
        m_pSplash->show();
        QTimer::singleShot(m_nSplashMilliseconds, this, &CQuorvikApp::FinishStartup);
    } else {
        QTimer::singleShot(0, this, &CQuorvikApp::FinishStartup);
    }
    return true;
}

void CQuorvikApp::FinishStartup()
{
    // The engines report their errors in the program's message boxes.
    m_pReporter = std::make_unique<CMessageBoxReporter>(this);
    m_pScopedReporter = std::make_unique<CScopedErrorReporter>(m_pReporter.get());

    m_recentFiles.ReadList();

    const bool bOk = ProcessShellCommand();
    m_pSplash.reset();
    if (!bOk) {
        emit startupFinished(false);
        QCoreApplication::exit(1);
        return;
    }
    emit startupFinished(true);
}

bool CQuorvikApp::ProcessShellCommand()
{
    // The one new document, which makes the frame and the view.
    m_pDoc = std::make_unique<CQuorvikDoc>();
    m_pMainFrame = std::make_unique<CMainFrame>(m_pDoc.get());
    if (!m_pDoc->OnNewDocument())
        return false;

    if (m_cmdInfo.m_nShellCommand == CCommandLineInfo::FileOpen) {
        // A table named on the command line goes into the path box, by the
        // same rule as Browse.
        const QString strPath = QFileInfo(m_cmdInfo.m_strFileName).absoluteFilePath();
        if (const auto strText = CFECFileDialog::PathBoxTextFor(strPath)) {
            m_pMainFrame->GetView()->SetSelectedPathText(*strText);
            m_recentFiles.Add(*strText);
        }
    }

    if (m_cmdInfo.m_bStartMinimized)
        m_pMainFrame->showMinimized();
    else
        m_pMainFrame->showMaximized();
    return true;
}

int CQuorvikApp::ExitInstance()
{
    if (m_pMainFrame)
        m_recentFiles.WriteList();
    return 0;
}
