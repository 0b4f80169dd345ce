#pragma once
// A reader that goes away early (dbfrepair dump ... | head -1) would kill
// the process by SIGPIPE at its next write, before any destructor runs, and
// its temporary files would stay. While a CBrokenPipe lives, SIGPIPE is
// ignored, so the write fails with EPIPE and the program unwinds as after
// any write error; EndAsKilled then ends the process by the signal after
// all, so the shell sees what it always saw (status 141, no message).

class CBrokenPipe {
public:
    CBrokenPipe();
    ~CBrokenPipe();
    CBrokenPipe(const CBrokenPipe&) = delete;
    CBrokenPipe& operator=(const CBrokenPipe&) = delete;

    // True when nErrno is the failed write's reason.
    static bool IsBrokenPipe(int nErrno);
    // Ends the process by SIGPIPE; call it when everything is cleaned up.
    [[noreturn]] static void EndAsKilled();
};
