// The engines' error reports during a repair run: each distinct text is
// shown once, and when the run ends one note says which came how many more
// times. The reports come from another thread while the run is held, as the
// engine's own would.

#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include "app/MainFrame.h"
#include "platform/ErrorReporter.h"
#include "repair/RepairState.h"
#include "wizard/ErrorMessageDigest.h"
#include "wizard/MessageBoxReporter.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/Resources.h"
#include "wizard/RunnerState.h"

#include <QCoreApplication>
#include <QtTest>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

using namespace guitest;

namespace {

using Reports = std::vector<std::pair<std::string, int>>;

const std::string kDescriptor = "Field descriptor 7 of the table is damaged.";
const std::string kMemo = "The memo file cannot be read.";
const std::string kOnce = "Error number 0x00000BBE.";

int CountOf(const QStringList& texts, const std::string& str)
{
    return static_cast<int>(texts.count(Q(str)));
}

} // namespace

class EngineMessagesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orvtest::TempDir> m_pDir;
    std::unique_ptr<CTestMessageBoxService> m_pMessages;
    std::unique_ptr<CMessageBoxReporter> m_pReporter;
    std::unique_ptr<CScopedErrorReporter> m_pScoped;
    std::unique_ptr<CMainFrame> m_pFrame;

    CQuorvikView& View() { return *m_pFrame->GetView(); }

    // One run of the small table during which the reports come, each text
    // as often as given, interleaved; returns when the run's thread ended.
    void RunWithReports(const Reports& reports)
    {
        {
            CRepairHolder holder(0);
            View().SetSelectedPathText(Q(m_pDir->File("tab.dbf")));
            View().OnRepairFile();
            QVERIFY(IsRepairRunning());
            std::thread engine([&reports] {
                for (int i = 0;; ++i) {
                    bool bAny = false;
                    for (const auto& [strText, nTimes] : reports) {
                        if (i < nTimes) {
                            ReportErrorText(strText);
                            bAny = true;
                        }
                    }
                    if (!bAny)
                        break;
                }
            });
            engine.join();
            // The reports reach the GUI thread while the run is still held.
            QVERIFY(WaitUntil([&] { return !m_pMessages->Messages().empty() || reports.empty(); }));
        }
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(g_repairOutcome, std::optional(RepairOutcome::Done));
    }

private slots:
    void initTestCase()
    {
        OrvInitResources();
        m_pDir = std::make_unique<orvtest::TempDir>();
        WriteSalesTable(m_pDir->File("tab.dbf"), 3);
    }

    void init()
    {
        ResetRunnerState();
        m_pMessages = std::make_unique<CTestMessageBoxService>();
        m_pReporter = std::make_unique<CMessageBoxReporter>(QCoreApplication::instance());
        m_pScoped = std::make_unique<CScopedErrorReporter>(m_pReporter.get());
        m_pFrame = ShowTestFrame();
    }

    void cleanup()
    {
        QVERIFY(WaitForRepairEnd(View()));
        QCOMPARE(m_pMessages->UnansweredQuestions(), 0);
        LeaveResultPage(View());
        m_pFrame.reset();
        m_pScoped.reset();
        m_pReporter.reset();
        m_pMessages.reset();
    }

    // Hundreds of identical reports give one box; the note at the end
    // counts the repeats of every message that came again, and only those.
    void stormGivesOneBoxAndOneNote()
    {
        RunWithReports({{kDescriptor, 300}, {kOnce, 1}, {kMemo, 3}});
        const QStringList texts = m_pMessages->Texts();
        QCOMPARE(texts.size(), 4);
        QCOMPARE(CountOf(texts, kDescriptor), 1);
        QCOMPARE(CountOf(texts, kOnce), 1);
        QCOMPARE(CountOf(texts, kMemo), 1);
        // The messages themselves are shown as the engine wrote them.
        QCOMPARE(m_pMessages->Messages().front().icon, MsgIcon::Warning);
        QCOMPARE(m_pMessages->Messages().front().strCaption, QStringLiteral("Orvane Tamsin DBF"));

        const QString strNote = texts.back();
        QVERIFY2(strNote.contains(Q(kDescriptor)) && strNote.contains(QStringLiteral("299 more times")),
                 qPrintable(strNote));
        QVERIFY2(strNote.contains(Q(kMemo)) && strNote.contains(QStringLiteral("2 more times")), qPrintable(strNote));
        QVERIFY2(!strNote.contains(Q(kOnce)), qPrintable(strNote));
        // The counts stand with their own messages.
        QVERIFY(strNote.indexOf(QStringLiteral("299 more times")) < strNote.indexOf(Q(kMemo)));
        QCOMPARE(m_pMessages->Messages().back().icon, MsgIcon::Information);
    }

    // Each run starts afresh: a text shown in the last run is shown again.
    void nextRunShowsTheTextAgain()
    {
        RunWithReports({{kDescriptor, 5}});
        LeaveResultPage(View());
        m_pMessages->Clear();
        RunWithReports({{kDescriptor, 2}});
        const QStringList texts = m_pMessages->Texts();
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts.front(), Q(kDescriptor));
        QVERIFY2(texts.back().contains(QStringLiteral("1 more time")), qPrintable(texts.back()));
    }

    // Distinct reports only: every one is shown, and there is no note.
    void noRepeatsNoNote()
    {
        RunWithReports({{kDescriptor, 1}, {kMemo, 1}, {kOnce, 1}});
        QCOMPARE(m_pMessages->Texts(), QStringList({Q(kDescriptor), Q(kMemo), Q(kOnce)}));
    }

    // The run ends while the first box is still open (a real box runs its
    // own event loop): the note waits until that box is closed.
    void noteWaitsForTheOpenBox()
    {
        bool bNoteWhileOpen = true;
        bool bThreadEndedWhileOpen = false;
        bool bOpened = false;
        m_pMessages->m_onShow = [&](const ShownMessage& msg) {
            if (msg.strText != Q(kDescriptor) || bOpened)
                return;
            bOpened = true;
            g_repairPauseGate.Open();
            bThreadEndedWhileOpen = WaitForRepairEnd(View());
            bNoteWhileOpen = m_pMessages->Messages().size() > 1;
        };
        RunWithReports({{kDescriptor, 50}});
        QVERIFY(bThreadEndedWhileOpen);
        QVERIFY(!bNoteWhileOpen);
        const QStringList texts = m_pMessages->Texts();
        QCOMPARE(texts.size(), 2);
        QVERIFY2(texts.back().contains(QStringLiteral("49 more times")), qPrintable(texts.back()));
    }

    // Outside a run nothing is held back: the same text twice is two boxes.
    void reportsOutsideARunAreEachShown()
    {
        ReportErrorText(kOnce);
        ReportErrorText(kOnce);
        QCOMPARE(CountOf(m_pMessages->Texts(), kOnce), 2);
    }

    // A long list of repeated messages names the first ones and sums up the
    // rest, so the note stays a short box.
    void longListIsSummedUp()
    {
        Reports repeats;
        for (int i = 0; i < CErrorMessageDigest::kMaxNotedMessages + 2; ++i)
            repeats.emplace_back("Message " + std::to_string(i) + ".", i + 1);
        const QString strNote = CErrorMessageDigest::RepeatNote(repeats);
        QVERIFY(strNote.contains(QStringLiteral("Message 9.")));
        QVERIFY(!strNote.contains(QStringLiteral("Message 10.")));
        QVERIFY2(strNote.contains(QStringLiteral("2 other messages, 23 repeats in all")), qPrintable(strNote));
    }
};

QTEST_MAIN(EngineMessagesTest)
#include "EngineMessages_test.moc"
