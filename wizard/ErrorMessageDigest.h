#pragma once
// The engines' error reports as the wizard shows them: within one repair
// run each distinct text is shown once. A damaged table can report the same
// fault for hundreds of descriptors or records; a box for each would bury
// the user, so repeats are only counted, and when the run ends one note
// says which message came how many more times. Outside a run every report
// is shown.
//
// GUI thread only: the message-box reporter hands each report over to it
// there, and the runner marks where its runs begin and end. The note waits
// until no report box of this digest is open, so it always comes after the
// messages it counts.

#include <QString>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class CErrorMessageDigest {
public:
    // The one digest of the program.
    static CErrorMessageDigest& Instance();

    // A repair run starts: nothing of it has been shown yet.
    void BeginRun();
    // The run ended: shows the note on its repeats (if there were any) now,
    // or as soon as the open report box is closed. bTellRepeats false
    // forgets the repeats without a note (the wizard is going away).
    void EndRun(bool bTellRepeats = true);
    bool IsInRun() const { return m_bInRun; }

    // Shows one report as a warning box, unless the running run has shown
    // the same text already.
    void Deliver(const std::string& strText);

    // The note for repeats given as (message, further occurrences) in the
    // order the messages first came. Only the first kMaxNotedMessages are
    // named; the rest are summed up in one line.
    static QString RepeatNote(const std::vector<std::pair<std::string, int>>& aRepeats);
    static constexpr int kMaxNotedMessages = 10;

private:
    void ShowPendingNote();

    bool m_bInRun = false;
    // Texts shown in the running run, with how often each came again.
    std::unordered_map<std::string, int> m_repeats;
    std::vector<std::string> m_aOrder;
    // Report or note boxes open right now (a box runs its own event loop,
    // in which further reports and the end of the run can arrive).
    int m_nOpenBoxes = 0;
    QString m_strPendingNote;
};
