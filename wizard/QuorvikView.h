#pragma once
// The repair wizard that fills the main window: the user names one damaged
// table, starts its repair, watches it, looks at the salvaged rows and saves
// or drops the result.
//
// Two pages (m_nPage): 0 selects the file, 1 shows the running repair and
// then its result. The view owns every control, lays them out by fixed
// arithmetic on the client size, paints the banner, background and footer
// bands. The repair runner (wizard/RepairRunner.h) and the saving of the
// result (wizard/RepairResultSaver.h) are its parts; the view's commands
// hand on to them.
//
// Threads: the controls are touched on the GUI thread only. A repair thread
// reaches the status line, progress bar, repair log and preview grid through
// its run's CViewSinkBridge, which queues every call to this thread.

#include "repair/RepairProgressSink.h"
#include "repair/RepairReport.h"
#include "wizard/MessageBoxService.h"
#include "wizard/RepairLog.h"
#include "wizard/WizardView.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

class CPictureButton;
class CPreviewListCtrl;
class CFileListCtrl;
class CRepairJob;
class CRepairResultSaver;
class CRepairRunner;
class IWizardHost;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class CQuorvikView : public QWidget, public IRepairProgressSink, public IRepairLog, public IWizardView {
    Q_OBJECT
public:
    // The three help texts: selecting, running, finished.
    static const char* const kHelpText1;
    static const char* const kHelpText2;
    static const char* const kHelpText3;
    static const char* const kSelectPrompt;

    explicit CQuorvikView(IWizardHost* pHost, QWidget* pParent = nullptr);
    ~CQuorvikView() override;

    // 0 the selection page, 1 the repair page.
    int m_nPage = 0;

    int GetPage() const override { return m_nPage; }
    // The control with the given id (nullptr when there is none).
    QWidget* GetDlgItem(int nId) const;
    CPreviewListCtrl* GetPreviewGrid() const { return m_pGrid; }
    QString GetWorkingDirectory() const { return m_strWorkingDir; }
    // The file-name prefix of saved tables (the host's).
    QString GetPrefix() const override;
    // Whether runs bring records marked deleted back to life (the host's).
    bool GetUndelete() const override;
    // The view's own controls, for the runner and the saver.
    ViewSinkTargets GetSinkTargets() override;
    QWidget* GetDialogParent() override { return this; }

    // Page operations.
    void ShowSelectionPage();
    void HideResultPage();
    void EnterRepairingState();
    void ShowResultState();
    void HideStop();
    void SetHelpText(int nText);
    QString GetSelectedPathText() const;
    void SetSelectedPathText(const QString& strPath);

    // The repair log.
    void ClearLog();
    void AppendLog(const std::string& strText) override;
    void ScrollLog(int nLines) override;

    // The progress sink, on the GUI thread.
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nValue) override;
    void ShowPreview() override;
    // The progress bar's value, including one still to be shown.
    int GetProgress() const;

    // A message box with the program's caption; owned by the view or by no
    // window.
    MsgResult ShowMessage(const QString& strText, MsgButtons buttons, MsgIcon icon, bool bOwnedByView) override;

    // The runner and the saving of its result.
    CRepairRunner& GetRunner() const { return *m_pRunner; }
    CRepairResultSaver& GetSaver() const { return *m_pSaver; }
    // What the main frame and the tests ask of them (see there).
    bool CanSave() const;
    bool ConfirmLeaveResults();
    void DiscardRepairedFiles();
    bool IsRepairThreadAlive() const;
    bool IsRepairStartWaiting() const;
    void WhenRepairThreadsEnded(std::function<void()> fn);

    // Geometry of a control for the client size cx × cy (the layout table).
    static QRect LayoutRect(int nId, int cx, int cy);
    // On the finished page the grid covers the status line's place: the
    // status line moves under the grid, the Details button beside it.
    static QRect ResultStatusRect(int cx, int cy);
    static QRect DetailsButtonRect(int cx, int cy);

    // The finished run's report, and the button that shows it in full.
    const RepairReport& GetReport() const { return m_report; }
    QPushButton* GetDetailsButton() const { return m_pDetails; }

public slots:
    void OnRepairFile();
    void OnRepairToolbar();
    void OnStopRepairing();
    void OnSaveFile();
    void OnBackPage();
    void OnAddFiles();
    bool OnBrowse();
    void OnSetting();
    void OnHelp();
    void OnSoftwareHomePage();
    // Opens the Details dialog with the whole summary of the finished run.
    void OnDetails();

signals:
    // m_nPage changed.
    void pageChanged(int nPage);
    // A run ended and the wizard shows its result (outcome in g_repairOutcome).
    void repairFinished();
    // The last repair thread ended.
    void repairThreadsEnded();
    // CanSave() may have changed.
    void saveStateChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void CreateControls();
    void LayoutControls(int cx, int cy);
    void SetPage(int nPage);
    void ResetProgress();
    void RegisterControl(QWidget* pWidget, int nId);
    // Shows the outcome of a finished run on the repair page.
    void OnRunDone(const std::shared_ptr<CRepairJob>& spJob);
    // Back to the selection page after a confirmed Stop.
    void OnRunStopped();
    // Enables the Save button for CanSave() and tells the frame.
    void UpdateSaveState();
    // Shows or leaves the finished page's status line and Details button.
    void ShowResultLine(bool bShow);

    IWizardHost* m_pHost;
    QString m_strHelpText[3];
    QString m_strWorkingDir;
    bool m_bShown = false;

    std::map<int, QWidget*> m_controls;
    CPictureButton* m_pButtonAdd = nullptr;
    CPictureButton* m_pButtonRepair = nullptr;
    CPictureButton* m_pButtonSave = nullptr;
    CPictureButton* m_pButtonSettings = nullptr;
    CPictureButton* m_pButtonHomePage = nullptr;
    CPictureButton* m_pButtonNext = nullptr;
    CPictureButton* m_pButtonBack = nullptr;
    CPictureButton* m_pButtonStop = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pHelp = nullptr;
    QLineEdit* m_pPath = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QTimer* m_pProgressTimer = nullptr;
    int m_nPendingProgress = -1;
    CPreviewListCtrl* m_pGrid = nullptr;
    QPlainTextEdit* m_pLog = nullptr;
    CFileListCtrl* m_pFileList = nullptr;
    QCheckBox* m_pSelectAll = nullptr;
    QPushButton* m_pRemove = nullptr;
    QPushButton* m_pDetails = nullptr;
    // The status line stands under the grid (a run's result is shown).
    bool m_bResultLine = false;
    // Report of the last run that ended "Done"; GUI thread only.
    RepairReport m_report;

    // Made with the view, and the runner gone before the controls its
    // threads report to (see the destructor).
    std::unique_ptr<CRepairResultSaver> m_pSaver;
    std::unique_ptr<CRepairRunner> m_pRunner;
};
