#include "platform/Process.h"

#include "platform/windows/WideText.h"

#include <cstdio>
#include <windows.h>
#include <shellapi.h>

unsigned long CProcess::GetId()
{
    return ::GetCurrentProcessId();
}

std::vector<std::string> CProcess::GetArguments(int, char**)
{
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    int nCount = 0;
    wchar_t** ppArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nCount);
    if (ppArgs == nullptr)
        return args;
    for (int i = 1; i < nCount; ++i)
        args.push_back(CWideText::ToUtf8(ppArgs[i]));
    ::LocalFree(ppArgs);
    return args;
}

int CProcess::RunShell(const std::string& strCommand, std::string& strOut)
{
    FILE* pipe = ::_wpopen(CWideText::FromUtf8(strCommand).c_str(), L"rb");
    if (!pipe)
        return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        strOut.append(buf, n);
    return ::_pclose(pipe);
}
