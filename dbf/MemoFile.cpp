#include "dbf/MemoFile.h"

// Work in progress: bodies follow.

CMemoFile::CMemoFile() = default;
CMemoFile::~CMemoFile() { CMemoFile::Close(); }
void CMemoFile::Close()
{
    CFile::Abort();
    m_header.clear();
    m_bMemoOpen = 0;
}
bool CMemoFile::CreateMemoFile(const std::string&) { return false; }
bool CMemoFile::OpenMemoFile(const std::string&, unsigned) { return false; }
int CMemoFile::GetMemoKind() const { return 1; }
bool CMemoFile::ReadMemoBytes(uint32_t, uint32_t&, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    return false;
}
bool CMemoFile::ReadMemoText(uint32_t, uint32_t&, std::string& strText)
{
    strText.clear();
    return false;
}
bool CMemoFile::WriteMemoText(uint32_t&, uint32_t&, const std::string&) { return false; }
uint32_t CMemoFile::EndOfFileBlock() const { return 0; }
size_t CMemoFile::ReadAtPos(uint64_t, void*, size_t) { return 0; }
void CMemoFile::WriteAtPos(uint64_t, const void*, size_t) {}
void CMemoFile::CreateFileOrThrow(const std::string&) {}
void CMemoFile::OpenFileOrThrow(const std::string&, unsigned) {}
void CMemoFile::ReportAndClose(const CFileException&) {}
void CMemoFile::CloseAndThrow(int32_t) { throw 0; }
void CMemoFile::ReadDBase3Value(uint32_t, std::vector<unsigned char>&, bool&) {}

std::unique_ptr<CMemoFile> MakeMemoFile(int) { return std::make_unique<CMemoFile>(); }

const char* MemoFileExtension(int nKind)
{
    switch (nKind) {
    case CMemoFile::kindFoxPro:
    case CMemoFile::kindVisualFoxPro:
        return "FPT";
    case CMemoFile::kindVisualFoxProDbc:
        return "DCT";
    case CMemoFile::kindSIx:
        return "SMT";
    default:
        return "DBT";
    }
}
