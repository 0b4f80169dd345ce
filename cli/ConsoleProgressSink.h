#pragma once
// The repair's status texts and progress on a console stream: a one-line
// bar redrawn in place when the stream is a terminal, otherwise each status
// text on its own line and the progress at every tenth.

#include "repair/RepairProgressSink.h"

#include <iosfwd>
#include <string>

class CConsoleProgressSink : public IRepairProgressSink {
public:
    CConsoleProgressSink(std::ostream& out, bool bTerminal);
    ~CConsoleProgressSink() override;

    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nValue) override;
    void ShowPreview() override;

    // Ends the bar's line (terminal) so that later output starts afresh.
    void Finish();

private:
    void Draw();

    std::ostream& m_out;
    bool m_bTerminal;
    std::string m_strStatus;
    int m_nValue = 0;
    int m_nLastTenth = -1;
    bool m_bLineOpen = false;
};
