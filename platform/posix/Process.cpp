#include "platform/Process.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

unsigned long CProcess::GetId()
{
    return static_cast<unsigned long>(::getpid());
}

std::vector<std::string> CProcess::GetArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

int CProcess::RunShell(const std::string& strCommand, std::string& strOut)
{
    FILE* pipe = ::popen(strCommand.c_str(), "r");
    if (!pipe)
        return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        strOut.append(buf, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
