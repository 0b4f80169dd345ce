#pragma once
// An open file of the system: the handful of calls CFile and CFilePlacer
// make, one implementation per system (platform/posix, platform/windows).
// Failures come back as errno values on both (platform/OsError.h maps the
// Windows codes), so the callers decide on them the same way everywhere.
//
// Share modes follow CFile's: on Linux advisory locks (flock, without
// waiting), on Windows the share mode of the open itself. Neither keeps out
// a rename or a removal of the name.

#include <cstddef>
#include <cstdint>
#include <string>

class CFileHandle {
public:
    enum class Access { read, write, readWrite };
    // What other opens may do meanwhile.
    enum class Share { all, denyWrite, denyRead, none };
    enum class Create {
        no,        // the file must exist
        orOpen,    // made when missing, kept when there
        orEmpty,   // made when missing, emptied when there
        newOnly,   // refused (EEXIST) when there
    };

    // Linux's share modes are advisory: an open that asks for none is let
    // through whatever others hold.
#ifdef _WIN32
    static constexpr bool kAdvisoryShares = false;
#else
    static constexpr bool kAdvisoryShares = true;
#endif

    CFileHandle() = default;
    ~CFileHandle();
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    // 0 or the errno; EISDIR for a folder. An open is refused, not waited
    // for, when another holder's share mode forbids it.
    int Open(const std::string& strPath, Access eAccess, Share eShare, Create eCreate);
    bool IsOpen() const;
    // 0 or the errno of a failed close; the handle is closed either way.
    int Close();

    int GetSize(uint64_t& nSize) const;
    int SetSize(uint64_t nSize);
    // Reads up to nCount bytes at nPos (fewer only at the end of the file);
    // nDone tells how many.
    int ReadAt(uint64_t nPos, void* pBuf, size_t nCount, size_t& nDone);
    // Writes all nCount bytes at nPos.
    int WriteAt(uint64_t nPos, const void* pBuf, size_t nCount);
    // What is written reaches the disk.
    int SyncToDisk();
    // Copies up to nMax bytes of from, at nPos, to the same place in this
    // file; nCopied is 0 at the end of from.
    int CopyFrom(CFileHandle& from, uint64_t nPos, size_t nMax, size_t& nCopied);

    // Only advice; a system without it ignores it.
    void AdviseSequential();
    // Starts the disk writes of [nFrom, nFrom + nCount) without waiting.
    void StartWriteBack(uint64_t nFrom, uint64_t nCount);

private:
#ifdef _WIN32
    void* m_handle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
    int m_fd = -1;
    bool m_bNoKernelCopy = false; // copy_file_range refused once: copy through memory
#endif
};
