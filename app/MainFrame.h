#pragma once
// The main window: menu with icons and accelerators, the status bar with
// the message pane and the CAP, NUM and SCRL indicators, the caption
// "Orvane Tamsin - DBF", and the guarded exit procedure. The wizard view
// fills the client area and receives every command first.

#include "wizard/WizardHost.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>

class CQuorvikDoc;
class CQuorvikView;
class QAction;
class QLabel;
class QTimer;

class CMainFrame : public QMainWindow, public IWizardHost {
    Q_OBJECT
public:
    static constexpr int kMinWidth = 712;
    static constexpr int kMinHeight = 600;

    explicit CMainFrame(CQuorvikDoc* pDoc = nullptr, QWidget* pParent = nullptr);
    ~CMainFrame() override;

    // The file-name prefix of saved tables; "Rep" at every start, changed
    // only by the Settings dialog, never stored.
    QString m_strPrefix;
    // Repairs bring records marked deleted back to life; off at every
    // start, changed only by the Settings dialog, never stored.
    bool m_bUndelete = false;
    // The wizard view; it registers itself here on its first paint.
    CQuorvikView* m_pWizardView = nullptr;

    // The wizard view's settings and its first paint.
    QString& SavedPrefixSetting() override { return m_strPrefix; }
    bool& UndeleteSetting() override { return m_bUndelete; }
    void WizardViewShown(CQuorvikView* pView) override { m_pWizardView = pView; }

    // The view that fills the frame (made with the frame).
    CQuorvikView* GetView() const { return m_pView; }
    // The menu command with the given id (nullptr when there is none).
    QAction* GetCommand(int nId) const;
    // The status bar's message pane and lock-key indicators.
    QLabel* GetMessagePane() const { return m_pMessagePane; }
    QLabel* GetIndicatorPane(int nIndex) const { return m_pIndicators[nIndex]; }
    // Sets the window caption from the document title and the frame title.
    void UpdateFrameTitle();
    void SetFrameTitle(const QString& strTitle);
    QString GetFrameTitle() const { return m_strFrameTitle; }

    // Called once the exit is confirmed and every repair thread has ended;
    // the program quits normally by default. Tests replace it.
    void SetQuitAction(std::function<void()> fnQuit);

public slots:
    void OnAppAbout();

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void CreateMenus();
    void CreateStatusBar();
    void UpdateCommandStates();
    void UpdateIndicators();
    QAction* AddCommand(class QMenu* pMenu, int nId, const QString& strText, const QString& strPrompt,
                        const QKeySequence& shortcut);

    CQuorvikDoc* m_pDoc;
    CQuorvikView* m_pView;
    QString m_strFrameTitle;
    std::map<int, QAction*> m_commands;
    QLabel* m_pMessagePane = nullptr;
    QLabel* m_pIndicators[3] = {nullptr, nullptr, nullptr};
    QTimer* m_pIndicatorTimer = nullptr;
    std::function<void()> m_fnQuit;
    bool m_bClosing = false;
};
