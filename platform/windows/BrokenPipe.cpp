#include "platform/BrokenPipe.h"

#include <cerrno>
#include <cstdlib>

// Windows has no SIGPIPE: a write to a reader that went away already fails
// (EPIPE, or EINVAL from the C runtime's pipe writes) without ending the
// process.
CBrokenPipe::CBrokenPipe() = default;

CBrokenPipe::~CBrokenPipe() = default;

bool CBrokenPipe::IsBrokenPipe(int nErrno)
{
    return nErrno == EPIPE;
}

void CBrokenPipe::EndAsKilled()
{
    // The status a shell gives a process SIGPIPE ended (128 + 13).
    std::_Exit(141);
}
