// The program's shell: the main window's menu, accelerators, status bar and
// caption, the guarded exit, help, home page, About, Settings, the splash,
// start-up from the command line and the stored recent-file list.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/AboutDlg.h"
#include "app/CommandLineInfo.h"
#include "app/MainFrame.h"
#include "app/QuorvikApp.h"
#include "app/QuorvikDoc.h"
#include "app/RecentFileList.h"
#include "app/SplashDlg.h"
#include "platform/ErrorReporter.h"
#include "repair/RepairState.h"
#include "wizard/FECFileDialog.h"
#include "wizard/MessageBoxReporter.h"
#include "wizard/PictureButton.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"
#include "wizard/SettingsDlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

using namespace guitest;

// Catches what the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> m_urls;
public slots:
    void open(const QUrl& url) { m_urls << url; }
};

class MainFrameTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    std::unique_ptr<CQuorvikDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pFrame;
    std::unique_ptr<CTestMessageBoxService> m_pMessages;
    std::unique_ptr<CTestFolderChooser> m_pFolders;
    int m_nQuits = 0;

    CQuorvikView& View() { return *m_pFrame->GetView(); }

    void Repair(const std::string& strPath)
    {
        View().SetSelectedPathText(Q(strPath));
        View().OnRepairFile();
        QVERIFY(WaitForRepairEnd(View()));
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        // Settings go to a scratch folder, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Q(m_pDir->File("settings")));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Q(m_pDir->File("settings")));
        WriteSalesTable(m_pDir->File("sales.dbf"), 10);
        WriteLargeSalesTable(m_pDir->File("big.dbf"), 400000);
    }

    void init()
    {
        ResetRunnerState();
        m_nQuits = 0;
        m_pMessages = std::make_unique<CTestMessageBoxService>();
        m_pFolders = std::make_unique<CTestFolderChooser>();
        m_pDoc = std::make_unique<CQuorvikDoc>();
        m_pFrame = std::make_unique<CMainFrame>(m_pDoc.get());
        m_pFrame->SetQuitAction([this] { ++m_nQuits; });
        m_pDoc->OnNewDocument();
        m_pFrame->resize(1000, 700);
        m_pFrame->show();
    }

    void cleanup()
    {
        QVERIFY(WaitForRepairEnd(View(), 120000));
        QCOMPARE(m_pMessages->UnansweredQuestions(), 0);
        LeaveResultPage(View());
        m_pFrame.reset();
        m_pDoc.reset();
        m_pFolders.reset();
        m_pMessages.reset();
    }

    void captionSizeAndStatusBar()
    {
        QCOMPARE(m_pFrame->windowTitle(), QStringLiteral("Orvane Tamsin - DBF"));
        QCOMPARE(m_pFrame->minimumSize(), QSize(712, 600));
        QVERIFY(!m_pFrame->windowIcon().isNull());
        QCOMPARE(m_pFrame->GetMessagePane()->text(), QStringLiteral("Ready"));
        QCOMPARE(m_pFrame->GetIndicatorPane(0)->text(), QStringLiteral("CAP"));
        QCOMPARE(m_pFrame->GetIndicatorPane(1)->text(), QStringLiteral("NUM"));
        QCOMPARE(m_pFrame->GetIndicatorPane(2)->text(), QStringLiteral("SCRL"));
        QCOMPARE(m_pFrame->m_strPrefix, QStringLiteral("Rep"));
        // The view registers itself with the frame when it is first painted.
        QVERIFY(QTest::qWaitForWindowExposed(m_pFrame.get()));
        View().repaint();
        QCOMPARE(m_pFrame->m_pWizardView, &View());
    }

    void menuEntries()
    {
        QStringList menus;
        for (QAction* pMenuAction : m_pFrame->menuBar()->actions())
            menus << pMenuAction->text();
        QCOMPARE(menus, QStringList({QStringLiteral("&File"), QStringLiteral("Tools"), QStringLiteral("&Help")}));

        struct Entry {
            int nId;
            const char* pszText;
            QKeySequence shortcut;
            const char* pszPrompt;
        };
        const std::vector<Entry> entries = {
            {res::ID_FILE_ADD, "Add Files...", QKeySequence(QStringLiteral("Ctrl+A")), "Add files"},
            {res::ID_FILE_SAVE, "Save Files", QKeySequence(QStringLiteral("Ctrl+S")), "Save File"},
            {res::ID_APP_EXIT, "E&xit", QKeySequence(), "Quit the application; prompts to save documents"},
            {res::ID_TOOLS_SETTING, "Setting", QKeySequence(QStringLiteral("Ctrl+T")), "Setting s"},
            {res::ID_HELP_HELP, "Help", QKeySequence(QStringLiteral("F1")), "Help"},
            {res::ID_APP_ABOUT, "&About Orvane Tamsin DBF...", QKeySequence(),
             "Display program information, version number and copyright"},
            {res::ID_HELP_HOMEPAGE, "Software Home Page...", QKeySequence(), "Software Home Page..."},
        };
        for (const Entry& e : entries) {
            QAction* pAction = m_pFrame->GetCommand(e.nId);
            QVERIFY2(pAction, e.pszText);
            QCOMPARE(pAction->text(), QString::fromUtf8(e.pszText));
            QCOMPARE(pAction->shortcut(), e.shortcut);
            QCOMPARE(pAction->statusTip(), QString::fromUtf8(e.pszPrompt));
            QVERIFY2(!pAction->icon().isNull(), e.pszText);
        }
        QCOMPARE(m_pFrame->GetCommand(res::ID_NEXT_PANE)->shortcut(), QKeySequence(QStringLiteral("F6")));
        QCOMPARE(m_pFrame->GetCommand(res::ID_PREV_PANE)->shortcut(), QKeySequence(QStringLiteral("Shift+F6")));

        // Add Files only on the selection page, Save Files only elsewhere.
        QVERIFY(m_pFrame->GetCommand(res::ID_FILE_ADD)->isEnabled());
        QVERIFY(!m_pFrame->GetCommand(res::ID_FILE_SAVE)->isEnabled());
    }

    // The accelerators reach the view's commands.
    void accelerators()
    {
        QApplication::setActiveWindow(m_pFrame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_pFrame.get()));
        // F1 with no help file in the working directory.
        QTest::keyClick(m_pFrame.get(), Qt::Key_F1);
        QCOMPARE(m_pMessages->Texts(), QStringList{QStringLiteral(" Help file for Orvane Tamsin DBF not found.")});

        // Ctrl+S on the selection page is disabled; on the result page it saves.
        QTest::keyClick(m_pFrame.get(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(m_pFolders->TitlesAsked().isEmpty());
        Repair(m_pDir->File("sales.dbf"));
        QTest::keyClick(m_pFrame.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_pFolders->TitlesAsked(), QStringList{QStringLiteral("Please select the path to Save the files")});

        // Ctrl+T opens the Settings dialog on the frame's prefix.
        QTimer::singleShot(0, this, [] {
            auto* pDlg = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
            QVERIFY(pDlg);
            QCOMPARE(pDlg->GetPrefixEdit()->text(), QStringLiteral("Rep"));
            pDlg->GetPrefixEdit()->setText(QStringLiteral("Fixed"));
            pDlg->OnOK();
        });
        QTest::keyClick(m_pFrame.get(), Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(m_pFrame->m_strPrefix, QStringLiteral("Fixed"));
    }

    // Ctrl+A is Add Files wherever the focus is, the path box included
    // (which would take it for select-all).
    void addFilesFromEveryControl_data()
    {
        QTest::addColumn<int>("focus");
        QTest::newRow("path box") << int(res::IDC_PATH);
        QTest::newRow("Browse") << int(res::IDC_BROWSE);
        QTest::newRow("window") << 0;
    }

    void addFilesFromEveryControl()
    {
        QFETCH(int, focus);
        QApplication::setActiveWindow(m_pFrame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_pFrame.get()));
        const QString strTyped = Q(m_pDir->File("typed.dbf"));
        View().SetSelectedPathText(strTyped);
        QWidget* pFocus = focus ? View().GetDlgItem(focus) : static_cast<QWidget*>(m_pFrame.get());
        pFocus->setFocus();
        int nDialogs = 0;
        CFECFileDialog::SetRunnerForTests([&](CFECFileDialog&) {
            ++nDialogs;
            return int(QDialog::Rejected);
        });
        QTest::keyClick(pFocus, Qt::Key_A, Qt::ControlModifier);
        CFECFileDialog::SetRunnerForTests({});
        QCOMPARE(nDialogs, 1);
        auto* pPath = static_cast<QLineEdit*>(View().GetDlgItem(res::IDC_PATH));
        QCOMPARE(pPath->text(), strTyped);
        QVERIFY(pPath->selectedText().isEmpty());
    }

    // Closing while a repair runs is refused; the run goes on.
    void exitWhileRunning()
    {
        View().SetSelectedPathText(Q(m_pDir->File("big.dbf")));
        View().OnRepairFile();
        QVERIFY(!m_pFrame->close());
        QCOMPARE(m_pMessages->Texts(),
                 QStringList{QStringLiteral("First stop the reparing of file by clicking the stop button")});
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::None);
        QCOMPARE(m_pMessages->Messages().front().strCaption, QStringLiteral("Orvane Tamsin DBF"));
        QVERIFY(m_pFrame->isVisible());
        QVERIFY(IsRepairRunning());
        QVERIFY(WaitForRepairEnd(View(), 120000));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QCOMPARE(m_nQuits, 0);
    }

    // After an unsaved "Done": Cancel at the save question keeps the program
    // without the exit question; No, then No at the exit question keeps the
    // temporary table and does not ask about saving again; Yes ends.
    void exitWithUnsavedResult()
    {
        Repair(m_pDir->File("sales.dbf"));
        const std::string strTemp = TempTableFor("sales.dbf");
        QVERIFY(orvtest::FileExists(strTemp));
        const QString strSave = QStringLiteral("Repaired files have not been saved. Do you want to save it?");
        const QString strExit = QStringLiteral("Do you really want to exit ?");

        m_pMessages->Answer(MsgResult::Cancel);
        QVERIFY(!m_pFrame->close());
        QCOMPARE(m_pMessages->Texts(), QStringList{strSave});

        m_pMessages->Clear();
        m_pMessages->Answer(MsgResult::No);
        m_pMessages->Answer(MsgResult::No);
        QVERIFY(!m_pFrame->close());
        QCOMPARE(m_pMessages->Texts(), QStringList({strSave, strExit}));
        QCOMPARE(m_pMessages->Messages().back().buttons, MsgButtons::YesNo);
        QCOMPARE(m_pMessages->Messages().back().icon, MsgIcon::Question);
        QVERIFY(orvtest::FileExists(strTemp));
        QVERIFY(m_pFrame->isVisible());

        m_pMessages->Clear();
        m_pMessages->Answer(MsgResult::Yes);
        QVERIFY(m_pFrame->close());
        QCOMPARE(m_pMessages->Texts(), QStringList{strExit});
        QVERIFY(!orvtest::FileExists(strTemp));
        QCOMPARE(m_nQuits, 1);
    }

    // After a failed run only the exit question comes.
    void exitAfterFailedRun()
    {
        const std::string strBroken = m_pDir->File("broken.dbf");
        orvtest::WriteBytes(strBroken, std::vector<unsigned char>(32, 0x03));
        Repair(strBroken);
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Failed));
        m_pMessages->Clear();
        m_pMessages->Answer(MsgResult::Yes);
        QVERIFY(m_pFrame->close());
        QCOMPARE(m_pMessages->Texts(), QStringList{QStringLiteral("Do you really want to exit ?")});
        QCOMPARE(m_nQuits, 1);
    }

    // A stopped run that is still finishing is waited for: the program
    // quits only once it has ended.
    void exitWaitsForStoppedRun()
    {
        View().SetSelectedPathText(Q(m_pDir->File("big.dbf")));
        {
            CRepairHolder holder(3);
            View().OnRepairFile();
            QVERIFY(holder.WaitHeld());
            m_pMessages->Answer(MsgResult::Yes);
            View().OnStopRepairing();
        }
        {
            // Catch the stopped run at its next poll: it is likely still
            // finishing when the exit is confirmed.
            CRepairHolder holdAgain(0);
            m_pMessages->Answer(MsgResult::Yes);
            m_pFrame->close();
            QVERIFY(!m_pFrame->isVisible());
            QTest::qWait(100);
            if (View().IsRepairThreadAlive())
                QCOMPARE(m_nQuits, 0);
        }
        QVERIFY(WaitUntil([this] { return m_nQuits == 1; }));
        QVERIFY(!View().IsRepairThreadAlive());
        QCOMPARE(m_pMessages->Texts(), QStringList({QStringLiteral("Are you sure that you want to stop the reparing of the file"),
                                                    QStringLiteral("Do you really want to exit ?")}));
    }

    // Help looks in the working directory of the view's creation; the home
    // page goes to the vendor's page.
    void helpAndHomePage()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");

        const QString strOld = QDir::currentPath();
        const std::string strHelpDir = m_pDir->File("helpdir");
        QDir().mkpath(Q(strHelpDir));
        std::ofstream(strHelpDir + "/Orvane Tamsin for DBF.chm") << "help";
        QDir::setCurrent(Q(strHelpDir));
        CMainFrame frame;
        // Changing directory afterwards does not matter.
        QDir::setCurrent(strOld);
        frame.GetView()->OnHelp();
        QVERIFY(m_pMessages->Messages().empty());
        QCOMPARE(catcher.m_urls.size(), 1);
        QCOMPARE(catcher.m_urls.front().toLocalFile(), Q(strHelpDir + "/Orvane Tamsin for DBF.chm"));

        // The frame made in the test's own directory finds no help file.
        View().OnHelp();
        QCOMPARE(m_pMessages->Texts(), QStringList{QStringLiteral(" Help file for Orvane Tamsin DBF not found.")});
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Information);

        static_cast<QAbstractButton*>(View().GetDlgItem(res::IDC_HOMEPAGE))->click();
        m_pFrame->GetCommand(res::ID_HELP_HOMEPAGE)->trigger();
        QCOMPARE(catcher.m_urls.size(), 3);
        QCOMPARE(catcher.m_urls[1].scheme(), QStringLiteral("https"));
        QCOMPARE(catcher.m_urls[1].path(), QStringLiteral("/RED-Azudaduva-Zeze-Zovizudi-Vazadodi.php"));
        QCOMPARE(catcher.m_urls[2], catcher.m_urls[1]);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    // The engines' error reports become message boxes on the GUI thread,
    // also when they come from the repair thread.
    void engineReportsBecomeMessages()
    {
        CMessageBoxReporter reporter(QCoreApplication::instance());
        CScopedErrorReporter scoped(&reporter);
        std::thread worker([] { ReportErrorText("Error number 0x00000BBE."); });
        worker.join();
        QVERIFY(m_pMessages->Messages().empty());
        QTRY_COMPARE(m_pMessages->Texts(), QStringList{QStringLiteral("Error number 0x00000BBE.")});
        QCOMPARE(m_pMessages->Messages().front().strCaption, QStringLiteral("Orvane Tamsin DBF"));
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Warning);
        ReportErrorText("at once");
        QCOMPARE(m_pMessages->Messages().size(), size_t(2));
    }

    void aboutBoxAndSplash()
    {
        CAboutDlg about(m_pFrame.get());
        QCOMPARE(about.windowTitle(), QStringLiteral("About Orvane Tamsin DBF"));
        QCOMPARE(about.GetVersionText(), QStringLiteral("Orvane Tamsin for  DBF  Version 5.01"));
        QVERIFY(!about.GetNoticeText().isEmpty());
        QVERIFY(about.GetContactText().count(QLatin1Char('\n')) >= 1);
        QCOMPARE(about.GetOkButton()->text(), QStringLiteral("OK"));

        CSplashDlg splash;
        QCOMPARE(splash.size(), OrvPictureSize(OrvPicture::Splash) + QSize(8, 8));
        QCOMPARE(splash.GetPictureButton()->size(), splash.size());
        QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    }

    void commandLine()
    {
        struct Case {
            QStringList args;
            bool bEmbedded, bAutomated, bMinimized;
            QString strFile;
        };
        const std::vector<Case> cases = {
            {{}, false, false, false, {}},
            {{QStringLiteral("-Embedding")}, true, false, false, {}},
            {{QStringLiteral("/embedding")}, true, false, false, {}},
            {{QStringLiteral("/Automation")}, false, true, false, {}},
            {{QStringLiteral("--automation")}, false, true, false, {}},
            {{QStringLiteral("-iconic"), QStringLiteral("/home/me/Sales.DBF")}, false, false, true,
             QStringLiteral("/home/me/Sales.DBF")},
            {{QStringLiteral("/Embedding.dbf")}, false, false, false, QStringLiteral("/Embedding.dbf")},
        };
        for (const Case& c : cases) {
            CCommandLineInfo info;
            info.ParseCommandLine(c.args);
            QCOMPARE(info.m_bRunEmbedded, c.bEmbedded);
            QCOMPARE(info.m_bRunAutomated, c.bAutomated);
            QCOMPARE(info.m_bStartMinimized, c.bMinimized);
            QCOMPARE(info.m_strFileName, c.strFile);
            QCOMPARE(info.m_nShellCommand, c.strFile.isEmpty() ? CCommandLineInfo::FileNew : CCommandLineInfo::FileOpen);
        }
    }

    // Started with a table: the path box holds it, the window shows, and
    // the recent-file list (the only thing stored) keeps four entries.
    void startupWithTableAndRecentFiles()
    {
        {
            CRecentFileList list;
            list.Add(QStringLiteral("/a.dbf"));
            list.Add(QStringLiteral("/b.dbf"));
            list.Add(QStringLiteral("/c.dbf"));
            list.Add(QStringLiteral("/d.dbf"));
            list.WriteList();
        }
        const QString strTable = Q(m_pDir->File("sales.dbf"));
        CQuorvikApp app({QStringLiteral("-iconic"), strTable});
        app.SetSplashMilliseconds(0);
        QSignalSpy spy(&app, &CQuorvikApp::startupFinished);
        QVERIFY(app.InitInstance());
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.front().front().toBool(), true);
        QVERIFY(!app.GetSplash());
        CMainFrame* pFrame = app.GetMainFrame();
        QVERIFY(pFrame);
        QVERIFY(pFrame->isMinimized());
        QCOMPARE(pFrame->windowTitle(), QStringLiteral("Orvane Tamsin - DBF"));
        QCOMPARE(pFrame->GetView()->GetSelectedPathText(), strTable);
        app.ExitInstance();

        QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Orvane Tamsin DBF"));
        QCOMPARE(settings.childGroups(), QStringList{QStringLiteral("Recent File List")});
        settings.beginGroup(QStringLiteral("Recent File List"));
        QCOMPARE(settings.childKeys().size(), 4);
        QCOMPARE(settings.value(QStringLiteral("File1")).toString(), strTable);
        QCOMPARE(settings.value(QStringLiteral("File4")).toString(), QStringLiteral("/b.dbf"));

        // Started as a server: no window at all.
        CQuorvikApp server({QStringLiteral("-Embedding")});
        QVERIFY(!server.InitInstance());
        QVERIFY(!server.GetMainFrame());
        QVERIFY(!server.GetSplash());
    }

    // The program itself started as an automation server ends at once
    // without a window.
    void serverSwitchesEndTheProgram()
    {
        const std::string strProgram = orvtest::BinDir() + "/orvane-tamsin-dbf";
        if (!orvtest::FileExists(strProgram))
            QSKIP("program not built");
        for (const char* pszSwitch : {"-Embedding", "/Automation"}) {
            const auto t0 = std::chrono::steady_clock::now();
            const orvtest::CommandResult result = orvtest::Run(
                "QT_QPA_PLATFORM=offscreen timeout 20 " + orvtest::ShellQuote(strProgram) + " " + pszSwitch);
            QCOMPARE(result.nExitCode, 0);
            QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10));
        }
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrame_test.moc"
