#include "support/TestSupport.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace orvtest {

TempDir::TempDir()
{
    if (CFileSystem::MakeUniqueFolder(CFileSystem::GetSystemTempPath() + "/orvtest-", m_strPath) != 0)
        throw std::runtime_error("cannot make a folder under " + CFileSystem::GetSystemTempPath());
}

TempDir::~TempDir()
{
    CFileSystem::RemoveTree(m_strPath);
}

std::vector<unsigned char> ReadBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& strPath, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + strPath);
}

std::vector<std::string> FolderNames(const std::string& strFolder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(strFolder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool FileExists(const std::string& strPath)
{
    return std::filesystem::exists(strPath);
}

CommandResult Run(const std::string& strCommand)
{
    CommandResult result;
    result.nExitCode = CProcess::RunShell(strCommand, result.strOut);
    return result;
}

std::string ShellQuote(const std::string& str)
{
    std::string out = "'";
    for (char c : str) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string ToolCommand()
{
    const char* pszTool = std::getenv("ORV_DBFREPAIR");
    return pszTool != nullptr && *pszTool != '\0' ? std::string(pszTool) : ShellQuote(BinDir() + "/dbfrepair");
}

std::string SourceDir()
{
    if (const char* env = std::getenv("ORV_SOURCE_DIR"))
        return env;
#ifdef ORV_SOURCE_DIR
    return ORV_SOURCE_DIR;
#else
    return ".";
#endif
}

std::string BinDir()
{
    if (const char* env = std::getenv("ORV_BIN_DIR"))
        return env;
#ifdef ORV_BINARY_DIR
    return std::string(ORV_BINARY_DIR) + "/bin";
#else
    return "./bin";
#endif
}

std::string RealFixturesDir()
{
    return SourceDir() + "/tests/fixtures/real";
}

namespace {

// One request to the peer server: the snippet and its arguments, one per
// line, are renamed into place whole; the answer is the snippet's output and,
// renamed into place last, its exit code.
CommandResult RunPythonThroughSpool(const std::string& strSpool, const std::string& strScript,
                                    const std::vector<std::string>& args)
{
    static std::atomic<unsigned> s_nRequest{0};
    const std::string strId = strSpool + "/" + std::to_string(CProcess::GetId()) + "-"
        + std::to_string(s_nRequest.fetch_add(1));
    {
        std::ofstream out(strId + ".part", std::ios::binary);
        out << strScript.size() << "\n" << strScript;
        for (const std::string& strArg : args)
            out << strArg << "\n";
    }
    std::filesystem::rename(strId + ".part", strId + ".req");
    CommandResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!std::filesystem::exists(strId + ".done")) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the peer server did not answer " + strId + ".req");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const std::vector<unsigned char> out = ReadBytes(strId + ".out");
    result.strOut.assign(out.begin(), out.end());
    std::ifstream(strId + ".done") >> result.nExitCode;
    for (const char* lpszExt : {".out", ".done"})
        std::filesystem::remove(strId + lpszExt);
    return result;
}

} // namespace

CommandResult RunPython(const std::string& strScript, const std::vector<std::string>& args)
{
    if (const char* pszSpool = std::getenv("ORV_PEER_SPOOL"); pszSpool != nullptr && *pszSpool != '\0')
        return RunPythonThroughSpool(pszSpool, strScript, args);
    TempDir dir;
    const std::string path = dir.File("script.py");
    {
        std::ofstream out(path);
        out << strScript;
    }
    std::string cmd = "/usr/bin/python3 " + ShellQuote(path);
    for (const auto& a : args)
        cmd += " " + ShellQuote(a);
    return Run(cmd);
}

} // namespace orvtest
