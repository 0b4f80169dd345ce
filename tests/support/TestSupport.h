#pragma once
// Helpers shared by the test suites: scratch folders, file bytes, commands.

#include <string>
#include <vector>

namespace orvtest {

// A fresh folder under the system temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& strName) const { return m_strPath + "/" + strName; }

private:
    std::string m_strPath;
};

std::vector<unsigned char> ReadBytes(const std::string& strPath);
void WriteBytes(const std::string& strPath, const std::vector<unsigned char>& bytes);
bool FileExists(const std::string& strPath);
// The names of a folder's entries, sorted.
std::vector<std::string> FolderNames(const std::string& strFolder);

struct CommandResult {
    int nExitCode = -1;
    std::string strOut;
};
// Runs a shell command; captures standard output (stderr goes to the log).
CommandResult Run(const std::string& strCommand);
// Quotes a string for the shell.
std::string ShellQuote(const std::string& str);
// The shell words that run dbfrepair: the build's own, or $ORV_DBFREPAIR
// when set (scripts/test runs the Windows build's tool under Wine so).
std::string ToolCommand();

// The repository root, the build's bin folder, and the real-world fixtures
// kept in the repository (tests/fixtures/real).
std::string SourceDir();
std::string BinDir();
std::string RealFixturesDir();

// Runs a Python snippet with the system interpreter (which has python3-dbf
// and python3-dbfread); argv[1..] are the given arguments. With
// ORV_PEER_SPOOL set (a test program under Wine, where no Linux program can
// be run with its output caught), the snippet goes through that folder to
// tests/peer/wine_peer_server.py, which runs it on Linux.
CommandResult RunPython(const std::string& strScript, const std::vector<std::string>& args = {});

} // namespace orvtest
