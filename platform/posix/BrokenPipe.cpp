#include "platform/BrokenPipe.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace {

struct sigaction g_previous {};

} // namespace

CBrokenPipe::CBrokenPipe()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &g_previous);
}

CBrokenPipe::~CBrokenPipe()
{
    ::sigaction(SIGPIPE, &g_previous, nullptr);
}

bool CBrokenPipe::IsBrokenPipe(int nErrno)
{
    return nErrno == EPIPE;
}

void CBrokenPipe::EndAsKilled()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    // Not reached: SIGPIPE's default action ends the process.
    std::_Exit(128 + SIGPIPE);
}
