// Browse: the open-file dialog as it is set up and the extension rule that
// decides what reaches the path box; the hidden file list's columns.

#include "support/TestSupport.h"
#include "wizard/FECFileDialog.h"
#include "wizard/FileListCtrl.h"
#include "wizard/Resources.h"

#include <QHeaderView>
#include <QtTest>

class FileSelectionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OrvInitResources(); }

    void cleanup() { CFECFileDialog::SetRunnerForTests({}); }

    void extensionRule_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("fills");
        QTest::newRow("lower case") << "/data/sales.dbf" << true;
        QTest::newRow("capitals") << "/data/SALES.DBF" << true;
        QTest::newRow("mixed case") << "/data/Sales.DbF" << true;
        QTest::newRow("two dots") << "/data/sales.2020.dbf" << true;
        QTest::newRow("text file") << "/data/notes.txt" << false;
        QTest::newRow("dbf before the last dot") << "/data/sales.dbf.bak" << false;
        QTest::newRow("no extension") << "/data/sales" << false;
        QTest::newRow("dot only in a folder") << "/data/old.dbf/sales" << false;
        QTest::newRow("memo file") << "/data/sales.fpt" << false;
        QTest::newRow("longer extension") << "/data/sales.dbfx" << false;
    }

    void extensionRule()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, fills);
        const std::optional<QString> strText = CFECFileDialog::PathBoxTextFor(chosen);
        QCOMPARE(strText.has_value(), fills);
        if (fills)
            QCOMPARE(*strText, chosen);
    }

    void filterBecomesTheDialogsNameFilters()
    {
        const QStringList aFilters =
            CFECFileDialog::FilterToNameFilters(QString::fromLatin1(CFECFileDialog::kFilter));
        // The captions as they stand: the dialog reads the patterns from them.
        QCOMPARE(aFilters, QStringList({QStringLiteral("DBF Files(*.dbf)"), QStringLiteral(" All Files(*.*)")}));
        QCOMPARE(CFECFileDialog::FilterToNameFilters(QStringLiteral("Tables|*.dbf;*.DBF||")),
                 QStringList({QStringLiteral("Tables (*.dbf *.DBF)")}));
        QVERIFY(CFECFileDialog::FilterToNameFilters(QString()).isEmpty());
    }

    // Browse with a chosen file, driven through the dialog as the program
    // sets it up; the runner stands in for the user.
    void browseFillsThePathBoxOnlyForDbfFiles()
    {
        orvtest::TempDir dir;
        const QString strFolder = QString::fromStdString(dir.Path());
        const QString strDbf = strFolder + QStringLiteral("/SALES.DBF");
        const QString strTxt = strFolder + QStringLiteral("/notes.txt");
        orvtest::WriteBytes(strDbf.toStdString(), {0x03});
        orvtest::WriteBytes(strTxt.toStdString(), {'x'});

        QString strSeenTitle;
        QStringList aSeenFilters;
        QFileDialog::FileMode seenMode = QFileDialog::AnyFile;
        QString strPick = strDbf;
        CFECFileDialog::SetRunnerForTests([&](CFECFileDialog& dialog) {
            strSeenTitle = dialog.windowTitle();
            aSeenFilters = dialog.nameFilters();
            seenMode = dialog.fileMode();
            dialog.selectFile(strPick);
            return int(QDialog::Accepted);
        });

        QString strPathBox = QStringLiteral("previous text");
        QVERIFY(CFECFileDialog::Browse(nullptr, strPathBox));
        QCOMPARE(strPathBox, strDbf);
        QCOMPARE(strSeenTitle, QStringLiteral("Select corrupted file to repair..."));
        QCOMPARE(aSeenFilters.size(), 2);
        QCOMPARE(aSeenFilters[0], QStringLiteral("DBF Files(*.dbf)"));
        QVERIFY2(aSeenFilters[1].endsWith(QStringLiteral("All Files(*.*)")), qPrintable(aSeenFilters[1]));
        QCOMPARE(seenMode, QFileDialog::ExistingFile);

        // A text file through "All Files": no message, the box keeps its text.
        strPathBox = QStringLiteral("previous text");
        strPick = strTxt;
        QVERIFY(!CFECFileDialog::Browse(nullptr, strPathBox));
        QCOMPARE(strPathBox, QStringLiteral("previous text"));

        // Cancel changes nothing.
        CFECFileDialog::SetRunnerForTests([](CFECFileDialog&) { return int(QDialog::Rejected); });
        QVERIFY(!CFECFileDialog::Browse(nullptr, strPathBox));
        QCOMPARE(strPathBox, QStringLiteral("previous text"));
    }

    void fileListHasItsColumnsAndIcons()
    {
        CFileListCtrl list;
        QCOMPARE(list.columnCount(), 7);
        const QStringList aHeadings = {"File Name",        "File Location",     "File Size", "Creation Time",
                                       "Last Access Time", "Last written Time", "File Type"};
        const QList<int> aWidths = {130, 240, 100, 120, 120, 130, 200};
        QCOMPARE(list.GetImageList().size(), 7);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(list.headerItem()->text(i), aHeadings[i]);
            QCOMPARE(list.header()->sectionSize(i), aWidths[i]);
            QVERIFY(!list.GetImageList()[i].isNull());
            const QImage icon = list.headerItem()->icon(i).pixmap(16, 16).toImage();
            QCOMPARE(icon.size(), QSize(16, 16));
            // Each heading shows its own picture.
            for (int j = 0; j < i; ++j)
                QVERIFY(icon != list.headerItem()->icon(j).pixmap(16, 16).toImage());
        }
        QCOMPARE(list.selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list.topLevelItemCount(), 0);
    }
};

QTEST_MAIN(FileSelectionTest)
#include "FileSelection_test.moc"
