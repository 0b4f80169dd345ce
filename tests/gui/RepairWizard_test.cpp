// The repair wizard driven like a user: a path typed, Next, the running
// repair, its result in the preview grid, saving into a folder, Back, Stop,
// and every message of starting a repair.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "platform/ErrorReporter.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"
#include "wizard/MessageBoxReporter.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

using namespace guitest;

namespace {

bool Visible(CQuorvikView& view, int nId)
{
    return view.GetDlgItem(nId)->isVisible();
}

QString Text(CQuorvikView& view, int nId)
{
    return static_cast<QLabel*>(view.GetDlgItem(nId))->text();
}

void Click(CQuorvikView& view, int nId)
{
    static_cast<QAbstractButton*>(view.GetDlgItem(nId))->click();
}

// Enough records that a run is still going well after it started.
constexpr int kBigRows = 400000;

} // namespace

class RepairWizardTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    std::unique_ptr<CMainFrame> m_pFrame;
    CQuorvikView* m_pView = nullptr;
    std::unique_ptr<CTestMessageBoxService> m_pMessages;
    std::unique_ptr<CTestFolderChooser> m_pFolders;

    CQuorvikView& View() { return *m_pView; }

    // Starts a run of strPath and waits for its result.
    void RunToEnd(const std::string& strPath)
    {
        View().SetSelectedPathText(Q(strPath));
        Click(View(), res::IDC_NEXT);
        QVERIFY(WaitForRepairEnd(View()));
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        // A big table for the runs that must still be going when Stop comes.
        WriteLargeSalesTable(m_pDir->File("big.dbf"), kBigRows);
        WriteSalesTable(m_pDir->File("small.dbf"), 40);
    }

    void init()
    {
        ResetRunnerState();
        m_pMessages = std::make_unique<CTestMessageBoxService>();
        m_pFolders = std::make_unique<CTestFolderChooser>();
        m_pFrame = ShowTestFrame(1000, 760);
        m_pView = m_pFrame->GetView();
    }

    void cleanup()
    {
        if (m_pView)
            QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(m_pMessages->UnansweredQuestions(), 0);
        m_pFrame.reset();
        m_pView = nullptr;
        m_pFolders.reset();
        m_pMessages.reset();
    }

    // Typed path with capitals, Next, running, finished with the grid
    // filled, Next saves into a folder, the saved table reads back, Back.
    void wholeRoad()
    {
        std::filesystem::create_directories(m_pDir->File("Data"));
        const std::string strSource = m_pDir->File("Data/Sales.DBF");
        WriteSalesTable(strSource, 25);
        const auto sourceBefore = orvtest::ReadBytes(strSource);

        View().SetSelectedPathText(Q(strSource));
        Click(View(), res::IDC_NEXT);

        // Running: the repair page with its progress bar and Stop.
        QCOMPARE(View().GetPage(), 1);
        QVERIFY(IsRepairRunning());
        QVERIFY(!Visible(View(), res::IDC_PATH));
        QVERIFY(!Visible(View(), res::IDC_BROWSE));
        QVERIFY(!Visible(View(), res::IDC_NEXT));
        QVERIFY(!Visible(View(), res::IDC_BACK));
        QVERIFY(Visible(View(), res::IDC_STOP));
        QCOMPARE(Text(View(), res::IDC_HELP_TEXT), QString::fromUtf8(CQuorvikView::kHelpText2));
        QVERIFY(!m_pFrame->GetCommand(res::ID_FILE_ADD)->isEnabled());
        // Nothing to save until the run is done.
        QVERIFY(!m_pFrame->GetCommand(res::ID_FILE_SAVE)->isEnabled());
        // The path is used as typed: letter case kept.
        QCOMPARE(g_strSelectedFile, strSource);

        QVERIFY(WaitForRepairEnd(View()));

        // Finished: Back and Next, the grid with every record.
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QVERIFY(Visible(View(), res::IDC_BACK));
        QVERIFY(Visible(View(), res::IDC_NEXT));
        QVERIFY(!Visible(View(), res::IDC_STOP));
        QVERIFY(!Visible(View(), res::IDC_PROGRESS));
        QVERIFY(Visible(View(), res::IDC_PREVIEW_GRID));
        QCOMPARE(Text(View(), res::IDC_HELP_TEXT), QString::fromUtf8(CQuorvikView::kHelpText3));
        QVERIFY(!View().GetSaver().IsResultHandled());
        QVERIFY(m_pFrame->GetCommand(res::ID_FILE_SAVE)->isEnabled());
        CPreviewListCtrl* pGrid = View().GetPreviewGrid();
        QCOMPARE(pGrid->GetItemCount(), 25);
        QCOMPARE(pGrid->GetColumnCount(), 6);
        QCOMPARE(pGrid->GetItemText(0, 0), QStringLiteral("1"));
        QCOMPARE(pGrid->GetItemText(24, 0), QStringLiteral("25"));
        QCOMPARE(pGrid->GetItemText(7, 1).trimmed(), QStringLiteral("Item 7"));
        QCOMPARE(pGrid->GetItemText(7, 2).trimmed(), QStringLiteral("7"));
        QCOMPARE(pGrid->GetItemText(7, 4), QStringLiteral("2020/01/08"));
        QCOMPARE(pGrid->GetItemText(7, 5), QStringLiteral("FALSE"));
        QCOMPARE(pGrid->GetItemText(8, 5), QStringLiteral("TRUE"));

        // The temporary table carries the file name in lower case.
        const std::string strTemp = TempTableFor("sales.dbf");
        QVERIFY(orvtest::FileExists(strTemp));

        // Next on the result page saves.
        const std::string strOut = m_pDir->File("out");
        std::filesystem::create_directories(strOut);
        m_pFolders->Answer(Q(strOut));
        Click(View(), res::IDC_NEXT);
        QCOMPARE(m_pFolders->TitlesAsked(), QStringList{QStringLiteral("Please select the path to Save the files")});
        const std::string strSaved = strOut + "/Rep_1_sales.dbf";
        QVERIFY(orvtest::FileExists(strSaved));
        QVERIFY(View().GetSaver().IsResultHandled());
        QCOMPARE(View().GetPage(), 1);

        const QStringList saved = ReadTableWithDbfread(strSaved);
        QCOMPARE(saved.size(), 26);
        QCOMPARE(saved[0], QStringLiteral("NAME|QTY|PRICE|SOLD|PAID"));
        QCOMPARE(saved[1], QStringLiteral("Item 0|0|0.0|2020-01-01|True"));
        QCOMPARE(saved[8], QStringLiteral("Item 7|7|8.75|2020-01-08|False"));
        QCOMPARE(saved[25], QStringLiteral("Item 24|24|30.0|2020-01-25|True"));

        // Back: the result is handled, nothing is asked; the temporary
        // table goes, the path box keeps its text.
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!orvtest::FileExists(strTemp));
        QVERIFY(Visible(View(), res::IDC_PATH));
        QVERIFY(Visible(View(), res::IDC_BROWSE));
        QCOMPARE(View().GetSelectedPathText(), Q(strSource));
        QCOMPARE(Text(View(), res::IDC_STATUS), QString::fromUtf8(CQuorvikView::kSelectPrompt));
        QCOMPARE(pGrid->GetItemCount(), 0);
        QVERIFY(m_pFrame->GetCommand(res::ID_FILE_ADD)->isEnabled());
        QVERIFY(!m_pFrame->GetCommand(res::ID_FILE_SAVE)->isEnabled());

        QVERIFY(m_pMessages->Messages().empty());
        QVERIFY(orvtest::ReadBytes(strSource) == sourceBefore);
    }

    // The checks before a run, each with its message, owner and icon: a name
    // without ".dbf" is asked about, a file that cannot be repaired names
    // the path and the system's reason.
    void startChecksAndMessages()
    {
        struct Case {
            const char* pszName;
            std::string strPath;
            QString strText;
            MsgIcon icon;
            bool bOwned;
        };
        std::ofstream(m_pDir->File("notes.txt")) << "not a table";
        std::ofstream(m_pDir->File("old.db")) << "not a table";
        std::ofstream(m_pDir->File("notes.dbf")) << "not a table";
        std::filesystem::create_directories(m_pDir->File("folder.dbf"));
        const auto reason = [&](const char* pszFile, const char* pszReason) {
            return Q(m_pDir->File(pszFile)) + QStringLiteral(": ") + QString::fromUtf8(pszReason);
        };
        const std::vector<Case> cases = {
            {"empty", "", QStringLiteral("Please select file(s) to repair"), MsgIcon::Warning, false},
            {"missing", m_pDir->File("nothere.dbf"), reason("nothere.dbf", "No such file or directory"),
             MsgIcon::Error, false},
            {"folder", m_pDir->File("folder.dbf"), reason("folder.dbf", "Is a directory"), MsgIcon::Error, false},
            {"no table", m_pDir->File("notes.dbf"),
             reason("notes.dbf", "not a DBF table (11 bytes, less than the 32 of a table header)"), MsgIcon::Error,
             false},
            {"text file", m_pDir->File("notes.txt"), QStringLiteral("Invalid File Name"), MsgIcon::Question, true},
            {".db", m_pDir->File("old.db"), QStringLiteral("Invalid File Name"), MsgIcon::Question, true},
            {"missing .txt", m_pDir->File("nothere.txt"), QStringLiteral("Invalid File Name"), MsgIcon::Question,
             true},
        };
        for (const Case& c : cases) {
            m_pMessages->Clear();
            g_repairOutcome = RepairOutcome::Done;
            View().SetSelectedPathText(Q(c.strPath));
            Click(View(), res::IDC_NEXT);
            QVERIFY2(m_pMessages->Messages().size() == 1, c.pszName);
            const ShownMessage& msg = m_pMessages->Messages().front();
            QCOMPARE(msg.strText, c.strText);
            QCOMPARE(msg.strCaption, QStringLiteral("Orvane Tamsin DBF"));
            QCOMPARE(msg.buttons, MsgButtons::Ok);
            QVERIFY2(msg.icon == c.icon, c.pszName);
            QVERIFY2(msg.bOwned == c.bOwned, c.pszName);
            QCOMPARE(View().GetPage(), 0);
            QVERIFY(!IsRepairRunning());
            // The empty path stops before the outcome is touched.
            QCOMPARE(g_repairOutcome, c.strPath.empty() ? std::optional(RepairOutcome::Done) : std::nullopt);
        }

        // A table another program holds open cannot be repaired.
        const std::string strLocked = m_pDir->File("locked.dbf");
        WriteSalesTable(strLocked, 3);
        const int fd = ::open(strLocked.c_str(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_SH | LOCK_NB), 0);
        m_pMessages->Clear();
        View().SetSelectedPathText(Q(strLocked));
        Click(View(), res::IDC_NEXT);
        ::close(fd);
        QCOMPARE(m_pMessages->Texts(),
                 QStringList{QStringLiteral("The process cannot access the file because it is used by another process.")});
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Error);
        QVERIFY(m_pMessages->Messages().front().bOwned);
        QCOMPARE(View().GetPage(), 0);

        // ".dbf" anywhere in the name is enough: a .dbf.bak starts a run.
        const std::string strBak = m_pDir->File("sales.dbf.bak");
        std::filesystem::copy_file(m_pDir->File("small.dbf"), strBak);
        m_pMessages->Clear();
        View().SetSelectedPathText(Q(strBak));
        Click(View(), res::IDC_NEXT);
        QCOMPARE(View().GetPage(), 1);
        QVERIFY(WaitForRepairEnd(View()));
        QVERIFY(m_pMessages->Messages().empty());
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QCOMPARE(View().GetPreviewGrid()->GetItemCount(), 40);
        QVERIFY(orvtest::FileExists(TempTableFor("sales.dbf.bak")));

        // The toolbar's Repair button does nothing on the result page.
        m_pMessages->Clear();
        Click(View(), res::IDC_REPAIR);
        QVERIFY(m_pMessages->Messages().empty());
        QVERIFY(m_pFolders->TitlesAsked().isEmpty());
    }

    // Stop answered No: the run goes on from where it was held and ends
    // "Done". While the question is open the engine makes no progress.
    void stopAnsweredNo()
    {
        View().SetSelectedPathText(Q(m_pDir->File("big.dbf")));
        CRepairHolder holder(3);
        Click(View(), res::IDC_NEXT);
        QVERIFY(holder.WaitHeld());
        // Let it run again: from here only the Stop question holds it.
        g_repairPauseGate.Open();

        bool bGateClosed = false;
        int nProgressBefore = -1;
        int nProgressAfter = -1;
        m_pMessages->m_onShow = [&](const ShownMessage&) {
            bGateClosed = g_repairPauseGate.IsClosed();
            nProgressBefore = g_nRepairProgress.load();
            QThread::msleep(300);
            nProgressAfter = g_nRepairProgress.load();
        };
        m_pMessages->Answer(MsgResult::No);
        Click(View(), res::IDC_STOP);
        m_pMessages->m_onShow = nullptr;

        QCOMPARE(m_pMessages->Texts(),
                 QStringList{QStringLiteral("Are you sure that you want to stop the reparing of the file")});
        QCOMPARE(m_pMessages->Messages().front().buttons, MsgButtons::YesNoCancel);
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Question);
        QVERIFY(!m_pMessages->Messages().front().bOwned);
        QVERIFY(bGateClosed);
        QCOMPARE(nProgressAfter, nProgressBefore);
        QVERIFY(!g_repairPauseGate.IsClosed());
        QVERIFY(IsRepairRunning());
        QCOMPARE(View().GetPage(), 1);

        QVERIFY(WaitForRepairEnd(View(), 120000));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QCOMPARE(View().GetPreviewGrid()->GetItemCount(), kBigRows);
        QCOMPARE(View().GetPreviewGrid()->GetItemText(kBigRows - 1, 1).trimmed(), QStringLiteral("Item %1").arg((kBigRows - 1) % 16));
    }

    // Stop answered Yes: back on the selection page at once, the stopped
    // run ends quietly, its temporary table is deleted.
    void stopAnsweredYes()
    {
        const std::string strSource = m_pDir->File("big.dbf");
        View().SetSelectedPathText(Q(strSource));
        CRepairHolder holder(3);
        Click(View(), res::IDC_NEXT);
        QVERIFY(holder.WaitHeld());

        m_pMessages->Answer(MsgResult::Yes);
        Click(View(), res::IDC_STOP);
        QVERIFY(!g_repairPauseGate.IsClosed());

        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!IsRepairRunning());
        QVERIFY(Visible(View(), res::IDC_PATH));
        QVERIFY(Visible(View(), res::IDC_BROWSE));
        QVERIFY(Visible(View(), res::IDC_NEXT));
        QVERIFY(!Visible(View(), res::IDC_STOP));
        QVERIFY(!Visible(View(), res::IDC_PROGRESS));
        QVERIFY(!Visible(View(), res::IDC_PREVIEW_GRID));
        QCOMPARE(Text(View(), res::IDC_HELP_TEXT), QString::fromUtf8(CQuorvikView::kHelpText1));
        QCOMPARE(View().GetSelectedPathText(), Q(strSource));

        QVERIFY(WaitForRepairEnd(View()));
        // Nothing of the stopped run reached the view after the stop.
        QCOMPARE(Text(View(), res::IDC_STATUS), QString::fromUtf8(CQuorvikView::kSelectPrompt));
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!Visible(View(), res::IDC_BACK));
        QVERIFY(!g_bRepairStopped.load());
        QCOMPARE(g_repairOutcome, std::optional<RepairOutcome>());
        QVERIFY(!orvtest::FileExists(TempTableFor("big.dbf")));
        // Only the question was shown; leaving asked nothing.
        QCOMPARE(m_pMessages->Messages().size(), size_t(1));
    }

    // A new start right after a confirmed Stop waits for the stopped run to
    // end; the two never write the temporary table at the same time, and
    // the new run keeps its own flags and ends "Done".
    void restartWhileStoppedRunFinishes()
    {
        const std::string strSource = m_pDir->File("big.dbf");
        int nWaited = 0;
        for (int nAttempt = 0; nAttempt < 5 && nWaited == 0; ++nAttempt) {
            ResetRunnerState();
            View().SetSelectedPathText(Q(strSource));
            {
                CRepairHolder holder(3);
                Click(View(), res::IDC_NEXT);
                QVERIFY(holder.WaitHeld());
                m_pMessages->Answer(MsgResult::Yes);
                Click(View(), res::IDC_STOP);
            }
            QCOMPARE(View().GetPage(), 0);
            {
                // Catch the stopped run at its next poll so that it is
                // likely still finishing when the new start comes.
                CRepairHolder holdAgain(0);
                Click(View(), res::IDC_NEXT);
                QCOMPARE(View().GetPage(), 1);
                QVERIFY(IsRepairRunning());
                if (View().IsRepairStartWaiting()) {
                    ++nWaited;
                    QCOMPARE(View().GetProgress(), 0);
                }
            }
            QVERIFY(WaitForRepairEnd(View(), 120000));
            QVERIFY(!View().IsRepairStartWaiting());
            QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
            QVERIFY(!g_bRepairStopped.load());
            QCOMPARE(View().GetPreviewGrid()->GetItemCount(), kBigRows);
            QVERIFY(orvtest::FileExists(TempTableFor("big.dbf")));
            m_pMessages->Answer(MsgResult::No);
            Click(View(), res::IDC_BACK);
            QCOMPARE(View().GetPage(), 0);
        }
        QVERIFY2(nWaited > 0, "the stopped run always ended before the new start");
    }

    // Back refuses while a repair runs.
    void backWhileRunning()
    {
        View().SetSelectedPathText(Q(m_pDir->File("big.dbf")));
        Click(View(), res::IDC_NEXT);
        View().OnBackPage();
        QCOMPARE(m_pMessages->Texts(), QStringList{QStringLiteral("Firstly stop the repairing of the file to go back")});
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Warning);
        QVERIFY(!m_pMessages->Messages().front().bOwned);
        QCOMPARE(View().GetPage(), 1);
        QVERIFY(IsRepairRunning());
        QVERIFY(WaitForRepairEnd(View(), 120000));
        m_pMessages->Answer(MsgResult::No);
        Click(View(), res::IDC_BACK);
    }

    // Back after an unsaved "Done": Cancel stays, Yes with a cancelled
    // folder stays, No leaves and deletes the temporary table without
    // asking again.
    void backWithUnsavedResult()
    {
        RunToEnd(m_pDir->File("small.dbf"));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        const std::string strTemp = TempTableFor("small.dbf");
        QVERIFY(orvtest::FileExists(strTemp));
        const QString strQuestion = QStringLiteral("Repaired files have not been saved. Do you want to save it?");

        m_pMessages->Answer(MsgResult::Cancel);
        Click(View(), res::IDC_BACK);
        QCOMPARE(m_pMessages->Texts(), QStringList{strQuestion});
        QCOMPARE(m_pMessages->Messages().back().buttons, MsgButtons::YesNoCancel);
        QCOMPARE(m_pMessages->Messages().back().icon, MsgIcon::Question);
        QVERIFY(!m_pMessages->Messages().back().bOwned);
        QCOMPARE(View().GetPage(), 1);

        m_pMessages->Answer(MsgResult::Yes);
        m_pFolders->Answer(QString());
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 1);
        QVERIFY(orvtest::FileExists(strTemp));

        m_pMessages->Answer(MsgResult::No);
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!orvtest::FileExists(strTemp));
        QCOMPARE(m_pMessages->Texts(), QStringList({strQuestion, strQuestion, strQuestion}));
        QCOMPARE(View().GetSelectedPathText(), Q(m_pDir->File("small.dbf")));

        // Back on the selection page only resets the progress bar.
        m_pMessages->Clear();
        Click(View(), res::IDC_NEXT);
        QVERIFY(WaitForRepairEnd(View()));
        m_pMessages->Answer(MsgResult::Yes);
        const std::string strOut = m_pDir->File("back-yes");
        std::filesystem::create_directories(strOut);
        m_pFolders->Answer(Q(strOut));
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(orvtest::FileExists(strOut + "/Rep_1_small.dbf"));
        QVERIFY(!orvtest::FileExists(strTemp));
    }

    // Back after a failed run goes straight back with the path box filled.
    void backAfterFailedRun()
    {
        // A table header and nothing after it: a table, but none to repair.
        const std::string strBroken = m_pDir->File("broken.dbf");
        orvtest::WriteBytes(strBroken, std::vector<unsigned char>(32, 0x03));
        RunToEnd(strBroken);
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Failed));
        QVERIFY(Visible(View(), res::IDC_BACK));
        m_pMessages->Clear();
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(m_pMessages->Messages().empty());
        QCOMPARE(View().GetSelectedPathText(), Q(strBroken));
    }

    // An error the engine reports during the run reaches the user as a
    // message box on the GUI thread, and the run ends "Failed".
    void engineErrorIsShown()
    {
        CMessageBoxReporter reporter(QCoreApplication::instance());
        CScopedErrorReporter scoped(&reporter);
        // A folder where the repaired table must go: the table cannot be made.
        const std::string strTemp = TempTableFor("tab.dbf");
        std::filesystem::create_directories(strTemp + "/inside");
        WriteSalesTable(m_pDir->File("tab.dbf"), 3);
        RunToEnd(m_pDir->File("tab.dbf"));
        QTRY_COMPARE(m_pMessages->Messages().size(), size_t(1));
        std::filesystem::remove_all(strTemp);
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Failed));
        QVERIFY(Visible(View(), res::IDC_BACK));
        const ShownMessage& msg = m_pMessages->Messages().front();
        // The message names the file and the system's reason.
        QVERIFY2(msg.strText.contains(Q(strTemp)) && msg.strText.contains(QStringLiteral("Is a directory")),
                 qPrintable(msg.strText));
        QCOMPARE(msg.strCaption, QStringLiteral("Orvane Tamsin DBF"));
        Click(View(), res::IDC_BACK);
        QCOMPARE(View().GetPage(), 0);
    }

    // A leftover temporary table of the same name is replaced by the run.
    void leftoverTemporaryTableIsReplaced()
    {
        const std::string strTemp = TempTableFor("small.dbf");
        orvtest::WriteBytes(strTemp, std::vector<unsigned char>(5000, 'x'));
        RunToEnd(m_pDir->File("small.dbf"));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QCOMPARE(ReadTableWithDbfread(strTemp).size(), 41);
        m_pMessages->Answer(MsgResult::No);
        Click(View(), res::IDC_BACK);
    }
};

QTEST_MAIN(RepairWizardTest)
#include "RepairWizard_test.moc"
