#pragma once
// Buffered positioned file access with the open flags of the engines.
//
// The engines make one small positioned read per field, per descriptor and
// per scanned byte, so every object keeps one window of the file in memory:
// seeks cost nothing, reads inside the window are memory copies, and writes
// land in the window and reach the file when the window moves, on Flush and
// on Close. Reads through the same object always see its own writes.
//
// Share modes: Linux cannot refuse an open the way the flags ask, so they are
// advisory locks (flock) taken without waiting: shareExclusive takes an
// exclusive lock, shareDenyWrite a shared one, shareDenyNone and shareCompat
// none. They only keep out other opens that ask for locks too, which is what
// the "is the file in use" check of the desktop program relies on. On
// Windows they are the share mode of the open (platform/FileHandle.h).
//
// GetLength reports the length as this object knows it (from open, plus its
// own writes and SetLength); changes made through other handles afterwards
// are not seen.

#include "platform/FileException.h"
#include "platform/FileHandle.h"
#include "platform/NoInitAllocator.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x00000,
        modeWrite = 0x00001,
        modeReadWrite = 0x00002,
        shareCompat = 0x00000,
        shareExclusive = 0x00010,
        shareDenyWrite = 0x00020,
        shareDenyRead = 0x00030,
        shareDenyNone = 0x00040,
        modeNoInherit = 0x00080,
        modeCreate = 0x01000,
        modeNoTruncate = 0x02000,
        typeText = 0x04000,
        typeBinary = 0x08000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    static constexpr size_t kDefaultWindow = 256 * 1024;

    CFile();
    explicit CFile(size_t nWindowSize);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file. Returns false on failure and fills *pError when given.
    virtual bool Open(const std::string& strFileName, unsigned nOpenFlags,
                      CFileException* pError = nullptr);
    // Flushes and closes; a failed flush throws after the handle is closed.
    virtual void Close();
    // Closes without throwing.
    virtual void Abort();
    virtual void Flush();
    // For a file written front to back and flushed to disk after Close (a
    // repaired table): starts the disk writes of what is written, a few
    // megabytes at a time, while the writer goes on, so that the flush
    // waits only for the last of it. Off by default.
    void SetWriteBehind(bool bOn) { m_bWriteBehind = bOn; }
    // Tells the system the file will be read front to back (a larger
    // read-ahead when it is not in memory yet).
    void AdviseSequential();

    virtual uint64_t GetPosition() const;
    virtual uint64_t Seek(int64_t lOff, SeekPosition nFrom);
    uint64_t SeekToBegin() { return Seek(0, begin); }
    uint64_t SeekToEnd() { return Seek(0, end); }
    virtual uint64_t GetLength() const;
    virtual void SetLength(uint64_t nNewLen);

    // Reads up to nCount bytes at the current position; returns the count
    // read (less at end of file).
    virtual size_t Read(void* lpBuf, size_t nCount);
    // The nCount bytes at nPos where they stand in the file's window, read
    // into it when needed: no copy for the caller. Null when they do not
    // fit the window or the file ends first. The bytes stay valid until the
    // next call on this file.
    const unsigned char* Peek(uint64_t nPos, size_t nCount);
    virtual void Write(const void* lpBuf, size_t nCount);

    bool IsOpen() const { return m_handle.IsOpen(); }
    unsigned GetOpenFlags() const { return m_nOpenFlags; }
    // The path as given to Open.
    std::string GetFilePath() const { return m_strFileName; }
    // The name without folder ("sales.dbf").
    std::string GetFileName() const;
    // The name without folder, as shown to the user (same as GetFileName).
    std::string GetFileTitle() const;

private:
    void FlushWindow();
    // Reads the window's worth of bytes at nPos into the window.
    void FillWindow(uint64_t nPos);
    void CheckOpen() const;
    size_t ReadAt(uint64_t nPos, void* lpBuf, size_t nCount);
    void WriteAt(uint64_t nPos, const void* lpBuf, size_t nCount);
    // Write-behind after bytes up to nEnd reached the file.
    void StartWriteBack(uint64_t nEnd);

    CFileHandle m_handle;
    unsigned m_nOpenFlags = 0;
    std::string m_strFileName;
    uint64_t m_nPosition = 0;
    uint64_t m_nLength = 0;

    // Window: m_window[0 .. m_nWindowLen) mirrors the file (with pending
    // writes) from m_nWindowStart; [m_nDirtyLo, m_nDirtyHi) still has to be
    // written.
    IoBuffer m_window; // bytes past m_nWindowLen are undefined
    size_t m_nWindowCapacity;
    uint64_t m_nWindowStart = 0;
    size_t m_nWindowLen = 0;
    size_t m_nDirtyLo = 0;
    size_t m_nDirtyHi = 0;

    bool m_bWriteBehind = false;
    uint64_t m_nWriteBackFrom = 0; // where the next write-behind starts
};
