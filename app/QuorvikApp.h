#pragma once
// The application object: start-up in its fixed order (splash, settings,
// document template, command line, main window), and the settings written
// back at the end.

#include "app/CommandLineInfo.h"
#include "app/RecentFileList.h"

#include <QObject>
#include <QStringList>

#include <memory>

class CMainFrame;
class CMessageBoxReporter;
class CQuorvikDoc;
class CScopedErrorReporter;
class CSplashDlg;

class CQuorvikApp : public QObject {
    Q_OBJECT
public:
    // args: the command line without the program name (Qt's own options
    // already taken out by QApplication).
    explicit CQuorvikApp(const QStringList& args, QObject* pParent = nullptr);
    ~CQuorvikApp() override;

    // Starts the program. Returns false when it should end at once: started
    // as an embedded or automation server (no window; nothing serves
    // automation clients on this platform), or the main window could not be
    // made. Otherwise the main window appears, after the splash's 2000 ms
    // unless started minimised.
    bool InitInstance();
    // Writes the settings back; returns the exit code.
    int ExitInstance();

    // Skips the splash's wait (tests).
    void SetSplashMilliseconds(int nMilliseconds) { m_nSplashMilliseconds = nMilliseconds; }

    const CCommandLineInfo& GetCommandLineInfo() const { return m_cmdInfo; }
    CRecentFileList& GetRecentFileList() { return m_recentFiles; }
    CMainFrame* GetMainFrame() const { return m_pMainFrame.get(); }
    CSplashDlg* GetSplash() const { return m_pSplash.get(); }

signals:
    // The main window is on screen (or start-up failed: bOk false).
    void startupFinished(bool bOk);

private:
    void FinishStartup();
    bool ProcessShellCommand();

    CCommandLineInfo m_cmdInfo;
    CRecentFileList m_recentFiles;
    int m_nSplashMilliseconds;
    std::unique_ptr<CSplashDlg> m_pSplash;
    std::unique_ptr<CQuorvikDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    std::unique_ptr<CMessageBoxReporter> m_pReporter;
    std::unique_ptr<CScopedErrorReporter> m_pScopedReporter;
};
