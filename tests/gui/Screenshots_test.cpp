// Pictures of the program as a user sees it: the main window in each phase
// of the wizard (selecting, running, finished with the grid filled, and
// finished with a code page 1251 table), the File menu, the Details dialog,
// the Settings dialog, the About box, the Saving window and the splash.
//
// scripts/screenshots runs this program with ORV_SCREENSHOT_DIR set (under
// Xvfb when it is there) and the pictures land in build/screenshots/. Under
// CTest the pictures go to a scratch folder and are only checked to exist
// and to show something.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/QuorvikDoc.h"
#include "app/SplashDlg.h"
#include "repair/RepairState.h"
#include "wizard/PreviewListCtrl.h"
#include "wizard/QuorvikView.h"
#include "wizard/ReportDlg.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"
#include "wizard/SavingDlg.h"
#include "wizard/SettingsDlg.h"

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace guitest;

class ScreenshotsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    QString m_strOut;
    QStringList m_written;

    void Save(QWidget* pWidget, const QString& strName)
    {
        QCoreApplication::processEvents();
        const QPixmap pix = pWidget->grab();
        const QString strPath = m_strOut + QLatin1Char('/') + strName + QStringLiteral(".png");
        QVERIFY2(pix.save(strPath), qPrintable(strPath));
        m_written << strPath;
        // A picture that is one flat colour shows nothing.
        const QImage image = pix.toImage();
        QVERIFY(image.width() > 100 && image.height() > 50);
        QVERIFY(image.pixel(image.width() / 3, image.height() / 3) != image.pixel(10, 10)
                || image.pixel(image.width() / 2, image.height() / 2) != image.pixel(10, 10));
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        const char* pszOut = std::getenv("ORV_SCREENSHOT_DIR");
        m_strOut = pszOut && *pszOut ? QString::fromLocal8Bit(pszOut) : QString::fromStdString(m_pDir->File("shots"));
        QVERIFY(QDir().mkpath(m_strOut));
    }

    void mainWindowPhases()
    {
        ResetRunnerState();
        CTestMessageBoxService messages;
        CQuorvikDoc doc;
        CMainFrame frame(&doc);
        doc.OnNewDocument();
        frame.resize(1200, 800);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CQuorvikView& view = *frame.GetView();

        const std::string strSource = m_pDir->File("customers.dbf");
        WriteLargeSalesTable(strSource, 600000);
        view.SetSelectedPathText(QString::fromStdString(strSource));
        Save(&frame, QStringLiteral("1-selecting"));

        // Running: hold the repair at its next poll while the picture is taken.
        {
            CRepairHolder holder(20);
            view.OnRepairFile();
            QVERIFY(holder.WaitHeld());
            QVERIFY(IsRepairRunning());
            QTest::qWait(100);
            Save(&frame, QStringLiteral("2-running"));
        }

        QVERIFY(WaitForRepairEnd(view, 120000));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        view.GetPreviewGrid()->selectRow(2);
        Save(&frame, QStringLiteral("3-finished"));

        // The Details dialog of the finished run.
        QTimer::singleShot(0, this, [this] {
            if (QWidget* pDlg = qobject_cast<CReportDlg*>(QApplication::activeModalWidget())) {
                Save(pDlg, QStringLiteral("9-details"));
                static_cast<CReportDlg*>(pDlg)->accept();
            }
        });
        view.GetDetailsButton()->click();
        QVERIFY(m_written.last().endsWith(QStringLiteral("9-details.png")));

        // The File menu with its icons and accelerators, on the result page.
        QMenu* pFile = frame.menuBar()->actions().front()->menu();
        pFile->popup(frame.mapToGlobal(QPoint(0, frame.menuBar()->height())));
        QVERIFY(QTest::qWaitForWindowExposed(pFile));
        Save(pFile, QStringLiteral("4-file-menu"));
        pFile->hide();

        messages.Answer(MsgResult::No);
        view.OnBackPage();

        // A Cyrillic table in code page 1251, finished, its text in the grid.
        const std::string strCyrillic = m_pDir->File("cp1251.dbf");
        std::filesystem::copy_file(orvtest::RealFixturesDir() + "/cp1251.dbf", strCyrillic);
        view.SetSelectedPathText(QString::fromStdString(strCyrillic));
        view.OnRepairFile();
        QVERIFY(WaitForRepairEnd(view));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
        Save(&frame, QStringLiteral("10-cp1251"));
        messages.Answer(MsgResult::No);
        view.OnBackPage();
    }

    void dialogs()
    {
        QString strPrefix = QStringLiteral("Rep");
        bool bUndelete = false;
        CSettingsDlg settings(strPrefix, bUndelete);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        Save(&settings, QStringLiteral("5-settings"));

        CAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        Save(&about, QStringLiteral("6-about"));

        CSavingDlg saving;
        saving.SetFileText(QStringLiteral("/home/user/data/customers.dbf"));
        QVERIFY(QTest::qWaitForWindowExposed(&saving));
        Save(&saving, QStringLiteral("7-saving"));

        CSplashDlg splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        Save(&splash, QStringLiteral("8-splash"));
    }

    void cleanupTestCase() { qInfo("%s", qPrintable(m_written.join(QLatin1Char('\n')))); }
};

QTEST_MAIN(ScreenshotsTest)
#include "Screenshots_test.moc"
