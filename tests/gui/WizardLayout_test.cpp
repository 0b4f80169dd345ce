// The wizard view's controls, their ids, texts, fonts and colours, the
// layout arithmetic at two window sizes, the painted bands, the page states
// and files dropped on the window.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "app/Resource.h"
#include "wizard/FECFileDialog.h"
#include "wizard/FileListCtrl.h"
#include "wizard/PictureButton.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
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
            {61464, "Add File(s) to repair", QRect(14, 0, 58, 50), QSize(58, 50)},
            {61466, "Repair File(s) selected in the list", QRect(103, 0, 58, 50), QSize(58, 50)},
            {61460, "Select location for save repaired file", QRect(199, 0, 58, 50), QSize(58, 50)},
            {61484, "Settings for repaired file name.", QRect(288, 0, 58, 50), QSize(58, 50)},
            {61456, "Go to the software Homepage", QRect(), QSize(133, 62)},
            {61452, "Next", QRect(), QSize(50, 38)},
            {61455, "Back", QRect(), QSize(50, 38)},
            {61461, "Stop", QRect(), QSize(50, 38)},
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
        QVERIFY(qobject_cast<CHomePageButton*>(Item(61456)));

        QCOMPARE(qobject_cast<QPushButton*>(Item(61482))->text(), QStringLiteral("&Browse"));
        auto* pProgress = qobject_cast<QProgressBar*>(Item(1));
        QCOMPARE(pProgress->minimum(), 0);
        QCOMPARE(pProgress->maximum(), 100);
        QCOMPARE(pProgress->value(), 0);
        QVERIFY(qobject_cast<CPreviewListCtrl*>(Item(61453)));
        auto* pLog = qobject_cast<QPlainTextEdit*>(Item(61454));
        QVERIFY(pLog && pLog->isReadOnly());
        QVERIFY(!pLog->isVisible());
        auto* pFileList = View().findChild<CFileListCtrl*>();
        QVERIFY(pFileList);
        QVERIFY(!pFileList->isVisible());
        QCOMPARE(pFileList->columnCount(), 7);
        QCOMPARE(pFileList->topLevelItemCount(), 0);

        // Fonts and colours.
        const QFont fontPath = Item(61481)->font();
        QCOMPARE(fontPath.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(fontPath.weight(), QFont::Normal);
        const QFont fontHelp = Item(61462)->font();
        QCOMPARE(fontHelp.family(), QStringLiteral("Times New Roman"));
        QCOMPARE(fontHelp.pixelSize(), 16);
        QCOMPARE(fontHelp.weight(), QFont::Medium);
        QCOMPARE(Item(61483)->palette().color(QPalette::Window), QColor(255, 222, 85));
        QCOMPARE(Item(61483)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(Item(61462)->palette().color(QPalette::Window), QColor(255, 252, 179));
        QVERIFY(Item(61483)->autoFillBackground());
        QVERIFY(Item(61462)->autoFillBackground());
    }

    // The selection page at creation, and the progress sink's rules.
    void pageStatesAndSinks()
    {
        QCOMPARE(View().GetPage(), 0);
        QVERIFY(View().GetSaver().IsResultHandled());
        QCOMPARE(qobject_cast<QLabel*>(Item(61483))->text(),
                 QStringLiteral("Please select file to repair , Using Browse button"));
        QCOMPARE(qobject_cast<QLabel*>(Item(61462))->text(),
                 QStringLiteral("\t1. Add files into list from the Add Files button from toolbar\n"
                                "\t2. Click Next or Repair Files button from toolbar."));
        for (int nId : {61481, 61482, 61452, 61483, 61462, 61464, 61466, 61460, 61484, 61456})
            QVERIFY2(Item(nId)->isVisible(), qPrintable(QString::number(nId)));
        for (int nId : {1, 61453, 61454, 61455, 61461})
            QVERIFY2(!Item(nId)->isVisible(), qPrintable(QString::number(nId)));

        View().EnterRepairingState();
        for (int nId : {1, 61461})
            QVERIFY(Item(nId)->isVisible());
        for (int nId : {61481, 61482, 61452, 61455})
            QVERIFY(!Item(nId)->isVisible());

        // 0 leaves the bar where it is.
        View().SetProgress(36);
        View().SetProgress(37);
        View().SetProgress(0);
        QCOMPARE(View().GetProgress(), 37);
        QTRY_COMPARE(qobject_cast<QProgressBar*>(Item(1))->value(), 37);
        // Back resets the bar, also a value still on its way.
        View().SetProgress(50);
        View().OnBackPage();
        QTest::qWait(60);
        QCOMPARE(qobject_cast<QProgressBar*>(Item(1))->value(), 0);
        View().SetStatusText("Adding Data........");
        QCOMPARE(qobject_cast<QLabel*>(Item(61483))->text(), QStringLiteral("Adding Data........"));
        View().ShowPreview();
        QVERIFY(!Item(1)->isVisible());
        QVERIFY(Item(61453)->isVisible());
        View().ShowResultState();
        QVERIFY(!Item(61461)->isVisible());
        QVERIFY(Item(61455)->isVisible());
        QVERIFY(Item(61452)->isVisible());
        QCOMPARE(qobject_cast<QLabel*>(Item(61462))->text(),
                 QStringLiteral("\t1. Click the Next Button to save the repaired file at the desired location.\n"
                                "\t2. You can also click the Save Files Icon from the toolbar."));

        View().AppendLog("\r\n\t\tExtraction Phase 1");
        QCOMPARE(qobject_cast<QPlainTextEdit*>(Item(61454))->toPlainText(), QStringLiteral("\n\t\tExtraction Phase 1"));
        View().ClearLog();
        QCOMPARE(qobject_cast<QPlainTextEdit*>(Item(61454))->toPlainText(), QString());
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
            {61483, QRect(100, cy / 2 - 31, cx - 260, 18)},
            {61481, QRect(100, cy / 2 - 11, cx - 260, 23)},
            {1, QRect(100, cy / 2 - 11, cx - 260, 23)},
            {61482, QRect(cx - 155, cy / 2 - 11, 60, 23)},
            {61462, QRect(180, 82, cx - 195, 33)},
            {61453, QRect(40, 225, cx - 80, cy - 325)},
            {61452, QRect(cx - 55, cy - 40, 50, 38)},
            {61461, QRect(cx - 55, cy - 40, 50, 38)},
            {61455, QRect(cx - 110, cy - 40, 50, 38)},
            {61456, QRect(cx - 133, 0, 133, 62)},
            {61464, QRect(14, 0, 58, 50)},
            {61466, QRect(103, 0, 58, 50)},
            {61460, QRect(199, 0, 58, 50)},
            {61484, QRect(288, 0, 58, 50)},
        };
        for (const Expect& e : expected)
            QCOMPARE(Item(e.nId)->geometry(), e.rc);
        QCOMPARE(CQuorvikView::LayoutRect(61482, 800, 601), QRect(645, 289, 60, 23));
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
        qobject_cast<QPushButton*>(Item(61482))->click();
        QCOMPARE(nDialogs, 2);
        QCOMPARE(View().GetSelectedPathText(), strSales);

        strPick = strOther;
        qobject_cast<QAbstractButton*>(Item(61464))->click();
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
        QVERIFY(drop(QStringLiteral("/data/other.dbf"), Item(61481)));
        QCOMPARE(View().GetSelectedPathText(), QStringLiteral("/data/other.dbf"));
    }
};

QTEST_MAIN(WizardLayoutTest)
#include "WizardLayout_test.moc"
