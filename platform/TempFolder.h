#pragma once
// A private folder under the system temporary folder (TMPDIR, else /tmp;
// on Windows the user's temporary folder), made so that no other process
// shares it, and removed with
// everything in it when its owner goes away.

#include <string>

class CTempFolder {
public:
    // Makes a fresh folder named strPrefix + six random characters; throws
    // CFileException when the system temporary folder refuses it.
    explicit CTempFolder(const std::string& strPrefix = "orvane-");
    // Removes the folder and its content; errors are ignored.
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // The folder's path, without a trailing "/".
    const std::string& GetPath() const { return m_strPath; }

    // The system temporary folder (CFileSystem::GetSystemTempPath).
    static std::string GetSystemTempPath();

    // This process's own working folder: made on first use (thread-safe),
    // removed when the process ends normally.
    static const std::string& ProcessFolder();
    // True when strPath lies in a process's own working folder (this
    // process's or one being made), not in a folder the user chose.
    static bool IsInProcessFolder(const std::string& strPath);

private:
    std::string m_strPath;
};
