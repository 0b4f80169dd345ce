// Saving a repaired table: prefixed names and their collisions, the memo
// file carried along, failures of the copy and of the clean-up, Save only
// once a result waits, a result that outlives its source, and the Saving
// window.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "platform/FileFaultInjector.h"
#include "repair/RepairPaths.h"
#include "repair/RepairState.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"
#include "wizard/SavingDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <filesystem>
#include <memory>

using namespace guitest;

class SavingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    std::unique_ptr<CMainFrame> m_pFrame;
    CQuorvikView* m_pView = nullptr;
    std::unique_ptr<CTestMessageBoxService> m_pMessages;
    std::unique_ptr<CTestFolderChooser> m_pFolders;

    CQuorvikView& View() { return *m_pView; }

    void Repair(const std::string& strPath)
    {
        View().SetSelectedPathText(Q(strPath));
        View().OnRepairFile();
        QVERIFY(WaitForRepairEnd(View()));
    }

    // A fresh, empty destination folder.
    std::string NewFolder(const std::string& strName)
    {
        const std::string str = m_pDir->File(strName);
        std::filesystem::create_directories(str);
        return str;
    }

    void SaveInto(const std::string& strFolder)
    {
        m_pFolders->Answer(Q(strFolder));
        View().OnSaveFile();
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        WriteSalesTable(m_pDir->File("sales.dbf"), 12);
        WriteSalesTable(m_pDir->File("tab.dbf"), 3);
        WriteMemoTable(m_pDir->File("notes.dbf"), 6);
    }

    void init()
    {
        ResetRunnerState();
        m_pMessages = std::make_unique<CTestMessageBoxService>();
        m_pFolders = std::make_unique<CTestFolderChooser>();
        m_pFrame = ShowTestFrame();
        m_pView = m_pFrame->GetView();
    }

    void cleanup()
    {
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(m_pMessages->UnansweredQuestions(), 0);
        QCOMPARE(m_pMessages->PendingAnswers(), size_t(0));
        // Leave the result behind without questions.
        LeaveResultPage(View());
        m_pFrame.reset();
        m_pFolders.reset();
        m_pMessages.reset();
    }

    // Saving again into the same folder never overwrites: "_(1)" goes after
    // the prefix, once more each time.
    void collisionsInsertAfterPrefix()
    {
        Repair(m_pDir->File("sales.dbf"));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        const std::string strOut = NewFolder("collide");
        SaveInto(strOut);
        SaveInto(strOut);
        SaveInto(strOut);
        QVERIFY(m_pMessages->Messages().empty());
        const std::vector<std::string> expected = {"Rep_1_sales.dbf", "Rep_(1)_1_sales.dbf",
                                                   "Rep_(1)_(1)_1_sales.dbf"};
        const QStringList original = ReadTableWithDbfread(m_pDir->File("sales.dbf"));
        QCOMPARE(original.size(), 13);
        for (const std::string& strName : expected) {
            QVERIFY2(orvtest::FileExists(strOut + "/" + strName), strName.c_str());
            QCOMPARE(ReadTableWithDbfread(strOut + "/" + strName), original);
        }
        QCOMPARE(std::distance(std::filesystem::directory_iterator(strOut), {}), 3);
        // The temporary table stays until the result page is left.
        QVERIFY(orvtest::FileExists(TempTableFor("sales.dbf")));
        QVERIFY(View().GetSaver().IsResultHandled());
    }

    // The prefix is replaced wherever it occurs in the name, and a prefix
    // with a space is used as it is.
    void prefixRules()
    {
        m_pFrame->m_strPrefix = QStringLiteral("ab");
        Repair(m_pDir->File("tab.dbf"));
        const std::string strOut = NewFolder("prefix");
        SaveInto(strOut);
        SaveInto(strOut);
        QVERIFY(orvtest::FileExists(strOut + "/ab_1_tab.dbf"));
        QVERIFY(orvtest::FileExists(strOut + "/ab_(1)_1_tab_(1).dbf"));

        m_pFrame->m_strPrefix = QStringLiteral("my files");
        SaveInto(strOut);
        QVERIFY(orvtest::FileExists(strOut + "/my files_1_tab.dbf"));
        QCOMPARE(ReadTableWithDbfread(strOut + "/my files_1_tab.dbf").size(), 4);
        QVERIFY(m_pMessages->Messages().empty());
    }

    // A table with a memo file: the memo file travels with the saved table
    // under the name the table expects, and Back deletes both temporary files.
    void memoFileTravelsAlong()
    {
        Repair(m_pDir->File("notes.dbf"));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        const std::string strOut = NewFolder("memo");
        SaveInto(strOut);
        const QStringList saved = ReadTableWithDbfread(strOut + "/Rep_1_notes.dbf");
        QCOMPARE(saved.size(), 7);
        QCOMPARE(saved[0], QStringLiteral("NAME|NOTE"));
        QCOMPARE(saved[4], QStringLiteral("Row 3|Memo text number 3"));

        const std::string strTemp = TempTableFor("notes.dbf");
        const std::string strTempMemo = FindMemoCompanion(strTemp);
        QVERIFY(orvtest::FileExists(strTemp));
        QVERIFY(!strTempMemo.empty());
        View().OnBackPage();
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!orvtest::FileExists(strTemp));
        QVERIFY(!orvtest::FileExists(strTempMemo));
    }

    // A copy that fails is reported with the folder and the reason; the
    // result stays unsaved, so leaving still asks.
    void failedCopyIsReportedAndKeepsResult()
    {
        Repair(m_pDir->File("sales.dbf"));
        const std::string strMissing = m_pDir->File("no/such/folder");
        SaveInto(strMissing);
        QCOMPARE(m_pMessages->Messages().size(), size_t(1));
        const ShownMessage& msg = m_pMessages->Messages().front();
        QVERIFY(msg.strText.contains(Q(strMissing)));
        QVERIFY(msg.strText.contains(QStringLiteral("No such file or directory")));
        QCOMPARE(msg.icon, MsgIcon::Error);
        QVERIFY(!View().GetSaver().IsResultHandled());

        // The leave guard: Yes, the folder fails again, the user stays.
        m_pMessages->Clear();
        m_pMessages->Answer(MsgResult::Yes);
        m_pFolders->Answer(Q(strMissing));
        View().OnBackPage();
        QCOMPARE(View().GetPage(), 1);
        QVERIFY(orvtest::FileExists(TempTableFor("sales.dbf")));
        QCOMPARE(m_pMessages->Texts().front(),
                 QStringLiteral("Repaired files have not been saved. Do you want to save it?"));
    }

    // Every write of the save fails in turn (the copies and the renames):
    // each time the message names the saved file and the reason, nothing
    // is left in the folder, and the result stays unsaved.
    void failedWriteAtEveryCallLeavesNoHalfTable()
    {
        Repair(m_pDir->File("notes.dbf"));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        const std::string strOut = NewFolder("faulty");
        uint64_t nCall = 1;
        for (;; ++nCall) {
            m_pMessages->Clear();
            View().GetSaver().SetResultHandled(false);
            FileFault fault;
            fault.nCall = nCall;
            fault.strPathPattern = "*/faulty/*";
            CFileFaultInjector injector(fault);
            SaveInto(strOut);
            if (injector.GetStrikeCount() == 0)
                break;
            QCOMPARE(m_pMessages->Messages().size(), size_t(1));
            const QString strText = m_pMessages->Messages().front().strText;
            QVERIFY2(strText.contains(QStringLiteral("Rep_1_notes.")) && strText.contains(QStringLiteral("disk is full")),
                     qPrintable(strText));
            QVERIFY(std::filesystem::is_empty(strOut));
            QVERIFY(!View().GetSaver().IsResultHandled());
        }
        // Two copies and two renames.
        QCOMPARE(nCall - 1, uint64_t(4));
        QVERIFY(m_pMessages->Messages().empty());
        QCOMPARE(ReadTableWithDbfread(strOut + "/Rep_1_notes.dbf").size(), 7);
    }

    // A failed run or a discarded result leaves nothing to save: the user
    // is told so instead of seeing a save that did nothing.
    void nothingToSaveIsSaid()
    {
        const std::string strBroken = m_pDir->File("broken.dbf");
        orvtest::WriteBytes(strBroken, std::vector<unsigned char>(32, 0x03));
        Repair(strBroken);
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Failed));
        // No result: Save is not offered.
        QVERIFY(!View().GetDlgItem(res::IDC_SAVE)->isEnabled());
        QVERIFY(!m_pFrame->GetCommand(res::ID_FILE_SAVE)->isEnabled());
        m_pMessages->Clear();
        const std::string strOut = NewFolder("nothing");
        SaveInto(strOut);
        QCOMPARE(m_pMessages->Texts(), QStringList{QStringLiteral("There is no repaired file to save.")});
        QVERIFY(std::filesystem::is_empty(strOut));

        // A cancelled folder dialog says nothing at all.
        m_pMessages->Clear();
        m_pFolders->Answer(QString());
        View().OnSaveFile();
        QVERIFY(m_pMessages->Messages().empty());
    }

    // While a run goes Save is disabled, and a press that comes anyway (the
    // Next button's way, a direct call) is ignored: the coming result is not
    // taken as handled, so leaving after "Done" still asks about saving.
    void saveWaitsForTheRunsEnd_data()
    {
        QTest::addColumn<bool>("bExit");
        QTest::newRow("Back") << false;
        QTest::newRow("Exit") << true;
    }
    void saveWaitsForTheRunsEnd()
    {
        QFETCH(bool, bExit);
        auto* pSave = static_cast<QAbstractButton*>(View().GetDlgItem(res::IDC_SAVE));
        QAction* pCommand = m_pFrame->GetCommand(res::ID_FILE_SAVE);
        QVERIFY(!pSave->isEnabled());
        const std::string strOut = NewFolder(bExit ? "during-exit" : "during-back");
        // Whatever asks for a folder gets one: a press that is not ignored
        // would save "nothing" and count the result as handled.
        m_pFolders->Answer(Q(strOut));
        {
            CRepairHolder holder(0);
            View().SetSelectedPathText(Q(m_pDir->File("sales.dbf")));
            View().OnRepairFile();
            QVERIFY(IsRepairRunning());
            QVERIFY(!pSave->isEnabled());
            QVERIFY(!pCommand->isEnabled());
            pSave->click();
            pCommand->trigger();
            View().OnSaveFile();
            View().OnRepairFile();
            QVERIFY(m_pFolders->TitlesAsked().isEmpty());
            QVERIFY(m_pMessages->Messages().empty());
            QVERIFY(!View().GetSaver().IsResultHandled());
        }
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        QVERIFY(pSave->isEnabled());
        QVERIFY(pCommand->isEnabled());
        QVERIFY(!View().GetSaver().IsResultHandled());

        // Yes to the question saves into the folder still waiting.
        m_pMessages->Answer(MsgResult::Yes);
        if (bExit) {
            m_pMessages->Answer(MsgResult::No); // "Do you really want to exit ?"
            QVERIFY(!m_pFrame->close());
        } else {
            View().OnBackPage();
            QCOMPARE(View().GetPage(), 0);
            QVERIFY(!pSave->isEnabled());
            QVERIFY(!pCommand->isEnabled());
        }
        QCOMPARE(m_pMessages->Texts().front(),
                 QStringLiteral("Repaired files have not been saved. Do you want to save it?"));
        QVERIFY(orvtest::FileExists(strOut + "/Rep_1_sales.dbf"));
    }

    // Saving copies the temporary table the run wrote, so the result can
    // be saved (and is cleaned up) after its source was moved or deleted.
    void resultOutlivesItsSource_data()
    {
        QTest::addColumn<bool>("bDelete");
        QTest::newRow("source moved") << false;
        QTest::newRow("source deleted") << true;
    }
    void resultOutlivesItsSource()
    {
        QFETCH(bool, bDelete);
        const std::string strSource = m_pDir->File("going.dbf");
        std::filesystem::copy_file(m_pDir->File("sales.dbf"), strSource,
                                   std::filesystem::copy_options::overwrite_existing);
        const QStringList original = ReadTableWithDbfread(strSource);
        Repair(strSource);
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        if (bDelete)
            std::filesystem::remove(strSource);
        else
            std::filesystem::rename(strSource, m_pDir->File("moved.dbf"));

        const std::string strOut = NewFolder(bDelete ? "after-delete" : "after-move");
        SaveInto(strOut);
        QVERIFY(m_pMessages->Messages().empty());
        QCOMPARE(ReadTableWithDbfread(strOut + "/Rep_1_going.dbf"), original);
        QVERIFY(View().GetSaver().IsResultHandled());

        const std::string strTemp = TempTableFor("going.dbf");
        QVERIFY(orvtest::FileExists(strTemp));
        View().OnBackPage();
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(!orvtest::FileExists(strTemp));
    }

    // A temporary table that cannot be deleted is reported with its path
    // and the reason, and Back still goes back.
    void failedDeletionIsReported()
    {
        Repair(m_pDir->File("tab.dbf"));
        const std::string strTemp = TempTableFor("tab.dbf");
        // A folder in the temporary table's place cannot be unlinked.
        std::filesystem::remove(strTemp);
        std::filesystem::create_directories(strTemp + "/inside");
        m_pMessages->Answer(MsgResult::No);
        View().OnBackPage();
        QCOMPARE(View().GetPage(), 0);
        QCOMPARE(m_pMessages->Messages().size(), size_t(2));
        const ShownMessage& msg = m_pMessages->Messages().back();
        QVERIFY(msg.strText.startsWith(QStringLiteral("The temporary file could not be deleted:")));
        QVERIFY(msg.strText.contains(Q(strTemp)));
        QVERIFY(msg.strText.contains(QStringLiteral("Is a directory")));
        QCOMPARE(msg.strCaption, QStringLiteral("Orvane Tamsin DBF"));
        std::filesystem::remove_all(strTemp);
    }

    // The Saving window: caption, the file being saved, OK and Cancel,
    // visible as soon as it is made.
    void savingWindow()
    {
        CSavingDlg dlg(m_pFrame.get());
        QVERIFY(dlg.isVisible());
        QVERIFY(!dlg.isModal());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Saving"));
        QCOMPARE(dlg.GetFileText(), QString());
        dlg.SetFileText(QStringLiteral("/data/sales.dbf"));
        QCOMPARE(dlg.GetFileText(), QStringLiteral("/data/sales.dbf"));
        QStringList buttons;
        for (QPushButton* pButton : dlg.findChildren<QPushButton*>())
            buttons << pButton->text();
        buttons.sort();
        QCOMPARE(buttons, QStringList({QStringLiteral("Cancel"), QStringLiteral("OK")}));
        // Centred on its owner, give or take the window frame's margins.
        QVERIFY((dlg.frameGeometry().center() - m_pFrame->frameGeometry().center()).manhattanLength() <= 8);
    }
};

QTEST_MAIN(SavingTest)
#include "Saving_test.moc"
