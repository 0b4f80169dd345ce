#pragma once
// What a repair run tells the user while it works: the status line, the
// progress bar and the switch to the preview grid. Called on the repair
// thread; an implementation on a GUI must hand the call to its own thread.

#include <string>

class IRepairProgressSink {
public:
    virtual ~IRepairProgressSink() = default;
    // Replaces the status line's text.
    virtual void SetStatusText(const std::string& strText) = 0;
    // Moves the progress bar (0..100); 0 is ignored and leaves it where it is.
    virtual void SetProgress(int nValue) = 0;
    // Hides the progress bar and shows the preview grid.
    virtual void ShowPreview() = 0;
};
