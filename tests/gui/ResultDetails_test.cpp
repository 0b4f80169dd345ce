// The finished page tells what the run saved and lost: "Done" or "Failed"
// with the one-line summary beside it, visible under the grid, and the
// Details dialog with the whole summary.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/ReportDlg.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>

using namespace guitest;

namespace {

// The table's header and record lengths, as its header gives them.
uint64_t RecordAreaEnd(const std::string& strPath, int nRecords)
{
    const auto bytes = orvtest::ReadBytes(strPath);
    const unsigned nHeader = bytes[8] | (bytes[9] << 8);
    const unsigned nRecord = bytes[10] | (bytes[11] << 8);
    return nHeader + uint64_t{nRecord} * nRecords;
}

void TruncateTo(const std::string& strPath, uint64_t nLength)
{
    auto bytes = orvtest::ReadBytes(strPath);
    bytes.resize(nLength);
    orvtest::WriteBytes(strPath, bytes);
}

} // namespace

class ResultDetailsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OrvInitResources(); }

    void finishedPageShowsTheReport()
    {
        struct Case {
            const char* pszName;
            std::function<void(const std::string& strTable)> fnWrite;
            const char* pszStatus;     // the status line, "" for a failed run
            const char* pszDetailText; // a line the Details dialog must hold
        };
        const Case cases[] = {
            {"clean", [](const std::string& s) { WriteSalesTable(s, 25); }, "Done \u2014 25 records",
             "Nothing was lost."},
            // The last record ends inside its first field.
            {"cut off",
             [](const std::string& s) {
                 WriteSalesTable(s, 25);
                 TruncateTo(s, RecordAreaEnd(s, 24) + 3);
             },
             "Done \u2014 24 records; 1 dropped", "1 record dropped"},
            {"memo file missing",
             [](const std::string& s) {
                 WriteMemoTable(s, 12);
                 std::filesystem::remove(s.substr(0, s.size() - 4) + ".fpt");
             },
             "Done \u2014 12 records; memo file missing", "memo file could not be read"},
            {"failed", [](const std::string& s) { orvtest::WriteBytes(s, std::vector<unsigned char>(32, 0x03)); }, "", ""},
        };
        for (const Case& c : cases) {
            ResetRunnerState();
            orvtest::TempDir dir;
            CTestMessageBoxService messages;
            CMainFrame frame;
            frame.SetQuitAction([] {});
            frame.resize(1000, 760);
            frame.show();
            CQuorvikView& view = *frame.GetView();
            const std::string strSource = dir.File("table.dbf");
            c.fnWrite(strSource);

            view.SetSelectedPathText(Q(strSource));
            static_cast<QAbstractButton*>(view.GetDlgItem(res::IDC_NEXT))->click();
            QVERIFY2(WaitForRepairEnd(view), c.pszName);

            auto* pStatus = static_cast<QLabel*>(view.GetDlgItem(res::IDC_STATUS));
            QPushButton* pDetails = view.GetDetailsButton();
            QVERIFY2(pStatus->isVisible(), c.pszName);
            // The grid must not hide the status line.
            QVERIFY2(!view.GetPreviewGrid()->isVisible()
                         || !pStatus->geometry().intersects(view.GetPreviewGrid()->geometry()),
                     c.pszName);
            if (*c.pszStatus == '\0') {
                QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Failed));
                QCOMPARE(pStatus->text(), QStringLiteral("Failed"));
                QVERIFY(!pDetails->isVisible());
                continue;
            }
            // The status itself stays exactly "Done"; the summary is beside it.
            QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
            QCOMPARE(pStatus->text(), QString::fromUtf8(c.pszStatus));
            // What the line counts is what the preview grid holds.
            const int nRows = view.GetPreviewGrid()->GetItemCount();
            QVERIFY2(pStatus->text().startsWith(QStringLiteral("Done \u2014 %1 records").arg(nRows)), c.pszName);
            QVERIFY(pDetails->isVisible());
            QVERIFY(!pDetails->geometry().intersects(view.GetPreviewGrid()->geometry()));

            QString strShown;
            bool bClosed = false;
            QTimer::singleShot(0, &view, [&] {
                auto* pDlg = qobject_cast<CReportDlg*>(QApplication::activeModalWidget());
                QVERIFY(pDlg);
                QVERIFY(pDlg->GetTextBox()->isReadOnly());
                strShown = pDlg->GetText();
                pDlg->GetCloseButton()->click();
                bClosed = !pDlg->isVisible();
            });
            pDetails->click();
            QVERIFY2(bClosed, c.pszName);
            QVERIFY2(strShown.contains(QStringLiteral("%1 records written").arg(nRows)), qPrintable(strShown));
            QVERIFY2(strShown.contains(QString::fromUtf8(c.pszDetailText)), qPrintable(strShown));

            // Back leaves the result: the prompt returns, Details goes.
            messages.Answer(MsgResult::No);
            static_cast<QAbstractButton*>(view.GetDlgItem(res::IDC_BACK))->click();
            QCOMPARE(view.GetPage(), 0);
            QCOMPARE(pStatus->text(), QString::fromUtf8(CQuorvikView::kSelectPrompt));
            QVERIFY(!pDetails->isVisible());
            QCOMPARE(messages.UnansweredQuestions(), 0);
        }
    }
};

QTEST_MAIN(ResultDetailsTest)
#include "ResultDetails_test.moc"
