#pragma once
// Memo files: the companion files that hold the long values of a table's
// memo, general, picture and binary fields, divided into fixed-size blocks.
// A record keeps only the number of the value's first block (and, for the
// SIx kind, the value's length). Block 0 is the header's block, so block 0
// in a record means "no value".
//
// CMemoFile implements the dBASE III format; CDBTMemoFile (dBASE IV),
// CFPTMemoFile (FoxPro and Visual FoxPro) and CSMTMemoFile (SIx) derive from
// it. MakeMemoFile picks the class for the dbfformat::MemoKind the table
// derives from its header.
//
// Usage: MakeMemoFile, then OpenMemoFile (existing table) or CreateMemoFile
// (new table); reads and writes in any order; Close (the destructor closes
// too). One object belongs to one table and is used by one thread at a time.
//
// Errors: CDBFException with
//   3010  CreateMemoFile cannot create the file
//   3011  OpenMemoFile cannot open the file
//   3012  the header cannot be read whole
//   3013  the header's block size is below 1
//   3014  a value cannot be read (short read, bad or implausible length,
//         platform file error while reading)
//   3015  a platform file error while writing a value
// A platform file error (CFileException) is first shown to the user through
// its ReportError. In CreateMemoFile and OpenMemoFile such an error closes the
// file and the call returns false without raising; in the reads it becomes
// 3014, in WriteMemoText 3015.
//
// Text values: the text handed back holds the value's data bytes only, WITHOUT
// a trailing NUL (std::string carries its own length). The length
// out-parameter keeps the counting of the memo formats:
//   kind 1 (dBASE III): the number of bytes up to and including the 0x1A
//     terminator's position (data length + 1), or the data length when the
//     file ended before a terminator; 0 for a block at or past end of file.
//   kinds 3, 4 (dBASE IV, FoxPro): the data length.
//   kind 16 (SIx): an input, the value's length as kept in the record; left
//     unchanged.
//
// Binary values: AppendMemoBytes stores any bytes as a new value (a repair
// copies general, picture and binary memos, and texts in any code page, this
// way). dBASE IV, FoxPro and SIx keep the length, so every byte comes back.
// dBASE III has no length: a value ends at its first 0x1A, so a value that
// contains 0x1A is written whole but reads back cut at that byte.

#include "dbf/DBFFormat.h"
#include "platform/File.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CErrorReporter;

class CMemoFile : public CFile {
public:
    CMemoFile();
    ~CMemoFile() override;

    // If open: closes the file, releases the header image, clears the open
    // flag. Never throws.
    void Close() override;

    // Creates (truncating) the file with an empty memo header, exclusively.
    // Does nothing and returns true when already open. Raises 3010 when the
    // file cannot be created; returns false (after reporting it) when a
    // platform file error strikes while writing the header. Returns true
    // when the memo is open afterwards.
    virtual bool CreateMemoFile(const std::string& strPath);

    // Opens an existing file with nOpenFlags (CFile flags; typeBinary is
    // added), reads the header and takes the block size from it. Does
    // nothing and returns true when already open. Raises 3011 when the file
    // cannot be opened, 3012 for a short header, 3013 for a bad block size
    // (the file is closed first); returns false (after reporting it) on a
    // platform file error. Returns true when the memo is open afterwards.
    virtual bool OpenMemoFile(const std::string& strPath, unsigned nOpenFlags);

    bool IsMemoOpen() const { return m_bMemoOpen != 0; }

    // Block size a new file is created with; call before CreateMemoFile.
    // The size is the byte count the header stores. dBASE IV, FoxPro and SIx
    // take it: at least 1, and at most 65535 for dBASE IV and FoxPro, whose
    // headers keep it in 16 bits (SIx in 32). FoxPro's own SET BLOCKSIZE
    // reads 1 to 32 as multiples of 512; here every size is bytes, written
    // as given (FoxPro, python-dbf and dbfread read the header's count as
    // bytes), so a caller copying a file's block size gets it back exactly.
    // dBASE III always uses 512 and ignores it. Raises std::invalid_argument
    // for a size the format cannot hold.
    void SetNewBlockSize(uint32_t nBlockSize);

    // The name of the table this memo file belongs to (no folder, no
    // extension), for the header of a new file: dBASE IV keeps it there.
    // Call before CreateMemoFile. Without it the memo file's own name, less
    // its extension, stands in: the same when the two lie side by side.
    void SetTableName(std::string strName) { m_tableName = std::move(strName); }

