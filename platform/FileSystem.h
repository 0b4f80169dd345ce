#pragma once
// The file system outside an open file: what a path is, folders, links,
// renaming and removing; one implementation per system (platform/posix,
// platform/windows), paths in UTF-8 on both. The engines and the command-line tool reach the system only
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
    // A regular file whose name in its folder is spelled exactly so, letter
    // case included (Windows opens "a.FPT" as "a.fpt").
    static bool IsRegularFileSpelledSo(const std::string& strPath);
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

    // Gives strFrom the name strTo in one step; an existing strTo is
    // refused (EEXIST) unless bReplace, then replaced.
    static int Rename(const std::string& strFrom, const std::string& strTo, bool bReplace);
    // A second name for the file (a hard link).
    static int MakeHardLink(const std::string& strExisting, const std::string& strLink);
    // The folder's entries (new names, removals) reach the disk.
    static void SyncFolder(const std::string& strFolder);
    // A fresh folder strBase + six random characters, made so that no other
    // process shares it; strFolder gets its path.
    static int MakeUniqueFolder(const std::string& strBase, std::string& strFolder);
    // The folder and all it holds; errors are ignored.
    static void RemoveTree(const std::string& strFolder);
    // The system's temporary folder, without a trailing separator: $TMPDIR
    // (else /tmp) on Linux, GetTempPath (TMP, TEMP, the profile) on Windows.
    static std::string GetSystemTempPath();
    // The environment variable a user sets to move that folder: TMPDIR on
    // Linux, TMP on Windows (GetTempPath reads it first).
    static const char* TempPathVariable();
    // Where the last folder separator of strPath is ('/', and '\\' on
    // Windows), or npos.
    static size_t LastSeparator(const std::string& strPath);

    // Whether standard error is a terminal (progress is drawn only there).
    static bool IsStandardErrorTerminal();
};
