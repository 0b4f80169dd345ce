// The wizard shows the run's report against the grid: the Details dialog
// lists every record the damage touched by its number in the source and
// the memos not found, choosing one shows its row, and mended cells are
// tinted with the source's bytes in their tooltip.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/ReportDlg.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBrush>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <map>

using namespace guitest;

namespace {

// A report whose listed records are the given source numbers and kinds.
RepairReport ReportOf(const std::vector<std::pair<int64_t, RepairReport::RecordLossKind>>& losses)
{
    RepairReport report;
    for (const auto& [nRecord, kind] : losses)
        report.recordLosses.push_back({nRecord, kind, 0, 0});
    return report;
}

} // namespace

class ReportInGridTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OrvInitResources(); }

    // What Details lists leads to its row (a memo not found to its record's,
    // counted past the records dropped before it); what is only counted
    // (memos or records past the lists) is a note that leads nowhere.
    void detailsEntriesLeadToRowsAndNotesToNothing_data()
    {
        QTest::addColumn<int>("memosListed");
        QTest::addColumn<int>("memosMissing");
        QTest::addColumn<int>("notListed");
        QTest::newRow("memos only counted") << 0 << 135 << 0;
        QTest::newRow("one memo counted, records not listed") << 0 << 1 << 7;
        QTest::newRow("memos listed, one more counted") << 2 << 3 << 0;
    }

    void detailsEntriesLeadToRowsAndNotesToNothing()
    {
        QFETCH(int, memosListed);
        QFETCH(int, memosMissing);
        QFETCH(int, notListed);
        RepairReport report = ReportOf({{2, RepairReport::RecordLossKind::Dropped}});
        const std::vector<RepairReport::MissingMemo> memos = {{1, "NOTES"}, {5, "NOTES"}};
        report.missingMemos.assign(memos.begin(), memos.begin() + memosListed);
        report.nMemosMissing = memosMissing;
        report.nRecordLossesNotListed = notListed;
        CReportDlg dlg(QStringLiteral("/data/t.dbf"), report);
        QTreeWidget* pList = dlg.GetEntryList();
        QSignalSpy chosen(&dlg, &CReportDlg::recordChosen);
        QStringList aNotes;
        for (int i = 0; i < pList->topLevelItemCount(); ++i) {
            const int nBefore = static_cast<int>(chosen.count());
            emit pList->itemClicked(pList->topLevelItem(i), 0);
            if (chosen.count() == nBefore)
                aNotes << pList->topLevelItem(i)->text(CReportDlg::kColumnWhat);
        }
        // The dropped record #2, then the memos of #1 and #5: rows 0 and 3.
        QCOMPARE(chosen.count(), 1 + memosListed);
        for (int i = 0; i < memosListed; ++i)
            QCOMPARE(chosen.at(1 + i).at(0).toLongLong(), i == 0 ? 0 : 3);
        const int nUnlisted = memosMissing - memosListed;
        QCOMPARE(aNotes.size(), (nUnlisted > 0 ? 1 : 0) + (notListed > 0 ? 1 : 0));
        QVERIFY(aNotes.filter(QStringLiteral(" not found")).first().startsWith(Q(GroupedNumber(nUnlisted))));
        if (notListed > 0)
            QVERIFY(aNotes.filter(QStringLiteral("not listed")).first().startsWith(Q(GroupedNumber(notListed))));
    }

    // A damaged table through the wizard: dropped records, a mended value.
    void entriesShowTheirRowsAndMendedCellsAreMarked()
    {
        orvtest::TempDir dir;
        const std::string strPristine = dir.File("pristine.dbf");
        const std::string strSource = dir.File("damaged.dbf");
        WriteSalesTable(strPristine, 40);
        std::vector<unsigned char> bytes = orvtest::ReadBytes(strPristine);
        const size_t nHeader = bytes[8] | (bytes[9] << 8);
        const size_t nRecordLength = bytes[10] | (bytes[11] << 8);
        const auto at = [&](size_t nRecord, size_t nOffset) { return nHeader + (nRecord - 1) * nRecordLength + nOffset; };
        // Records 5 and 6 zeroed whole; QTY (bytes 21 to 26) of record 20 overwritten.
        std::fill(bytes.begin() + static_cast<ptrdiff_t>(at(5, 0)), bytes.begin() + static_cast<ptrdiff_t>(at(7, 0)), 0);
        const std::string strGarbage = "x?!#@y";
        std::copy(strGarbage.begin(), strGarbage.end(), bytes.begin() + static_cast<ptrdiff_t>(at(20, 21)));
        orvtest::WriteBytes(strSource, bytes);
        // The source's names, record by record (line 0 holds the field names).
        QStringList aNames;
        for (const QString& strLine : ReadTableWithDbfread(strPristine))
            aNames << strLine.section(QLatin1Char('|'), 0, 0);

        ResetRunnerState();
        CTestMessageBoxService messages;
        auto pFrame = ShowTestFrame(1000, 760);
        CQuorvikView& view = *pFrame->GetView();
        view.SetSelectedPathText(Q(strSource));
        static_cast<QAbstractButton*>(view.GetDlgItem(res::IDC_NEXT))->click();
        QVERIFY(WaitForRepairEnd(view));
        CPreviewListCtrl* pGrid = view.GetPreviewGrid();
        QVERIFY(WaitUntil([&] { return pGrid->GetItemCount() == view.GetReport().nRecordsWritten; }));
        const RepairReport& report = view.GetReport();
        QVERIFY(report.nRecordsDropped > 0);
        QVERIFY(report.nValuesMended > 0);

        // The row that shows the source record holding this name.
        std::map<QString, int> rowOfName;
        for (int nRow = 0; nRow < pGrid->GetItemCount(); ++nRow)
            rowOfName[pGrid->GetItemText(nRow, 1).trimmed()] = nRow;

        // Tinted cells: exactly the mended ones, each with the source's bytes.
        CPreviewGridModel* pModel = pGrid->GetGridModel();
        int nTinted = 0;
        for (int nRow = 0; nRow < pModel->rowCount(); ++nRow) {
            for (int nColumn = 1; nColumn < pModel->columnCount(); ++nColumn) {
                const QModelIndex index = pModel->index(nRow, nColumn);
                if (index.data(Qt::BackgroundRole).value<QBrush>().color() != CPreviewGridModel::MendedCellBackground())
                    continue;
                ++nTinted;
                QVERIFY(pModel->GetMendedCell(nRow, nColumn));
                QVERIFY(index.data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("Mended")));
            }
        }
        QCOMPARE(nTinted, report.nValuesMended);
        const QModelIndex garbage = pModel->index(rowOfName.at(aNames[20]), 2);
        QVERIFY2(garbage.data(Qt::ToolTipRole).toString().contains(Q(strGarbage)),
                 qPrintable(garbage.data(Qt::ToolTipRole).toString()));

        // Each entry of Details shows its record's row; a dropped one the
        // row of the next record saved.
        int nChecked = 0;
        QTimer::singleShot(0, &view, [&] {
            auto* pDlg = qobject_cast<CReportDlg*>(QApplication::activeModalWidget());
            QVERIFY(pDlg);
            QTreeWidget* pList = pDlg->GetEntryList();
            QCOMPARE(pList->topLevelItemCount(), static_cast<int>(report.recordLosses.size()));
            for (const auto& loss : report.recordLosses) {
                QTreeWidgetItem* pItem = pList->topLevelItem(nChecked++);
                QCOMPARE(pItem->text(CReportDlg::kColumnRecord), Q(GroupedNumber(loss.nRecord)));
                emit pList->itemClicked(pItem, 0);
                const bool bDropped = loss.kind == RepairReport::RecordLossKind::Dropped;
                int64_t nNext = loss.nRecord;
                while (bDropped && std::any_of(report.recordLosses.begin(), report.recordLosses.end(), [&](const auto& l) {
                           return l.nRecord == nNext && l.kind == RepairReport::RecordLossKind::Dropped;
                       }))
                    ++nNext;
                const int nRow = rowOfName.at(aNames[static_cast<int>(nNext)]);
                const QRect rcRow = pGrid->visualRect(pModel->index(nRow, 0));
                QVERIFY(pGrid->viewport()->rect().contains(rcRow.center()));
                QCOMPARE(pGrid->selectionModel()->isRowSelected(nRow, QModelIndex()), !bDropped);
                QCOMPARE(pGrid->selectionModel()->hasSelection(), !bDropped);
            }
            pDlg->GetCloseButton()->click();
        });
        view.GetDetailsButton()->click();
        QCOMPARE(nChecked, static_cast<int>(report.recordLosses.size()));

        // Back leaves the result: no cell stays marked.
        messages.Answer(MsgResult::No);
        static_cast<QAbstractButton*>(view.GetDlgItem(res::IDC_BACK))->click();
        QCOMPARE(pModel->GetMendedCell(rowOfName.at(aNames[20]), 2), nullptr);
    }
};

QTEST_MAIN(ReportInGridTest)
#include "ReportInGrid_test.moc"
