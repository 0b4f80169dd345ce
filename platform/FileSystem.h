#pragma once
// The file system outside an open file: what a path is, folders, links and
// removing. The engines and the command-line tool reach the system only
// through here, CFile and CFilePlacer (which renames), so that the fault
// injector (platform/FileFaultInjector.h) sees every read, write, rename
// and removal.
//
// The functions return 0 or the errno of the failure; none throws.

#include <cstdint>
#include <string>
#include <vector>

class CFileSystem {
public:
    struct Status {
        bool bFolder = false;
        bool bRegular = false;
        bool bLink = false; // only from GetLinkStatus
        uint64_t nSize = 0;
        uint64_t nDevice = 0;
        uint64_t nInode = 0;
    };
    // What the path names, following symbolic links (GetStatus) or not
    // (GetLinkStatus).
    static int GetStatus(const std::string& strPath, Status& status);
    static int GetLinkStatus(const std::string& strPath, Status& status);

    static bool Exists(const std::string& strPath);
    static bool IsFolder(const std::string& strPath);
    static bool IsRegularFile(const std::string& strPath);
    static bool IsLink(const std::string& strPath);
    // Both paths name one file (the same device and inode).
    static bool IsSameFile(const std::string& strA, const std::string& strB);
    // Whether the file (or folder) opens for reading.
    static int CheckReadable(const std::string& strPath);
    // Whether files can be made in the folder.
    static int CheckWritableFolder(const std::string& strFolder);

    // The absolute path with every link and "." and ".." resolved; the path
    // must exist.
    static int Canonical(const std::string& strPath, std::string& strCanonical);
    // Canonical for the part that exists, the rest added as written.
    static std::string WeaklyCanonical(const std::string& strPath);
    // The path made absolute against the current folder, nothing resolved.
    static std::string Absolute(const std::string& strPath);

    // The names in a folder (no "." or ".."), in the order the system gives.
    static int ListFolder(const std::string& strFolder, std::vector<std::string>& names);

    static int MakeFolder(const std::string& strFolder, unsigned nMode = 0777);
    // The folder and every missing one above it.
    static int MakeFolders(const std::string& strFolder);
    static int Remove(const std::string& strPath);
    static int RemoveFolder(const std::string& strFolder);
    static int MakeSymbolicLink(const std::string& strTarget, const std::string& strLink);

    // Whether standard error is a terminal (progress is drawn only there).
    static bool IsStandardErrorTerminal();
};