    // Where platform file errors are shown (null, the default: the program's
    // reporter). The caller keeps ownership.
    void SetReporter(CErrorReporter* pReporter) { m_pReporter = pReporter; }

    // DBase3, DBase4, FoxPro or SIx by class (all FoxPro kinds report FoxPro).
    virtual dbfformat::MemoKind GetMemoKind() const;

    // The block size in use (after open or create), or the class's initial
    // block size before that.
    uint32_t GetBlockSize() const { return m_nBlockSize; }

    // Reads the value that starts at nBlock into bytes (cleared first).
    // Returns false, with bytes empty and nLength untouched, when the memo is
    // not open. Kinds 3, 4, 16: bytes holds exactly the data. Kind 1: bytes
    // holds the data followed by a 0 byte in the terminator's place (when
    // there was one), and nLength == bytes.size().
    virtual bool ReadMemoBytes(uint32_t nBlock, uint32_t& nLength, std::vector<unsigned char>& bytes);

    // Reads the value that starts at nBlock into strText (cleared first), data
    // bytes only, no trailing NUL; nLength as described at the top. Returns
    // false, with strText empty and nLength untouched, when not open.
    virtual bool ReadMemoText(uint32_t nBlock, uint32_t& nLength, std::string& strText);

    // Stores strText as the field's value. nBlock is in-out: in, the block of
    // the value now stored (0 for none); out, the block where the text now
    // lives (0 for an empty text). nLength is used by kind 16 only: in, the
    // stored length of the current value (the text's own length when there is
    // none); out, the text's length. Returns false and changes nothing when
    // not open. On 3015 nBlock and nLength are left as they were.
    virtual bool WriteMemoText(uint32_t& nBlock, uint32_t& nLength, const std::string& strText);

    // Appends a new value holding exactly these bytes (binary safe where the
    // format allows: see the top) and never rewrites another value: dBASE IV
    // and SIx take a free run their free lists hold, else the end of the
    // file; dBASE III and FoxPro append. nBlockType is the FoxPro block type
    // written in the block header (0 picture/binary, 1 text, 2 object);
    // other formats ignore it. Out: nBlock = first block (an empty value
    // has a block of its own, except in SIx files, where it gets 0),
    // nLength = bytes.size(). SIx keeps the length in the record reference
    // only: the caller writes it there. Returns false (outputs untouched)
    // when not open; raises 3015 on a platform file error or a value the
    // format cannot hold, like WriteMemoText.
    bool AppendMemoBytes(uint32_t& nBlock, uint32_t& nLength, std::span<const unsigned char> bytes,
                         uint32_t nBlockType);

    // For a new file filled by AppendMemoBytes alone (a repair writing its
    // memo file): the header's first bytes are kept in memory and values go
    // out through the file layer's buffering, instead of one header write and
    // one flush per value. FinishAppends (or Close) writes the header and
    // flushes. False (nothing changes) when the file is not open or a format
    // keeps values inside those bytes. Other calls than AppendMemoBytes and
    // reads are not for this mode.
    bool BeginAppendOnly();
    // Writes the header kept in memory and flushes; raises 3015 on a platform
    // file error. Nothing when not appending only.
    void FinishAppends();

protected:
    // What each format says for itself. The public calls above do the
    // shared steps around them: the open checks, reporting a platform file
    // error (CFileException, which these may raise) and raising 3014 / 3015
    // for it, the final flush, and handing results back only on success.

