#pragma once
// The repair log of the wizard as the batch runner writes it. The log is a
// hidden multi-line text the view owns; the runner only appends and scrolls.

#include <string>

class IRepairLog {
public:
    virtual ~IRepairLog() = default;
    virtual void AppendLog(const std::string& strText) = 0;
    // Scrolls the log down by nLines lines.
    virtual void ScrollLog(int nLines) = 0;
};
