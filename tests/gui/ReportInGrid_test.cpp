// The wizard shows the run's report against the grid: the Details dialog
// lists every record the damage touched by its number in the source and
// the memos not found, choosing one shows its row, and mended cells are
// tinted with the source's bytes in their tooltip.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "app/Resource.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/RecordGridRows.h"
#include "wizard/ReportDlg.h"
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
#include <set>

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

    // Every record of the source is saved in order unless it was dropped;
    // a saved record's row is its place among the saved ones.
    void gridRowsOfSourceRecords_data()
    {
        QTest::addColumn<QList<qint64>>("dropped");
        QTest::addColumn<qint64>("records");
        QTest::newRow("none") << QList<qint64>{} << qint64{10};
        QTest::newRow("first") << QList<qint64>{1} << qint64{10};
        QTest::newRow("a run in the middle") << QList<qint64>{4, 5, 6} << qint64{12};
        QTest::newRow("scattered and last") << QList<qint64>{2, 7, 12} << qint64{12};
        QTest::newRow("listed out of order") << QList<qint64>{9, 3} << qint64{10};
    }

    void gridRowsOfSourceRecords()
    {
        QFETCH(QList<qint64>, dropped);
        QFETCH(qint64, records);
        std::vector<std::pair<int64_t, RepairReport::RecordLossKind>> losses;
        for (const qint64 n : dropped)
            losses.push_back({n, RepairReport::RecordLossKind::Dropped});
        const CRecordGridRows rows(ReportOf(losses));
        const std::set<qint64> droppedSet(dropped.begin(), dropped.end());
        // The saved table, record by record: the row each source record got.
        std::vector<qint64> saved;
        for (qint64 n = 1; n <= records; ++n) {
            if (!droppedSet.count(n))
                saved.push_back(n);
        }
        for (qint64 n = 1; n <= records; ++n) {
            // A dropped record's place is the row of the next saved record.
            const auto it = std::lower_bound(saved.begin(), saved.end(), n);
            QCOMPARE(rows.RowOf(n), static_cast<int64_t>(it - saved.begin()));
        }
    }

    // What is only counted (records past the list, memos not found) is a
    // note that says its count and leads nowhere.
    void detailsNotesWhatIsOnlyCounted_data()
    {
        QTest::addColumn<int>("memosMissing");
        QTest::addColumn<int>("notListed");
        QTest::newRow("memos not found") << 135 << 0;
        QTest::newRow("one memo, records not listed") << 1 << 7;
    }

    void detailsNotesWhatIsOnlyCounted()
    {
        QFETCH(int, memosMissing);
        QFETCH(int, notListed);
        RepairReport report = ReportOf({{3, RepairReport::RecordLossKind::Dropped}});
        report.nMemosMissing = memosMissing;
        report.nRecordLossesNotListed = notListed;
        CReportDlg dlg(QStringLiteral("/data/t.dbf"), report);
        QTreeWidget* pList = dlg.GetEntryList();
        QSignalSpy chosen(&dlg, &CReportDlg::recordChosen);
        QStringList aNotes;
        for (int i = 1; i < pList->topLevelItemCount(); ++i) {
            emit pList->itemClicked(pList->topLevelItem(i), 0);
            aNotes << pList->topLevelItem(i)->text(CReportDlg::kColumnWhat);
        }
        QCOMPARE(chosen.count(), 0);
        QCOMPARE(aNotes.size(), (memosMissing > 0 ? 1 : 0) + (notListed > 0 ? 1 : 0));
        QVERIFY(aNotes.filter(QStringLiteral(" not found")).first().startsWith(Q(GroupedNumber(memosMissing))));
        if (notListed > 0)
            QVERIFY(aNotes.filter(QStringLiteral("not listed")).first().startsWith(Q(GroupedNumber(notListed))));
    }

    // A listed memo not found leads to its record's row, counted past the
    // records dropped before it.
    void missingMemosLeadToTheirRows()
    {
        RepairReport report = ReportOf({{2, RepairReport::RecordLossKind::Dropped}});
        report.missingMemos = {{1, "NOTES"}, {5, "NOTES"}};
        report.nMemosMissing = 3;
        CReportDlg dlg(QStringLiteral("/data/t.dbf"), report);
        QTreeWidget* pList = dlg.GetEntryList();
        QSignalSpy chosen(&dlg, &CReportDlg::recordChosen);
        for (int i = 0; i < pList->topLevelItemCount(); ++i)
            emit pList->itemClicked(pList->topLevelItem(i), 0);
        QCOMPARE(chosen.count(), 3); // the dropped record and the two memos
        QCOMPARE(chosen.at(1).at(0).toLongLong(), 0);
        QCOMPARE(chosen.at(2).at(0).toLongLong(), 3);
        QVERIFY(pList->topLevelItem(pList->topLevelItemCount() - 1)->text(CReportDlg::kColumnWhat).startsWith("1 memo"));
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
