// The wizard view's controls, their ids, texts, fonts and colours, the
// layout arithmetic at two window sizes, the painted bands, the page states
// and files dropped on the window.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "wizard/FECFileDialog.h"
#include "wizard/FileListCtrl.h"
#include "wizard/PictureButton.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace guitest;

class WizardLayoutTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CMainFrame> m_pFrame;
    CQuorvikView* m_pView = nullptr;

    CQuorvikView& View() { return *m_pView; }
    QWidget* Item(int nId) { return View().GetDlgItem(nId); }

private slots:
    void initTestCase() { OrvInitResources(); }

    void init()
    {
        ResetRunnerState();
        m_pFrame = std::make_unique<CMainFrame>();
        m_pFrame->resize(1000, 700);
        m_pFrame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pFrame.get()));
        m_pView = m_pFrame->GetView();
    }

    void cleanup() { m_pFrame.reset(); }

    void controlsAndTexts()
    {
        struct Button {
            int nId;
            const char* pszTip;
            QRect rc;  // fixed geometry, or empty when laid out
            QSize size;
        };
        const std::vector<Button> buttons = {
            {res::IDC_ADD_FILES, "Add File(s) to repair", QRect(14, 0, 58, 50), QSize(58, 50)},
            {res::IDC_REPAIR, "Repair File(s) selected in the list", QRect(103, 0, 58, 50), QSize(58, 50)},
            {res::IDC_SAVE, "Select location for save repaired file", QRect(199, 0, 58, 50), QSize(58, 50)},
            {res::IDC_SETTINGS, "Settings for repaired file name.", QRect(288, 0, 58, 50), QSize(58, 50)},
            {res::IDC_HOMEPAGE, "Go to the software Homepage", QRect(), QSize(133, 62)},
            {res::IDC_NEXT, "Next", QRect(), QSize(50, 38)},
            {res::IDC_BACK, "Back", QRect(), QSize(50, 38)},
            {res::IDC_STOP, "Stop", QRect(), QSize(50, 38)},
        };
        for (const Button& b : buttons) {
            auto* pButton = qobject_cast<CPictureButton*>(Item(b.nId));
            QVERIFY2(pButton, qPrintable(QString::number(b.nId)));
            QCOMPARE(pButton->toolTip(), QString::fromUtf8(b.pszTip));
            QCOMPARE(pButton->GetCommandId(), b.nId);
            QCOMPARE(pButton->size(), b.size);
            if (!b.rc.isEmpty())
                QCOMPARE(pButton->geometry(), b.rc);
        }
        QVERIFY(qobject_cast<CHomePageButton*>(Item(res::IDC_HOMEPAGE)));

        QCOMPARE(qobject_cast<QPushButton*>(Item(res::IDC_BROWSE))->text(), QStringLiteral("&Browse"));
        auto* pProgress = qobject_cast<QProgressBar*>(Item(res::IDC_PROGRESS));
        QCOMPARE(pProgress->minimum(), 0);
        QCOMPARE(pProgress->maximum(), 100);
        QCOMPARE(pProgress->value(), 0);
        QVERIFY(qobject_cast<CPreviewListCtrl*>(Item(res::IDC_PREVIEW_GRID)));
        auto* pLog = qobject_cast<QPlainTextEdit*>(Item(res::IDC_REPAIR_LOG));
        QVERIFY(pLog && pLog->isReadOnly());
        QVERIFY(!pLog->isVisible());
        auto* pFileList = View().findChild<CFileListCtrl*>();
        QVERIFY(pFileList);
        QVERIFY(!pFileList->isVisible());
        QCOMPARE(pFileList->columnCount(), 7);
        QCOMPARE(pFileList->topLevelItemCount(), 0);

        // Fonts and colours.
        const QFont fontPath = Item(res::IDC_PATH)->font();
        QCOMPARE(fontPath.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(fontPath.weight(), QFont::Normal);
        const QFont fontHelp = Item(res::IDC_HELP_TEXT)->font();
        QCOMPARE(fontHelp.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(fontHelp.pixelSize(), 16);
        QCOMPARE(fontHelp.weight(), QFont::Medium);
        QCOMPARE(Item(res::IDC_STATUS)->palette().color(QPalette::Window), QColor(255, 222, 85));
        QCOMPARE(Item(res::IDC_STATUS)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(Item(res::IDC_HELP_TEXT)->palette().color(QPalette::Window), QColor(255, 252, 179));
        QVERIFY(Item(res::IDC_STATUS)->autoFillBackground());
        QVERIFY(Item(res::IDC_HELP_TEXT)->autoFillBackground());
    }

    // The selection page at creation, and the progress sink's rules.
    void pageStatesAndSinks()
    {
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(View().GetSaver().IsResultHandled());
        QCOMPARE(qobject_cast<QLabel*>(Item(res::IDC_STATUS))->text(),
                 QStringLiteral("Please select file to repair , Using Browse button"));
        QCOMPARE(qobject_cast<QLabel*>(Item(res::IDC_HELP_TEXT))->text(),
                 QStringLiteral("\t1. Add files into list from the Add Files button from toolbar\n"
                                "\t2. Click Next or Repair Files button from toolbar."));
        for (int nId : {res::IDC_PATH, res::IDC_BROWSE, res::IDC_NEXT, res::IDC_STATUS, res::IDC_HELP_TEXT,
                        res::IDC_ADD_FILES, res::IDC_REPAIR, res::IDC_SAVE, res::IDC_SETTINGS, res::IDC_HOMEPAGE})
            QVERIFY2(Item(nId)->isVisible(), qPrintable(QString::number(nId)));
        for (int nId : {res::IDC_PROGRESS, res::IDC_PREVIEW_GRID, res::IDC_REPAIR_LOG, res::IDC_BACK, res::IDC_STOP})
            QVERIFY2(!Item(nId)->isVisible(), qPrintable(QString::number(nId)));

        View().EnterRepairingState();
        for (int nId : {res::IDC_PROGRESS, res::IDC_STOP})
            QVERIFY(Item(nId)->isVisible());
        for (int nId : {res::IDC_PATH, res::IDC_BROWSE, res::IDC_NEXT, res::IDC_BACK})
            QVERIFY(!Item(nId)->isVisible());

        // 0 leaves the bar where it is.
        View().SetProgress(36);
        View().SetProgress(37);
        View().SetProgress(0);
        QCOMPARE(View().GetProgress(), 37);
        QTRY_COMPARE(qobject_cast<QProgressBar*>(Item(res::IDC_PROGRESS))->value(), 37);
        // Back resets the bar, also a value still on its way.
        View().SetProgress(50);
        View().OnBackPage();
        QTest::qWait(60);
        QCOMPARE(qobject_cast<QProgressBar*>(Item(res::IDC_PROGRESS))->value(), 0);
        View().SetStatusText("Adding Data........");
        QCOMPARE(qobject_cast<QLabel*>(Item(res::IDC_STATUS))->text(), QStringLiteral("Adding Data........"));
        View().ShowPreview();
        QVERIFY(!Item(res::IDC_PROGRESS)->isVisible());
        QVERIFY(Item(res::IDC_PREVIEW_GRID)->isVisible());
        View().ShowResultState();
        QVERIFY(!Item(res::IDC_STOP)->isVisible());
        QVERIFY(Item(res::IDC_BACK)->isVisible());
        QVERIFY(Item(res::IDC_NEXT)->isVisible());
        QCOMPARE(qobject_cast<QLabel*>(Item(res::IDC_HELP_TEXT))->text(),
                 QStringLiteral("\t1. Click the Next Button to save the repaired file at the desired location.\n"
                                "\t2. You can also click the Save Files Icon from the toolbar."));

        View().AppendLog("\r\n\t\tExtraction Phase 1");
        QCOMPARE(qobject_cast<QPlainTextEdit*>(Item(res::IDC_REPAIR_LOG))->toPlainText(),
                 QStringLiteral("\n\t\tExtraction Phase 1"));
        View().ClearLog();
        QCOMPARE(qobject_cast<QPlainTextEdit*>(Item(res::IDC_REPAIR_LOG))->toPlainText(), QString());
    }

    // The layout table, at the smallest window and at a large one.
    void layoutArithmetic_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::newRow("minimum 712 x 600") << QSize(712, 600);
        QTest::newRow("large 1500 x 960") << QSize(1500, 960);
    }

    void layoutArithmetic()
    {
        QFETCH(QSize, frameSize);
        m_pFrame->resize(frameSize);
        QTRY_COMPARE(m_pFrame->size(), frameSize);
        const int cx = View().width();
        const int cy = View().height();
        QVERIFY(cx >= 700 && cy >= 500);

        struct Expect {
            int nId;
            QRect rc;
        };
        const std::vector<Expect> expected = {
            {res::IDC_STATUS, QRect(100, cy / 2 - 31, cx - 260, 18)},
            {res::IDC_PATH, QRect(100, cy / 2 - 11, cx - 260, 23)},
            {res::IDC_PROGRESS, QRect(100, cy / 2 - 11, cx - 260, 23)},
            {res::IDC_BROWSE, QRect(cx - 155, cy / 2 - 11, 60, 23)},
            {res::IDC_HELP_TEXT, QRect(180, 82, cx - 195, 33)},
            {res::IDC_PREVIEW_GRID, QRect(40, 225, cx - 80, cy - 325)},
            {res::IDC_NEXT, QRect(cx - 55, cy - 40, 50, 38)},
            {res::IDC_STOP, QRect(cx - 55, cy - 40, 50, 38)},
            {res::IDC_BACK, QRect(cx - 110, cy - 40, 50, 38)},
            {res::IDC_HOMEPAGE, QRect(cx - 133, 0, 133, 62)},
            {res::IDC_ADD_FILES, QRect(14, 0, 58, 50)},
            {res::IDC_REPAIR, QRect(103, 0, 58, 50)},
            {res::IDC_SAVE, QRect(199, 0, 58, 50)},
            {res::IDC_SETTINGS, QRect(288, 0, 58, 50)},
        };
        for (const Expect& e : expected)
            QCOMPARE(Item(e.nId)->geometry(), e.rc);
        QCOMPARE(CQuorvikView::LayoutRect(res::IDC_BROWSE, 800, 601), QRect(645, 289, 60, 23));
    }

    // The painted bands: the banner pieces at the top corners, the footer's
    // right piece in the bottom right corner, the background in between.
    void paintedBands()
    {
        m_pFrame->resize(1200, 800);
        QTRY_COMPARE(m_pFrame->size(), QSize(1200, 800));
        const int cx = View().width();
        const int cy = View().height();
        const QImage shot = View().grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage left = OrvPixmap(OrvPicture::BannerLeft).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage right = OrvPixmap(OrvPicture::BannerRight).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage footRight = OrvPixmap(OrvPicture::FooterRight).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.pixel(5, 120), left.pixel(5, 120));
        QCOMPARE(shot.pixel(cx - 5, 200), right.pixel(right.width() - 5, 200));
        QCOMPARE(shot.pixel(cx - 3, cy - 3), footRight.pixel(footRight.width() - 3, footRight.height() - 3));
        // The middle band: the background stretched from y 225 to 100
        // pixels above the bottom (beside the controls, at x 50).
        const QImage middle = OrvPixmap(OrvPicture::Background, QSize(cx, cy - 325))
                                  .toImage()
                                  .convertToFormat(QImage::Format_RGB32);
        for (int y : {240, cy / 2, cy - 110})
            QCOMPARE(shot.pixel(50, y), middle.pixel(50, y - 225));
    }

    // Add Files and Browse run the open-file dialog on the selection page
    // only; a chosen .dbf fills the path box.
    void addFilesAndBrowse()
    {
        orvtest::TempDir dir;
        const QString strSales = QString::fromStdString(dir.File("Sales.DBF"));
        const QString strNotes = QString::fromStdString(dir.File("notes.txt"));
        const QString strOther = QString::fromStdString(dir.File("other.dbf"));
        for (const QString& str : {strSales, strNotes, strOther})
            orvtest::WriteBytes(str.toStdString(), {0x03});
        int nDialogs = 0;
        QString strPick;
        CFECFileDialog::SetRunnerForTests([&](CFECFileDialog& dialog) {
            ++nDialogs;
            dialog.selectFile(strPick);
            return int(QDialog::Accepted);
        });
        View().SetSelectedPathText(QStringLiteral("/keep/this.dbf"));

        strPick = strSales;
        m_pFrame->GetCommand(res::ID_FILE_ADD)->trigger();
        QCOMPARE(nDialogs, 1);
        QCOMPARE(View().GetSelectedPathText(), strSales);

        strPick = strNotes;
        qobject_cast<QPushButton*>(Item(res::IDC_BROWSE))->click();
        QCOMPARE(nDialogs, 2);
        QCOMPARE(View().GetSelectedPathText(), strSales);

        strPick = strOther;
        qobject_cast<QAbstractButton*>(Item(res::IDC_ADD_FILES))->click();
        QCOMPARE(nDialogs, 3);
        QCOMPARE(View().GetSelectedPathText(), strOther);

        // On the repair page Add Files does nothing.
        View().m_nPage = 1;
        View().OnAddFiles();
        QCOMPARE(nDialogs, 3);
        View().m_nPage = 0;
        CFECFileDialog::SetRunnerForTests({});
    }

    // A .dbf dropped on the window fills the path box; anything else does not.
    void droppedFiles()
    {
        View().SetSelectedPathText(QStringLiteral("/keep/this.dbf"));
        auto drop = [&](const QString& strPath, QWidget* pTarget) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(strPath)});
            const QPoint pt = pTarget->rect().center();
            QDragEnterEvent enter(pt, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(pTarget, &enter);
            const bool bAccepted = enter.isAccepted();
            QDropEvent dropEvent(QPointF(pt), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(pTarget, &dropEvent);
            return bAccepted;
        };
        QVERIFY(!drop(QStringLiteral("/data/notes.txt"), &View()));
        QCOMPARE(View().GetSelectedPathText(), QStringLiteral("/keep/this.dbf"));
        QVERIFY(drop(QStringLiteral("/data/SALES.DBF"), &View()));
        QCOMPARE(View().GetSelectedPathText(), QStringLiteral("/data/SALES.DBF"));
        // On the path box itself: the path, not the URL text.
        QVERIFY(drop(QStringLiteral("/data/other.dbf"), Item(res::IDC_PATH)));
        QCOMPARE(View().GetSelectedPathText(), QStringLiteral("/data/other.dbf"));
    }
};

QTEST_MAIN(WizardLayoutTest)
#include "WizardLayout_test.moc"
