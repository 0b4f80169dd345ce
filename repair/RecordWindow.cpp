#include "repair/RecordWindow.h"

#include "platform/File.h"
#include "platform/FileException.h"

#include <algorithm>
#include <cerrno>

CRecordWindow::CRecordWindow(CFile& file, uint64_t nFileLength, size_t nSize, size_t nLookBehind)
    : m_file(file), m_nFileLength(nFileLength), m_buffer(nSize), m_nLookBehind(nLookBehind)
{
}

const unsigned char* CRecordWindow::At(uint64_t nOffset, size_t nCount)
{
    if (nOffset + nCount > m_nFileLength)
        return nullptr;
    if (nOffset < m_nStart || nOffset + nCount > m_nStart + m_nValid) {
        if (nCount > m_buffer.size())
            m_buffer.resize(nCount);
        uint64_t nBack = 0;
        if (m_nValid != 0 && nOffset > m_nStart)
            nBack = std::min<uint64_t>({m_nLookBehind, nOffset - m_nStart, m_buffer.size() - nCount});
        m_nStart = nOffset - nBack;
        m_file.Seek(static_cast<int64_t>(m_nStart), CFile::begin);
        const size_t nWant = static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_nFileLength - m_nStart));
        m_nValid = m_file.Read(m_buffer.data(), nWant);
        if (m_nValid < nWant)
            ThrowOsFileError(EIO, m_file.GetFilePath());
    }
    return m_buffer.data() + (nOffset - m_nStart);
}
