// Records the damaged table marks deleted: the preview grid shows their rows
// greyed with a marked label and the saved table keeps them deleted, unless
// the Settings choice "Restore deleted records" brings them back to life.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"
#include "wizard/SettingsDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <set>

using namespace guitest;

namespace {

constexpr int kRecords = 12;
// First, middle and last record: where an off-by-one would show.
const std::set<int> kDeleted = {0, 5, 11};

// Sets the deletion flag of the given records (0-based) in a table file.
void MarkDeleted(const std::string& strPath, const std::set<int>& records)
{
    std::vector<unsigned char> bytes = orvtest::ReadBytes(strPath);
    const size_t nHeader = bytes[8] | (bytes[9] << 8);
    const size_t nRecord = bytes[10] | (bytes[11] << 8);
    for (const int n : records)
        bytes.at(nHeader + n * nRecord) = '*';
    orvtest::WriteBytes(strPath, bytes);
}

// The table as python3-dbfread reads it: the number of live records, then
// the NAME of each deleted one.
QStringList LiveCountAndDeletedNames(const std::string& strPath)
{
    const orvtest::CommandResult result = orvtest::RunPython(R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], load=True)
print(len(t.records))
for rec in t.deleted:
    print(rec['NAME'])
)PY",
                                                             {strPath});
    if (result.nExitCode != 0)
        return {QStringLiteral("<dbfread failed>")};
    return QString::fromUtf8(result.strOut.c_str()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class DeletedRecordsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    std::unique_ptr<CMainFrame> m_pFrame;
    std::unique_ptr<CTestMessageBoxService> m_pMessages;
    std::unique_ptr<CTestFolderChooser> m_pFolders;

    CQuorvikView& View() { return *m_pFrame->GetView(); }

    // Opens Settings the way the menu does and sets the check box.
    void ChooseUndelete(bool bOn)
    {
        bool bSeen = false;
        QTimer::singleShot(0, this, [&] {
            auto* pDlg = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
            if (!pDlg)
                return;
            bSeen = true;
            pDlg->GetUndeleteCheck()->setChecked(bOn);
            pDlg->OnOK();
        });
        View().OnSetting();
        QVERIFY(bSeen);
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        WriteSalesTable(m_pDir->File("marked.dbf"), kRecords);
        MarkDeleted(m_pDir->File("marked.dbf"), kDeleted);
    }

    void init()
    {
        ResetRunnerState();
        m_pMessages = std::make_unique<CTestMessageBoxService>();
        m_pFolders = std::make_unique<CTestFolderChooser>();
        m_pFrame = ShowTestFrame();
    }

    void cleanup()
    {
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(m_pMessages->UnansweredQuestions(), 0);
        LeaveResultPage(View());
        m_pFrame.reset();
        m_pFolders.reset();
        m_pMessages.reset();
    }

    void deletedRecordsInGridAndSavedTable_data()
    {
        QTest::addColumn<bool>("bUndelete");
        QTest::newRow("kept deleted (default)") << false;
        QTest::newRow("restored") << true;
    }
    void deletedRecordsInGridAndSavedTable()
    {
        QFETCH(bool, bUndelete);
        // Off at every start.
        QVERIFY(!m_pFrame->m_bUndelete);
        if (bUndelete) {
            ChooseUndelete(true);
            QVERIFY(m_pFrame->m_bUndelete);
        }

        View().SetSelectedPathText(Q(m_pDir->File("marked.dbf")));
        View().OnRepairFile();
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));

        CPreviewListCtrl* pGrid = View().GetPreviewGrid();
        QCOMPARE(pGrid->GetItemCount(), kRecords);
        for (int r = 0; r < kRecords; ++r) {
            const bool bMarked = !bUndelete && kDeleted.count(r) > 0;
            QCOMPARE(pGrid->IsItemDeleted(r), bMarked);
            const QString strLabel = pGrid->model()->index(r, 0).data().toString();
            QCOMPARE(strLabel, bMarked ? QStringLiteral("%1 *").arg(r + 1) : QString::number(r + 1));
            // The record itself is shown either way.
            QCOMPARE(pGrid->GetItemText(r, 1).trimmed(), QStringLiteral("Item %1").arg(r));
        }

        const std::string strOut = m_pDir->File(bUndelete ? "out-restored" : "out-kept");
        std::filesystem::create_directories(strOut);
        m_pFolders->Answer(Q(strOut));
        View().OnSaveFile();
        QVERIFY(m_pMessages->Messages().empty());
        const QStringList saved = LiveCountAndDeletedNames(strOut + "/Rep_1_marked.dbf");
        const QStringList expected = bUndelete ? QStringList{QString::number(kRecords)}
                                               : QStringList{QString::number(kRecords - 3), QStringLiteral("Item 0"),
                                                             QStringLiteral("Item 5"), QStringLiteral("Item 11")};
        QCOMPARE(saved, expected);
    }

    // The choice stays for the next runs of this program, and goes back to
    // off the same way.
    void choiceStaysUntilChanged()
    {
        ChooseUndelete(true);
        for (int nRun = 0; nRun < 2; ++nRun) {
            View().SetSelectedPathText(Q(m_pDir->File("marked.dbf")));
            View().OnRepairFile();
            QVERIFY(WaitForRepairEnd(View()));
            QVERIFY(!View().GetPreviewGrid()->IsItemDeleted(5));
            LeaveResultPage(View());
        }
        ChooseUndelete(false);
        QVERIFY(!m_pFrame->m_bUndelete);
        View().SetSelectedPathText(Q(m_pDir->File("marked.dbf")));
        View().OnRepairFile();
        QVERIFY(WaitForRepairEnd(View()));
        QVERIFY(View().GetPreviewGrid()->IsItemDeleted(5));
    }
};

QTEST_MAIN(DeletedRecordsTest)
#include "DeletedRecords_test.moc"
