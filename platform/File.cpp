#include "platform/File.h"

#include "platform/FileFaultInjector.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CFile::CFile() : CFile(kDefaultWindow) {}

CFile::CFile(size_t nWindowSize) : m_nWindowCapacity(std::max<size_t>(nWindowSize, 4096)) {}

CFile::~CFile()
{
    Abort();
}

bool CFile::Open(const std::string& strFileName, unsigned nOpenFlags, CFileException* pError)
{
    Abort();
    const auto eAccess = (nOpenFlags & modeReadWrite) ? CFileHandle::Access::readWrite
        : (nOpenFlags & modeWrite)                     ? CFileHandle::Access::write
                                                       : CFileHandle::Access::read;
    const unsigned share = nOpenFlags & 0x70;
    const auto eShare = share == shareExclusive ? CFileHandle::Share::none
        : share == shareDenyRead                ? CFileHandle::Share::denyRead
        : share == shareDenyWrite               ? CFileHandle::Share::denyWrite
                                                : CFileHandle::Share::all;
    const auto eCreate = !(nOpenFlags & modeCreate)     ? CFileHandle::Create::no
        : (nOpenFlags & modeNoTruncate)                  ? CFileHandle::Create::orOpen
                                                         : CFileHandle::Create::orEmpty;
    uint64_t nLength = 0;
    int err = m_handle.Open(strFileName, eAccess, eShare, eCreate);
    if (err == 0 && (err = m_handle.GetSize(nLength)) != 0)
        m_handle.Close();
    if (err != 0) {
        if (pError)
            *pError = CFileException(CFileException::OsErrorToCause(err), err, strFileName);
        return false;
    }

    m_nOpenFlags = nOpenFlags;
    m_strFileName = strFileName;
    m_nPosition = 0;
    m_nLength = nLength;
    m_nWindowStart = 0;
    m_nWindowLen = 0;
    m_nDirtyLo = m_nDirtyHi = 0;
    m_nWriteBackFrom = 0;
    return true;
}

void CFile::Close()
{
    if (!m_handle.IsOpen())
        return;
    int err = 0;
    try {
        FlushWindow();
    } catch (const CFileException& e) {
        err = e.m_lOsError ? e.m_lOsError : EIO;
    }
    if (const int nCloseError = m_handle.Close(); err == 0)
        err = nCloseError;
    m_nWindowLen = 0;
    m_nDirtyLo = m_nDirtyHi = 0;
    m_window.clear();
    m_window.shrink_to_fit();
    if (err != 0)
        ThrowOsFileError(err, m_strFileName);
}

void CFile::Abort()
{
    try {
        Close();
    } catch (const CFileException&) {
        // Abort never reports; the handle is closed either way.
    }
}

void CFile::Flush()
{
    CheckOpen();
    FlushWindow();
}

uint64_t CFile::GetPosition() const
{
    CheckOpen();
    return m_nPosition;
}

uint64_t CFile::Seek(int64_t lOff, SeekPosition nFrom)
{
    CheckOpen();
    int64_t base = 0;
    if (nFrom == current)
        base = static_cast<int64_t>(m_nPosition);
    else if (nFrom == end)
        base = static_cast<int64_t>(m_nLength);
    int64_t pos = 0;
    if (__builtin_add_overflow(base, lOff, &pos) || pos < 0)
        ThrowFileException(CFileException::badSeek, EINVAL, m_strFileName);
    m_nPosition = static_cast<uint64_t>(pos);
    return m_nPosition;
}

uint64_t CFile::GetLength() const
{
    CheckOpen();
    return m_nLength;
}

void CFile::SetLength(uint64_t nNewLen)
{
    CheckOpen();
    FlushWindow();
    if (const int err = m_handle.SetSize(nNewLen))
        ThrowOsFileError(err, m_strFileName);
    m_nLength = nNewLen;
    if (m_nWindowStart + m_nWindowLen > nNewLen)
        m_nWindowLen = nNewLen > m_nWindowStart ? static_cast<size_t>(nNewLen - m_nWindowStart) : 0;
}

