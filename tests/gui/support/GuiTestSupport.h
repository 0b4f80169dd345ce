#pragma once
// Helpers of the GUI tests: a message-box service that records every
// message and answers questions from a script, a folder chooser that answers
// from a script, fixture tables written by python3-dbf, read-back by
// python3-dbfread, and waiting for the wizard without a fixed sleep.

#include "repair/RepairOutcome.h"
#include "wizard/FolderChooser.h"
#include "wizard/MessageBoxService.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CMainFrame;
class CQuorvikView;

// A run's outcome in a failed check: its word, or "none yet".
template <>
inline char* QTest::toString(const std::optional<RepairOutcome>& outcome)
{
    return qstrdup(outcome ? RepairOutcomeText(*outcome) : "none yet");
}

namespace guitest {

// A std::string as a QString.
QString Q(const std::string& str);
// Where the runner puts its temporary result for a table of this file name
// (the lower-cased name, in the process's own temporary folder).
std::string TempTableFor(const std::string& strFileName);

struct ShownMessage {
    bool bOwned = false;  // shown with an owner window
    QString strCaption;
    QString strText;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

// Installed for its lifetime. A question without a scripted answer fails
// the running test (QFAIL-like: recorded and answered Cancel).
class CTestMessageBoxService : public CMessageBoxService {
public:
    CTestMessageBoxService();
    ~CTestMessageBoxService() override;

    MsgResult Show(QWidget* pParent, const QString& strCaption, const QString& strText,
                   MsgButtons buttons, MsgIcon icon) override;

    // Queues the answer to the next message that has more than an OK button.
    void Answer(MsgResult result) { m_answers.push_back(result); }
    // Runs while a message is "open" (before it is answered).
    std::function<void(const ShownMessage&)> m_onShow;

    const std::vector<ShownMessage>& Messages() const { return m_messages; }
    QStringList Texts() const;
    void Clear() { m_messages.clear(); }
    // Questions asked without a scripted answer.
    int UnansweredQuestions() const { return m_nUnanswered; }
    size_t PendingAnswers() const { return m_answers.size(); }

private:
    CMessageBoxService* m_pPrevious;
    std::vector<ShownMessage> m_messages;
    std::deque<MsgResult> m_answers;
    int m_nUnanswered = 0;
};

// Installed for its lifetime; answers with the queued folders (an empty
// text is a cancel). Without a queued answer it cancels.
class CTestFolderChooser : public CFolderChooser {
public:
    CTestFolderChooser();
    ~CTestFolderChooser() override;
    QString ChooseFolder(QWidget* pParent, const QString& strTitle) override;
    void Answer(const QString& strFolder) { m_answers.push_back(strFolder); }
    const QStringList& TitlesAsked() const { return m_titles; }

private:
    CFolderChooser* m_pPrevious;
    std::deque<QString> m_answers;
    QStringList m_titles;
};

// A dBASE III table with nRecords rows (NAME C(20), QTY N(6,0), PRICE
// N(9,2), SOLD D, PAID L), written by python3-dbf. Row i: "Item <i>", i,
// i * 1.25, 2020-01-(1 + i % 28), i is even.
void WriteSalesTable(const std::string& strPath, int nRecords);
// The same table at any size: python3-dbf writes the first 16 records, which
// are repeated (row i is a copy of row i % 16) and the header's record count
// patched. Fast enough for millions of records.
void WriteLargeSalesTable(const std::string& strPath, int nRecords);
// A FoxPro table with a memo field (NAME C(12), NOTE M) and its .fpt.
void WriteMemoTable(const std::string& strPath, int nRecords);
// The table as python3-dbfread reads it: the field names, then one line per
// record, the values as Python's str(), separated by "|".
QStringList ReadTableWithDbfread(const std::string& strPath);

// Processes events until pred holds or nTimeoutMs passed; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs = 20000);
// Waits until the view shows the result of its run (or the timeout).
bool WaitForRepairEnd(CQuorvikView& view, int nTimeoutMs = 30000);

// Holds the next repair mid-way: a watcher thread closes the engine's pause
// gate as soon as the salvage progress reaches nPercent, however slowly the
// GUI thread gets to run; with nPercent 0 the gate closes at once. The
// destructor opens the gate again.
class CRepairHolder {
public:
    explicit CRepairHolder(int nPercent);
    ~CRepairHolder();
    CRepairHolder(const CRepairHolder&) = delete;
    CRepairHolder& operator=(const CRepairHolder&) = delete;
    // Processes events until the repair is held; false on timeout.
    bool WaitHeld(int nTimeoutMs = 20000);

private:
    std::atomic<bool> m_bHeld{false};
    std::atomic<bool> m_bQuit{false};
    std::thread m_watcher;
};

// A main window shown at the given size, whose Exit does not end the test.
std::unique_ptr<CMainFrame> ShowTestFrame(int cx = 900, int cy = 700);
// Leaves the result page without the save question: the result counts as
// handled.
void LeaveResultPage(CQuorvikView& view);

// Resets the process-wide runner state between tests (a run of the error
// digest included).
void ResetRunnerState();

} // namespace guitest
