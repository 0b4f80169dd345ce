// The sinks as a repair thread sees them: every call reaches the GUI thread
// in order, rows arrive in whole batches with their deletion marks, a GUI
// that falls behind holds the repair thread back, and a detached bridge
// drops everything without ever blocking.

#include "wizard/PreviewListCtrl.h"
#include "wizard/Resources.h"
#include "wizard/ViewSinkBridge.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// The GUI-thread side of the progress sink and the log, recording what
// arrives together with the grid's row count at that moment.
class RecordingTargets : public QObject, public IRepairProgressSink, public IRepairLog {
public:
    explicit RecordingTargets(CPreviewListCtrl* pGrid) : m_pGrid(pGrid) {}

    void SetStatusText(const std::string& strText) override { Record("status " + strText); }
    void SetProgress(int nValue) override { Record("progress " + std::to_string(nValue)); }
    void ShowPreview() override { Record("preview"); }
    void AppendLog(const std::string& strText) override { Record("log " + strText); }
    void ScrollLog(int nLines) override { Record("scroll " + std::to_string(nLines)); }

    std::vector<std::string> m_events;
    std::vector<int> m_rowsAtEvent;
    // Runs at each event, to look at the grid as it is then.
    std::function<void()> m_onEvent;
    bool m_bOffThread = false;

private:
    void Record(const std::string& str)
    {
        if (QThread::currentThread() != thread())
            m_bOffThread = true;
        m_events.push_back(str);
        m_rowsAtEvent.push_back(m_pGrid->GetItemCount());
        if (m_onEvent)
            m_onEvent();
    }
    CPreviewListCtrl* m_pGrid;
};

std::string Label(int nRow)
{
    return std::to_string(nRow + 1);
}

} // namespace

class ViewSinkBridgeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OrvInitResources(); }

    // A run's worth of calls from another thread, in order, batched.
    void callsArriveInOrderAndInBatches()
    {
        CPreviewListCtrl grid;
        RecordingTargets targets(&grid);
        auto spBridge = CViewSinkBridge::Create({&targets, &targets, &targets, &grid});
        constexpr int kRows = 20000;

        std::atomic<bool> bDone{false};
        std::thread worker([&] {
            spBridge->AppendLog("\r\n\t\tExtraction Phase 1");
            spBridge->ScrollLog(19);
            spBridge->SetStatusText("Analyzing Data........");
            for (int nValue : {3, 3, 3, 0, 7})
                spBridge->SetProgress(nValue);
            spBridge->ClearGrid();
            spBridge->InsertColumn(0, "Index");
            spBridge->InsertColumn(1, "NAME");
            spBridge->InsertColumn(2, "QTY");
            for (int r = 0; r < kRows; ++r) {
                spBridge->InsertRow(r, Label(r));
                spBridge->SetCellText(r, 1, "Item " + std::to_string(r));
                spBridge->SetCellText(r, 2, std::to_string(r * 2));
                if (r == kRows / 2)
                    spBridge->SetStatusText("Please wait....the file repairing is in process");
            }
            // A cell of a row that went out in an earlier batch.
            spBridge->SetCellText(5, 2, "changed");
            spBridge->ShowPreview();
            bDone = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(bDone.load(), 30000);
        worker.join();
        QTRY_COMPARE(targets.m_events.size(), size_t(7));

        QVERIFY(!targets.m_bOffThread);
        const std::vector<std::string> expected = {
            "log \r\n\t\tExtraction Phase 1", "scroll 19", "status Analyzing Data........", "progress 3",
            "progress 7", "status Please wait....the file repairing is in process"};
        QCOMPARE(std::vector<std::string>(targets.m_events.begin(), targets.m_events.begin() + 6), expected);
        // Everything inserted before the status text was there when it came.
        QVERIFY(targets.m_rowsAtEvent[5] >= kRows / 2 + 1);
        QCOMPARE(targets.m_events[6], std::string("preview"));
        QCOMPARE(targets.m_rowsAtEvent[6], kRows);

        QCOMPARE(grid.GetColumnCount(), 3);
        // The engine gives no widths: the grid on screen picks them.
        for (int nColumn = 0; nColumn < 3; ++nColumn)
            QCOMPARE(grid.GetGridModel()->GetColumnWidth(nColumn), 100);
        QCOMPARE(grid.GetItemCount(), kRows);
        QCOMPARE(grid.GetItemText(0, 0), QStringLiteral("1"));
        QCOMPARE(grid.GetItemText(kRows - 1, 0), QString::number(kRows));
        QCOMPARE(grid.GetItemText(kRows - 1, 1), QStringLiteral("Item %1").arg(kRows - 1));
        QCOMPARE(grid.GetItemText(5, 2), QStringLiteral("changed"));
        QCOMPARE(grid.GetItemText(6, 2), QStringLiteral("12"));
        // Whole batches, not one queued call per row.
        QVERIFY(spBridge->GetBatchesPosted() >= 2);
        QVERIFY(spBridge->GetBatchesPosted() <= kRows / 1000);
    }

    // Deletion marks reach the rows they were made for, in order with the
    // other calls: rows still being collected carry theirs in the batch, a
    // row already sent gets its own call.
    void deletedMarksTravelWithTheirRows()
    {
        CPreviewListCtrl grid;
        RecordingTargets targets(&grid);
        auto spBridge = CViewSinkBridge::Create({&targets, &targets, &targets, &grid});
        constexpr int kRows = CViewSinkBridge::kBatchRows * 2 + 100;
        std::vector<bool> expected(kRows, false);
        for (int r = 0; r < kRows; r += 7)
            expected[r] = true;
        // Each batch's first and last row, where an off-by-one would show.
        for (const int r : {CViewSinkBridge::kBatchRows - 1, CViewSinkBridge::kBatchRows, kRows - 1})
            expected[r] = true;
        expected[3] = true; // marked late, after its batch went out
        bool bRow3DeletedAtStatus = false;
        targets.m_onEvent = [&] { bRow3DeletedAtStatus = grid.IsItemDeleted(3); };

        std::thread worker([&] {
            spBridge->InsertColumn(0, "Index");
            spBridge->InsertColumn(1, "NAME");
            for (int r = 0; r < kRows; ++r) {
                spBridge->InsertRow(r, Label(r));
                spBridge->SetCellText(r, 1, "Item " + std::to_string(r));
                if (expected[r] && r != 3)
                    spBridge->SetRowDeleted(r);
            }
            spBridge->SetRowDeleted(3);
            spBridge->SetStatusText("end");
            spBridge->Flush();
        });
        worker.join();
        QTRY_COMPARE(targets.m_events.size(), size_t(1));
        QCOMPARE(targets.m_rowsAtEvent[0], kRows);
        // The late mark came before the status text that followed it.
        QCOMPARE(bRow3DeletedAtStatus, true);
        std::vector<bool> shown;
        for (int r = 0; r < grid.GetItemCount(); ++r)
            shown.push_back(grid.IsItemDeleted(r));
        QVERIFY(shown == expected);
        QCOMPARE(grid.GetItemText(kRows - 1, 1), QStringLiteral("Item %1").arg(kRows - 1));
    }

    // Rows inserted anywhere but at the end keep their place.
    void insertInTheMiddleKeepsOrder()
    {
        CPreviewListCtrl grid;
        RecordingTargets targets(&grid);
        auto spBridge = CViewSinkBridge::Create({&targets, &targets, &targets, &grid});
        std::thread worker([&] {
            spBridge->InsertColumn(0, "Index");
            spBridge->InsertRow(0, "b");
            spBridge->InsertRow(1, "c");
            spBridge->InsertRow(0, "a");
            spBridge->InsertRow(3, "d");
            spBridge->Flush();
        });
        worker.join();
        QTRY_COMPARE(grid.GetItemCount(), 4);
        QStringList labels;
        for (int r = 0; r < 4; ++r)
            labels << grid.GetItemText(r, 0);
        QCOMPARE(labels, QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    }

    // A GUI thread that does not keep up holds the repair thread back after
    // a few batches; once it catches up the rows all arrive.
    void slowGuiHoldsTheRepairThreadBack()
    {
        CPreviewListCtrl grid;
        RecordingTargets targets(&grid);
        auto spBridge = CViewSinkBridge::Create({&targets, &targets, &targets, &grid});
        constexpr int kRows = CViewSinkBridge::kBatchRows * (CViewSinkBridge::kMaxBatchesInFlight + 3);
        std::atomic<int> nRowsSent{0};
        std::thread worker([&] {
            spBridge->InsertColumn(0, "Index");
            for (int r = 0; r < kRows; ++r) {
                spBridge->InsertRow(r, Label(r));
                nRowsSent = r + 1;
            }
            spBridge->Flush();
        });
        // No event processing here: the thread must stall.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        QVERIFY(nRowsSent.load() < kRows);
        QVERIFY(nRowsSent.load() <= CViewSinkBridge::kBatchRows * (CViewSinkBridge::kMaxBatchesInFlight + 1) + 1);
        QTRY_COMPARE_WITH_TIMEOUT(nRowsSent.load(), kRows, 20000);
        worker.join();
        QTRY_COMPARE(grid.GetItemCount(), kRows);
    }

    // After Detach nothing more reaches the view, and the repair thread is
    // never held back, even with the GUI thread busy.
    void detachedBridgeDropsEverything()
    {
        CPreviewListCtrl grid;
        RecordingTargets targets(&grid);
        auto spBridge = CViewSinkBridge::Create({&targets, &targets, &targets, &grid});
        std::thread first([&] {
            spBridge->InsertColumn(0, "Index");
            spBridge->SetStatusText("before");
        });
        first.join();
        spBridge->Detach();
        std::atomic<bool> bDone{false};
        std::thread worker([&] {
            for (int r = 0; r < 100000; ++r)
                spBridge->InsertRow(r, Label(r));
            spBridge->SetStatusText("after");
            spBridge->ShowPreview();
            spBridge->Flush();
            bDone = true;
        });
        const auto t0 = std::chrono::steady_clock::now();
        while (!bDone.load() && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        worker.join();
        QVERIFY(bDone.load());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(targets.m_events.empty());
        QCOMPARE(grid.GetItemCount(), 0);
        QCOMPARE(grid.GetColumnCount(), 0);
    }
};

QTEST_MAIN(ViewSinkBridgeTest)
#include "ViewSinkBridge_test.moc"
