#include "support/TestSupport.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

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

CommandResult RunPython(const std::string& strScript, const std::vector<std::string>& args)
{
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