size_t CFile::Read(void* lpBuf, size_t nCount)
{
    CheckOpen();
    const size_t got = ReadAt(m_nPosition, lpBuf, nCount);
    m_nPosition += got;
    return got;
}

void CFile::Write(const void* lpBuf, size_t nCount)
{
    CheckOpen();
    if (!(m_nOpenFlags & (modeWrite | modeReadWrite)))
        ThrowFileException(CFileException::accessDenied, EBADF, m_strFileName);
    WriteAt(m_nPosition, lpBuf, nCount);
    m_nPosition += nCount;
}

std::string CFile::GetFileName() const
{
    const auto slash = CFileSystem::LastSeparator(m_strFileName);
    return slash == std::string::npos ? m_strFileName : m_strFileName.substr(slash + 1);
}

std::string CFile::GetFileTitle() const
{
    return GetFileName();
}

void CFile::CheckOpen() const
{
    if (!m_handle.IsOpen())
        ThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
}

namespace {

// Full positioned read; returns fewer bytes only at end of file.
int ReadAll(CFileHandle& handle, unsigned char* p, size_t n, uint64_t pos, const std::string& strPath, size_t& nDone)
{
    if (CFileFaultInjector::IsArmed()) {
        if (const int nError = CFileFaultInjector::OnRead(strPath, pos, n))
            return nError;
    }
    return handle.ReadAt(pos, p, n, nDone);
}

int WriteAll(CFileHandle& handle, const unsigned char* p, size_t n, uint64_t pos, const std::string& strPath)
{
    if (CFileFaultInjector::IsArmed()) {
        if (const int nError = CFileFaultInjector::OnWrite(strPath, pos, n))
            return nError;
    }
    return handle.WriteAt(pos, p, n);
}

} // namespace

const unsigned char* CFile::Peek(uint64_t nPos, size_t nCount)
{
    CheckOpen();
    if (nPos >= m_nWindowStart && nPos + nCount <= m_nWindowStart + m_nWindowLen)
        return m_window.data() + (nPos - m_nWindowStart);
    if (nCount > m_nWindowCapacity)
        return nullptr;
    FlushWindow();
    FillWindow(nPos);
    return m_nWindowLen >= nCount ? m_window.data() : nullptr;
}

void CFile::FillWindow(uint64_t nPos)
{
    if (m_window.size() < m_nWindowCapacity)
        m_window.resize(m_nWindowCapacity);
    size_t nRead = 0;
    if (const int err = ReadAll(m_handle, m_window.data(), m_nWindowCapacity, nPos, m_strFileName, nRead)) {
        m_nWindowLen = 0;
        ThrowOsFileError(err, m_strFileName);
    }
    m_nWindowStart = nPos;
    m_nWindowLen = nRead;
}

size_t CFile::ReadAt(uint64_t nPos, void* lpBuf, size_t nCount)
{
    auto* out = static_cast<unsigned char*>(lpBuf);
    size_t total = 0;
    while (nCount > 0) {
        if (nPos >= m_nWindowStart && nPos < m_nWindowStart + m_nWindowLen) {
            const size_t off = static_cast<size_t>(nPos - m_nWindowStart);
            const size_t k = std::min(nCount, m_nWindowLen - off);
            std::memcpy(out + total, m_window.data() + off, k);
            total += k;
            nPos += k;
            nCount -= k;
            continue;
        }
        FlushWindow();
        if (nCount >= m_nWindowCapacity) {
            size_t nRead = 0;
            if (const int err = ReadAll(m_handle, out + total, nCount, nPos, m_strFileName, nRead))
                ThrowOsFileError(err, m_strFileName);
            total += nRead;
            break;
        }
        FillWindow(nPos);
        if (m_nWindowLen == 0)
            break;
    }
    return total;
}