    // Writes the header of a new, empty file; takes the block size and the
    // header image.
    virtual void WriteNewHeader();
    // Reads the header of the file just opened and takes the block size
    // from it; raises 3012 / 3013 through CloseAndThrow.
    virtual void LoadHeader();
    // Reads the value that starts at nBlock into data (data bytes only; it
    // is empty on entry). nLength is the length the record keeps (used by
    // SIx). bTerminated: set when a 0x1A terminator ended the value (dBASE
    // III). Returns the length the reads hand back; raises 3014.
    virtual uint32_t ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                               bool& bTerminated);
    // Stores strText in place of the value at nBlock (0 for none); nLength
    // in-out as for WriteMemoText. Returns the block where the text now
    // lives (0 for an empty text); raises 3015.
    virtual uint32_t StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText);
    // Stores the bytes (never empty) as a new value without touching any
    // other; returns its first block; raises 3015.
    virtual uint32_t AppendBytes(std::span<const unsigned char> bytes, uint32_t nBlockType);
    // The largest block size the format's header can hold.
    virtual uint32_t MaxNewBlockSize() const;

    // The block size for a new file: the one SetNewBlockSize gave, else
    // nDefault.
    uint32_t NewBlockSize(uint32_t nDefault) const { return m_nNewBlockSize != 0 ? m_nNewBlockSize : nDefault; }
    static std::span<const unsigned char> BytesOf(const std::string& str)
    {
        return {reinterpret_cast<const unsigned char*>(str.data()), str.size()};
    }

    // Shared helpers of the memo classes (positions in bytes).
    uint64_t BlockOffset(uint32_t nBlock) const { return static_cast<uint64_t>(nBlock) * m_nBlockSize; }
    // ceil(nBytes / block size).
    uint64_t BlocksFor(uint64_t nBytes) const { return (nBytes + m_nBlockSize - 1) / m_nBlockSize; }
    // ceil(file length / block size): where dBASE IV and SIx append.
    uint32_t EndOfFileBlock() const;
    // Reads up to nCount bytes at nPos; returns the count read.
    size_t ReadAtPos(uint64_t nPos, void* lpBuf, size_t nCount);
    void WriteAtPos(uint64_t nPos, const void* lpBuf, size_t nCount);
    // Reads exactly nCount bytes at nPos; raises nErrorCode when short.
    void ReadExact(uint64_t nPos, void* lpBuf, size_t nCount, int32_t nErrorCode);
    // Reads the nLength data bytes at nPos into data; raises 3014 (data
    // empty) when they run past the end of the file or cannot be read whole.
    // The length is checked against the file before anything is allocated.
    void ReadDataAt(uint64_t nPos, uint64_t nLength, std::vector<unsigned char>& data);
    // For WriteNewHeader: nFileSize zero bytes (may be 0), then the header
    // over their start.
    void WriteNewFile(const unsigned char* header, size_t nHeaderSize, size_t nFileSize);
    // For LoadHeader: reads the header at offset 0; closes the memo and
    // raises 3012 when short.
    void ReadOpenHeader(unsigned char* header, size_t nHeaderSize);
    // For LoadHeader: takes nBlockSize; closes the memo and raises 3013 when
    // it is below 1.
    void TakeBlockSize(int64_t nBlockSize);
    // Opens the file for CreateMemoFile / OpenMemoFile; raises 3010 / 3011.
    void CreateFileOrThrow(const std::string& strPath);
    void OpenFileOrThrow(const std::string& strPath, unsigned nOpenFlags);
    // Reports a platform file error to the user and closes the memo.
    void ReportAndClose(const CFileException& e);
    // Closes the memo and raises the code.
    [[noreturn]] void CloseAndThrow(int32_t nErrorCode);
    // Reports a platform file error to the user, then raises the code.
    [[noreturn]] void ReportAndThrow(const CFileException& e, int32_t nErrorCode);
    // A block number computed in 64 bits; raises 3015 when it does not fit
    // the 32-bit block numbers of the formats.
    static uint32_t ToBlock(uint64_t nBlock);

    // The header bytes while appending only (BeginAppendOnly).
    static constexpr size_t kHeadImageSize = 512;
    bool m_bAppendOnly = false;
    std::array<unsigned char, kHeadImageSize> m_headImage{};

    int m_bMemoOpen = 0;
    uint32_t m_nBlockSize = 512;
    CErrorReporter* m_pReporter = nullptr;
    std::optional<std::string> m_tableName;

private:
    // Runs a write step, flushes, and turns a platform file error into a
    // report and 3015.
    template <typename Step>
    uint32_t FlushedWrite(Step step);
    // dBASE III: the bytes and a terminator at the header's next free block.
    uint32_t AppendTerminated(std::span<const unsigned char> bytes);

    uint32_t m_nNewBlockSize = 0;
    // ReadValue; a platform file error is reported and becomes 3014.
    uint32_t ReadValueOrThrow(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                              bool& bTerminated);
    // dBASE III header image (the first 22 bytes of block 0); valid while
    // open.
    std::vector<unsigned char> m_header;
};

// A new memo object for the kind (None and any unknown value get dBASE III);
// its file's extension is dbfformat::MemoKindExtension.
std::unique_ptr<CMemoFile> MakeMemoFile(dbfformat::MemoKind kind);
