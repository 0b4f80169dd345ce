// The preview grid: the engine's grid operations, whole batches from the
// repair thread, the cell colours, rows of deleted records, and a table of
// a million rows.

#include "wizard/PreviewListCtrl.h"
#include "wizard/Resources.h"

#include <QFile>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QtTest>

#include <string>
#include <vector>

namespace {

using Table = std::vector<std::vector<std::string>>;

// The grid's content as texts, row by row, padded to the column count.
Table Contents(const CPreviewListCtrl& grid)
{
    Table table;
    for (int r = 0; r < grid.GetItemCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < grid.GetColumnCount(); ++c)
            row.push_back(grid.GetItemText(r, c).toStdString());
        table.push_back(row);
    }
    return table;
}

QColor Foreground(const CPreviewListCtrl& grid, int nRow, int nColumn)
{
    const QVariant v = grid.model()->index(nRow, nColumn).data(Qt::ForegroundRole);
    return v.isValid() ? v.value<QBrush>().color() : QColor();
}

// Which rows the grid shows as deleted records.
std::vector<bool> DeletedRows(const CPreviewListCtrl& grid)
{
    std::vector<bool> rows;
    for (int r = 0; r < grid.GetItemCount(); ++r)
        rows.push_back(grid.IsItemDeleted(r));
    return rows;
}

QColor Background(const CPreviewListCtrl& grid, int nRow, int nColumn)
{
    const QVariant v = grid.model()->index(nRow, nColumn).data(Qt::BackgroundRole);
    return v.isValid() ? v.value<QBrush>().color() : QColor();
}

// Resident memory of this process in bytes.
qint64 ResidentBytes()
{
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : -1;
}

} // namespace

class PreviewGridTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OrvInitResources(); }

    void gridOperationsBuildTheTable()
    {
        CPreviewListCtrl grid;
        grid.InsertColumn(0, QStringLiteral("Index"), 50);
        grid.InsertColumn(1, QStringLiteral("NAME"), 120);
        grid.InsertColumn(2, QStringLiteral("CITY"), 90);
        for (int r = 0; r < 5; ++r) {
            grid.InsertRow(r, std::to_string(r + 1));
            grid.SetCellText(r, 1, "name" + std::to_string(r));
            grid.SetCellText(r, 2, "city" + std::to_string(r));
        }
        QCOMPARE(grid.GetItemCount(), 5);
        QCOMPARE(grid.GetColumnCount(), 3);
        QCOMPARE(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("NAME"));
        QCOMPARE(grid.horizontalHeader()->sectionSize(0), 50);
        QCOMPARE(grid.horizontalHeader()->sectionSize(1), 120);
        QCOMPARE(grid.horizontalHeader()->sectionSize(2), 90);
        QCOMPARE(grid.GetItemText(3, 0), QStringLiteral("4"));
        QCOMPARE(grid.GetItemText(4, 2), QStringLiteral("city4"));

        // Replacing a cell with a longer and then a shorter text leaves its
        // neighbours and the following rows alone.
        grid.SetCellText(2, 1, "a much longer name than before");
        QCOMPARE(grid.GetItemText(2, 1), QStringLiteral("a much longer name than before"));
        grid.SetCellText(2, 1, "x");
        const Table expected = {{"1", "name0", "city0"}, {"2", "name1", "city1"}, {"3", "x", "city2"},
                                {"4", "name3", "city3"}, {"5", "name4", "city4"}};
        QCOMPARE(Contents(grid), expected);

        // A row inserted in the middle moves the rows below it down.
        grid.InsertRow(1, "new");
        QCOMPARE(grid.GetItemCount(), 6);
        QCOMPARE(grid.GetItemText(1, 0), QStringLiteral("new"));
        QCOMPARE(grid.GetItemText(1, 1), QString());
        QCOMPARE(grid.GetItemText(2, 1), QStringLiteral("name1"));

        // Setting a cell past the row's last cell fills the gap with empty cells.
        grid.SetCellText(1, 2, "far");
        QCOMPARE(grid.GetItemText(1, 1), QString());
        QCOMPARE(grid.GetItemText(1, 2), QStringLiteral("far"));

        // Out-of-range cells are ignored, not a crash.
        grid.SetCellText(99, 1, "nowhere");
        grid.SetCellText(-1, 1, "nowhere");
        grid.SetCellText(0, 3, "no such column");
        QCOMPARE(grid.GetItemCount(), 6);
        QCOMPARE(grid.GetItemText(99, 0), QString());
        QCOMPARE(grid.GetItemText(0, 3), QString());
        QCOMPARE(grid.GetItemText(0, 2), QStringLiteral("city0"));

        // Long texts (memo fields) keep every byte, and so do their neighbours.
        const std::string strLong(200, 'm'), strVeryLong(70000, 'v');
        grid.SetCellText(3, 1, strLong);
        grid.SetCellText(3, 2, strVeryLong);
        QCOMPARE(grid.GetItemText(3, 1).toStdString(), strLong);
        QCOMPARE(grid.GetItemText(3, 2).toStdString(), strVeryLong);
        QCOMPARE(grid.GetItemText(3, 0), QStringLiteral("3"));
        QCOMPARE(grid.GetItemText(4, 1), QStringLiteral("name3"));
        grid.SetCellText(3, 1, "short");
        QCOMPARE(grid.GetItemText(3, 2).toStdString(), strVeryLong);

        // UTF-8 texts come back as the same characters.
        grid.SetCellText(0, 1, "M\xC3\xBCller \xE2\x82\xAC");
        QCOMPARE(grid.GetItemText(0, 1), QString::fromUtf8("M\xC3\xBCller \xE2\x82\xAC"));
    }

    void clearGridLeavesNothingAndDeleteAllKeepsColumns()
    {
        CPreviewListCtrl grid;
        for (int c = 0; c < 3; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 60);
        for (int r = 0; r < 5; ++r) {
            grid.InsertRow(r, std::to_string(r));
            grid.SetCellText(r, 1, "v");
        }
        grid.ClearGrid();
        QCOMPARE(grid.GetItemCount(), 0);
        QCOMPARE(grid.GetColumnCount(), 0);
        QCOMPARE(grid.model()->rowCount(), 0);
        QCOMPARE(grid.model()->columnCount(), 0);
        QVERIFY(grid.GetGridModel()->GetMemoryBytes() < 1024);

        // A new run after clearing starts from column 0 again.
        grid.InsertColumn(0, QStringLiteral("Index"), 40);
        grid.InsertRow(0, "1");
        QCOMPARE(grid.GetItemText(0, 0), QStringLiteral("1"));

        grid.InsertColumn(1, QStringLiteral("A"), 70);
        grid.DeleteAllItems();
        QCOMPARE(grid.GetItemCount(), 0);
        QCOMPARE(grid.GetColumnCount(), 2);
        QCOMPARE(grid.horizontalHeader()->sectionSize(1), 70);
    }

    void columnInsertedInTheMiddleShiftsCells()
    {
        CPreviewListCtrl grid;
        grid.InsertColumn(0, QStringLiteral("Index"), 40);
        grid.InsertColumn(1, QStringLiteral("B"), 40);
        grid.InsertRow(0, "1");
        grid.SetCellText(0, 1, "b");
        grid.InsertRow(1, "2"); // only a label: nothing to shift
        grid.InsertColumn(1, QStringLiteral("A"), 40);
        QCOMPARE(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("A"));
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("B"));
        const Table expected = {{"1", "", "b"}, {"2", "", ""}};
        QCOMPARE(Contents(grid), expected);
    }

    // Random inserts, cell changes and batches against a plain table, over
    // enough rows that chunks fill, split and move.
    void randomOperationsMatchAPlainTable()
    {
        CPreviewListCtrl grid;
        const int nColumns = 4;
        for (int c = 0; c < nColumns; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 50);
        Table reference;
        std::vector<bool> deleted;
        QRandomGenerator random(20240611);
        // Deletion marks draw from their own generator: the operations stay
        // those of the plain-table comparison.
        QRandomGenerator marks(77);
        auto randomText = [&]() {
            std::string str(random.bounded(0, 12), 'a');
            for (char& ch : str)
                ch = static_cast<char>('a' + random.bounded(26));
            return str;
        };
        for (int nStep = 0; nStep < 12000; ++nStep) {
            const int nKind = random.bounded(10);
            if (nKind < 5 || reference.empty()) {
                const int nAt = random.bounded(static_cast<int>(reference.size()) + 1);
                const std::string strLabel = randomText();
                grid.InsertRow(nAt, strLabel);
                reference.insert(reference.begin() + nAt, {strLabel, "", "", ""});
                deleted.insert(deleted.begin() + nAt, marks.bounded(4) == 0);
                if (deleted[nAt])
                    grid.SetRowDeleted(nAt);
            } else if (nKind < 8) {
                const int nRow = random.bounded(static_cast<int>(reference.size()));
                const int nCol = random.bounded(nColumns);
                const std::string str = randomText();
                grid.SetCellText(nRow, nCol, str);
                reference[nRow][nCol] = str;
            } else {
                CPreviewRowBatch batch;
                const int nRows = random.bounded(1, 40);
                for (int r = 0; r < nRows; ++r) {
                    const std::string strLabel = randomText();
                    batch.AddRow(strLabel);
                    reference.push_back({strLabel, "", "", ""});
                    deleted.push_back(marks.bounded(4) == 0);
                    if (deleted.back())
                        batch.SetRowDeleted(r);
                }
                // Cells in any order; a later text for the same cell wins.
                for (int i = 0; i < nRows * 3; ++i) {
                    const int nRow = random.bounded(nRows);
                    const int nCol = random.bounded(nColumns);
                    const std::string str = randomText();
                    batch.SetCell(nRow, nCol, str);
                    reference[reference.size() - nRows + nRow][nCol] = str;
                }
                grid.AppendRows(batch);
            }
        }
        QCOMPARE(grid.GetItemCount(), static_cast<int>(reference.size()));
        QVERIFY(Contents(grid) == reference);
        QVERIFY(DeletedRows(grid) == deleted);
    }

    // A deleted record's row: every cell greyed, the label marked, the texts
    // themselves unchanged; its neighbours keep their look. The same whether
    // the row came alone or in a batch.
    void deletedRowsAreGreyedAndMarked_data()
    {
        QTest::addColumn<bool>("bBatch");
        QTest::newRow("row by row") << false;
        QTest::newRow("in a batch") << true;
    }
    void deletedRowsAreGreyedAndMarked()
    {
        QFETCH(bool, bBatch);
        CPreviewListCtrl grid;
        for (int c = 0; c < 3; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 50);
        CPreviewRowBatch batch;
        for (int r = 0; r < 4; ++r) {
            const std::string strLabel = std::to_string(r + 1);
            // Row 3 would be blue ("Done") if it were not deleted.
            const std::string strName = r == 2 ? "Done" : "Name " + strLabel;
            if (bBatch) {
                batch.AddRow(strLabel);
                batch.SetCell(r, 1, strName);
                if (r == 1 || r == 2)
                    batch.SetRowDeleted(r);
            } else {
                grid.InsertRow(r, strLabel);
                grid.SetCellText(r, 1, strName);
                if (r == 1 || r == 2)
                    grid.SetRowDeleted(r);
            }
        }
        if (bBatch)
            grid.AppendRows(batch);

        QVERIFY(DeletedRows(grid) == std::vector<bool>({false, true, true, false}));
        const QColor grey = CPreviewGridModel::DeletedRowForeground();
        for (const int r : {1, 2}) {
            for (int c = 0; c < 3; ++c)
                QCOMPARE(Foreground(grid, r, c), grey);
            QCOMPARE(grid.model()->index(r, 0).data().toString(), QStringLiteral("%1 *").arg(r + 1));
            QCOMPARE(grid.GetItemText(r, 0), QString::number(r + 1));
            QVERIFY(!grid.model()->index(r, 0).data(Qt::ToolTipRole).toString().isEmpty());
            // The column backgrounds stay.
            QCOMPARE(Background(grid, r, 0), QColor(245, 243, 178));
        }
        QCOMPARE(grid.model()->index(2, 1).data().toString(), QStringLiteral("Done"));
        for (const int r : {0, 3}) {
            QVERIFY(!Foreground(grid, r, 0).isValid());
            QCOMPARE(grid.model()->index(r, 0).data().toString(), QString::number(r + 1));
            QVERIFY(!grid.model()->index(r, 0).data(Qt::ToolTipRole).isValid());
        }
        QVERIFY(grey != QColor(0, 0, 0) && grey.isValid());
    }

    // Marking a row that is already shown repaints the whole row; rows
    // inserted before it carry the mark along; a cleared grid forgets it.
    void deletedMarkFollowsItsRow()
    {
        CPreviewListCtrl grid;
        for (int c = 0; c < 4; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 50);
        for (int r = 0; r < 5; ++r)
            grid.InsertRow(r, std::to_string(r + 1));
        QSignalSpy spy(grid.model(), &QAbstractItemModel::dataChanged);
        grid.SetRowDeleted(3);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].value<QModelIndex>(), grid.model()->index(3, 0));
        QCOMPARE(spy[0][1].value<QModelIndex>(), grid.model()->index(3, 3));
        // Out of range: nothing happens.
        grid.SetRowDeleted(5);
        grid.SetRowDeleted(-1);
        QCOMPARE(spy.count(), 1);

        grid.InsertRow(0, "new");
        grid.InsertRow(2, "new");
        QVERIFY(DeletedRows(grid) == std::vector<bool>({false, false, false, false, false, true, false}));
        QCOMPARE(grid.GetItemText(5, 0), QStringLiteral("4"));

        grid.DeleteAllItems();
        grid.InsertRow(0, "1");
        QVERIFY(!grid.IsItemDeleted(0));
    }

    void cellColoursFollowColumnOne()
    {
        CPreviewListCtrl grid;
        for (int c = 0; c < 8; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 50);
        const std::vector<std::string> firstFields = {
            "Done", "Done and more", "Failed", "Failure", "Progress 10%", " Done", "Pending",
            "done", "Sales"};
        for (size_t r = 0; r < firstFields.size(); ++r) {
            grid.InsertRow(static_cast<int>(r), std::to_string(r + 1));
            grid.SetCellText(static_cast<int>(r), 1, firstFields[r]);
        }
        const QColor blue(0, 0, 255), red(255, 0, 0), green(0, 255, 0), black(0, 0, 0);
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(Foreground(grid, 0, c), blue);
            QCOMPARE(Foreground(grid, 1, c), blue);
            QCOMPARE(Foreground(grid, 2, c), red);
            QCOMPARE(Foreground(grid, 3, c), red);
            QCOMPARE(Foreground(grid, 4, c), green);
            QCOMPARE(Background(grid, 4, c), black);
            QVERIFY(!Foreground(grid, 5, c).isValid()); // leading space: the list's own colour
            QCOMPARE(Foreground(grid, 6, c), black);
            QVERIFY(!Foreground(grid, 7, c).isValid()); // the words are matched as written
            QVERIFY(!Foreground(grid, 8, c).isValid());
        }
        // Backgrounds by column for a row that is not in progress.
        const QColor yellow(245, 243, 178), pink(248, 233, 243), mint(220, 242, 226);
        QCOMPARE(Background(grid, 0, 0), yellow);
        QCOMPARE(Background(grid, 0, 1), pink);
        QCOMPARE(Background(grid, 0, 3), pink);
        QCOMPARE(Background(grid, 0, 2), mint);
        QCOMPARE(Background(grid, 0, 4), mint);
        QCOMPARE(Background(grid, 0, 5), mint);
        QVERIFY(!Background(grid, 0, 6).isValid());
        QVERIFY(!Background(grid, 0, 7).isValid());
        QVERIFY(Background(grid, 0, 0) != Background(grid, 0, 1));

        // Changing column 1 recolours the whole row.
        QSignalSpy spy(grid.model(), &QAbstractItemModel::dataChanged);
        grid.SetCellText(8, 1, "Failed now");
        QCOMPARE(Foreground(grid, 8, 7), red);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].value<QModelIndex>().column(), 0);
        QCOMPARE(spy[0][1].value<QModelIndex>().column(), 7);
    }

    void paintedCellsShowTheColours()
    {
        CPreviewListCtrl grid;
        grid.resize(600, 200);
        for (int c = 0; c < 7; ++c)
            grid.InsertColumn(c, QStringLiteral("C%1").arg(c), 80);
        // Row 0 takes the current-item mark when the grid is shown; sample rows 1 and 2.
        grid.InsertRow(0, "1");
        grid.InsertRow(1, "2");
        grid.SetCellText(1, 1, "Sales");
        grid.InsertRow(2, "3");
        grid.SetCellText(2, 1, "Progress");
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        grid.clearSelection();
        const QImage image = grid.viewport()->grab().toImage();
        // Sample near the right end of each cell, away from the text.
        auto pixel = [&](int nRow, int nColumn) {
            const QRect rect = grid.visualRect(grid.model()->index(nRow, nColumn));
            return QColor(image.pixel(rect.right() - 4, rect.center().y()));
        };
        QCOMPARE(pixel(1, 0), QColor(245, 243, 178));
        QCOMPARE(pixel(1, 2), QColor(220, 242, 226));
        QCOMPARE(pixel(2, 0), QColor(0, 0, 0));
    }

    void contextMenuStaysInTheGrid()
    {
        QWidget parent;
        CPreviewListCtrl* pGrid = new CPreviewListCtrl(&parent);
        QCOMPARE(pGrid->contextMenuPolicy(), Qt::PreventContextMenu);
        QCOMPARE(pGrid->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(pGrid->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(pGrid->showGrid());
        QCOMPARE(pGrid->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    // A table of a million rows of ten columns arrives in batches; every row
    // is reachable by scrolling. Prints the model's memory.
    void millionRowsInBatches()
    {
        const int nRows = 1000000;
        const int nColumns = 10;
        const qint64 nResidentBefore = ResidentBytes();
        CPreviewListCtrl grid;
        grid.resize(800, 400);
        grid.InsertColumn(0, QStringLiteral("Index"), 60);
        for (int c = 1; c < nColumns; ++c)
            grid.InsertColumn(c, QStringLiteral("FIELD%1").arg(c), 80);

        CPreviewRowBatch batch;
        size_t nTextBytes = 0;
        char szCell[32];
        for (int r = 0; r < nRows; ++r) {
            const std::string strLabel = std::to_string(r + 1);
            batch.AddRow(strLabel);
            nTextBytes += strLabel.size();
            const int nBatchRow = batch.GetRowCount() - 1;
            for (int c = 1; c < nColumns; ++c) {
                const int nLength = std::snprintf(szCell, sizeof szCell, "%d.%02d", r, c);
                batch.SetCell(nBatchRow, c, std::string_view(szCell, static_cast<size_t>(nLength)));
                nTextBytes += static_cast<size_t>(nLength);
            }
            if (batch.GetRowCount() == 8192 || r == nRows - 1) {
                grid.AppendRows(batch);
                batch.Clear();
            }
        }
        QCOMPARE(grid.GetItemCount(), nRows);
        QCOMPARE(grid.GetItemText(nRows - 1, 0), QStringLiteral("1000000"));
        QCOMPARE(grid.GetItemText(nRows - 1, 9), QStringLiteral("999999.09"));
        QCOMPARE(grid.GetItemText(nRows / 2, 3), QStringLiteral("500000.03"));

        const size_t nModelBytes = grid.GetGridModel()->GetMemoryBytes();
        const qint64 nResidentAfter = ResidentBytes();
        qInfo("1M rows x %d columns, %.1f MiB of cell text: model holds %.1f MiB; process grew by %.1f MiB",
              nColumns, nTextBytes / 1048576.0, nModelBytes / 1048576.0,
              (nResidentAfter - nResidentBefore) / 1048576.0);
        // The text itself plus one length byte per short cell and one 32-bit
        // offset per row; no per-cell object. A little room for bookkeeping.
        const size_t nPacked = nTextBytes + size_t(nRows) * nColumns + size_t(nRows) * 4;
        QVERIFY2(nModelBytes < nPacked + nPacked / 50, qPrintable(QString::number(nModelBytes)));

        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        grid.scrollToBottom();
        QCoreApplication::processEvents();
        QCOMPARE(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());
        const QModelIndex last = grid.model()->index(nRows - 1, 9);
        QVERIFY(grid.viewport()->rect().intersects(grid.visualRect(last)));
        QCOMPARE(grid.indexAt(grid.visualRect(last).center()).row(), nRows - 1);
    }
};

QTEST_MAIN(PreviewGridTest)
#include "PreviewGrid_test.moc"