void CFile::WriteAt(uint64_t nPos, const void* lpBuf, size_t nCount)
{
    if (nCount == 0)
        return;
    const auto* in = static_cast<const unsigned char*>(lpBuf);
    uint64_t windowEnd = m_nWindowStart + m_nWindowLen;
    // An append a little past the end of the file (the next block of a memo
    // file): the gap reads as zeros either way, so the window takes it
    // instead of being written out for every value.
    if (nCount < m_nWindowCapacity && nPos > windowEnd && windowEnd >= m_nLength && !m_window.empty()
        && nPos + nCount <= m_nWindowStart + m_nWindowCapacity) {
        const size_t nGapFrom = m_nWindowLen;
        const size_t nGapTo = static_cast<size_t>(nPos - m_nWindowStart);
        std::memset(m_window.data() + nGapFrom, 0, nGapTo - nGapFrom);
        m_nWindowLen = nGapTo;
        if (m_nDirtyHi <= m_nDirtyLo) {
            m_nDirtyLo = nGapFrom;
            m_nDirtyHi = nGapTo;
        } else {
            m_nDirtyLo = std::min(m_nDirtyLo, nGapFrom);
            m_nDirtyHi = std::max(m_nDirtyHi, nGapTo);
        }
        windowEnd = m_nWindowStart + m_nWindowLen;
    }
    if (nCount < m_nWindowCapacity && nPos >= m_nWindowStart && nPos <= windowEnd
        && nPos + nCount <= m_nWindowStart + m_nWindowCapacity && !m_window.empty()) {
        const size_t off = static_cast<size_t>(nPos - m_nWindowStart);
        std::memcpy(m_window.data() + off, in, nCount);
        m_nWindowLen = std::max(m_nWindowLen, off + nCount);
        if (m_nDirtyHi <= m_nDirtyLo) {
            m_nDirtyLo = off;
            m_nDirtyHi = off + nCount;
        } else {
            m_nDirtyLo = std::min(m_nDirtyLo, off);
            m_nDirtyHi = std::max(m_nDirtyHi, off + nCount);
        }
    } else if (nCount < m_nWindowCapacity) {
        FlushWindow();
        if (m_window.size() < m_nWindowCapacity)
            m_window.resize(m_nWindowCapacity);
        std::memcpy(m_window.data(), in, nCount);
        m_nWindowStart = nPos;
        m_nWindowLen = nCount;
        m_nDirtyLo = 0;
        m_nDirtyHi = nCount;
    } else {
        FlushWindow();
        if (const int err = WriteAll(m_handle, in, nCount, nPos, m_strFileName))
            ThrowOsFileError(err, m_strFileName);
        StartWriteBack(nPos + nCount);
        // Keep the window a true mirror where the big write overlaps it.
        const uint64_t lo = std::max(nPos, m_nWindowStart);
        const uint64_t hi = std::min(nPos + nCount, m_nWindowStart + m_nWindowLen);
        if (lo < hi)
            std::memcpy(m_window.data() + (lo - m_nWindowStart), in + (lo - nPos), hi - lo);
    }
    m_nLength = std::max(m_nLength, nPos + nCount);
}

void CFile::FlushWindow()
{
    if (m_nDirtyHi <= m_nDirtyLo)
        return;
    const size_t lo = m_nDirtyLo;
    const size_t hi = m_nDirtyHi;
    m_nDirtyLo = m_nDirtyHi = 0;
    if (const int err = WriteAll(m_handle, m_window.data() + lo, hi - lo, m_nWindowStart + lo, m_strFileName))
        ThrowOsFileError(err, m_strFileName);
    StartWriteBack(m_nWindowStart + hi);
}

void CFile::AdviseSequential()
{
    CheckOpen();
    // Only advice: a refusal changes nothing.
    m_handle.AdviseSequential();
}

void CFile::StartWriteBack(uint64_t nEnd)
{
    constexpr uint64_t kStep = 8 * 1024 * 1024;
    // Whole 64 KiB pieces only: the page that is still being filled is not
    // handed to the disk (a page under write-out can make the next write to
    // it wait).
    const uint64_t nTo = nEnd & ~static_cast<uint64_t>(0xFFFF);
    if (!m_bWriteBehind || nTo < m_nWriteBackFrom + kStep)
        return;
    m_handle.StartWriteBack(m_nWriteBackFrom, nTo - m_nWriteBackFrom);
    m_nWriteBackFrom = nTo;
}
