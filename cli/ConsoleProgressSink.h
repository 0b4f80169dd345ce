#pragma once
// The repair's status texts and progress on a terminal: a one-line bar
// redrawn in place. Only a terminal gets it: in a file or a pipe, lines of
// progress would bury the messages and the verdict.

#include "repair/RepairProgressSink.h"

#include <iosfwd>
#include <string>

class CConsoleProgressSink : public IRepairProgressSink {
public:
    explicit CConsoleProgressSink(std::ostream& out);
    ~CConsoleProgressSink() override;

    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nValue) override;
    void ShowPreview() override;

    // Ends the bar's line (terminal) so that later output starts afresh.
    void Finish();

private:
    void Draw();

    std::ostream& m_out;
    std::string m_strStatus;
    int m_nValue = 0;
    bool m_bLineOpen = false;
};
